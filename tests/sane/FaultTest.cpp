// Failures of the device: each gets its German message in the dialog, and
// the next scan works without restarting anything.
#include "SaneHarness.h"

#include "sources/sane/ScanDialog.h"
#include "sources/sane/Session.h"
#include "sources/sane/Texts.h"

#include "support/ScriptedBoxes.h"

#include "platform/GlobalMemory.h"

#include <QFile>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using namespace sane_test;

namespace {

constexpr const char *kTester = "Noname frontend-tester";

// Scans through the dialog and hands the page over; false when no page came.
bool scanOnePage(Harness &h)
{
    h.click("scan");
    if (h.waitForNotification() != MSG_XFERREADY)
        return false;
    TW_HANDLE dib = nullptr;
    const bool ok = h.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib) == TWRC_XFERDONE && dib;
    GlobalFree(dib);
    TW_PENDINGXFERS pending{};
    h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    return ok;
}

// Waits until the dialog's scan has ended without a page.
void waitForFailure(Harness &h)
{
    ASSERT_TRUE(waitUntil([&] { return !h.dialog()->busy(); })) << "the scan does not end";
    EXPECT_EQ(h.session()->state(), 5);
}

struct StatusCase {
    const char *value; // the test backend's read-return-value
    SANE_Status status;
};

void PrintTo(const StatusCase &c, std::ostream *os) { *os << c.value; }

class DeviceStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(DeviceStatus, IsShownInTheDialogAndTheNextScanWorks)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("read-return-value", GetParam().value);
    h.click("scan");
    waitForFailure(h);
    EXPECT_EQ(h.dialog()->statusText(), sane_source::texts::forStatus(GetParam().status));
    EXPECT_TRUE(h.dialog()->findChild<QWidget *>("scan")->isEnabled());

    h.setOption("read-return-value", "Default");
    EXPECT_TRUE(scanOnePage(h));
}

INSTANTIATE_TEST_SUITE_P(Sane, DeviceStatus,
                         ::testing::Values(StatusCase{"SANE_STATUS_DEVICE_BUSY", SANE_STATUS_DEVICE_BUSY},
                                           StatusCase{"SANE_STATUS_COVER_OPEN", SANE_STATUS_COVER_OPEN},
                                           StatusCase{"SANE_STATUS_JAMMED", SANE_STATUS_JAMMED},
                                           StatusCase{"SANE_STATUS_NO_DOCS", SANE_STATUS_NO_DOCS},
                                           StatusCase{"SANE_STATUS_IO_ERROR", SANE_STATUS_IO_ERROR},
                                           StatusCase{"SANE_STATUS_NO_MEM", SANE_STATUS_NO_MEM},
                                           StatusCase{"SANE_STATUS_ACCESS_DENIED", SANE_STATUS_ACCESS_DENIED}),
                         [](const auto &info) { return std::string(info.param.value + 12); });

TEST(SaneFaults, MessagesAreGermanAndDistinct)
{
    std::set<QString> seen;
    for (SANE_Status s : {SANE_STATUS_UNSUPPORTED, SANE_STATUS_CANCELLED, SANE_STATUS_DEVICE_BUSY, SANE_STATUS_INVAL,
                          SANE_STATUS_EOF, SANE_STATUS_JAMMED, SANE_STATUS_NO_DOCS, SANE_STATUS_COVER_OPEN,
                          SANE_STATUS_IO_ERROR, SANE_STATUS_NO_MEM, SANE_STATUS_ACCESS_DENIED, SANE_Status(12)}) {
        const QString text = sane_source::texts::forStatus(s);
        EXPECT_TRUE(text.startsWith("Der ") || text.startsWith("Die ") || text.startsWith("Im ") ||
                    text.startsWith("Bei ") || text.startsWith("Für "))
            << text.toStdString();
        EXPECT_TRUE(seen.insert(text).second) << text.toStdString();
    }
    EXPECT_TRUE(sane_source::texts::forStatus(SANE_STATUS_GOOD).isEmpty());
}

// "Abbrechen" in the middle of a slow scan stops the device at once and
// leaves the dialog usable; the next scan is a whole page.
TEST(SaneFaults, CancelStopsASlowScan)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("read-limit", "yes");
    h.setOption("read-limit-size", "64");
    h.setOption("read-delay", "yes");
    h.setOption("read-delay-duration", "20000");
    h.click("scan");
    auto *bar = h.dialog()->findChild<QProgressBar *>("progress");
    ASSERT_TRUE(waitUntil([&] { return bar->value() > 0; }));
    EXPECT_TRUE(h.dialog()->busy());
    h.click("cancel");
    EXPECT_FALSE(h.dialog()->busy());
    EXPECT_EQ(h.dialog()->statusText(), "Der Scan wurde abgebrochen.");
    // No page arrives from the cancelled scan.
    EXPECT_EQ(h.waitForNotification(1500), MSG_NULL);

    h.setOption("read-delay", "no");
    h.setOption("read-limit", "no");
    EXPECT_TRUE(scanOnePage(h));
}

// The project's fault backend: a scanner pulled from its cable in the
// middle of a scan, and one that refuses a value it lists.
TEST(SaneFaults, DeviceGoneMidScanAndBack)
{
    Harness h;
    ASSERT_EQ(h.open("Quillora Fehlerscanner"), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    EXPECT_TRUE(scanOnePage(h));
    h.setOption("vanish-after-lines", "30");
    h.click("scan");
    waitForFailure(h);
    EXPECT_EQ(h.dialog()->statusText(), sane_source::texts::deviceLost());
    // Still gone: the next try says so.
    h.click("scan");
    waitForFailure(h);
    EXPECT_EQ(h.dialog()->statusText(), sane_source::texts::unreachable());
    // Plugged in again: scanning works with the settings it had.
    ASSERT_TRUE(QFile::remove(faultDir() + "/gone"));
    h.setOption("vanish-after-lines", "0");
    EXPECT_TRUE(scanOnePage(h));
}

TEST(SaneFaults, RefusedValueIsReportedAndTheOldOneStays)
{
    Harness h;
    ASSERT_EQ(h.open("Quillora Fehlerscanner"), TWRC_SUCCESS);
    // Through a capability: refused with TWCC_BADVALUE.
    const TW_FIX32 dpi = {150, 0};
    TW_UINT32 item;
    std::memcpy(&item, &dpi, 4);
    EXPECT_EQ(h.setOne(ICAP_XRESOLUTION, TWTY_FIX32, item), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_BADVALUE);
    // Through the dialog: the message, and the value as it was.
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("resolution", "75 dpi");
    EXPECT_EQ(h.optionText("resolution"), "75");
    h.setOption("resolution", "150 dpi");
    EXPECT_EQ(h.dialog()->statusText(), sane_source::texts::valueRefused("Auflösung"));
    EXPECT_EQ(h.optionText("resolution"), "75");
    EXPECT_TRUE(scanOnePage(h));
}

// Without the dialog a failure shows an information box and asks the
// application to close the source; the next scan works.
TEST(SaneFaults, WithoutDialogAFailureIsShownInABox)
{
    Harness h;
    testing_support::ScriptedBoxes boxes;
    ASSERT_EQ(h.open("Quillora Fehlerscanner"), TWRC_SUCCESS);
    ASSERT_TRUE(QFile(faultDir() + "/gone").open(QIODevice::WriteOnly));
    ASSERT_EQ(h.enable(false), TWRC_SUCCESS);
    EXPECT_EQ(h.waitForNotification(), MSG_CLOSEDSREQ);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, testing_support::ShownBox::Information);
    EXPECT_EQ(h.disable(), TWRC_SUCCESS);
    ASSERT_TRUE(QFile::remove(faultDir() + "/gone"));
    ASSERT_EQ(h.enable(false), TWRC_SUCCESS);
    EXPECT_EQ(h.waitForNotification(), MSG_XFERREADY);
}

} // namespace
