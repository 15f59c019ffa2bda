// The application window's hooks, synchronous and posted messages, timers.
#include "support/ManualTimerService.h"
#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;

namespace {

struct HookScope {
    std::vector<HookId> ids;
    HookId add(MessageHook h)
    {
        ids.push_back(HookApplicationWindow(std::move(h)));
        return ids.back();
    }
    ~HookScope()
    {
        for (HookId id : ids)
            UnhookApplicationWindow(id);
    }
};

} // namespace

TEST(ApplicationHooks, SeeMessagesFirstAndStopAtTheFirstClaim)
{
    std::vector<int> seen;
    HWND app = ApplicationWindow();
    SetApplicationWindow(nullptr);
    int procCalls = 0;
    HWND wnd = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ++procCalls;
        return 77;
    });
    SetApplicationWindow(wnd);
    {
        HookScope hooks;
        hooks.add([&](TMessage &m) {
            seen.push_back(1);
            return false;
        });
        hooks.add([&](TMessage &m) {
            seen.push_back(2);
            m.Result = 5;
            return m.Msg == WM_USER;
        });
        hooks.add([&](TMessage &) {
            seen.push_back(3);
            return false;
        });

        EXPECT_EQ(SendMessage(wnd, WM_USER, 0, 0), 5);
        EXPECT_EQ(seen, (std::vector<int>{1, 2}));
        EXPECT_EQ(procCalls, 0);

        seen.clear();
        EXPECT_EQ(SendMessage(wnd, WM_NULL, 0, 0), 77);
        EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(procCalls, 1);
    }
    EXPECT_EQ(ApplicationHookCount(), 0u);
    // Other windows never pass the hooks.
    HookScope hooks;
    hooks.add([&](TMessage &) {
        ADD_FAILURE();
        return true;
    });
    HWND other = AllocateHWnd([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 3; });
    EXPECT_EQ(SendMessage(other, WM_USER, 0, 0), 3);
    DeallocateHWnd(other);
    DeallocateHWnd(wnd);
    (void)app;
}

TEST(ApplicationHooks, AHookMayRemoveAndReinstallHooksWhileRunning)
{
    HWND wnd = ApplicationWindow();
    std::vector<std::string> calls;
    HookId second = 0;
    HookId first = 0;
    HookId reinstalled = 0;
    first = HookApplicationWindow([&](TMessage &) {
        calls.push_back("first");
        // Tear everything down and build it again, as a rebuild of the
        // source manager does from inside its own hook.
        UnhookApplicationWindow(first);
        UnhookApplicationWindow(second);
        if (!reinstalled)
            reinstalled = HookApplicationWindow([&](TMessage &) {
                calls.push_back("new");
                return false;
            });
        return false;
    });
    second = HookApplicationWindow([&](TMessage &) {
        calls.push_back("second");
        return false;
    });
    SendMessage(wnd, WM_USER, 0, 0);
    // The removed second hook is skipped, the new one waits for the next message.
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
    SendMessage(wnd, WM_USER, 0, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "new"}));
    UnhookApplicationWindow(reinstalled);
    EXPECT_EQ(ApplicationHookCount(), 0u);
}

TEST(Messages, DestroyedWindowsReceiveNothing)
{
    int calls = 0;
    HWND wnd = nullptr;
    wnd = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ++calls;
        DeallocateHWnd(wnd); // destroys itself while running
        return 1;
    });
    EXPECT_EQ(SendMessage(wnd, WM_USER, 0, 0), 1);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(SendMessage(wnd, WM_USER, 0, 0), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(PostMessage(nullptr, WM_USER, 0, 0));
}

TEST(Messages, PostedMessagesArriveInOrderThroughTheHooks)
{
    HWND app = ApplicationWindow();
    std::vector<UINT> hooked;
    HookId id = HookApplicationWindow([&](TMessage &m) {
        hooked.push_back(m.Msg);
        return false;
    });
    std::vector<WPARAM> got;
    HWND other = AllocateHWnd([&](HWND, UINT, WPARAM w, LPARAM) -> LRESULT {
        got.push_back(w);
        return 0;
    });
    EXPECT_TRUE(PostMessage(other, WM_USER, 1, 0));
    EXPECT_TRUE(PostMessage(app, WM_USER + 1, 0, 0));
    EXPECT_TRUE(PostMessage(other, WM_USER, 2, 0));
    DeallocateHWnd(other);
    HWND again = AllocateHWnd([&](HWND, UINT, WPARAM w, LPARAM) -> LRESULT {
        got.push_back(w + 100);
        return 0;
    });
    EXPECT_TRUE(PostMessage(again, WM_USER, 3, 0));
    EXPECT_EQ(ProcessPostedMessages(), 2u); // the ones for the destroyed window are dropped
    EXPECT_EQ(got, (std::vector<WPARAM>{103}));
    EXPECT_EQ(hooked, (std::vector<UINT>{WM_USER + 1}));
    EXPECT_EQ(ProcessPostedMessages(), 0u);
    UnhookApplicationWindow(id);
    DeallocateHWnd(again);
}

TEST(Timers, ManualClockFiresEachWholeIntervalInOrder)
{
    testing_support::ManualTimerService clock;
    std::vector<std::string> fired;
    {
        Timer a;
        Timer b;
        a.SetInterval(100);
        b.SetInterval(250);
        a.OnTimer = [&]() { fired.push_back("a"); };
        b.OnTimer = [&]() {
            fired.push_back("b");
            a.SetEnabled(false); // a timer may stop another from its tick
        };
        a.SetEnabled(true);
        b.SetEnabled(true);
        EXPECT_EQ(clock.ArmedCount(), 2u);
        clock.Advance(99);
        EXPECT_TRUE(fired.empty());
        clock.Advance(1);
        EXPECT_EQ(fired, (std::vector<std::string>{"a"}));
        clock.Advance(300); // a at 200, b at 250 stops a, a at 300 does not come
        EXPECT_EQ(fired, (std::vector<std::string>{"a", "a", "b"}));
        EXPECT_FALSE(clock.IsArmed(a));
        EXPECT_FALSE(a.Enabled());
        a.SetEnabled(true);
        EXPECT_TRUE(clock.IsArmed(a));
    }
    EXPECT_EQ(clock.ArmedCount(), 0u); // destroyed timers disarm themselves
}
