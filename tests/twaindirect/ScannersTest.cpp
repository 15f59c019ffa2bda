// The direct binding against the scripted manager: texts, call order, the
// identity it presents, and what its flags do after failures.
#include "platform/Assert.h"
#include "support/ScriptedDsm.h"
#include "twaindirect/Scanners.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Scanners;
using testsupport::ScriptedDsm;

namespace {

HWND const kWindow = reinterpret_cast<HWND>(std::uintptr_t(0x4711));

// The text of the exception |action| raises, and whether it was of type E.
template <typename E>
QString raised(const std::function<void()> &action)
{
    try {
        action();
    } catch (const E &e) {
        return e.message();
    } catch (const std::exception &e) {
        ADD_FAILURE() << "other exception: " << e.what();
        return {};
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

// "<message> (scanners, Zeile <n>)" with some line n > 0.
void expectAssertion(const QString &text, const QString &message)
{
    static const QRegularExpression pattern(QStringLiteral("^(.*) \\(scanners, Zeile ([1-9][0-9]*)\\)$"));
    const auto m = pattern.match(text);
    ASSERT_TRUE(m.hasMatch()) << text.toStdString();
    EXPECT_EQ(m.captured(1), message);
}

class ScannersTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    void TearDown() override
    {
        ResetState();
        dsm.reset();
    }

    ScriptedDsm &Dsm()
    {
        if (!dsm)
            dsm = std::make_unique<ScriptedDsm>();
        return *dsm;
    }

    void Open()
    {
        Dsm();
        TWOpenDSM(kWindow);
        ASSERT_TRUE(TWIsDSMOpen());
        dsm->ClearLog();
    }

    std::unique_ptr<ScriptedDsm> dsm;
};

struct ConditionCase {
    TW_UINT16 code;
    const char *text;
};

class ConditionTextTest : public ::testing::TestWithParam<ConditionCase> {};

TEST_P(ConditionTextTest, GivesTheEnglishText)
{
    EXPECT_EQ(Condition2String(GetParam().code), QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ConditionTextTest,
    ::testing::Values(
        ConditionCase{0, "Operation worked."},
        ConditionCase{6, "Capability not supported by Source or operation (get,\rset) is not supported on capability, "
                         "or capability had\rdependencies on other capabilities and cannot be\roperated upon at this "
                         "time"},
        ConditionCase{7, "Unknown Condition 0007"}, ConditionCase{8, "Unknown Condition 0008"},
        ConditionCase{11, "Illegal operation for current Source Manager\rSource state."},
        ConditionCase{15, "Capability has dependencies on other capabilities and \rcannot be operated upon at this "
                          "time."},
        ConditionCase{20, "Transfer failed because of a feeder error"},
        ConditionCase{21, "Transfer failed because of a feeder error"},
        ConditionCase{22, "Unknown Condition 0016"}, ConditionCase{0xAB, "Unknown Condition 00AB"},
        ConditionCase{0xBEEF, "Unknown Condition BEEF"}),
    [](const auto &info) { return "Code" + std::to_string(info.param.code); });

TEST(ConditionText, CodeSixHasThreeLineBreaksAndNoFullStop)
{
    const QString t = Condition2String(TWCC_BADCAP);
    EXPECT_EQ(t.count(QLatin1Char('\r')), 3);
    EXPECT_FALSE(t.contains(QLatin1Char('\n')));
    EXPECT_FALSE(t.endsWith(QLatin1Char('.')));
}

TEST_F(ScannersTest, CheckStatusIsReportedWithItsCodeWithoutAskingTheManager)
{
    Open();
    EXPECT_EQ(raised<ETwainError>([] { TwainCheckDSM(TWRC_CHECKSTATUS, QStringLiteral("TWOpenDSM")); }),
              QStringLiteral("DSM Call failed in TWOpenDSM: Code 0002"));
    EXPECT_EQ(raised<ETwainError>([] { TwainCheckDSM(0x1AF, QStringLiteral("TWCloseDS")); }),
              QStringLiteral("DSM Call failed in TWCloseDS: Code 01AF"));
    EXPECT_TRUE(dsm->calls.empty());
    TwainCheckDSM(TWRC_SUCCESS, QStringLiteral("TWOpenDSM"));
    EXPECT_TRUE(dsm->calls.empty());
}

TEST_F(ScannersTest, FailureIsExplainedByTheManagersConditionForThisApplication)
{
    Open();
    dsm->condition = TWCC_SEQERROR;
    const QString text = raised<ETwainError>([] { TwainCheckDSM(TWRC_FAILURE, QStringLiteral("TWCloseDSM")); });
    EXPECT_EQ(text, QStringLiteral("DSM Error at TWCloseDSM:\rIllegal operation for current Source Manager\rSource "
                                   "state."));
    EXPECT_EQ(text.split(QLatin1Char('\r')).size(), 3);
    ASSERT_EQ(dsm->calls.size(), 1u);
    const auto &status = dsm->calls[0];
    EXPECT_EQ(status.Name(), "STATUS/MSG_GET");
    EXPECT_FALSE(status.hasDest);
    EXPECT_EQ(testsupport::ProductNameOf(status.origin), "ImagoTest");

    dsm->Script(DG_CONTROL, DAT_STATUS, MSG_GET, TWRC_FAILURE);
    EXPECT_EQ(raised<ETwainError>([] { RaiseLastDSMCondition(QStringLiteral("TWOpenDSM")); }),
              QStringLiteral("Can't get Status"));
}

TEST_F(ScannersTest, OpenPresentsTheBindingsIdentityAndTheWindow)
{
    Dsm();
    TWOpenDSM(kWindow);
    ASSERT_EQ(dsm->calls.size(), 1u);
    const auto &open = dsm->calls[0];
    EXPECT_EQ(open.Name(), "MSG_OPENDSM");
    EXPECT_EQ(open.dg, TW_UINT32(DG_CONTROL));
    EXPECT_FALSE(open.hasDest);
    EXPECT_EQ(open.DataAs<HWND>(), kWindow);
    EXPECT_EQ(hMainWnd, kWindow);

    const TW_IDENTITY &id = open.origin;
    EXPECT_EQ(TW_UINT32(id.Id), 0u);
    EXPECT_EQ(id.Version.MajorNum, 1);
    EXPECT_EQ(id.Version.MinorNum, 0);
    EXPECT_EQ(id.Version.Language, TWLG_USA);
    EXPECT_EQ(id.Version.Country, TWCY_USA);
    EXPECT_EQ(id.ProtocolMajor, 1);
    EXPECT_EQ(id.ProtocolMinor, 7);
    EXPECT_EQ(TW_UINT32(id.SupportedGroups), TW_UINT32(DG_CONTROL | DG_IMAGE));
    const auto str32 = [](const TW_STR32 &field, const char *text) {
        TW_STR32 expected{};
        std::memcpy(expected, text, std::strlen(text));
        EXPECT_EQ(std::memcmp(field, expected, sizeof expected), 0) << text << ": not zero-padded as expected";
    };
    str32(id.Version.Info, "Ostra Twain Test");
    str32(id.ProductName, "ImagoTest");
    str32(id.ProductFamily, "Ostra Twain Framework");
    str32(id.Manufacturer, "Velmar");
    EXPECT_EQ(dsm->loadedPaths, std::vector<QString>{QStringLiteral("TWAIN_32.DLL")}) << "by the library search";
}

TEST_F(ScannersTest, OpeningTwiceAndClosingWhileClosedCallNothing)
{
    Dsm();
    TWCloseDSM();
    EXPECT_TRUE(dsm->calls.empty());
    EXPECT_TRUE(dsm->loadedPaths.empty());

    Open();
    TWOpenDSM(kWindow);
    TWOpenDSM(reinterpret_cast<HWND>(std::uintptr_t(0x99)));
    EXPECT_TRUE(dsm->calls.empty());
    EXPECT_EQ(dsm->loadedPaths.size(), 1u);
    EXPECT_EQ(hMainWnd, kWindow);

    TWCloseDSM();
    EXPECT_EQ(dsm->CallNames(), std::vector<std::string>{"MSG_CLOSEDSM"});
    EXPECT_EQ(dsm->calls[0].DataAs<HWND>(), kWindow);
    EXPECT_FALSE(TWIsDSMOpen());
    EXPECT_EQ(dsm->freeCount, 1) << "the library goes with the close";
    EXPECT_EQ(HDSMDLL, nullptr);
    EXPECT_EQ(DSM_Entry, nullptr);
    TWCloseDSM();
    EXPECT_EQ(dsm->calls.size(), 1u);
}

TEST_F(ScannersTest, OpenWithoutWindowFailsItsAssertionBeforeLoadingAnything)
{
    Dsm();
    expectAssertion(raised<platform::EAssertionFailed>([] { TWOpenDSM(nullptr); }),
                    QStringLiteral("Assertion fehlgeschlagen"));
    EXPECT_TRUE(dsm->loadedPaths.empty());
    EXPECT_TRUE(dsm->calls.empty());
    EXPECT_FALSE(TWIsDSMOpen());
}

TEST_F(ScannersTest, MissingLibraryOrEntryPointIsReportedAndNothingStaysLoaded)
{
    for (const bool exportOnly : {false, true}) {
        SCOPED_TRACE(exportOnly ? "export missing" : "library missing");
        dsm.reset();
        Dsm().loadFails = !exportOnly;
        dsm->exportMissing = exportOnly;
        EXPECT_EQ(raised<ETwainError>([] { TWOpenDSM(kWindow); }), QStringLiteral("DSMEntry not found in Twain DLL"));
        EXPECT_FALSE(TWIsDSMOpen());
        EXPECT_EQ(HDSMDLL, nullptr);
        EXPECT_EQ(dsm->freeCount, exportOnly ? 1 : 0) << "a library without its entry point is freed";
        // The second attempt searches again and says the same.
        EXPECT_EQ(raised<ETwainError>([] { TWOpenDSM(kWindow); }), QStringLiteral("DSMEntry not found in Twain DLL"));
        EXPECT_EQ(dsm->loadedPaths.size(), 2u);
        EXPECT_TRUE(dsm->calls.empty());
    }
}

TEST_F(ScannersTest, RefusedOpenLeavesTheManagerClosedAndTheLibraryLoaded)
{
    Dsm().Script(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE, TWCC_LOWMEMORY);
    EXPECT_EQ(raised<ETwainError>([] { TWOpenDSM(kWindow); }),
              QStringLiteral("DSM Error at TWOpenDSM:\rNot enough memory to complete operation."));
    EXPECT_FALSE(TWIsDSMOpen());
    EXPECT_NE(HDSMDLL, nullptr);
    EXPECT_EQ(dsm->CallNames(), (std::vector<std::string>{"MSG_OPENDSM", "STATUS/MSG_GET"}));

    // A later open uses the loaded library and may succeed.
    dsm->ClearScript();
    dsm->ClearLog();
    TWOpenDSM(kWindow);
    EXPECT_TRUE(TWIsDSMOpen());
    EXPECT_EQ(dsm->loadedPaths.size(), 1u);
}

TEST_F(ScannersTest, RefusedCloseKeepsTheManagerOpen)
{
    Open();
    dsm->Script(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_CHECKSTATUS);
    EXPECT_EQ(raised<ETwainError>([] { TWCloseDSM(); }), QStringLiteral("DSM Call failed in TWCloseDSM: Code 0002"));
    EXPECT_TRUE(TWIsDSMOpen());
    EXPECT_EQ(dsm->freeCount, 0);
}

TEST_F(ScannersTest, SourceOperationsCheckTheirPreconditions)
{
    Dsm();
    expectAssertion(raised<platform::EAssertionFailed>([] { TWCloseDS(); }), QStringLiteral("DSM must be open"));
    expectAssertion(raised<platform::EAssertionFailed>([] { TWDisableDS(); }), QStringLiteral("DS must be open"));

    Open();
    TWCloseDS(); // no source open: nothing to do
    EXPECT_TRUE(dsm->calls.empty());
    expectAssertion(raised<platform::EAssertionFailed>([] { TWDisableDS(); }), QStringLiteral("DS must be open"));
    EXPECT_FALSE(TWIsDSOpen());
    EXPECT_FALSE(TWIsDSEnabled());
}

// The source flags are never set by this unit; the paths behind them still
// have to address the manager as the standard says.
TEST_F(ScannersTest, ASourceHeldOpenIsDisabledAndClosedThroughTheManager)
{
    Open();
    dsId.Id = 7;
    TWDSOpen = true;
    TWDSEnabled = true;
    EXPECT_EQ(raised<ETwainError>([] { TWCloseDSM(); }),
              QStringLiteral("Cannot Close Source Manager: A Source is Currently Open"));
    EXPECT_TRUE(dsm->calls.empty());

    TWDisableDS();
    TWCloseDS();
    TWCloseDSM();
    ASSERT_EQ(dsm->CallNames(), (std::vector<std::string>{"MSG_DISABLEDS", "MSG_CLOSEDS", "MSG_CLOSEDSM"}));
    const auto &disable = dsm->calls[0];
    EXPECT_TRUE(disable.hasDest);
    EXPECT_EQ(TW_UINT32(disable.dest.Id), 7u);
    const auto ui = disable.DataAs<TW_USERINTERFACE>();
    EXPECT_EQ(ui.ShowUI, 0xFFFF);
    EXPECT_EQ(TW_HANDLE(ui.hParent), static_cast<TW_HANDLE>(kWindow));
    EXPECT_FALSE(dsm->calls[1].hasDest) << "MSG_CLOSEDS goes to the manager";
    EXPECT_EQ(TW_UINT32(dsm->calls[1].DataAs<TW_IDENTITY>().Id), 7u);
}

TEST_F(ScannersTest, RefusedDisableIsExplainedByTheManagersStatus)
{
    Open();
    TWDSOpen = true;
    TWDSEnabled = true;
    dsm->Script(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE, TWCC_BUMMER);
    EXPECT_EQ(raised<ETwainError>([] { TWDisableDS(); }),
              QStringLiteral("DSM Error at TWDisableDS:\rGeneral failure. Unload Source immediately."));
    EXPECT_TRUE(TWIsDSEnabled()) << "flags change only after success";
    EXPECT_EQ(dsm->CallNames(), (std::vector<std::string>{"MSG_DISABLEDS", "STATUS/MSG_GET"}));
    EXPECT_FALSE(dsm->calls[1].hasDest);
    TWDSOpen = false;
    TWDSEnabled = false;
}

TEST_F(ScannersTest, CallWithoutEntryPointFailsItsAssertion)
{
    expectAssertion(raised<platform::EAssertionFailed>([] { CallDSMEntry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, nullptr); }),
                    QStringLiteral("Assertion fehlgeschlagen"));
    expectAssertion(raised<platform::EAssertionFailed>([] { RaiseLastDSMCondition(QStringLiteral("TWOpenDSM")); }),
                    QStringLiteral("Assertion fehlgeschlagen"));
}

} // namespace
