// Scanning in the real main window through the real manager and the test
// source, as a person does it: type a name, pick a scanner, "Dokument
// scannen", "Scannen" in the source's dialog, "Speichern".
#include "EndToEnd.h"

#include "twaindirect/Scanners.h"

#include <QDir>
#include <QImage>

using namespace endtoend;
using testing_support::ShownBox;
using testsupport::ExpectedImage;
using testsupport::Page;
using testsupport::PageSpec;
using testsupport::PixelKind;
using testsupport::ScriptedSource;

namespace {

const QString kOtherScanner = QStringLiteral(" Bitte wählen Sie einen anderen Scanner aus.\n") + QString(44, ' ');

class ScanWindow : public EndToEndFixture {
protected:
    QImage Shown(const TForm1 &f) const { return testsupport::AsRgb32(f.Image1->Picture()); }

    // "Dokument scannen", then "Scannen" in the source's dialog; true once a
    // page is shown.
    bool ScanWith(TForm1 &f, const char *button = "scan")
    {
        const qint64 before = f.Image1->Picture().cacheKey();
        f.Button4->click();
        if (!ClickInSourceDialog(button))
            return false;
        return WaitFor([&] { return !f.Image1->Picture().isNull() && f.Image1->Picture().cacheKey() != before; },
                       std::string(button) == "scan" ? 10000 : 300);
    }
};

TEST_F(ScanWindow, ScansTheChosenScannersPageSavesItAndScansAgainAfterTheRebuild)
{
    const PageSpec zeta = Page(41, 29, PixelKind::Rgb);
    const PageSpec alpha = testsupport::CheckerPage(20, 10, PixelKind::Gray, 3);
    folder.AddObject({ScriptedSource("Zeta Flachbett").Add(zeta), ScriptedSource("Alpha Einzug").Add(alpha)});
    ProvideManager();
    TForm1 &f = StartShown();

    ASSERT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
    ASSERT_EQ(f.LBSources->count(), 2);
    EXPECT_EQ(f.LBSources->item(0)->text(), "Alpha Einzug");
    EXPECT_EQ(f.LBSources->item(1)->text(), "Zeta Flachbett");
    EXPECT_TRUE(f.LBSources->item(0)->isSelected());
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_TRUE(Scanners::TWIsDSMOpen());
    EXPECT_NE(TW_UINT32(Scanners::appId.Id), 0u) << "the manager gave the direct binding an Id";

    TypeName(f, "Beleg");
    ClickSource(f, "Zeta Flachbett");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_EQ(Shown(f), ExpectedImage(zeta, 0));
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
    EXPECT_TRUE(f.SpeedButton4->isEnabled());
    EXPECT_TRUE(f.Button2->isEnabled());

    f.Button2->click();
    const QImage written(DocumentDir() + "Beleg.jpg");
    EXPECT_EQ(written.size(), QSize(41, 29));
    EXPECT_EQ(f.ListBox1->count(), 1);

    // The list of the manager was rebuilt after the scan; the entry still
    // names the same source.
    TypeName(f, "Zweiter Beleg");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_EQ(Shown(f), ExpectedImage(zeta, 0));
}

struct Kind {
    const char *name;
    PixelKind kind;
};

class ScanPixels : public ScanWindow, public ::testing::WithParamInterface<Kind> {};

TEST_P(ScanPixels, ThePageShowsThePixelsTheSourceScanned)
{
    // An odd width: DIB rows are padded.
    const PageSpec page = Page(37, 23, GetParam().kind);
    folder.AddObject({ScriptedSource("Seiten").Add(page).With("xfermech native")});
    ProvideManager();
    TForm1 &f = StartShown();
    TypeName(f, "Seite");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_EQ(Shown(f), ExpectedImage(page, 0));
}

INSTANTIATE_TEST_SUITE_P(Native, ScanPixels,
                         ::testing::Values(Kind{"Colour24", PixelKind::Rgb}, Kind{"Gray8", PixelKind::Gray},
                                           Kind{"BlackWhite1", PixelKind::Bw}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ScanWindow, OfThreePagesTheFirstIsShownAndTheRestAreDiscarded)
{
    const PageSpec page = Page(30, 20, PixelKind::Gray);
    folder.AddObject({ScriptedSource("Stapel").Add(page).Add(page).Add(page)});
    ProvideManager();
    TForm1 &f = StartShown();
    TypeName(f, "Stapel");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_EQ(Shown(f), ExpectedImage(page, 0));
    const qint64 first = f.Image1->Picture().cacheKey();
    WaitFor([] { return false; }, 400); // the timer keeps offering messages
    EXPECT_EQ(f.Image1->Picture().cacheKey(), first) << "no further page arrived";
    EXPECT_EQ(SourceDialog(), nullptr);

    // The next acquisition starts with the first page again.
    TypeName(f, "Noch einmal");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_EQ(Shown(f), ExpectedImage(page, 0));
}

TEST_F(ScanWindow, ACancelInTheSourcesDialogDeliversNoPage)
{
    folder.AddObject({ScriptedSource("Scanner")});
    ProvideManager();
    TForm1 &f = StartShown();
    TypeName(f, "Abgebrochen");
    EXPECT_FALSE(ScanWith(f, "cancel"));
    EXPECT_TRUE(WaitFor([] { return SourceDialog() == nullptr; }));
    EXPECT_TRUE(f.Image1->Picture().isNull());
    EXPECT_TRUE(f.Button2->isEnabled());
    f.Button2->click();
    EXPECT_TRUE(QDir(DocumentDir()).entryList(QDir::Files).isEmpty()) << "saving writes no file";
}

TEST_F(ScanWindow, ASourceThatCannotBeEnabledAsksForAnotherScanner)
{
    folder.AddObject({ScriptedSource("Defekt").With("fail ENABLEDS"), ScriptedSource("Heil")});
    ProvideManager();
    TForm1 &f = StartShown();
    TypeName(f, "Brief");
    ClickSource(f, "Defekt");
    f.Button4->click();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Information, "Informationen", kOtherScanner}}));
    EXPECT_EQ(SourceDialog(), nullptr);
    EXPECT_FALSE(f.SpeedButton4->isEnabled());

    // Another scanner works.
    boxes.clear();
    TypeName(f, "Brief");
    ClickSource(f, "Heil");
    ASSERT_TRUE(ScanWith(f));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ScanWindow, WithoutManagerBothMessagesAreShownAndTheDocumentsAreListed)
{
    folder.AddObject({ScriptedSource("Scanner")});
    WriteFile(DocumentDir() + "alt.jpg", QByteArray("x"));
    TForm1 &f = StartShown();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Message, "Quillora", "Twain is not installed."},
                                                    {ShownBox::Error, "", "DSMEntry not found in Twain DLL"}}));
    EXPECT_EQ(f.LBSources->count(), 0);
    EXPECT_EQ(f.ListBox1->count(), 1);
}

TEST_F(ScanWindow, AManagerOthersMayWriteIsNotLoaded)
{
    folder.AddObject({ScriptedSource("Scanner")});
    const QString planted = ProgramDir() + QStringLiteral("TWAIN_32.DLL");
    ASSERT_TRUE(QFile::copy(testsupport::ManagerFile(), planted));
    ASSERT_TRUE(QFile::setPermissions(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                   QFile::WriteGroup | QFile::ReadOther));
    TForm1 &f = StartShown();
    EXPECT_EQ(boxes.texts(), (QStringList{"Twain is not installed.", "DSMEntry not found in Twain DLL"}));
    EXPECT_EQ(f.LBSources->count(), 0);
}

TEST_F(ScanWindow, ClosingTheProgramWhileTheSourcesDialogIsOpenTakesTheDialogAlong)
{
    folder.AddObject({ScriptedSource("Scanner")});
    ProvideManager();
    TForm1 &f = StartShown();
    TypeName(f, "Offen");
    f.Button4->click();
    ASSERT_TRUE(WaitFor([] { return SourceDialog() != nullptr; }));
    f.Button1->click(); // "Beenden"
    Stop();
    EXPECT_TRUE(WaitFor([] { return SourceDialog() == nullptr; }));
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
}

TEST_F(ScanWindow, AnErrorWhileTheWindowIsDestroyedIsShownAndTheWindowGoes)
{
    folder.AddObject({ScriptedSource("Scanner")});
    ProvideManager();
    StartShown();
    // The direct binding's connection is closed behind its back, so its
    // close at the end is refused.
    ASSERT_EQ(Scanners::CallDSMEntry(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &Scanners::hMainWnd),
              TWRC_SUCCESS);
    Stop();
    EXPECT_EQ(boxes.errors(),
              QStringList{"DSM Error at TWCloseDSM:\rIllegal operation for current Source Manager\rSource state."});
}

} // namespace
