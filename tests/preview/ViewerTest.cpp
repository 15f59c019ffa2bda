// The document viewer: page composition, the buttons, printing and PDF.
#include "preview/Bildanzeige.h"

#include "platform/BmpFile.h"
#include "platform/Fonts.h"
#include "support/FakeDesktop.h"
#include "platform/Jpeg.h"
#include "support/FixedSystemMetrics.h"
#include "support/QtApp.h"
#include "support/RecordingPrinter.h"
#include "support/ScriptedBoxes.h"
#include "support/ScriptedModalDialogs.h"
#include "support/ScriptedRecognition.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

namespace {

using testing_support::RecordingPrinter;

class ViewerTest : public ::testing::Test {
protected:
    ViewerTest() { testing_support::EnsureQtApplication(); }

    void SetUp() override
    {
        desktop.workArea = RECT{0, 0, 1600, 900};
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    }
    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<TBild *>(w))
                delete w;
        TTextRecognitionJob::WaitForAll();
    }

    QString Folder() const { return dir.path() + QLatin1Char('/'); }
    TDocumentSource Source()
    {
        return TDocumentSource{[this] { return Folder(); }, [this] { return name; }};
    }

    // A document of one colour.
    void WriteJpeg(const QString &file, QSize size, QColor colour = Qt::red)
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        const std::vector<std::uint8_t> bytes = platform::encodeJpeg(img, 90);
        WriteBytes(file, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
    }
    void WriteBytes(const QString &file, const QByteArray &bytes)
    {
        QFile f(Folder() + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QImage RenderPage(TBild &viewer)
    {
        const platform::Metafile &page = viewer.RaduZovovaz1->PageAt(0);
        QImage img(page.width(), page.height(), QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        page.play(p, QRectF(0, 0, page.width(), page.height()));
        return img;
    }

    // The bounding box of the pixels for which |hit| holds.
    template <class Hit>
    static QRect Box(const QImage &img, Hit hit)
    {
        QRect box;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (hit(img.pixel(x, y)))
                    box |= QRect(x, y, 1, 1);
        return box;
    }
    static bool Reddish(QRgb c) { return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60; }
    static bool Dark(QRgb c) { return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100; }

    QTemporaryDir dir;
    QTemporaryDir cache;
    QString name;
    testing_support::ScriptedRecognition recognition;
    testing_support::ScriptedModalDialogs dialogs;
    testing_support::FakeDesktop desktop;
    testing_support::FixedSystemMetrics metrics;
    platform::ScopedService<platform::SystemMetricsService> useMetrics{metrics};
    RecordingPrinter printer;
    platform::ScopedService<platform::PrinterService> usePrinter{printer};
    testing_support::ScriptedBoxes boxes;
};

struct GeometryCase {
    const char *name;
    QSize picture;
    QRect onPage; // in page pixels, as (left, top) - (right, bottom) excluded
};

class PageGeometry : public ViewerTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(PageGeometry, PictureSpansTheMarginsAndIsCentredVertically)
{
    const GeometryCase &c = GetParam();
    name = QStringLiteral("Beleg.jpg");
    WriteJpeg(name, c.picture);
    TBild *viewer = TBild::OpenDocument(Source());
    ASSERT_EQ(viewer->RaduZovovaz1->PageCount(), 1);
    const QImage page = RenderPage(*viewer);
    const QRect expected = c.onPage.intersected(QRect(0, 0, 816, 1056));
    const QRect red = Box(page, Reddish);
    EXPECT_EQ(red, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, PageGeometry,
    ::testing::Values(GeometryCase{"Portrait", QSize(2480, 3508), QRect(QPoint(96, 86), QPoint(719, 968))},
                      GeometryCase{"Landscape", QSize(3508, 2480), QRect(QPoint(96, 307), QPoint(719, 747))},
                      // AH = 2496, Y0 = -720: clipped at the page edges
                      GeometryCase{"TallerThanThePage", QSize(1000, 4000), QRect(QPoint(96, -720), QPoint(719, 1775))}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ViewerTest, TheNameStandsCentredFivePixelsAboveThePicture)
{
    name = QStringLiteral("Rechnung_2024.jpg");
    WriteJpeg(name, QSize(2480, 3508));
    TBild *viewer = TBild::OpenDocument(Source());
    EXPECT_FALSE(Box(RenderPage(*viewer), Dark).isValid());
    viewer->Button11Click(viewer->Button11);
    EXPECT_EQ(viewer->RaduZovovaz1->PageCount(), 1);
    const QImage page = RenderPage(*viewer);
    const QRect text = Box(page, Dark);
    ASSERT_TRUE(text.isValid());
    // The text cell is 27-pixel Arial: its bottom (descent included) is at
    // y = 81, so all ink lies above and the capitals reach about 20 higher.
    EXPECT_LE(text.bottom(), 80);
    EXPECT_GE(text.bottom(), 70);
    EXPECT_LE(text.top(), 60);
    EXPECT_GE(text.top(), 81 - 32);
    EXPECT_NEAR(text.left() + text.right(), 816, 4);
    EXPECT_EQ(Box(page, Reddish), QRect(QPoint(96, 86), QPoint(719, 968)));
}

TEST_F(ViewerTest, TheExtensionDecidesThePictureKind)
{
    struct Case {
        const char *file;
        const char *type;
    };
    for (const Case &c : {Case{"scan.JPG", "jpg"}, Case{"scan.jpeg", "jpe"}, Case{"a.b.Bmp", "bmp"},
                          Case{"seite.wmf", "wmf"}, Case{"ohne", ""}, Case{"punkt.", ""}, Case{"x.jpgx", "jpg"}})
        EXPECT_EQ(TBild::DocumentType(QString::fromLatin1(c.file)), QString::fromLatin1(c.type)) << c.file;

    // ".JPG" is read as JPEG; ".jpeg" is no known kind and gives an empty page.
    WriteJpeg(QStringLiteral("gross.JPG"), QSize(400, 300));
    WriteJpeg(QStringLiteral("lang.jpeg"), QSize(400, 300));
    name = QStringLiteral("gross.JPG");
    EXPECT_TRUE(Box(RenderPage(*TBild::OpenDocument(Source())), Reddish).isValid());
    name = QStringLiteral("lang.jpeg");
    TBild *empty = TBild::OpenDocument(Source());
    EXPECT_EQ(empty->RaduZovovaz1->PageCount(), 1);
    EXPECT_FALSE(Box(RenderPage(*empty), [](QRgb c) { return c != qRgb(255, 255, 255); }).isValid());
    empty->Button11Click(empty->Button11);
    EXPECT_EQ(empty->RaduZovovaz1->PageCount(), 1);
}

TEST_F(ViewerTest, BitmapsAndMetafilesAreDocumentsToo)
{
    QImage blue(300, 200, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    const std::vector<std::uint8_t> bmp = platform::encodeBmp(blue);
    WriteBytes(QStringLiteral("blau.bmp"), QByteArray(reinterpret_cast<const char *>(bmp.data()), qsizetype(bmp.size())));
    name = QStringLiteral("blau.bmp");
    TBild *viewer = TBild::OpenDocument(Source());
    const QRect box = Box(RenderPage(*viewer), [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 60; });
    EXPECT_EQ(box, QRect(QPoint(96, 320), QPoint(719, 735))); // 624 x 416 centred

    // A page saved by the preview control opens as a metafile document.
    viewer->RaduZovovaz1->SaveToMetafile(Folder() + QStringLiteral("seite.wmf"), 0);
    name = QStringLiteral("seite.wmf");
    TBild *again = TBild::OpenDocument(Source());
    const QRect inner = Box(RenderPage(*again), [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 60; });
    // The whole saved page spans the margins: 816 page pixels into 624.
    EXPECT_NEAR(inner.left(), 96 + 96 * 624 / 816, 2);
    EXPECT_NEAR(inner.width(), 624 * 624 / 816, 2);
}

TEST_F(ViewerTest, ADocumentThatCannotBeReadIsReportedAndNotShown)
{
    WriteBytes(QStringLiteral("kaputt.jpg"), QByteArray::fromHex("ffd8ffe0") + QByteArray("no JPEG at all"));
    WriteBytes(QStringLiteral("kaputt.bmp"), QByteArray("BM"));
    WriteBytes(QStringLiteral("echt.wmf"), QByteArray::fromHex("d7cdc69a0000000000000010a00f"));
    for (const char *file : {"kaputt.jpg", "kaputt.bmp", "echt.wmf", "fehlt.jpg"}) {
        name = QString::fromLatin1(file);
        EXPECT_THROW(TBild::OpenDocument(Source()), std::exception) << file;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget *w : QApplication::topLevelWidgets())
            EXPECT_FALSE(qobject_cast<TBild *>(w)) << file;
        EXPECT_TRUE(Bildanzeige::Bild.isNull());
    }

    // With the name buttons the buttons have switched and the page stays.
    WriteJpeg(QStringLiteral("gut.jpg"), QSize(100, 100));
    name = QStringLiteral("gut.jpg");
    TBild *viewer = TBild::OpenDocument(Source());
    const int commands = viewer->RaduZovovaz1->PageAt(0).commandCount();
    name = QStringLiteral("kaputt.jpg");
    QTest::mouseClick(viewer->Button11, Qt::LeftButton);
    ASSERT_EQ(boxes.errors().size(), 1);
    EXPECT_TRUE(viewer->Button11->isHidden());
    EXPECT_FALSE(viewer->Button14->isHidden());
    EXPECT_EQ(viewer->RaduZovovaz1->PageCount(), 1);
    EXPECT_EQ(viewer->RaduZovovaz1->PageAt(0).commandCount(), commands);
}

TEST_F(ViewerTest, TheNameButtonsAlternateAndKeepTheZoomMode)
{
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(800, 600));
    TBild *viewer = TBild::OpenDocument(Source());
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Angezeigtes Dokument = a.jpg"));
    EXPECT_FALSE(viewer->Button11->isHidden());
    EXPECT_TRUE(viewer->Button14->isHidden());
    EXPECT_TRUE(viewer->isVisible());
    viewer->Button9Click(viewer->Button9); // actual size
    viewer->Button6Click(viewer->Button6);
    viewer->RaduZovovaz1->SetPageIndex(0);
    viewer->Button11Click(viewer->Button11);
    EXPECT_TRUE(viewer->Button11->isHidden());
    EXPECT_FALSE(viewer->Button14->isHidden());
    EXPECT_TRUE(Box(RenderPage(*viewer), Dark).isValid());
    viewer->Button14Click(viewer->Button14);
    EXPECT_FALSE(viewer->Button11->isHidden());
    EXPECT_TRUE(viewer->Button14->isHidden());
    EXPECT_EQ(viewer->RaduZovovaz1->PageCount(), 1);
    EXPECT_EQ(viewer->RaduZovovaz1->PageIndex(), -1);
    EXPECT_FALSE(Box(RenderPage(*viewer), Dark).isValid());
    EXPECT_EQ(viewer->RaduZovovaz1->Magnification(), 1.0f);
    EXPECT_EQ(viewer->RaduZovovaz1->PreviewMode(), pmZoomIn);
    // The name comes from the main window's current document.
    name = QStringLiteral("b.jpg");
    WriteJpeg(name, QSize(800, 600), Qt::green);
    viewer->Button11Click(viewer->Button11);
    EXPECT_FALSE(Box(RenderPage(*viewer), Reddish).isValid());
}

TEST_F(ViewerTest, TwoViewersAreIndependent)
{
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(80, 60));
    QPointer<TBild> first = TBild::OpenDocument(Source());
    QPointer<TBild> second = TBild::OpenDocument(Source());
    EXPECT_NE(first, second);
    EXPECT_EQ(Bildanzeige::Bild, second);
    first->Button12Click(first->Button12);
    EXPECT_TRUE(Bildanzeige::Bild.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()); // released at once, with its page
    ASSERT_FALSE(second.isNull());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->RaduZovovaz1->PageCount(), 1);
}

TEST_F(ViewerTest, TheWindowFillsTheWorkAreaWithThePrintButtonsCentred)
{
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(80, 60));
    TBild viewer(Source());
    EXPECT_EQ(viewer.geometry(), QRect(0, 0, 1600, 900));
    const int c = viewer.Panel2->width() / 2;
    EXPECT_EQ(c, 800);
    EXPECT_EQ(viewer.Button3->geometry(), QRect(c - 165, 6, 100, 27));
    EXPECT_EQ(viewer.Button12->geometry(), QRect(c - 60, 6, 100, 27));
    EXPECT_EQ(viewer.Button1->geometry(), QRect(c + 45, 6, 100, 27));
    EXPECT_EQ(viewer.Panel1->height(), 41);
    EXPECT_EQ(viewer.Panel2->height(), 45);
    EXPECT_EQ(viewer.Button10->geometry(), QRect(420, 9, 75, 25));
    EXPECT_EQ(viewer.Panel3->geometry().right(), viewer.Panel2->width() - 1);
    EXPECT_EQ(viewer.RaduZovovaz1->PageWidth(), 816);
    EXPECT_EQ(viewer.RaduZovovaz1->Title(), QStringLiteral("Printing ..."));
}

TEST_F(ViewerTest, PrintingGoesToTheSelectedPrinterAndPdfBackToTheDefault)
{
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(800, 600));
    TBild *viewer = TBild::OpenDocument(Source());
    printer.setupChooses = 1; // "Tinte"
    viewer->Button13Click(viewer->Button13);
    EXPECT_EQ(printer.setupDialogs, 1);
    viewer->Button3Click(viewer->Button3);
    viewer->Button1Click(viewer->Button1);
    viewer->Button3Click(viewer->Button3);
    ASSERT_EQ(printer.jobs.size(), 3u);
    EXPECT_EQ(printer.jobs[0].printer, QStringLiteral("Tinte"));
    EXPECT_EQ(printer.jobs[1].printer, platform::kPdfPrinterName);
    EXPECT_EQ(printer.jobs[1].title, QStringLiteral("Printing ..."));
    EXPECT_EQ(printer.jobs[1].sheets.size(), 1u);
    // The profile entry "Laser,winspool,Ne00:" names no printer: index -1,
    // the system's default.
    EXPECT_EQ(printer.selections.back(), -1);
    EXPECT_EQ(printer.jobs[2].printer, QStringLiteral("Laser"));

    // The default comes back also when the PDF job fails.
    printer.SetPrinterIndex(1);
    printer.available = false;
    EXPECT_THROW(viewer->Button1Click(viewer->Button1), platform::EPrinter);
    EXPECT_EQ(printer.selections.back(), -1);
}

TEST_F(ViewerTest, WithoutAPdfPrinterPdfErstellenPrintsOnTheDefault)
{
    printer.printers = QStringList{QStringLiteral("Laser"), QStringLiteral("MICROSOFT PRINT TO PDF")};
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(80, 60));
    TBild *viewer = TBild::OpenDocument(Source());
    viewer->Button1Click(viewer->Button1);
    ASSERT_EQ(printer.jobs.size(), 1u);
    EXPECT_EQ(printer.jobs[0].printer, QStringLiteral("MICROSOFT PRINT TO PDF")); // letter case ignored
    printer.printers = QStringList{QStringLiteral("Laser")};
    viewer->Button1Click(viewer->Button1);
    EXPECT_EQ(printer.jobs[1].printer, QStringLiteral("Laser"));
}

TEST_F(ViewerTest, TheWindowsFontsAreDrawnWithArialsMetrics)
{
    platform::RegisterFontSubstitutes();
    for (const char *family : {"Arial", "Microsoft Sans Serif", "System"}) {
        QFont font(QString::fromLatin1(family));
        font.setPixelSize(27);
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Liberation Sans")) << family;
    }
}

} // namespace

namespace {

TEST_F(ViewerTest, TheNameButtonsKeepTheRecognitionOfTheSameDocument)
{
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(80, 60));
    WriteJpeg(QStringLiteral("b.jpg"), QSize(60, 80), Qt::blue);
    TBild *viewer = TBild::OpenDocument(Source());
    const TTextRecognitionJob *first = viewer->TextRecognition();
    ASSERT_NE(first, nullptr);
    viewer->Button11Click(viewer->Button11);
    viewer->Button14Click(viewer->Button14);
    EXPECT_EQ(viewer->TextRecognition(), first);
    ASSERT_TRUE(first->waitForFinished(10000));
    // The main window moved on to another document: that one is recognised.
    name = QStringLiteral("b.jpg");
    viewer->Button11Click(viewer->Button11);
    ASSERT_NE(viewer->TextRecognition(), nullptr);
    ASSERT_TRUE(viewer->TextRecognition()->waitForFinished(10000));
    EXPECT_EQ(recognition.calls, 2);
    EXPECT_EQ(QSize(recognition.sawWidth, recognition.sawHeight), QSize(60, 80));
    // A document without pixels has nothing to recognise.
    name = QStringLiteral("c.txt");
    WriteBytes(name, "Text");
    viewer->Button14Click(viewer->Button14);
    EXPECT_EQ(viewer->TextRecognition(), nullptr);
}

TEST_F(ViewerTest, OnlyThePdfPrinterWaitsForARunningRecognition)
{
    recognition.hold();
    name = QStringLiteral("a.jpg");
    WriteJpeg(name, QSize(80, 60));
    TBild *viewer = TBild::OpenDocument(Source());
    viewer->Button3Click(viewer->Button3); // "Laser"
    EXPECT_TRUE(dialogs.shown.empty());
    viewer->Button1Click(viewer->Button1); // the window is cancelled: the PDF goes without text
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Texterkennung läuft …");
    ASSERT_EQ(printer.jobs.size(), 2u);
    EXPECT_EQ(printer.jobs[1].printer, platform::kPdfPrinterName);
    EXPECT_TRUE(boxes.errors().isEmpty());
    recognition.release();
}

} // namespace
