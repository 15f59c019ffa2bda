#include "twain/OstraTwainGui.h"

#include "platform/ModalDialog.h"
#include "twain/FormSelectSource.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QScopeGuard>

TOstraTwain::TOstraTwain()
{
    // The message window exists before the timer.
    Construct();
    fMessagesTimer = std::make_unique<platform::Timer>();
    fMessagesTimer->SetEnabled(false);
    fMessagesTimer->SetInterval(100);
    fMessagesTimer->OnTimer = [this]() { DoMessagesTimer(this); };
}

TOstraTwain::~TOstraTwain()
{
    std::unique_ptr<platform::Timer> timer = std::move(fMessagesTimer);
    timer.reset();
    Destruct();
}

void TOstraTwain::DoCreate()
{
    TCustomOstraTwain::DoCreate();
    if (!platform::IsLibrary()) {
        fVirtualWindow = platform::ApplicationWindow();
        fHook = platform::HookApplicationWindow([this](platform::TMessage &m) { return WndFunc(m); });
    } else {
        fOwnWindow = platform::AllocateHWnd([this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            platform::TMessage m{msg, wParam, lParam, 0};
            WndProc(m);
            return 0;
        });
        fVirtualWindow = fOwnWindow;
    }
}

void TOstraTwain::DoDestroy()
{
    if (fHook) {
        platform::UnhookApplicationWindow(fHook);
        fHook = 0;
    }
    if (fOwnWindow) {
        platform::DeallocateHWnd(fOwnWindow);
        fOwnWindow = nullptr;
    }
    TCustomOstraTwain::DoDestroy();
}

void TOstraTwain::MessageTimer_Enable()
{
    if (fMessagesTimer)
        fMessagesTimer->SetEnabled(true);
}

void TOstraTwain::MessageTimer_Disable()
{
    if (fMessagesTimer)
        fMessagesTimer->SetEnabled(false);
}

void TOstraTwain::DoMessagesTimer(TObject *)
{
    if (fVirtualWindow)
        SendMessage(fVirtualWindow, WM_USER, 0, 0);
}

bool TOstraTwain::RouteMessage(const platform::TMessage &Message)
{
    if (fSourcesLoaded <= 0)
        return false;
    const MSG msg = MakeMsg(fVirtualWindow, Message.Msg, Message.WParam, Message.LParam);
    const std::int32_t count = GetSourceCount();
    for (std::int32_t i = 0; i < count; ++i) {
        TTwainSource *source = GetSource(i);
        // A claiming source may have rebuilt the whole list: stop at once.
        if (source && source->Loaded() && source->Enabled() && source->ProcessMessage(msg))
            return true;
    }
    return false;
}

bool TOstraTwain::WndFunc(platform::TMessage &Message)
{
    if (!RouteMessage(Message))
        return false;
    Message.Result = 0;
    return true;
}

void TOstraTwain::WndProc(platform::TMessage &Message)
{
    RouteMessage(Message);
}

HWND TOstraTwain::CustomGetParentWindow()
{
    if (fIsConsoleApplication)
        return nullptr;
    HWND active = platform::GetActiveWindow();
    if (active || platform::IsLibrary())
        return active;
    return platform::GetLastActivePopup();
}

std::int32_t TOstraTwain::CustomSelectSource()
{
    const std::int32_t count = GetSourceCount();
    if (count == 0)
        return -1;
    // Freed on every way out, unless the window it stays above was closed
    // and deleted while it was shown, taking it along.
    QPointer<TFormSelectSource> dialog = new TFormSelectSource;
    const auto freeDialog = qScopeGuard([&dialog] { delete dialog.data(); });
    for (std::int32_t i = 0; i < count; ++i) {
        TTwainSource *source = GetSource(i);
        dialog->LBSources->addItem(source ? source->ProductName() : QString());
    }
    dialog->LBSources->setCurrentRow(0);
    if (fSelectedSourceIndex >= 0 && fSelectedSourceIndex < dialog->LBSources->count())
        dialog->LBSources->setCurrentRow(fSelectedSourceIndex);
    // Stays above the window that is active when it is shown.
    if (QWidget *active = QApplication::activeWindow())
        dialog->setParent(active, dialog->windowFlags());
    const int result = platform::ShowModal(*dialog);
    if (dialog && result == platform::mrOk)
        return dialog->LBSources->currentRow();
    return -1;
}

void TOstraTwain::DoTwainAcquire(TObject *Sender, std::int32_t Index, HBITMAP Image, bool &Cancel)
{
    if (!fOnTwainAcquire) {
        if (Image)
            DeleteObject(Image);
        return;
    }
    // The object owns the handle and frees it, also when the handler raises.
    platform::Bitmap bitmap(Image);
    fOnTwainAcquire(Sender, Index, &bitmap, Cancel);
}

void TOstraTwain::DoAcquireProgress(TObject *, std::int32_t Index, HBITMAP Image, std::int32_t Current,
                                    std::int32_t Total)
{
    if (fOnAcquireProgress)
        fOnAcquireProgress(this, Index, Image, Current, Total);
}
