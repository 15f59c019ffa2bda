// Scanner list, "Dokument scannen", the delivered page and the closing of the
// direct binding, against the scripted manager (call order and identities
// are checked here; tests/endtoend drives the real manager).
#include "DocumentHelpers.h"
#include "MainWindowFixture.h"

#include "platform/Application.h"
#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"
#include "platform/Jpeg.h"
#include "platform/Messages.h"
#include "twain/OstraTwainGui.h"
#include "twaindirect/Scanners.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <cstring>

using namespace document_test;
using testing_support::ShownBox;

namespace {

const QString kChooseScanner = QStringLiteral(
    "     Bitte wählen Sie einen Scanner aus und  \n   wählen Sie ein Verzeichnis und Dateinamen.   \n"
    "Die Dateiendung *.jpg wird automatisch angefügt.                \n"
    "                                                    ");
const QString kOtherScanner = QStringLiteral(" Bitte wählen Sie einen anderen Scanner aus.\n"
                                             "                                            ");

// A bottom-up 24-bit packed DIB whose pixel (x, y) is colour(x, y).
testsupport::Bytes Dib24(int w, int h, QRgb (*colour)(int, int))
{
    const int stride = (w * 3 + 3) & ~3;
    testsupport::Bytes dib(40 + std::size_t(stride) * h, 0);
    BITMAPINFOHEADER bih{};
    bih.biSize = 40;
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    std::memcpy(dib.data(), &bih, 40);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = colour(x, y);
            std::uint8_t *p = dib.data() + 40 + std::size_t(h - 1 - y) * stride + x * 3;
            p[0] = std::uint8_t(qBlue(c));
            p[1] = std::uint8_t(qGreen(c));
            p[2] = std::uint8_t(qRed(c));
        }
    return dib;
}

QRgb Stripes(int x, int y)
{
    return (x + y) % 2 ? qRgb(200, 30, 10) : qRgb(5, 90, 250);
}

QRgb Plain(int, int)
{
    return qRgb(40, 40, 40);
}

class Scanning : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ProvideHelpFile();
        StoreFolder(DocumentDir());
        platform::ApplicationWindow(); // exists before the counts are taken
        blocks_ = platform::GlobalLiveBlocks();
        bitmaps_ = platform::LiveBitmapCount();
        windows_ = platform::WindowCount();
    }

    void TearDown() override
    {
        Stop();
        EXPECT_EQ(platform::GlobalLiveBlocks(), blocks_) << "global blocks leaked";
        EXPECT_EQ(platform::LiveBitmapCount(), bitmaps_) << "bitmaps leaked";
        EXPECT_EQ(platform::WindowCount(), windows_) << "windows left open";
        EXPECT_EQ(platform::ApplicationHookCount(), 0u);
        MainWindowFixture::TearDown();
    }

    // The list entries with the source index each keeps.
    static std::vector<std::pair<QString, int>> Entries(const TForm1 &f)
    {
        std::vector<std::pair<QString, int>> out;
        for (int i = 0; i < f.LBSources->count(); ++i)
            out.emplace_back(f.LBSources->item(i)->text(), TForm1::SourceIndexOf(f.LBSources->item(i)));
        return out;
    }

    void ClickSource(TForm1 &f, const QString &name)
    {
        f.show();
        const int row = rowOf(f.LBSources, name);
        ASSERT_GE(row, 0) << name.toStdString();
        QTest::mouseClick(f.LBSources->viewport(), Qt::LeftButton, {},
                          f.LBSources->visualItemRect(f.LBSources->item(row)).center());
    }

    // The product name of the source the last MSG_OPENDS opened.
    std::string OpenedSource() const
    {
        const auto *call = dsm->Last(MSG_OPENDS);
        return call ? testsupport::ProductNameOf(call->DataAs<TW_IDENTITY>()) : std::string();
    }

    // The source answers the next window message with |twMessage|.
    void SourceSignals(TW_UINT16 twMessage)
    {
        dsm->QueueEvent(twMessage);
        SendMessage(platform::ApplicationWindow(), WM_USER, 0, 0);
    }

private:
    long blocks_ = 0;
    std::size_t bitmaps_ = 0;
    std::size_t windows_ = 0;
};

} // namespace

TEST_F(Scanning, StartUpOpensBothConnectionsAndListsTheSourcesSorted)
{
    dsm->AddSource("Zeta Flachbett");
    dsm->AddSource("alpha ADF");
    dsm->AddSource("Mitte");
    TForm1 &f = Start();

    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(Entries(f), (std::vector<std::pair<QString, int>>{{"alpha ADF", 1}, {"Mitte", 2}, {"Zeta Flachbett", 0}}));
    EXPECT_EQ(f.LBSources->currentRow(), 0);
    EXPECT_TRUE(f.LBSources->item(0)->isSelected());
    EXPECT_FALSE(f.Button4->isEnabled()) << "the program's own selection is no click";

    // The component's connection first, then the direct binding's, each
    // with its own identity, both on the application object's window.
    const auto names = dsm->CallNames();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names.front(), "MSG_OPENDSM");
    EXPECT_EQ(names.back(), "MSG_OPENDSM");
    EXPECT_EQ(dsm->Count(MSG_OPENDSM), 2);
    const auto &direct = dsm->calls.back();
    EXPECT_EQ(testsupport::ProductNameOf(direct.origin), "ImagoTest");
    EXPECT_EQ(direct.DataAs<HWND>(), platform::Application::instance().Handle());
    EXPECT_NE(testsupport::ProductNameOf(dsm->calls.front().origin), "ImagoTest");
    EXPECT_EQ(dsm->calls.front().DataAs<HWND>(), platform::Application::instance().Handle());
    EXPECT_TRUE(Scanners::TWIsDSMOpen());
}

TEST_F(Scanning, ScanningOpensTheSourceOfTheSelectedNameWithItsDialog)
{
    dsm->AddSource("Zeta");  // index 0
    dsm->AddSource("Alpha"); // index 1
    TForm1 &f = Start();
    f.Edit1->setText("Beleg 1");
    EXPECT_TRUE(f.Button4->isEnabled());
    f.SpeedButton3->setEnabled(true);
    f.SpeedButton5->setEnabled(true);
    dsm->ClearLog();

    f.Button4->click();
    EXPECT_EQ(OpenedSource(), "Alpha") << "the selected name's source, not the one at its position";
    const auto *enable = dsm->Last(MSG_ENABLEDS);
    ASSERT_TRUE(enable);
    EXPECT_EQ(enable->DataAs<TW_USERINTERFACE>().ShowUI, 0xFFFF);
    EXPECT_EQ(Unit1::datei_m, "Beleg 1");
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(f.SpeedButton4->isEnabled());
    EXPECT_FALSE(f.SpeedButton3->isEnabled());
    EXPECT_FALSE(f.SpeedButton5->isEnabled());
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_TRUE(f.Button1->isEnabled());
    EXPECT_FALSE(f.Image1->isHidden());
}

TEST_F(Scanning, ThePageIsShownAndFurtherPagesAreDiscarded)
{
    dsm->AddSource("Nur einer");
    TForm1 &f = Start();
    f.Edit1->setText("Rechnung");
    f.Button4->click();

    dsm->pending = 3;
    dsm->QueueNativeImage(Dib24(5, 3, Stripes));
    dsm->ClearLog();
    SourceSignals(MSG_XFERREADY);

    const QImage shown = f.Image1->Picture();
    ASSERT_EQ(shown.size(), QSize(5, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(shown.pixel(x, y) & 0xFFFFFF, Stripes(x, y) & 0xFFFFFF) << x << "," << y;
    EXPECT_EQ(dsm->Count(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET), 1) << "one scan gives one page";
    EXPECT_EQ(dsm->Count(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET), 1) << "the rest are discarded";
    EXPECT_EQ(f.ShownPicture().kind(), platform::Picture::Kind::Bitmap);

    // "Speichern" writes the page as the typed name.
    f.Button2->click();
    const QImage written(DocumentDir() + "Rechnung.jpg");
    EXPECT_EQ(written.size(), QSize(5, 3));
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"Rechnung.jpg"});
}

TEST_F(Scanning, ASecondScanFindsTheSameSourceInTheRebuiltList)
{
    dsm->AddSource("Zeta");
    dsm->AddSource("Alpha");
    TForm1 &f = Start();
    ClickSource(f, "Zeta");
    f.Edit1->setText("erste");
    f.Button4->click();
    dsm->QueueNativeImage(Dib24(2, 2, Plain));
    SourceSignals(MSG_XFERREADY);
    ASSERT_FALSE(f.Image1->Picture().isNull());
    EXPECT_EQ(dsm->Count(MSG_CLOSEDSM), 1) << "the component rebuilt its list";

    dsm->ClearLog();
    f.Edit1->setText("zweite");
    f.Button4->click();
    EXPECT_EQ(OpenedSource(), "Zeta");
    EXPECT_EQ(dsm->Count(MSG_GETFIRST), 1) << "enumerated again";
    EXPECT_EQ(Entries(f), (std::vector<std::pair<QString, int>>{{"Alpha", 1}, {"Zeta", 0}})) << "the list keeps its entries";
}

TEST_F(Scanning, ACancelledDialogDeliversNoPageAndSavingWritesNothing)
{
    dsm->AddSource("Scanner");
    TForm1 &f = Start();
    f.Edit1->setText("nichts");
    f.Button4->click();
    SourceSignals(MSG_CLOSEDSREQ);
    EXPECT_EQ(dsm->Count(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET), 0);
    EXPECT_TRUE(f.Image1->Picture().isNull());
    EXPECT_TRUE(f.Button2->isEnabled());
    f.Button2->click();
    EXPECT_TRUE(QDir(DocumentDir()).entryList(QDir::Files).isEmpty());
}

TEST_F(Scanning, WithoutManagerBothMessagesAreShownAndDocumentsStillWork)
{
    dsm->loadFails = true;
    writeBytes(DocumentDir() + "alt.jpg", platform::encodeJpeg(gradient(8, 8), 80));
    TForm1 &f = Start();

    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Message, "Quillora", "Twain is not installed."},
                                                    {ShownBox::Error, "", "DSMEntry not found in Twain DLL"}}));
    EXPECT_EQ(f.LBSources->count(), 0);
    EXPECT_FALSE(Scanners::TWIsDSMOpen());
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"alt.jpg"});
    for (QWidget *w : {static_cast<QWidget *>(f.Button4), static_cast<QWidget *>(f.Button2),
                       static_cast<QWidget *>(f.SpeedButton4), static_cast<QWidget *>(f.SpeedButton5),
                       static_cast<QWidget *>(f.SpeedButton3), static_cast<QWidget *>(f.Button3)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

    // With no scanner, "Dokument scannen" shows nothing and enables "Speichern".
    boxes.clear();
    f.Edit1->setText("neu");
    f.Button4->click();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_FALSE(f.SpeedButton4->isEnabled());

    // The document side works.
    boxes.AnswerConfirmations({true});
    f.ListBox1->setCurrentRow(0);
    f.Button3->click();
    EXPECT_FALSE(QFile::exists(DocumentDir() + "alt.jpg"));
    boxes.clear();
    Stop();
    EXPECT_TRUE(boxes.shown().empty()) << "nothing to close at the end";
}

TEST_F(Scanning, EmptyNameIsRefusedAndAPreselectedScannerNeedsAClick)
{
    dsm->AddSource("Scanner");
    dsm->AddSource("Zweiter");
    TForm1 &f = Start();
    ASSERT_TRUE(f.LBSources->item(0)->isSelected());
    EXPECT_FALSE(f.Button4->isEnabled());
    ClickSource(f, "Scanner"); // already selected: still a click
    EXPECT_TRUE(f.Button4->isEnabled());

    dsm->ClearLog();
    f.Button4->click();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Information, "Informationen", kChooseScanner}}));
    EXPECT_TRUE(kChooseScanner.endsWith("\n" + QString(52, ' ')));
    EXPECT_EQ(dsm->Count(MSG_OPENDS), 0);
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_FALSE(f.SpeedButton4->isEnabled());

    // The keyboard selects too.
    f.LBSources->setFocus();
    QTest::keyClick(f.LBSources, Qt::Key_Down);
    QTest::keyClick(f.LBSources, Qt::Key_Up);
    EXPECT_TRUE(f.Button4->isEnabled());
}

TEST_F(Scanning, ASourceThatCannotBeEnabledAsksForAnotherScanner)
{
    dsm->AddSource("Defekt");
    dsm->Script(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, TWRC_FAILURE, TWCC_BUMMER);
    TForm1 &f = Start();
    f.Edit1->setText("Brief");
    f.Button4->click();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Information, "Informationen", kOtherScanner}}));
    EXPECT_FALSE(f.SpeedButton4->isEnabled());
    EXPECT_TRUE(f.Button2->isEnabled());
    EXPECT_FALSE(f.Button4->isEnabled());
    // Closed again, so that another scanner of the same driver can be opened.
    EXPECT_EQ(dsm->CallNames().back(), "MSG_CLOSEDS");
    EXPECT_EQ(f.Twain->SourcesLoaded(), 0);
}

TEST_F(Scanning, AnErrorWhileTheWindowIsDestroyedIsShownAndTheWindowGoes)
{
    dsm->AddSource("Scanner");
    Start();
    dsm->Script(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, TWRC_FAILURE, TWCC_SEQERROR);
    Stop();
    EXPECT_EQ(boxes.errors(),
              QStringList{"DSM Error at TWCloseDSM:\rIllegal operation for current Source Manager\rSource state."});
    EXPECT_TRUE(Scanners::TWIsDSMOpen()) << "a refused close leaves the flag";
}

TEST_F(Scanning, DestroyingTheWindowClosesTheDirectBindingsManager)
{
    dsm->AddSource("Scanner");
    Start();
    dsm->ClearLog();
    Stop();
    EXPECT_TRUE(boxes.errors().isEmpty());
    EXPECT_FALSE(Scanners::TWIsDSMOpen());
    ASSERT_GE(dsm->calls.size(), 1u);
    EXPECT_EQ(dsm->calls[0].Name(), "MSG_CLOSEDSM");
    EXPECT_EQ(testsupport::ProductNameOf(dsm->calls[0].origin), "ImagoTest") << "the direct binding closes first";
}
