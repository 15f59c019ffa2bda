// The window-bound component: routing, the message timer, the parent window,
// the selection dialog and the acquire event's bitmap object.
#include "TwainFixture.h"

#include "twain/FormSelectSource.h"

#include <QListWidget>

#include <stdexcept>

namespace {

// Exposes the window field so a test can take the window away.
class BareTwain : public TOstraTwain {
public:
    void ForgetWindow() { fVirtualWindow = nullptr; }
};

} // namespace

TEST_F(TwainFixture, WithoutAnOpenSourceEveryMessagePasses)
{
    Open({"A", "B"});
    tw->Source(0); // listed, not opened
    HWND app = tw->VirtualWindow();
    EXPECT_EQ(app, platform::ApplicationWindow());
    int behind = 0;
    // A hook installed after the component's sees what the component passes on.
    platform::HookId id = platform::HookApplicationWindow([&](platform::TMessage &) {
        ++behind;
        return false;
    });
    dsm->ClearLog();
    platform::TMessage m{WM_USER + 7, 1, 2, 99};
    EXPECT_FALSE(tw->WndFunc(m));
    EXPECT_EQ(m.Result, 99);
    SendMessage(app, WM_USER, 0, 0);
    EXPECT_EQ(behind, 1);
    EXPECT_EQ(dsm->Count(MSG_PROCESSEVENT), 0);
    platform::UnhookApplicationWindow(id);
}

TEST_F(TwainFixture, OnlyOpenAndEnabledSourcesAreOfferedMessages)
{
    Open({"A", "B"});
    tw->Source(0)->SetLoaded(true); // open, not enabled
    Enable(1);
    dsm->ClearLog();
    SendMessage(tw->VirtualWindow(), WM_USER, 0, 0);
    ASSERT_EQ(dsm->Count(MSG_PROCESSEVENT), 1);
    const testsupport::DsmCall *call = dsm->Last(MSG_PROCESSEVENT);
    EXPECT_EQ(call->dest.Id, tw->Source(1)->Structure.Id);
    // The message is handed over as a window message record.
    const TW_EVENT ev = call->DataAs<TW_EVENT>();
    EXPECT_NE(ev.pEvent, nullptr);
    EXPECT_EQ(ev.TWMessage, MSG_NULL);
}

TEST_F(TwainFixture, TheFirstClaimingSourceStopsTheRouting)
{
    Open({"A", "B"});
    Enable(0);
    Enable(1);
    int behind = 0;
    platform::HookId id = platform::HookApplicationWindow([&](platform::TMessage &) {
        ++behind;
        return false;
    });
    dsm->QueueEvent(MSG_NULL); // source A claims the message and signals nothing
    dsm->ClearLog();
    platform::TMessage m{WM_USER, 0, 0, 42};
    EXPECT_TRUE(tw->WndFunc(m));
    EXPECT_EQ(m.Result, 0);
    EXPECT_EQ(dsm->CallNames(), (std::vector<std::string>{"MSG_PROCESSEVENT"}));
    // Through the window: later hooks do not see a claimed message either.
    dsm->QueueEvent(MSG_DEVICEEVENT);
    EXPECT_EQ(SendMessage(tw->VirtualWindow(), WM_USER, 0, 0), 0);
    EXPECT_EQ(behind, 0);
    EXPECT_TRUE(tw->Source(0)->Enabled());
    platform::UnhookApplicationWindow(id);
}

TEST_F(TwainFixture, TheTimerTicksOnlyWhileASourceIsEnabled)
{
    Open({"A"});
    ASSERT_TRUE(tw->MessagesTimer());
    EXPECT_EQ(tw->MessagesTimer()->Interval(), 100u);
    EXPECT_FALSE(tw->MessagesTimer()->Enabled());
    TTwainSource *s = Enable(0);
    EXPECT_TRUE(tw->MessagesTimer()->Enabled());
    dsm->ClearLog();
    clock.Advance(350);
    EXPECT_EQ(dsm->Count(MSG_PROCESSEVENT), 3);
    s->SetEnabled(false);
    EXPECT_FALSE(tw->MessagesTimer()->Enabled());
    clock.Advance(1000);
    EXPECT_EQ(dsm->Count(MSG_PROCESSEVENT), 3);
}

TEST_F(TwainFixture, AFailedEnableLeavesTheTimerRunning)
{
    Open({"A"});
    dsm->Script(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE);
    TTwainSource *s = tw->Source(0);
    s->SetLoaded(true);
    s->SetEnabled(true);
    EXPECT_FALSE(s->Enabled());
    EXPECT_TRUE(tw->MessagesTimer()->Enabled());
    dsm->ClearLog();
    clock.Advance(100);
    EXPECT_EQ(dsm->Count(MSG_PROCESSEVENT), 0); // ticks, but nobody is enabled
}

TEST_F(TwainFixture, TheTimerSendsNothingWithoutAWindow)
{
    dsm = std::make_unique<testsupport::ScriptedDsm>();
    auto bare = std::make_unique<BareTwain>();
    int seen = 0;
    platform::HookId id = platform::HookApplicationWindow([&](platform::TMessage &m) {
        seen += m.Msg == WM_USER;
        return false;
    });
    bare->DoMessagesTimer(bare.get());
    EXPECT_EQ(seen, 1);
    bare->ForgetWindow();
    bare->MessageTimer_Enable();
    clock.Advance(500);
    bare->DoMessagesTimer(bare.get());
    EXPECT_EQ(seen, 1);
    platform::UnhookApplicationWindow(id);
}

TEST_F(TwainFixture, DestroyingTheComponentWithoutAnyEnabledSourceCleansUp)
{
    const std::size_t hooks = platform::ApplicationHookCount();
    dsm = std::make_unique<testsupport::ScriptedDsm>();
    {
        TOstraTwain plain;
        EXPECT_EQ(platform::ApplicationHookCount(), hooks + 1);
        EXPECT_EQ(clock.ArmedCount(), 0u);
    }
    EXPECT_EQ(platform::ApplicationHookCount(), hooks);
    EXPECT_EQ(clock.ArmedCount(), 0u);
    dsm.reset();
    // Destroyed with a source enabled: the timer goes first, nothing ticks after.
    Open({"A"});
    Enable(0);
    EXPECT_EQ(clock.ArmedCount(), 1u);
    tw.reset();
    EXPECT_EQ(clock.ArmedCount(), 0u);
    EXPECT_EQ(platform::ApplicationHookCount(), hooks);
    EXPECT_EQ(dsm->Count(MSG_CLOSEDSM), 1);
}

TEST_F(TwainFixture, InALibraryTheComponentOwnsItsMessageWindow)
{
    platform::SetIsLibrary(true);
    Open({"A"});
    HWND own = tw->VirtualWindow();
    EXPECT_NE(own, platform::ApplicationWindow());
    EXPECT_TRUE(platform::IsWindow(own));
    EXPECT_EQ(platform::ApplicationHookCount(), 0u);
    Enable(0);
    dsm->QueueNativeImage(PackedDib(1, 1, 24, {}, {1, 2, 3, 0}));
    dsm->QueueEvent(MSG_XFERREADY);
    clock.Advance(100); // the tick goes to the own window
    EXPECT_EQ(images.size(), 1u);
    // The rebuild replaced the window.
    EXPECT_FALSE(platform::IsWindow(own));
    EXPECT_TRUE(platform::IsWindow(tw->VirtualWindow()));
    HWND second = tw->VirtualWindow();
    tw.reset();
    EXPECT_FALSE(platform::IsWindow(second));
}

TEST_F(TwainFixture, ParentWindowForTheSourceDialog)
{
    Open({"A"});
    QWidget form;
    form.show();
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    EXPECT_EQ(tw->CustomGetParentWindow(), platform::HandleOfWidget(&form));
    tw->SetIsConsoleApplication(true);
    EXPECT_EQ(tw->CustomGetParentWindow(), nullptr);
    tw->SetIsConsoleApplication(false);
    // With nothing active, the window that was active last.
    form.hide();
    QApplication::setActiveWindow(nullptr);
    EXPECT_EQ(tw->CustomGetParentWindow(), platform::HandleOfWidget(&form));
    // The handle is what MSG_ENABLEDS carries.
    QApplication::setActiveWindow(&form);
    Enable(0);
    const TW_USERINTERFACE ui = dsm->Last(MSG_ENABLEDS)->DataAs<TW_USERINTERFACE>();
    const void *parent = ui.hParent;
    EXPECT_EQ(parent, platform::HandleOfWidget(&form));
}

TEST_F(TwainFixture, SelectingASourceInTheDialog)
{
    Open({});
    EXPECT_EQ(tw->SelectSource(), -1);
    EXPECT_TRUE(dialogs.shown.empty()); // no sources: no dialog
    tw.reset();
    dsm.reset();

    Open({"Alpha", "Beta", "Gamma"});
    QStringList names;
    int preselected = -2;
    dialogs.script = [&](QDialog &d) {
        auto &f = dynamic_cast<TFormSelectSource &>(d);
        names.clear();
        for (int i = 0; i < f.LBSources->count(); ++i)
            names << f.LBSources->item(i)->text();
        preselected = f.LBSources->currentRow();
        f.LBSources->setCurrentRow(2);
        return platform::mrOk;
    };
    tw->SetSelectedSourceIndex(5); // outside the list: the first entry is preselected
    EXPECT_EQ(tw->SelectSource(), 2);
    EXPECT_EQ(names, (QStringList{"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(preselected, 0);
    EXPECT_EQ(tw->SelectedSourceIndex(), 2);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Select source");

    // The stored index is preselected; cancelling gives -1 and stores it.
    dialogs.script = [&](QDialog &d) {
        preselected = dynamic_cast<TFormSelectSource &>(d).LBSources->currentRow();
        return platform::mrCancel;
    };
    EXPECT_EQ(tw->SelectSource(), -1);
    EXPECT_EQ(preselected, 2);
    EXPECT_EQ(tw->SelectedSourceIndex(), -1);

    // The dialog stays above the active window; when that window is deleted
    // while the dialog is shown, it takes the dialog along: nothing is freed
    // twice and nothing is chosen.
    auto *form = new QWidget;
    form->show();
    QApplication::setActiveWindow(form);
    QWidget *parent = nullptr;
    dialogs.script = [&](QDialog &d) {
        parent = d.parentWidget();
        delete form;
        return platform::mrOk;
    };
    EXPECT_EQ(tw->SelectSource(), -1);
    EXPECT_EQ(parent, form);
}

TEST_F(TwainFixture, AcquiredBitmapsAreAlwaysReleased)
{
    Open({"A"});
    const std::size_t before = platform::LiveBitmapCount();
    bool cancel = false;
    // No handler: the handle is deleted at once.
    tw->OnTwainAcquire() = nullptr;
    tw->DoTwainAcquire(tw.get(), 0, CreateBitmapFromImage(QImage(2, 2, QImage::Format_RGB32)), cancel);
    EXPECT_EQ(platform::LiveBitmapCount(), before);
    // A handler that raises: the bitmap object is freed on the way out.
    HBITMAP seen = nullptr;
    tw->OnTwainAcquire() = [&](TObject *, std::int32_t, platform::Bitmap *b, bool &) {
        seen = b->Handle();
        throw std::runtime_error("x");
    };
    HBITMAP h = CreateBitmapFromImage(QImage(2, 2, QImage::Format_RGB32));
    EXPECT_THROW(tw->DoTwainAcquire(tw.get(), 0, h, cancel), std::runtime_error);
    EXPECT_EQ(seen, h);
    EXPECT_FALSE(platform::IsBitmap(h));
    EXPECT_EQ(platform::LiveBitmapCount(), before);
    // Progress goes out with the component as sender, whoever reported it.
    TObject *sender = nullptr;
    tw->OnAcquireProgress() = [&](TObject *s, std::int32_t, HBITMAP, std::int32_t, std::int32_t) { sender = s; };
    TObject other;
    tw->DoAcquireProgress(&other, 0, nullptr, 1, 1);
    EXPECT_EQ(sender, tw.get());
}
