// Scanning in the real main window through the real TWAIN_32.DLL and the
// SANE source, from SANE's "test" backend: pick the scanner, type a name,
// "Dokument scannen", "Scannen" in "Scanner-Einstellungen", the page is
// shown exactly as scanimage delivers it, "Speichern" writes the JPEG.
#include "EndToEnd.h"

#include "platform/Bitmaps.h"
#include "support/SaneWorld.h"

#include <QComboBox>
#include <QDir>
#include <QImage>

#include <fstream>
#include <string>

using namespace endtoend;
using testsupport::Picture;

namespace {

constexpr const char *kTester = "Noname frontend-tester";

// The SANE source's dialog while it is shown.
QDialog *SaneDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("ScanDialog") && w->isVisible())
            return qobject_cast<QDialog *>(w);
    return nullptr;
}

class SaneScanning : public EndToEndFixture {
protected:
    void SetUp() override
    {
        testsupport::SaneWorld::Get();
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
        EndToEndFixture::SetUp();
        ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLORA_BIN_DIR "/twain/sane.ds"), folder.Path() + "sane.ds"));
        ProvideManager();
    }

    // "Dokument scannen", the mode in the dialog, "Scannen"; true once the
    // page is shown and the dialog has gone.
    bool Scan(TForm1 &f, const QString &mode = {})
    {
        const qint64 before = f.Image1->Picture().cacheKey();
        f.Button4->click();
        if (!WaitFor([] { return SaneDialog() != nullptr; }))
            return false;
        if (!mode.isEmpty()) {
            auto *combo = SaneDialog()->findChild<QComboBox *>("mode");
            const int i = combo ? combo->findText(mode) : -1;
            if (i < 0)
                return false;
            combo->setCurrentIndex(i);
            emit combo->activated(i);
        }
        auto *scan = SaneDialog()->findChild<QPushButton *>("scan");
        if (!scan)
            return false;
        QTest::mouseClick(scan, Qt::LeftButton);
        return WaitFor([&] {
            return !f.Image1->Picture().isNull() && f.Image1->Picture().cacheKey() != before && !SaneDialog();
        });
    }

    Picture Shown(const TForm1 &f) const { return testsupport::FromImage(testsupport::AsRgb32(f.Image1->Picture())); }

private:
    QTemporaryDir home_;
};

struct Mode {
    const char *name;
    const char *label;
    QStringList args;
};

class SaneModes : public SaneScanning, public ::testing::WithParamInterface<Mode> {};

TEST_P(SaneModes, ThePageEqualsScanimagesAndIsSaved)
{
    TForm1 &f = StartShown();
    ASSERT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
    ASSERT_EQ(f.LBSources->count(), 2);
    EXPECT_EQ(f.LBSources->item(0)->text(), kTester);
    EXPECT_EQ(f.LBSources->item(1)->text(), "Noname frontend-tester (2)");

    TypeName(f, "Beleg");
    ClickSource(f, kTester);
    ASSERT_TRUE(Scan(f, GetParam().label));
    const Picture expected = testsupport::Scanimage("test:0", GetParam().args);
    const Picture shown = Shown(f);
    EXPECT_EQ(shown.width, expected.width);
    EXPECT_EQ(shown.height, expected.height);
    EXPECT_TRUE(shown == expected);
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();

    f.Button2->click();
    EXPECT_EQ(QImage(DocumentDir() + "Beleg.jpg").size(), QSize(expected.width, expected.height));
    EXPECT_EQ(f.ListBox1->count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Sane, SaneModes,
                         ::testing::Values(Mode{"Colour", "Farbe", {"--mode", "Color", "--depth", "8"}},
                                           Mode{"Gray", "Graustufen", {"--mode", "Gray", "--depth", "8"}},
                                           Mode{"Lineart", "Schwarzweiß", {"--mode", "Gray", "--depth", "1"}}),
                         [](const auto &info) { return std::string(info.param.name); });

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Scan, turn, save and delete again and again in one run: nothing is left
// over, the list of scanners keeps its order, memory does not grow.  (The
// long run of this is bench_sane_soak.)
TEST_F(SaneScanning, RepeatedCyclesLeaveNothingOver)
{
    TForm1 &f = StartShown();
    const std::size_t bitmaps = platform::LiveBitmapCount();
    long rssAfterWarmUp = 0;
    const int cycles = 12;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE(cycle);
        const QString name = QStringLiteral("Seite %1").arg(cycle);
        TypeName(f, name);
        ClickSource(f, kTester);
        ASSERT_TRUE(Scan(f));
        f.SpeedButton5->click(); // turn
        f.Button2->click();      // save
        ASSERT_TRUE(QFile::exists(DocumentDir() + name + ".jpg"));
        ASSERT_EQ(f.ListBox1->count(), 1);
        f.ListBox1->setCurrentRow(0);
        boxes.AnswerConfirmations({true});
        f.Button3->click(); // delete
        ASSERT_FALSE(QFile::exists(DocumentDir() + name + ".jpg"));
        ASSERT_EQ(f.LBSources->item(0)->text(), kTester);
        if (cycle == 3)
            rssAfterWarmUp = residentKilobytes();
    }
    EXPECT_LE(platform::LiveBitmapCount(), bitmaps + 1) << "at most the shown picture";
    EXPECT_LT(residentKilobytes() - rssAfterWarmUp, 8 * 1024) << "resident memory grows";
}

} // namespace
