// Opening, enabling, disabling and closing a source.
#include "TestTwain.h"

#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

using testsupport::ScriptedDsm;

namespace {

using Names = std::vector<std::string>;

class SourceLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        liveBefore = platform::GlobalLiveBlocks();
        dsm.AddSource(QStringLiteral("Alpha"));
        dsm.AddSource(QStringLiteral("Beta"));
        ASSERT_TRUE(twain.Open());
        source = twain.Source(1);
        ASSERT_NE(source, nullptr);
        twain.OnSourceDisable() = [this](TObject *sender, std::int32_t index) {
            EXPECT_EQ(sender, &twain);
            dsm.Note("OnSourceDisable " + std::to_string(index));
        };
        dsm.ClearLog();
    }
    void TearDown() override
    {
        EXPECT_EQ(platform::GlobalLiveBlocks(), liveBefore);
    }

    long liveBefore = 0;
    ScriptedDsm dsm;
    TestTwain twain;
    TTwainSource *source = nullptr;
};

TEST_F(SourceLifecycle, OpeningTwiceSendsOneOpenAndClosingAClosedSourceSendsNothing)
{
    EXPECT_TRUE(source->UnloadSource());
    source->SetLoaded(false);
    EXPECT_TRUE(dsm.calls.empty());

    source->SetLoaded(true);
    source->SetLoaded(true);
    EXPECT_TRUE(source->LoadSource());
    EXPECT_TRUE(source->Loaded());
    EXPECT_EQ(twain.SourcesLoaded(), 1);
    ASSERT_EQ(dsm.CallNames(), Names{"MSG_OPENDS"});
    const auto &open = dsm.calls[0];
    EXPECT_FALSE(open.hasDest);
    EXPECT_EQ(+open.DataAs<TW_IDENTITY>().Id, 2u); // the source's own identity is the data
    EXPECT_EQ(+open.origin.Id, +twain.AppIdentity()->Id);
}

TEST_F(SourceLifecycle, ARefusedOpenLeavesTheSourceClosedAndTheCountAlone)
{
    dsm.Script(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE);
    EXPECT_FALSE(source->LoadSource());
    EXPECT_FALSE(source->Loaded());
    EXPECT_EQ(twain.SourcesLoaded(), 0);
    source->SetEnabled(true); // enabling a closed source does nothing
    EXPECT_FALSE(source->Enabled());
    EXPECT_EQ(twain.timerEnables, 0);
    EXPECT_EQ(dsm.CallNames(), Names{"MSG_OPENDS"});
}

TEST_F(SourceLifecycle, EnableSendsTheRequestedDialogFlagsAndParent)
{
    ASSERT_TRUE(source->LoadSource());
    source->SetEnabled(true);
    ASSERT_TRUE(source->Enabled());
    EXPECT_EQ(dsm.journal, (Names{"MSG_OPENDS", "TimerEnable", "MSG_ENABLEDS"}));
    auto ui = dsm.Last(MSG_ENABLEDS)->DataAs<TW_USERINTERFACE>();
    EXPECT_EQ(ui.ShowUI, 0xFFFF);
    EXPECT_EQ(ui.ModalUI, 0xFFFF);
    EXPECT_EQ(static_cast<TW_HANDLE>(ui.hParent), static_cast<TW_HANDLE>(twain.parentWindow));
    EXPECT_TRUE(dsm.Last(MSG_ENABLEDS)->hasDest);
    EXPECT_EQ(+dsm.Last(MSG_ENABLEDS)->dest.Id, 2u);
    source->SetEnabled(true);
    EXPECT_EQ(dsm.Count(MSG_ENABLEDS), 1);

    ASSERT_TRUE(source->DisableSource());
    source->SetShowUI(false);
    source->SetModal(false);
    source->SetEnabled(true);
    ui = dsm.Last(MSG_ENABLEDS)->DataAs<TW_USERINTERFACE>();
    EXPECT_EQ(ui.ShowUI, 0);
    EXPECT_EQ(ui.ModalUI, 0);
}

TEST_F(SourceLifecycle, CheckStatusEnablesAndARefusalLeavesTheTimerRunning)
{
    ASSERT_TRUE(source->LoadSource());
    dsm.ScriptOnce(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE);
    EXPECT_FALSE(source->EnableSource(true, true));
    EXPECT_FALSE(source->Enabled());
    EXPECT_EQ(twain.timerEnables, 1);
    EXPECT_EQ(twain.timerDisables, 0);

    dsm.ScriptOnce(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_CHECKSTATUS);
    EXPECT_TRUE(source->EnableSource(true, true));
    EXPECT_TRUE(source->Enabled());
}

TEST_F(SourceLifecycle, UnloadingAnEnabledSourceDisablesFirstWithTheEventBetween)
{
    ASSERT_TRUE(source->LoadSource());
    source->SetEnabled(true);
    dsm.ClearLog();
    source->SetLoaded(false);
    EXPECT_EQ(dsm.journal,
              (Names{"MSG_DISABLEDS", "OnSourceDisable 1", "TimerDisable", "MSG_CLOSEDS"}));
    const auto ui = dsm.Last(MSG_DISABLEDS)->DataAs<TW_USERINTERFACE>();
    EXPECT_EQ(ui.ShowUI, 0);
    EXPECT_EQ(ui.ModalUI, 0);
    EXPECT_EQ(static_cast<TW_HANDLE>(ui.hParent), nullptr);
    EXPECT_FALSE(source->Loaded());
    EXPECT_FALSE(source->Enabled());
    EXPECT_EQ(twain.SourcesLoaded(), 0);
}

TEST_F(SourceLifecycle, RefusedDisableAndCloseStillEndDisabledAndClosed)
{
    ASSERT_TRUE(source->LoadSource());
    source->SetEnabled(true);
    dsm.Script(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE);
    dsm.Script(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, TWRC_FAILURE);
    dsm.ClearLog();
    EXPECT_FALSE(source->UnloadSource());
    EXPECT_EQ(dsm.journal, (Names{"MSG_DISABLEDS", "TimerDisable", "MSG_CLOSEDS"}));
    EXPECT_FALSE(source->Enabled());
    EXPECT_FALSE(source->Loaded());
    EXPECT_EQ(twain.SourcesLoaded(), 1); // the refused close is not counted
}

TEST_F(SourceLifecycle, DisablingASourceThatIsNotEnabledStillStopsTheTimer)
{
    ASSERT_TRUE(source->LoadSource());
    EXPECT_TRUE(source->DisableSource());
    EXPECT_EQ(twain.timerDisables, 1);
    EXPECT_EQ(dsm.Count(MSG_DISABLEDS), 0);
}

TEST_F(SourceLifecycle, ReturnStatusAndPendingTransfers)
{
    EXPECT_EQ(source->GetReturnStatus(), 0);
    EXPECT_EQ(source->PendingXfers(), 32767);
    EXPECT_TRUE(dsm.calls.empty());

    ASSERT_TRUE(source->LoadSource());
    dsm.condition = TWCC_PAPERJAM;
    EXPECT_EQ(source->GetReturnStatus(), TWCC_PAPERJAM);
    EXPECT_TRUE(dsm.Last(MSG_GET)->hasDest);
    dsm.Script(DG_CONTROL, DAT_STATUS, MSG_GET, TWRC_FAILURE);
    EXPECT_EQ(source->GetReturnStatus(), 0);

    EXPECT_EQ(source->GetPendingXfers(), 32767); // open, not enabled: no call
    EXPECT_EQ(dsm.Count(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET), 0);
    source->SetEnabled(true);
    dsm.pending = 3;
    EXPECT_EQ(source->GetPendingXfers(), 3);
    dsm.pending = 0xFFFF;
    EXPECT_EQ(source->GetPendingXfers(), -1);
    dsm.Script(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, TWRC_FAILURE);
    EXPECT_EQ(source->GetPendingXfers(), 32767);
}

TEST_F(SourceLifecycle, EnumeratingAgainClosesTheOpenSources)
{
    ASSERT_TRUE(source->LoadSource());
    source->SetEnabled(true);
    dsm.ClearLog();
    EXPECT_TRUE(twain.EnumerateDevices());
    EXPECT_EQ(dsm.CallNames(),
              (Names{"MSG_DISABLEDS", "MSG_CLOSEDS", "MSG_GETFIRST", "MSG_GETNEXT", "MSG_GETNEXT"}));
    EXPECT_EQ(twain.SourcesLoaded(), 0);
}

TEST(SourceWithoutOwner, LifecycleCallsAreSafeAndCallNothing)
{
    TTwainSource orphan(nullptr);
    EXPECT_FALSE(orphan.LoadSource());
    EXPECT_FALSE(orphan.EnableSource(true, true));
    EXPECT_TRUE(orphan.DisableSource());
    EXPECT_TRUE(orphan.UnloadSource());
    EXPECT_EQ(orphan.GetReturnStatus(), 0);
    EXPECT_EQ(orphan.GetPendingXfers(), 32767);
    EXPECT_EQ(orphan.GetAppInfo(), nullptr);
}

} // namespace
