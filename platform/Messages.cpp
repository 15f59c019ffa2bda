#include "platform/Messages.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <deque>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct Window {
    WindowProc proc;
    QPointer<QWidget> widget; // set for handles that stand for a widget
};

struct Hook {
    HookId id;
    std::shared_ptr<MessageHook> fn;
};

struct Registry {
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
    std::unordered_map<QWidget *, HWND> widgetHandles;
    std::uintptr_t next = 0x1000;
    HWND applicationWindow = nullptr;
    bool ownApplicationWindow = false;
    std::vector<Hook> hooks;
    HookId nextHook = 0;
    bool isLibrary = false;
    QPointer<QWidget> lastActive;
    bool watchingFocus = false;
};

Registry &registry()
{
    static Registry r;
    return r;
}

HWND newHandle(std::shared_ptr<Window> w)
{
    auto &r = registry();
    r.next += 0x10;
    HWND h = reinterpret_cast<HWND>(r.next);
    r.windows.emplace(h, std::move(w));
    return h;
}

// Runs the hooks of the application window; true when one claimed |m|.
bool runHooks(TMessage &m)
{
    auto &r = registry();
    std::vector<HookId> ids;
    ids.reserve(r.hooks.size());
    for (const Hook &h : r.hooks)
        ids.push_back(h.id);
    for (HookId id : ids) {
        auto it = std::find_if(r.hooks.begin(), r.hooks.end(), [id](const Hook &h) { return h.id == id; });
        if (it == r.hooks.end())
            continue; // removed by an earlier hook of this dispatch
        std::shared_ptr<MessageHook> fn = it->fn; // alive even if it unhooks itself
        if (*fn && (*fn)(m))
            return true;
    }
    return false;
}

LRESULT deliver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto &r = registry();
    auto it = r.windows.find(wnd);
    if (it == r.windows.end())
        return 0;
    // Keep the window alive while its procedure runs, even if it destroys itself.
    std::shared_ptr<Window> w = it->second;
    if (wnd == r.applicationWindow) {
        TMessage m{msg, wParam, lParam, 0};
        if (runHooks(m))
            return m.Result;
    }
    return w->proc ? w->proc(wnd, msg, wParam, lParam) : 0;
}

struct PostQueue {
    std::mutex mutex;
    std::deque<MSG> messages;
    std::atomic<bool> scheduled{false};
};

PostQueue &postQueue()
{
    static PostQueue q;
    return q;
}

void rememberActive()
{
    auto &r = registry();
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    if (!r.watchingFocus) {
        r.watchingFocus = true;
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget *, QWidget *) {
            if (QWidget *a = QApplication::activeWindow())
                registry().lastActive = a;
        });
    }
    if (QWidget *a = QApplication::activeWindow())
        r.lastActive = a;
}

} // namespace

HWND AllocateHWnd(WindowProc proc)
{
    return newHandle(std::make_shared<Window>(Window{std::move(proc), {}}));
}

void DeallocateHWnd(HWND wnd)
{
    auto &r = registry();
    auto it = r.windows.find(wnd);
    if (it == r.windows.end())
        return;
    if (it->second->widget)
        r.widgetHandles.erase(it->second->widget.data());
    r.windows.erase(it);
    if (wnd == r.applicationWindow) {
        r.applicationWindow = nullptr;
        r.ownApplicationWindow = false;
    }
}

bool IsWindow(HWND wnd)
{
    return wnd && registry().windows.count(wnd) != 0;
}

void SetApplicationWindow(HWND wnd)
{
    auto &r = registry();
    if (r.ownApplicationWindow && r.applicationWindow && r.applicationWindow != wnd)
        r.windows.erase(r.applicationWindow);
    r.applicationWindow = wnd;
    r.ownApplicationWindow = false;
}

HWND ApplicationWindow()
{
    auto &r = registry();
    if (!r.applicationWindow) {
        r.applicationWindow = AllocateHWnd({});
        r.ownApplicationWindow = true;
    }
    return r.applicationWindow;
}

HookId HookApplicationWindow(MessageHook hook)
{
    auto &r = registry();
    HookId id = ++r.nextHook;
    r.hooks.push_back(Hook{id, std::make_shared<MessageHook>(std::move(hook))});
    return id;
}

void UnhookApplicationWindow(HookId id)
{
    auto &r = registry();
    r.hooks.erase(std::remove_if(r.hooks.begin(), r.hooks.end(), [id](const Hook &h) { return h.id == id; }),
                  r.hooks.end());
}

std::size_t ApplicationHookCount()
{
    return registry().hooks.size();
}

LRESULT DispatchToWindow(MSG &msg)
{
    return deliver(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

std::size_t ProcessPostedMessages()
{
    auto &q = postQueue();
    std::deque<MSG> batch;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        batch.swap(q.messages);
        q.scheduled = false;
    }
    std::size_t n = 0;
    for (MSG &m : batch) {
        if (!IsWindow(m.hwnd))
            continue;
        DispatchToWindow(m);
        ++n;
    }
    return n;
}

bool IsLibrary()
{
    return registry().isLibrary;
}

void SetIsLibrary(bool value)
{
    registry().isLibrary = value;
}

HWND HandleOfWidget(QWidget *widget)
{
    if (!widget)
        return nullptr;
    auto &r = registry();
    auto it = r.widgetHandles.find(widget);
    if (it != r.widgetHandles.end() && IsWindow(it->second))
        return it->second;
    auto w = std::make_shared<Window>();
    w->widget = widget;
    HWND h = newHandle(std::move(w));
    r.widgetHandles[widget] = h;
    QObject::connect(widget, &QObject::destroyed, [widget, h]() {
        auto &reg = registry();
        reg.widgetHandles.erase(widget);
        reg.windows.erase(h);
    });
    return h;
}

QWidget *WidgetOfHandle(HWND wnd)
{
    auto &r = registry();
    auto it = r.windows.find(wnd);
    if (it == r.windows.end())
        return nullptr;
    return it->second->widget.data();
}

HWND GetActiveWindow()
{
    rememberActive();
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    return HandleOfWidget(QApplication::activeWindow());
}

HWND GetLastActivePopup()
{
    rememberActive();
    return HandleOfWidget(registry().lastActive.data());
}

// ---------------------------------------------------------------------------
// Timers

namespace {

class QtTimerService : public TimerService {
public:
    struct QtBackend : Timer::Backend {
        std::unique_ptr<QTimer> timer;
    };

    void Arm(Timer &timer) override
    {
        auto *b = dynamic_cast<QtBackend *>(timer.backend.get());
        if (!b) {
            auto nb = std::make_unique<QtBackend>();
            nb->timer = std::make_unique<QTimer>();
            Timer *t = &timer;
            QObject::connect(nb->timer.get(), &QTimer::timeout, [t]() { t->Fire(); });
            b = nb.get();
            timer.backend = std::move(nb);
        }
        b->timer->setInterval(static_cast<int>(std::min<UINT>(timer.Interval(), std::numeric_limits<int>::max())));
        b->timer->start();
    }

    void Disarm(Timer &timer) override
    {
        if (auto *b = dynamic_cast<QtBackend *>(timer.backend.get()))
            b->timer->stop();
    }
};

QtTimerService &realTimers()
{
    static QtTimerService s;
    return s;
}

TimerService *&currentTimers()
{
    static TimerService *s = nullptr;
    return s;
}

} // namespace

TimerService *SetTimerService(TimerService *service)
{
    TimerService *prev = &CurrentTimerService();
    currentTimers() = service;
    return prev == &realTimers() ? nullptr : prev;
}

TimerService &CurrentTimerService()
{
    TimerService *s = currentTimers();
    return s ? *s : realTimers();
}

Timer::Timer() = default;

Timer::~Timer()
{
    if (armedBy_)
        armedBy_->Disarm(*this);
    armedBy_ = nullptr;
    backend.reset();
}

void Timer::SetInterval(UINT ms)
{
    if (ms == interval_)
        return;
    interval_ = ms;
    if (enabled_)
        rearm();
}

void Timer::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (enabled) {
        rearm();
    } else if (armedBy_) {
        armedBy_->Disarm(*this);
        armedBy_ = nullptr;
    }
}

void Timer::rearm()
{
    if (armedBy_)
        armedBy_->Disarm(*this);
    armedBy_ = &CurrentTimerService();
    armedBy_->Arm(*this);
}

void Timer::Fire()
{
    if (enabled_ && OnTimer)
        OnTimer();
}

struct ManualTimerService::State {
    struct Entry {
        Timer *timer;
        std::uint64_t due;
        std::uint64_t order;
    };
    std::vector<Entry> armed;
    std::uint64_t nextOrder = 0;
};

ManualTimerService::ManualTimerService() : state_(std::make_unique<State>()) {}

ManualTimerService::~ManualTimerService()
{
    // Timers still armed here fall back to no service; they stay enabled but
    // never fire again.
    std::vector<State::Entry> left;
    left.swap(state_->armed);
    for (auto &e : left)
        e.timer->SetEnabled(false);
    if (currentTimers() == this)
        currentTimers() = nullptr;
}

void ManualTimerService::Arm(Timer &timer)
{
    Disarm(timer);
    std::uint64_t step = std::max<UINT>(timer.Interval(), 1);
    state_->armed.push_back(State::Entry{&timer, now_ + step, state_->nextOrder++});
}

void ManualTimerService::Disarm(Timer &timer)
{
    auto &a = state_->armed;
    a.erase(std::remove_if(a.begin(), a.end(), [&](const State::Entry &e) { return e.timer == &timer; }), a.end());
}

void ManualTimerService::Advance(UINT ms)
{
    const std::uint64_t target = now_ + ms;
    for (;;) {
        auto &a = state_->armed;
        auto next = a.end();
        for (auto it = a.begin(); it != a.end(); ++it) {
            if (it->due > target)
                continue;
            if (next == a.end() || it->due < next->due || (it->due == next->due && it->order < next->order))
                next = it;
        }
        if (next == a.end())
            break;
        now_ = next->due;
        next->due += std::max<UINT>(next->timer->Interval(), 1);
        next->order = state_->nextOrder++;
        Timer *t = next->timer;
        t->Fire(); // may arm, disarm or destroy timers
    }
    now_ = target;
}

std::size_t ManualTimerService::ArmedCount() const
{
    return state_->armed.size();
}

bool ManualTimerService::IsArmed(const Timer &timer) const
{
    for (const auto &e : state_->armed)
        if (e.timer == &timer)
            return true;
    return false;
}

} // namespace platform

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return platform::deliver(wnd, msg, wParam, lParam);
}

BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!wnd)
        return FALSE;
    auto &q = platform::postQueue();
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        MSG m;
        m.hwnd = wnd;
        m.message = msg;
        m.wParam = wParam;
        m.lParam = lParam;
        q.messages.push_back(m);
    }
    if (QCoreApplication *app = QCoreApplication::instance()) {
        if (!q.scheduled.exchange(true))
            QMetaObject::invokeMethod(app, []() { platform::ProcessPostedMessages(); }, Qt::QueuedConnection);
    }
    return TRUE;
}
