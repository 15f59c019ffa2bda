#include "platform/HandleTable.h"
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
    HandleTable<HWND, std::shared_ptr<Window>> windows{0x1000};
    std::unordered_map<QWidget *, HWND> widgetHandles;
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
    return registry().windows.Add(std::move(w));
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
    std::shared_ptr<Window> *found = r.windows.Find(wnd);
    if (!found)
        return 0;
    // Keep the window alive while its procedure runs, even if it destroys itself.
    std::shared_ptr<Window> w = *found;
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
    Window *w = r.windows.Object(wnd);
    if (!w)
        return;
    if (w->widget)
        r.widgetHandles.erase(w->widget.data());
    r.windows.Erase(wnd);
    if (wnd == r.applicationWindow) {
        r.applicationWindow = nullptr;
        r.ownApplicationWindow = false;
    }
}

bool IsWindow(HWND wnd)
{
    return wnd && registry().windows.Contains(wnd);
}

std::size_t WindowCount()
{
    return registry().windows.Size();
}

void SetApplicationWindow(HWND wnd)
{
    auto &r = registry();
    if (r.ownApplicationWindow && r.applicationWindow && r.applicationWindow != wnd)
        r.windows.Erase(r.applicationWindow);
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
        reg.windows.Erase(h);
    });
    return h;
}

QWidget *WidgetOfHandle(HWND wnd)
{
    auto &r = registry();
    Window *w = r.windows.Object(wnd);
    return w ? w->widget.data() : nullptr;
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

} // namespace

TimerService &CurrentTimerService()
{
    return Service<TimerService>::get();
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

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::TimerService, platform::QtTimerService)

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
