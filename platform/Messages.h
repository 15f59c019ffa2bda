// Window handles, synchronous and posted messages, the hook on the
// application object's window, and timers.
//
// A window handle names a message target inside this process: a window
// procedure that receives messages sent to it.  Real widgets are not
// involved; the handle is what the TWAIN world passes around as "the
// window" (the application object's hidden window, a component's own
// message window).
//
// Everything here belongs to the GUI thread, except PostMessage, which any
// thread may call (a data source's scanning worker uses it to wake the GUI).
#pragma once

#include "platform/Service.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace platform {

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a hidden message window whose messages go to |proc|.
HWND AllocateHWnd(WindowProc proc);
// Destroys it; later messages to the handle are dropped.  Safe while the
// window's own procedure runs.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);
// Number of window handles alive: message windows and the handles of
// widgets (dropped with their widget).  Tests compare it before and after.
std::size_t WindowCount();

// ---------------------------------------------------------------------------
// The application object's window and its hooks.

// A message as a hook sees it: the hook may set Result and claim the message.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// A hook returns true when it has handled the message; the message then goes
// no further (neither to later hooks nor to the window procedure).
using MessageHook = std::function<bool(TMessage &)>;
using HookId = std::uint64_t;

// Names |wnd| as the application object's window; messages sent or
// dispatched to it pass through the hooks first.  0 forgets it.
void SetApplicationWindow(HWND wnd);
// The application object's window.  When none was named, a hidden message
// window is made for the purpose on first use.
HWND ApplicationWindow();

// Installs |hook| after the hooks already there; returns its id (never 0).
HookId HookApplicationWindow(MessageHook hook);
// Removes a hook.  Safe while any hook runs, that hook included; a hook
// removed during a dispatch is not called later in that dispatch, and a hook
// installed during a dispatch is first called by the next one.
void UnhookApplicationWindow(HookId id);
std::size_t ApplicationHookCount();

// Delivers |msg| to its window: for the application window the hooks first,
// then the window procedure unless a hook claimed it.  Returns the result.
LRESULT DispatchToWindow(MSG &msg);

// ---------------------------------------------------------------------------
// Posted messages.

// PostMessage (below, global) queues a message for a window and returns at
// once; it is thread-safe.  With a Qt application running, the queue is
// emptied from its event loop; otherwise by ProcessPostedMessages.
//
// Dispatches every message queued so far (messages posted meanwhile wait for
// the next call).  Returns how many were dispatched.
std::size_t ProcessPostedMessages();

// ---------------------------------------------------------------------------
// Host kind: whether the running module is a dynamic library rather than a
// program.  A program unless set.
bool IsLibrary();
void SetIsLibrary(bool value);

// ---------------------------------------------------------------------------
// Active windows, for the parent of a data source's dialog.

// A window handle that stands for a widget (its messages go nowhere).  The
// same widget always gets the same handle while it lives.
HWND HandleOfWidget(QWidget *widget);
// The widget a handle stands for, or null.
QWidget *WidgetOfHandle(HWND wnd);
// The active top-level widget of the application as a handle, or 0.
HWND GetActiveWindow();
// The most recently active top-level widget (also when none is active now),
// or 0.
HWND GetLastActivePopup();

// ---------------------------------------------------------------------------
// Timers.  A timer calls OnTimer every Interval milliseconds while enabled,
// from the GUI thread's event loop.  Which clock drives them is a service:
// the real one runs on Qt's event loop; tests install a manual clock
// (tests/support/ManualTimerService.h)
// and advance its clock themselves.

class Timer;

class TimerService {
public:
    virtual ~TimerService() = default;
    virtual void Arm(Timer &timer) = 0;
    virtual void Disarm(Timer &timer) = 0;
};

// The clock in use (see platform/Service.h for replacing it).  Timers armed
// at the time a service is replaced stay with the service that armed them.
TimerService &CurrentTimerService();

class Timer {
public:
    Timer();
    ~Timer();
    Timer(const Timer &) = delete;
    Timer &operator=(const Timer &) = delete;

    void SetInterval(UINT ms);
    UINT Interval() const { return interval_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }

    std::function<void()> OnTimer;

    // Called by the services: runs OnTimer if the timer is still enabled.
    void Fire();

    // Per-service state; owned by the timer.
    struct Backend {
        virtual ~Backend() = default;
    };
    std::unique_ptr<Backend> backend;

private:
    void rearm();

    UINT interval_ = 1000;
    bool enabled_ = false;
    TimerService *armedBy_ = nullptr;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::TimerService)

// Sends a message synchronously: the target's procedure (for the application
// window, its hooks first) runs before this returns.  0 for a handle that
// names no window.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues a message for |wnd| and returns at once; FALSE for handle 0 (other
// threads cannot look windows up: a message for a handle that names no
// window is dropped when the queue is emptied).  Thread-safe.
BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
