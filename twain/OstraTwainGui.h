// The window-bound source manager that applications create.  It gives the
// Data Source Manager a window (the application object's window in a
// program, a hidden window of its own in a library), offers that window's
// messages and a WM_USER tick every 100 ms to the enabled sources, shows the
// source selection dialog and turns each acquired bitmap handle into a
// bitmap object for the acquire event.
#pragma once

#include "platform/Bitmaps.h"
#include "platform/Messages.h"
#include "twain/OstraTwain.h"

#include <cstdint>
#include <functional>
#include <memory>

// Image is valid only during the call; a handler that keeps the picture
// copies it.  Setting Cancel ends the transfer after this image.
using TOnTwainAcquire =
    std::function<void(TObject *Sender, std::int32_t Index, platform::Bitmap *Image, bool &Cancel)>;
// Image is the bitmap being filled by a memory transfer; it stays the
// transfer's.
using TOnAcquireProgress = std::function<void(TObject *Sender, std::int32_t Index, HBITMAP Image,
                                              std::int32_t Current, std::int32_t Total)>;

class TOstraTwain : public TCustomOstraTwain {
public:
    TOstraTwain();
    ~TOstraTwain() override;

    void DoCreate() override;
    void DoDestroy() override;
    void MessageTimer_Enable() override;
    void MessageTimer_Disable() override;
    std::int32_t CustomSelectSource() override;
    HWND CustomGetParentWindow() override;
    void DoTwainAcquire(TObject *Sender, std::int32_t Index, HBITMAP Image, bool &Cancel) override;
    void DoAcquireProgress(TObject *Sender, std::int32_t Index, HBITMAP Image, std::int32_t Current,
                           std::int32_t Total) override;

    // Timer tick: sends WM_USER to VirtualWindow.
    void DoMessagesTimer(TObject *Sender);
    // Hook on the application window: true when a source claimed the message.
    bool WndFunc(platform::TMessage &Message);
    // Window procedure of the own window in a library host.
    void WndProc(platform::TMessage &Message);

    // Properties.
    TOnTwainAcquire &OnTwainAcquire() { return fOnTwainAcquire; }
    TOnAcquireProgress &OnAcquireProgress() { return fOnAcquireProgress; }
    // The message timer (null while the component is built or torn down).
    platform::Timer *MessagesTimer() const { return fMessagesTimer.get(); }

protected:
    std::unique_ptr<platform::Timer> fMessagesTimer;
    TOnTwainAcquire fOnTwainAcquire;
    TOnAcquireProgress fOnAcquireProgress;

private:
    // Offers |Message| to the open and enabled sources until one claims it.
    bool RouteMessage(const platform::TMessage &Message);

    platform::HookId fHook = 0;
    HWND fOwnWindow = nullptr;
};
