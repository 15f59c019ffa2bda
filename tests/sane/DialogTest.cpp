// "Scanner-Einstellungen": the device's options as controls, the preview
// with a dragged scan area, and settings kept for the next scan.
#include "SaneHarness.h"

#include "sources/sane/Registry.h"
#include "sources/sane/ScanDialog.h"
#include "sources/sane/Session.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

using namespace sane_test;
using sane_source::PreviewArea;
using sane_source::ScanDialog;

namespace {

constexpr const char *kTester = "Noname frontend-tester";

// Every option type of the test backend becomes its control; inactive
// options are greyed.
TEST(ScanDialog, ShowsEveryOptionAsItsTypeSays)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("enable-test-options", "yes");
    ScanDialog *d = h.dialog();
    struct Expect {
        const char *option;
        const char *className;
        bool enabled;
    };
    for (const Expect &e : {Expect{"bool-soft-select-soft-detect", "QCheckBox", true},
                            Expect{"bool-soft-detect", "QCheckBox", false}, // read-only
                            Expect{"int", "QSpinBox", true},
                            Expect{"int-constraint-range", "QWidget", true}, // slider with its value
                            Expect{"int-constraint-word-list", "QComboBox", true},
                            Expect{"int-constraint-array", "QLineEdit", true},
                            Expect{"fixed", "QDoubleSpinBox", true},
                            Expect{"string-constraint-string-list", "QComboBox", true},
                            Expect{"string", "QLineEdit", true},
                            Expect{"button", "QPushButton", true},
                            Expect{"three-pass", "QCheckBox", false}, // inactive in gray mode
                            Expect{"depth", "QComboBox", true}}) {
        SCOPED_TRACE(e.option);
        QWidget *w = d->findChild<QWidget *>(QStringLiteral("sane:") + e.option);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), e.className);
        EXPECT_EQ(w->isEnabled(), e.enabled);
    }
    // The usual settings are on top in the dialog's own words.
    auto *mode = d->findChild<QComboBox *>("mode");
    QStringList modes;
    for (int i = 0; i < mode->count(); ++i)
        modes << mode->itemText(i);
    EXPECT_EQ(modes, (QStringList{"Schwarzweiß", "Graustufen", "Farbe"}));
    EXPECT_EQ(mode->currentText(), "Graustufen");
    EXPECT_EQ(d->findChild<QComboBox *>("source")->currentText(), "Flachbett");
    auto *sources = d->findChild<QComboBox *>("source");
    QStringList sourceTexts;
    for (int i = 0; i < sources->count(); ++i)
        sourceTexts << sources->itemText(i);
    EXPECT_EQ(sourceTexts, (QStringList{"Flachbett", "Einzug", "Automatisch"}));

    // Values typed into controls reach the device.
    h.setOption("int", "17");
    EXPECT_EQ(h.optionText("int"), "17");
    h.setOption("int-constraint-array", "6, 8, 10");
    EXPECT_TRUE(h.optionText("int-constraint-array").startsWith("6, 8, 10"));
    h.setOption("string", "Quittung");
    EXPECT_EQ(h.optionText("string"), "Quittung");
    h.setOption("mode", "Farbe");
    EXPECT_TRUE(d->findChild<QWidget *>("sane:three-pass")->isEnabled());
}

// "Vorschau" scans the whole area at low resolution; dragging on it sets
// the scan area, which the next scan uses.
TEST(ScanDialog, PreviewAndDraggedArea)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    ScanDialog *d = h.dialog();
    const QString resolution = h.optionText("resolution");
    h.click("preview");
    ASSERT_TRUE(waitUntil([&] { return !d->busy() && d->preview()->hasImage(); }));
    // The preview leaves the settings as they were.
    EXPECT_EQ(h.optionText("resolution"), resolution);
    EXPECT_EQ(h.optionText("br-x"), "80");

    PreviewArea *area = d->preview();
    const QRectF pic = area->pictureRect();
    const QPoint from = (pic.topLeft() + QPointF(0.1 * pic.width(), 0.2 * pic.height())).toPoint();
    const QPoint to = (pic.topLeft() + QPointF(0.5 * pic.width(), 0.6 * pic.height())).toPoint();
    QTest::mousePress(area, Qt::LeftButton, {}, from);
    QTest::mouseMove(area, to);
    QTest::mouseRelease(area, Qt::LeftButton, {}, to);
    waitUntil([&] { return h.optionText("br-x") != "80"; });
    // The whole area is 300 mm square; the device counts whole millimetres.
    EXPECT_NEAR(h.optionText("tl-x").toDouble(), 30, 1.5);
    EXPECT_NEAR(h.optionText("tl-y").toDouble(), 60, 1.5);
    EXPECT_NEAR(h.optionText("br-x").toDouble(), 150, 1.5);
    EXPECT_NEAR(h.optionText("br-y").toDouble(), 180, 1.5);
    EXPECT_EQ(d->findChild<QComboBox *>("paper")->currentText(), "Benutzerdefiniert");
    EXPECT_NEAR(d->findChild<QDoubleSpinBox *>("areaWidth")->value(), 120, 1.5);
    // The README's picture of the dialog is taken here (under Xvfb).
    if (const QByteArray dir = qgetenv("QUILLORA_SCREENSHOT_DIR"); !dir.isEmpty())
        d->grab().save(QString::fromLocal8Bit(dir) + "/scan-dialog.png");

    // A paper size sets the area from the corner.
    auto *paper = d->findChild<QComboBox *>("paper");
    const int a5 = paper->findText("A5 (148 × 210 mm)");
    ASSERT_GE(a5, 0);
    paper->setCurrentIndex(a5);
    emit paper->activated(a5);
    waitUntil([&] { return h.optionText("br-x") == "148"; });
    EXPECT_EQ(h.optionText("tl-x"), "0");
    EXPECT_EQ(h.optionText("br-y"), "210");
}

// The last settings of a device are there at its next scan, also in the
// next run of the program.
TEST(ScanDialog, KeepsTheLastSettingsPerDevice)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("mode", "Farbe");
    h.setOption("resolution", "75 dpi");
    h.setOption("source", "Automatisch");
    EXPECT_EQ(h.disable(), TWRC_SUCCESS);
    EXPECT_EQ(h.close(), TWRC_SUCCESS);

    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("mode"), "Color");
    EXPECT_EQ(h.optionText("resolution"), "75");
    EXPECT_EQ(h.close(), TWRC_SUCCESS);

    // A new run reads them from the file; the other tester keeps its own.
    sane_source::Registry::instance().forget();
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("mode"), "Color");
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    EXPECT_EQ(h.dialog()->findChild<QComboBox *>("source")->currentText(), "Automatisch");
    EXPECT_EQ(h.disable(), TWRC_SUCCESS);
    EXPECT_EQ(h.close(), TWRC_SUCCESS);
    ASSERT_EQ(h.open("Noname frontend-tester (2)"), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("mode"), "Gray");
}

// "Automatisch" takes the feeder while it holds paper (the test device's
// feeder is empty after ten pages), then the flatbed.
TEST(ScanDialog, AutomaticSourceFallsBackToTheFlatbed)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    TW_UINT16 count = 1;
    ASSERT_EQ(h.setOne(CAP_XFERCOUNT, TWTY_INT16, count), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.setOption("source", "Automatisch");
    for (int page = 0; page < 12; ++page) {
        SCOPED_TRACE(page);
        h.click("scan");
        ASSERT_EQ(h.waitForNotification(), MSG_XFERREADY) << h.dialog()->statusText().toStdString();
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    }
    EXPECT_EQ(h.optionText("source"), "Flatbed");
}

// Closing the dialog asks the application to close the source.
TEST(ScanDialog, ClosingAsksTheApplicationToCloseTheSource)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    h.click("close");
    EXPECT_EQ(h.waitForNotification(), MSG_CLOSEDSREQ);
    EXPECT_EQ(h.disable(), TWRC_SUCCESS);
    EXPECT_EQ(h.dialog(), nullptr);
}

} // namespace
