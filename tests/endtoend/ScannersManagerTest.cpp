// The direct binding against the real manager: found beside the program by
// the library search, given an Id, failures explained by the manager's own
// condition codes.
#include "platform/Assert.h"
#include "platform/Directories.h"
#include "support/FixedDirectories.h"
#include "support/QtApp.h"
#include "support/TestSourceScript.h"
#include "twaindirect/Scanners.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Scanners;

namespace {

HWND const kWindow = reinterpret_cast<HWND>(std::uintptr_t(0x5150));

class ScannersWithManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        ASSERT_TRUE(programDir_.isValid());
        directories_.SetProgramDirectory(programDir_.path());
        ResetState();
    }
    void TearDown() override { ResetState(); }

    void ProvideManager()
    {
        ASSERT_TRUE(QFile::link(testsupport::ManagerFile(), programDir_.path() + QStringLiteral("/TWAIN_32.DLL")));
    }

    template <typename E>
    static QString Raised(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const E &e) {
            return e.message();
        }
        return QStringLiteral("<nothing raised>");
    }

    testsupport::TestSourceFolder folder;
    QTemporaryDir programDir_;
    testing_support::FixedDirectories directories_;
};

TEST_F(ScannersWithManager, OpensAndClosesTheManagerBesideTheProgram)
{
    ProvideManager();
    TWOpenDSM(kWindow);
    EXPECT_TRUE(TWIsDSMOpen());
    EXPECT_NE(TW_UINT32(appId.Id), 0u);
    EXPECT_NE(HDSMDLL, nullptr);

    // A wrong-order call is explained by the manager: this application has
    // the manager open already.
    const TW_UINT16 rc = CallDSMEntry(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &hMainWnd);
    EXPECT_EQ(rc, TWRC_FAILURE);
    const QString text = Raised<ETwainError>([rc] { TwainCheckDSM(rc, QStringLiteral("TWCloseDSM")); });
    EXPECT_EQ(text, QStringLiteral("DSM Error at TWCloseDSM:\rIllegal operation for current Source Manager\rSource "
                                   "state."));
    EXPECT_EQ(text.split(QLatin1Char('\r')).size(), 3);

    TWCloseDSM();
    EXPECT_FALSE(TWIsDSMOpen());
    EXPECT_EQ(HDSMDLL, nullptr);
    TWCloseDSM(); // closed: nothing happens
}

TEST_F(ScannersWithManager, WithoutTheLibraryTheEntryIsReportedMissing)
{
    EXPECT_EQ(Raised<ETwainError>([] { TWOpenDSM(kWindow); }), QStringLiteral("DSMEntry not found in Twain DLL"));
    EXPECT_EQ(HDSMDLL, nullptr);
    EXPECT_FALSE(TWIsDSMOpen());
}

TEST_F(ScannersWithManager, OpenWithoutWindowLoadsNothing)
{
    ProvideManager();
    const QString text = Raised<platform::EAssertionFailed>([] { TWOpenDSM(nullptr); });
    EXPECT_TRUE(text.startsWith(QStringLiteral("Assertion fehlgeschlagen (scanners, Zeile "))) << text.toStdString();
    EXPECT_EQ(HDSMDLL, nullptr);
}

} // namespace
