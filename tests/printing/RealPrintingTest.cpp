// Printing for real: "Drucken" through a CUPS server of the test's own to a
// queue that keeps what it receives, and "PDF erstellen" through the PDF
// printer; the PDF files are checked with poppler's tools.
#include "PrivateCups.h"

#include "support/FakeDesktop.h"
#include "platform/Jpeg.h"
#include "platform/Printing.h"
#include "preview/Bildanzeige.h"
#include "support/QtApp.h"
#include "support/ScriptedBoxes.h"
#include "support/ScriptedModalDialogs.h"
#include "support/ScriptedRecognition.h"
#include "support/ScriptedPdfDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTest>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

namespace {

using testing_support::RunTool;

// The server, shared by the tests of this process; started before the Qt
// application object so that every CUPS call goes to it.
testing_support::PrivateCups *cups = nullptr;

class CupsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        try {
            server_ = std::make_unique<testing_support::PrivateCups>();
            cups = server_.get();
        } catch (const std::exception &e) {
            FAIL() << "private CUPS server: " << e.what();
        }
    }
    void TearDown() override
    {
        cups = nullptr;
        server_.reset();
    }

private:
    std::unique_ptr<testing_support::PrivateCups> server_;
};

const auto *environment = ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

} // namespace

testing_support::PrivateCups *testing_support::PrivateCupsInstance()
{
    return cups;
}

namespace {

struct PdfPage {
    int pages = 0;
    QImage rendering;      // page 1 at 30 pixels per inch
    QList<QSize> images;   // the pictures in the file, at their own size
};

PdfPage Inspect(const QString &pdf, const QString &scratch)
{
    PdfPage r;
    if (const auto info = RunTool(QStringLiteral("pdfinfo"), {pdf})) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(*info));
        if (m.hasMatch())
            r.pages = m.captured(1).toInt();
    }
    if (RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("30"), QStringLiteral("-f"),
                                             QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
                                             QStringLiteral("-singlefile"), QStringLiteral("-png"), pdf, scratch}))
        r.rendering.load(scratch + QStringLiteral(".png"));
    if (const auto list = RunTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})) {
        for (const QString &line : QString::fromUtf8(*list).split(QLatin1Char('\n'))) {
            const QStringList f = line.simplified().split(QLatin1Char(' '));
            if (f.size() > 4 && f[2] == QLatin1String("image"))
                r.images.append(QSize(f[3].toInt(), f[4].toInt()));
        }
    }
    return r;
}

// Fraction of the pixels in |r| (relative to the page: 0..1) for which |hit| holds.
template <class Hit>
double Share(const QImage &img, QRectF r, Hit hit)
{
    const QRect px(int(r.left() * img.width()), int(r.top() * img.height()), int(r.width() * img.width()),
                   int(r.height() * img.height()));
    int n = 0, all = 0;
    for (int y = px.top(); y <= px.bottom(); ++y)
        for (int x = px.left(); x <= px.right(); ++x, ++all)
            n += hit(img.pixel(x, y)) ? 1 : 0;
    return all ? double(n) / all : 0;
}

bool Red(QRgb c)
{
    return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90;
}
bool Blue(QRgb c)
{
    return qBlue(c) > 180 && qRed(c) < 90 && qGreen(c) < 90;
}
// The same colours on a grey printer (a raw queue reports no colour).
bool RedInGrey(QRgb c)
{
    return qAbs(qGray(c) - qGray(qRgb(255, 0, 0))) < 15;
}
bool BlueInGrey(QRgb c)
{
    return qAbs(qGray(c) - qGray(qRgb(0, 0, 255))) < 15;
}

class RealPrintingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(cups, nullptr);
        testing_support::EnsureQtApplication();
        ASSERT_TRUE(dir.isValid());
        // A portrait A4 scan at 300 per inch: red above, blue below.
        QImage scan(2480, 3508, QImage::Format_RGB32);
        scan.fill(Qt::red);
        for (int y = 1754; y < 3508; ++y)
            std::fill_n(reinterpret_cast<QRgb *>(scan.scanLine(y)), 2480, qRgb(0, 0, 255));
        const std::vector<std::uint8_t> jpeg = platform::encodeJpeg(scan, 90);
        QFile f(dir.filePath(QStringLiteral("Scan.jpg")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char *>(jpeg.data()), qsizetype(jpeg.size()));
        jpegSize = qint64(jpeg.size());
        f.close();
        viewer = TBild::OpenDocument(TDocumentSource{[this] { return dir.path() + QLatin1Char('/'); },
                                                     [] { return QStringLiteral("Scan.jpg"); }});
        platform::Printer().SetPrinterIndex(-1);
    }
    void TearDown() override
    {
        delete viewer.data();
        TTextRecognitionJob::WaitForAll();
    }

    // The picture spans the margins and is centred: red in the upper half
    // of its rectangle, blue in the lower.
    static void ExpectScanOnPage(const QImage &page, bool colour)
    {
        ASSERT_FALSE(page.isNull());
        // Picture rectangle in page fractions: x 96..720 of 816, y 86..969 of 1056.
        EXPECT_GT(Share(page, QRectF(0.16, 0.12, 0.68, 0.3), colour ? Red : RedInGrey), 0.95);
        EXPECT_GT(Share(page, QRectF(0.16, 0.55, 0.68, 0.3), colour ? Blue : BlueInGrey), 0.95);
        EXPECT_EQ(Share(page, QRectF(0.0, 0.0, 0.1, 1.0), [](QRgb c) { return c != qRgb(255, 255, 255); }), 0.0);
    }

    QTemporaryDir dir;
    qint64 jpegSize = 0;
    testing_support::FakeDesktop desktop;
    testing_support::ScriptedBoxes boxes;
    testing_support::ScriptedRecognition recognition;
    testing_support::ScriptedModalDialogs dialogs;
    QPointer<TBild> viewer;
};

TEST_F(RealPrintingTest, DruckenSendsOnePageToTheCupsQueue)
{
    const QStringList printers = platform::Printer().Printers();
    ASSERT_TRUE(printers.contains(QString::fromLatin1(testing_support::PrivateCups::kQueue))) << printers.join(", ").toStdString();
    EXPECT_EQ(platform::Printer().DefaultPrinterEntry().section(QLatin1Char(','), 0, 0),
              QString::fromLatin1(testing_support::PrivateCups::kQueue));

    viewer->Button3Click(viewer->Button3);
    ASSERT_TRUE(cups->printer().waitForJob(0, 60)) << cups->errorLog().toStdString();
    const QByteArray job = cups->printer().job(0);
    ASSERT_TRUE(job.startsWith("%PDF")) << job.left(40).toStdString();
    const QString pdf = dir.filePath(QStringLiteral("job.pdf"));
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(job);
    f.close();
    const PdfPage page = Inspect(pdf, dir.filePath(QStringLiteral("job")));
    EXPECT_EQ(page.pages, 1);
    ExpectScanOnPage(page.rendering, false);
    ASSERT_FALSE(page.images.isEmpty());
    // The scan reaches the printer at its own resolution.
    EXPECT_GE(page.images.first().width(), 2480);
    EXPECT_GE(page.images.first().height(), 3508);
    EXPECT_TRUE(boxes.errors().isEmpty());
}

TEST_F(RealPrintingTest, PdfErstellenWritesThePageWhereThePersonSays)
{
    testing_support::ScriptedPdfDialog dialog;
    platform::ScopedService<platform::PdfFileDialogService> use(dialog);
    const QString pdf = dir.filePath(QStringLiteral("Beleg.pdf"));
    dialog.answer = pdf;
    viewer->Button1Click(viewer->Button1);
    EXPECT_EQ(dialog.asked, 1);
    ASSERT_TRUE(QFile::exists(pdf));
    const PdfPage page = Inspect(pdf, dir.filePath(QStringLiteral("pdf")));
    EXPECT_EQ(page.pages, 1);
    ExpectScanOnPage(page.rendering, true);
    ASSERT_EQ(page.images.size(), 1);
    EXPECT_EQ(page.images.first(), QSize(2480, 3508));
    std::cout << "PDF " << QFileInfo(pdf).size() << " bytes for a JPEG of " << jpegSize << " bytes (2480 x 3508)"
              << std::endl;
    // Only the PDF is left beside the document, no temporary file.
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.pdf*"), QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Beleg.pdf")});
    // Afterwards the CUPS default is selected again.
    EXPECT_EQ(platform::Printer().Printers().value(platform::Printer().PrinterIndex()),
              QString::fromLatin1(testing_support::PrivateCups::kQueue));

    // Cancelling the file dialog writes nothing and reports nothing.
    QFile::remove(pdf);
    dialog.answer.reset();
    viewer->Button1Click(viewer->Button1);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(boxes.errors().isEmpty());

    // A folder that cannot be written is reported, and the default is
    // selected again all the same.
    dialog.answer = dir.filePath(QStringLiteral("fehlt/Beleg.pdf"));
    QTest::mouseClick(viewer->Button1, Qt::LeftButton);
    EXPECT_EQ(boxes.errors().size(), 1);
    EXPECT_EQ(platform::Printer().Printers().value(platform::Printer().PrinterIndex()),
              QString::fromLatin1(testing_support::PrivateCups::kQueue));
}

TEST_F(RealPrintingTest, ThePrinterReportsItsPageAndAnUnknownIndexIsRefused)
{
    platform::PrinterService &printer = platform::Printer();
    EXPECT_GT(printer.GetDeviceCaps(platform::LOGPIXELSX), 0);
    EXPECT_GT(printer.GetDeviceCaps(platform::PHYSICALWIDTH), printer.GetDeviceCaps(platform::LOGPIXELSX) * 7);
    EXPECT_LE(printer.GetDeviceCaps(platform::HORZRES), printer.GetDeviceCaps(platform::PHYSICALWIDTH));
    EXPECT_THROW(printer.SetPrinterIndex(int(printer.Printers().size())), platform::EPrinter);
    EXPECT_THROW(printer.SetPrinterIndex(-2), platform::EPrinter);
    const int pdf = int(printer.Printers().indexOf(platform::kPdfPrinterName));
    ASSERT_GE(pdf, 0);
    printer.SetPrinterIndex(pdf);
    EXPECT_EQ(printer.GetDeviceCaps(platform::LOGPIXELSX), 600);
    printer.SetPrinterIndex(-1);
}

} // namespace
