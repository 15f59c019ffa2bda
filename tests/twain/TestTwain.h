// A concrete source manager for tests: records what the library asks of the
// window-bound side and notes it in the scripted manager's journal.
#pragma once

#include "support/ScriptedDsm.h"
#include "twain/OstraTwain.h"

#include <string>
#include <vector>

class TestTwain : public TCustomOstraTwain {
public:
    TestTwain() { Construct(); }
    ~TestTwain() override { Destruct(); }

    int creates = 0;
    int destroys = 0;
    int timerEnables = 0;
    int timerDisables = 0;
    int selectCalls = 0;
    std::int32_t selectAnswer = -1;
    HWND parentWindow = reinterpret_cast<HWND>(std::uintptr_t(0xBEEF));
    HWND virtualWindow = reinterpret_cast<HWND>(std::uintptr_t(0x1234));
    std::vector<HBITMAP> acquired;

    void DoCreate() override
    {
        TCustomOstraTwain::DoCreate();
        ++creates;
        fVirtualWindow = virtualWindow;
    }
    void DoDestroy() override
    {
        ++destroys;
        TCustomOstraTwain::DoDestroy();
    }
    void MessageTimer_Enable() override
    {
        ++timerEnables;
        note("TimerEnable");
    }
    void MessageTimer_Disable() override
    {
        ++timerDisables;
        note("TimerDisable");
    }
    std::int32_t CustomSelectSource() override
    {
        ++selectCalls;
        return selectAnswer;
    }
    HWND CustomGetParentWindow() override { return parentWindow; }
    void DoTwainAcquire(TObject *, std::int32_t, HBITMAP Image, bool &) override { acquired.push_back(Image); }
    void DoAcquireProgress(TObject *, std::int32_t, HBITMAP, std::int32_t, std::int32_t) override {}

    // Loads the (scripted) library and opens the manager.
    bool Open()
    {
        return LoadLibrary() && (SetSourceManagerLoaded(true), SourceManagerLoaded());
    }

private:
    static void note(const char *what)
    {
        if (auto *dsm = testsupport::ScriptedDsm::Current())
            dsm->Note(what);
    }
};
