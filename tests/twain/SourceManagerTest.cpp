// The source manager against the scripted Data Source Manager.
#include "TestTwain.h"

#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

#include <cstring>

using testsupport::ScriptedDsm;

namespace {

using Names = std::vector<std::string>;

class SourceManager : public ::testing::Test {
protected:
    void SetUp() override { liveBefore = platform::GlobalLiveBlocks(); }
    void TearDown() override { EXPECT_EQ(platform::GlobalLiveBlocks(), liveBefore); }

    void threeSources()
    {
        dsm.AddSource(QStringLiteral("Alpha"));
        dsm.AddSource(QStringLiteral("Beta"));
        dsm.AddSource(QStringLiteral("Gamma"));
    }

    long liveBefore = 0;
    ScriptedDsm dsm;
};

TEST_F(SourceManager, OpeningBeforeTheLibraryIsLoadedDoesNothing)
{
    TestTwain twain;
    twain.SetSourceManagerLoaded(true);
    EXPECT_FALSE(twain.SourceManagerLoaded());
    EXPECT_EQ(twain.SourceCount(), 0);
    EXPECT_EQ(twain.Source(0), nullptr);
    EXPECT_EQ(twain.Source(-1), nullptr);
    EXPECT_EQ(twain.SelectSource(), -1);
    EXPECT_EQ(twain.selectCalls, 0);
    EXPECT_FALSE(twain.EnumerateDevices());
    EXPECT_TRUE(dsm.calls.empty());
}

TEST_F(SourceManager, LoadAndOpenSendOneOpenWithTheWindowAndTheApplicationIdentity)
{
    TestTwain twain;
    ASSERT_TRUE(twain.LoadLibrary());
    EXPECT_EQ(dsm.loadedPaths, std::vector<QString>{dsm.Directory() + "TWAIN_32.DLL"});
    EXPECT_TRUE(dsm.calls.empty()); // loading does not open the manager
    EXPECT_TRUE(twain.LoadLibrary());
    EXPECT_EQ(dsm.loadedPaths.size(), 1u);

    twain.SetSourceManagerLoaded(true);
    twain.SetSourceManagerLoaded(true);
    ASSERT_TRUE(twain.SourceManagerLoaded());
    ASSERT_EQ(dsm.CallNames(), Names{"MSG_OPENDSM"});
    const auto &open = dsm.calls[0];
    EXPECT_TRUE(open.hasOrigin);
    EXPECT_FALSE(open.hasDest);
    EXPECT_EQ(testsupport::ProductNameOf(open.origin), "App product name");
    EXPECT_EQ(open.DataAs<HWND>(), twain.virtualWindow);
}

TEST_F(SourceManager, ARefusedOpenLeavesTheManagerClosed)
{
    dsm.Script(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE);
    TestTwain twain;
    ASSERT_TRUE(twain.LoadLibrary());
    EXPECT_FALSE(twain.LoadSourceManager());
    EXPECT_FALSE(twain.SourceManagerLoaded());
}

TEST_F(SourceManager, EnumerationListsSourcesInOrderOnce)
{
    threeSources();
    TestTwain twain;
    twain.SetTransferMode(ttmMemory);
    ASSERT_TRUE(twain.Open());
    dsm.ClearLog();
    EXPECT_FALSE(twain.HasEnumerated());
    EXPECT_EQ(twain.SourceCount(), 3);
    EXPECT_TRUE(twain.HasEnumerated());
    EXPECT_EQ(twain.SourceCount(), 3);
    EXPECT_EQ(dsm.CallNames(), (Names{"MSG_GETFIRST", "MSG_GETNEXT", "MSG_GETNEXT", "MSG_GETNEXT"}));
    const char *names[] = {"Alpha", "Beta", "Gamma"};
    for (int i = 0; i < 3; ++i) {
        TTwainSource *s = twain.Source(i);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->Index(), i);
        EXPECT_EQ(s->ProductName(), QString::fromLatin1(names[i]));
        EXPECT_EQ(s->TransferMode(), ttmMemory);
        EXPECT_EQ(s->Owner(), &twain);
        EXPECT_FALSE(s->Loaded());
        EXPECT_EQ(+s->Structure.Id, static_cast<TW_UINT32>(i + 1));
    }
    EXPECT_EQ(twain.Source(3), nullptr);
    EXPECT_EQ(twain.Source(-2), nullptr);
}

TEST_F(SourceManager, AManagerWithoutSourcesGivesAnEmptyEnumeratedList)
{
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    EXPECT_EQ(twain.SourceCount(), 0);
    EXPECT_TRUE(twain.HasEnumerated());
    EXPECT_EQ(twain.Source(-1), nullptr);
    EXPECT_EQ(twain.SelectedSource(), nullptr);
}

TEST_F(SourceManager, DefaultSourceFoundNotFoundAndFailing)
{
    threeSources();
    TestTwain twain;
    ASSERT_TRUE(twain.Open());

    dsm.defaultSource = 1;
    ASSERT_NE(twain.Source(-1), nullptr);
    EXPECT_EQ(twain.Source(-1)->ProductName(), QStringLiteral("Beta"));
    EXPECT_EQ(twain.GetDefaultSource(), 1);

    // The default identity differs in one byte (its Id) from every listed one.
    dsm.Script(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT,
               testsupport::DsmAnswer{TWRC_SUCCESS, std::nullopt, [this](TW_MEMREF p) {
                                          auto *id = static_cast<TW_IDENTITY *>(p);
                                          *id = dsm.sources[2];
                                          id->Id = 99;
                                      }});
    EXPECT_EQ(twain.GetDefaultSource(), -1);
    EXPECT_EQ(twain.Source(-1), nullptr);

    dsm.Script(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, TWRC_FAILURE);
    ASSERT_NE(twain.Source(-1), nullptr);
    EXPECT_EQ(twain.Source(-1)->Index(), 0);
    EXPECT_EQ(twain.FindSource(nullptr), -1);
    EXPECT_EQ(twain.FindSource(&dsm.sources[2]), 2);
}

TEST_F(SourceManager, SelectedSourceIndexIsStoredUntestedAndSurvivesRefresh)
{
    threeSources();
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    twain.SetSelectedSourceIndex(5);
    EXPECT_EQ(twain.SelectedSourceIndex(), 5);
    EXPECT_EQ(twain.SelectedSource(), nullptr);
    twain.SetSelectedSourceIndex(-1);
    EXPECT_EQ(twain.SelectedSource(), nullptr);
    twain.SetSelectedSourceIndex(2);
    ASSERT_NE(twain.SelectedSource(), nullptr);
    EXPECT_EQ(twain.SelectedSource()->ProductName(), QStringLiteral("Gamma"));

    twain.selectAnswer = -1;
    EXPECT_EQ(twain.SelectSource(), -1);
    EXPECT_EQ(twain.SelectedSourceIndex(), -1);
    twain.selectAnswer = 1;
    EXPECT_EQ(twain.SelectSource(), 1);
    EXPECT_EQ(twain.SelectedSourceIndex(), 1);
    EXPECT_EQ(dsm.Count(MSG_USERSELECT), 0);

    twain.RefreshVirtualWindow();
    EXPECT_EQ(twain.SelectedSourceIndex(), 1);
    EXPECT_EQ(twain.SelectedSource()->ProductName(), QStringLiteral("Beta"));
}

TEST_F(SourceManager, ForcedUnloadClosesSourcesButNotTheManager)
{
    threeSources();
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    ASSERT_TRUE(twain.Source(0)->LoadSource());
    ASSERT_TRUE(twain.Source(2)->LoadSource());
    EXPECT_EQ(twain.SourcesLoaded(), 2);
    dsm.ClearLog();
    EXPECT_TRUE(twain.UnloadSourceManager(true));
    EXPECT_FALSE(twain.SourceManagerLoaded());
    EXPECT_FALSE(twain.HasEnumerated());
    EXPECT_EQ(twain.SourcesLoaded(), 0);
    EXPECT_EQ(dsm.Count(MSG_CLOSEDS), 2);
    EXPECT_EQ(dsm.Count(MSG_CLOSEDSM), 0);
    EXPECT_TRUE(twain.LibraryLoaded());
}

TEST_F(SourceManager, ARefusedCloseKeepsTheManagerOpenWithAnEmptyList)
{
    threeSources();
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    EXPECT_EQ(twain.SourceCount(), 3);
    dsm.ScriptOnce(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE);
    EXPECT_FALSE(twain.UnloadSourceManager(false));
    EXPECT_TRUE(twain.SourceManagerLoaded());
    EXPECT_FALSE(twain.HasEnumerated());
    EXPECT_TRUE(twain.UnloadSourceManager(false));
    EXPECT_FALSE(twain.SourceManagerLoaded());
    EXPECT_EQ(dsm.Count(MSG_CLOSEDSM), 2);
}

TEST_F(SourceManager, RefreshResetsIdentityModeAndListButKeepsHandlersAndSelection)
{
    threeSources();
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    TTwainIdentity mine;
    mine.SetProductName(QStringLiteral("Quillora"));
    twain.SetInfo(&mine);
    EXPECT_EQ(twain.Info()->ProductName(), QStringLiteral("Quillora"));
    EXPECT_EQ(twain.AppIdentity(), &twain.Info()->Structure);
    twain.SetTransferMode(ttmMemory);
    twain.SetIsConsoleApplication(true);
    twain.SetSelectedSourceIndex(2);
    int disables = 0;
    twain.OnSourceDisable() = [&](TObject *, std::int32_t) { ++disables; };
    ASSERT_TRUE(twain.Source(1)->LoadSource());
    twain.Source(1)->SetEnabled(true);
    ASSERT_TRUE(twain.Source(1)->Enabled());
    dsm.ClearLog();

    twain.RefreshVirtualWindow();
    EXPECT_EQ(dsm.CallNames(), (Names{"MSG_DISABLEDS", "MSG_CLOSEDS", "MSG_CLOSEDSM", "MSG_OPENDSM"}));
    EXPECT_EQ(dsm.freeCount, 1);
    EXPECT_EQ(disables, 1);
    EXPECT_EQ(twain.destroys, 1);
    EXPECT_EQ(twain.creates, 2);
    EXPECT_TRUE(twain.LibraryLoaded());
    EXPECT_TRUE(twain.SourceManagerLoaded());
    EXPECT_FALSE(twain.HasEnumerated());
    EXPECT_EQ(twain.SourcesLoaded(), 0);
    EXPECT_EQ(twain.Info()->ProductName(), QStringLiteral("App product name"));
    EXPECT_EQ(testsupport::ProductNameOf(dsm.calls.back().origin), "App product name");
    EXPECT_EQ(twain.TransferMode(), ttmNative);
    EXPECT_EQ(twain.SelectedSourceIndex(), 2);
    EXPECT_TRUE(twain.IsConsoleApplication());
    EXPECT_TRUE(static_cast<bool>(twain.OnSourceDisable()));
    EXPECT_EQ(twain.SourceCount(), 3);
}

TEST_F(SourceManager, RefreshThatCannotReloadStaysUnloaded)
{
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    dsm.loadFails = true;
    twain.RefreshVirtualWindow();
    EXPECT_FALSE(twain.LibraryLoaded());
    EXPECT_FALSE(twain.SourceManagerLoaded());
    EXPECT_EQ(twain.SourceCount(), 0);
}

TEST_F(SourceManager, UnloadLibraryWhenFreeingFails)
{
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    const HMODULE handle = twain.Handle();
    dsm.freeFails = true;
    const int disablesBefore = twain.timerDisables;
    EXPECT_FALSE(twain.UnloadLibrary());
    EXPECT_FALSE(twain.LibraryLoaded());
    EXPECT_FALSE(twain.SourceManagerLoaded());
    EXPECT_EQ(twain.Handle(), handle);
    EXPECT_EQ(twain.timerDisables, disablesBefore + 1);
    EXPECT_EQ(dsm.journal.back(), "TimerDisable");
    EXPECT_EQ(dsm.Count(MSG_CLOSEDSM), 1);
    // Unloading what is not loaded succeeds and still stops the timer.
    EXPECT_TRUE(twain.UnloadLibrary());
    EXPECT_EQ(twain.timerDisables, disablesBefore + 2);
}

TEST_F(SourceManager, UnloadingTheLibraryAfterARefusedCloseLeavesTheManagerClosedForTheNextLoad)
{
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    dsm.ScriptOnce(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE);
    EXPECT_TRUE(twain.UnloadLibrary());
    EXPECT_FALSE(twain.LibraryLoaded());
    EXPECT_FALSE(twain.SourceManagerLoaded());
    // A new library instance has to be opened again before it lists sources.
    ASSERT_TRUE(twain.LoadLibrary());
    twain.SetSourceManagerLoaded(true);
    EXPECT_TRUE(twain.SourceManagerLoaded());
    EXPECT_EQ(dsm.Count(MSG_OPENDSM), 2);
}

TEST_F(SourceManager, LoadLibraryFailuresLeaveNothingLoaded)
{
    TestTwain twain;
    dsm.loadFails = true;
    EXPECT_FALSE(twain.LoadLibrary());
    EXPECT_EQ(twain.Handle(), nullptr);
    dsm.loadFails = false;
    dsm.exportMissing = true;
    EXPECT_FALSE(twain.LoadLibrary());
    EXPECT_EQ(twain.Handle(), nullptr);
    EXPECT_EQ(dsm.freeCount, 1); // the module without entry is freed again
    EXPECT_FALSE(twain.LibraryLoaded());
}

TEST_F(SourceManager, DestroyingTheManagerClosesEverythingInOrder)
{
    threeSources();
    {
        TestTwain twain;
        ASSERT_TRUE(twain.Open());
        ASSERT_TRUE(twain.Source(0)->LoadSource());
        dsm.ClearLog();
    }
    EXPECT_EQ(dsm.CallNames(), (Names{"MSG_CLOSEDS", "MSG_CLOSEDSM"}));
    EXPECT_EQ(dsm.freeCount, 1);
}

TEST_F(SourceManager, AManagerThatNeverEndsItsListDoesNotHang)
{
    dsm.AddSource(QStringLiteral("Loop"));
    dsm.Script(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT,
               testsupport::DsmAnswer{TWRC_SUCCESS, std::nullopt, [this](TW_MEMREF p) {
                                          *static_cast<TW_IDENTITY *>(p) = dsm.sources[0];
                                      }});
    TestTwain twain;
    ASSERT_TRUE(twain.Open());
    EXPECT_EQ(twain.SourceCount(), 10000);
}

} // namespace
