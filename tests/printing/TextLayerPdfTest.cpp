// The invisible text layer of "PDF erstellen": a receipt recognised for
// real, found by pdftotext where it stands on the page, invisible when the
// page is rendered; none on a real printer, none without language data,
// and a progress window while recognition still runs.
#include "PrivateCups.h"

#include "platform/Jpeg.h"
#include "platform/Printing.h"
#include "platform/TextRecognition.h"
#include "preview/Bildanzeige.h"
#include "support/FakeDesktop.h"
#include "support/QtApp.h"
#include "support/ScriptedBoxes.h"
#include "support/ScriptedModalDialogs.h"
#include "support/ScriptedPdfDialog.h"
#include "support/ScriptedRecognition.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <iostream>

namespace {

using testing_support::RunTool;

struct PlacedWord {
    QString text;
    QRect box; // in pixels of the receipt picture
};

// A receipt at 300 pixels per inch: each word drawn on its own, so where it
// stands is known.
struct Receipt {
    QImage picture;
    std::vector<PlacedWord> words;
};

Receipt RenderReceipt()
{
    const QStringList lines{
        QStringLiteral("Bäckerei Müller GmbH"),   QStringLiteral("Hauptstraße 12, 80331 München"),
        QStringLiteral("Datum: 14.03.2024 09:41"), QStringLiteral("Brötchen 1,60 EUR"),
        QStringLiteral("Käsekuchen 3,45 EUR"),     QStringLiteral("Kaffee groß 2,90 EUR"),
        QStringLiteral("Summe 23,95 EUR"),         QStringLiteral("Vielen Dank für Ihren Einkauf"),
    };
    Receipt r;
    r.picture = QImage(1000, 1000, QImage::Format_RGB32);
    r.picture.fill(Qt::white);
    QPainter p(&r.picture);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(38);
    p.setFont(font);
    p.setPen(Qt::black);
    const QFontMetrics fm(font, &r.picture);
    int baseline = 110;
    for (const QString &line : lines) {
        int x = 60;
        for (const QString &word : line.split(QLatin1Char(' '))) {
            p.drawText(x, baseline, word);
            r.words.push_back({word, fm.tightBoundingRect(word).translated(x, baseline)});
            x += fm.horizontalAdvance(word + QLatin1Char(' '));
        }
        baseline += 105;
    }
    return r;
}

struct PdfWord {
    QString text;
    QRectF box; // in points of the page
};

struct PdfText {
    QSizeF page; // in points
    std::vector<PdfWord> words;
};

PdfText TextOf(const QString &pdf, const QString &scratch)
{
    PdfText t;
    const auto html = RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, scratch});
    QFile f(scratch);
    if (!html || !f.open(QIODevice::ReadOnly))
        return t;
    const QString s = QString::fromUtf8(f.readAll());
    const QRegularExpressionMatch page =
        QRegularExpression(QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\"")).match(s);
    if (page.hasMatch())
        t.page = QSizeF(page.captured(1).toDouble(), page.captured(2).toDouble());
    QRegularExpression word(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    for (auto it = word.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString text = m.captured(5);
        text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        t.words.push_back({text, QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                        QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return t;
}

QImage Rendering(const QString &pdf, const QString &scratch)
{
    RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-singlefile"),
                                         QStringLiteral("-png"), pdf, scratch});
    return QImage(scratch + QStringLiteral(".png"));
}

class TextLayerPdf : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        ASSERT_TRUE(dir.isValid());
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
        platform::Printer().SetPrinterIndex(-1);
        pdfDialog.answer = dir.filePath(QStringLiteral("Beleg.pdf"));
    }
    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<TBild *>(w))
                delete w;
        TTextRecognitionJob::WaitForAll();
    }

    void WriteDocument(const QImage &picture, int quality)
    {
        const std::vector<std::uint8_t> jpeg = platform::encodeJpeg(picture, quality);
        QFile f(dir.filePath(QStringLiteral("Beleg.jpg")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char *>(jpeg.data()), qsizetype(jpeg.size()));
    }
    TBild *Open()
    {
        return TBild::OpenDocument(TDocumentSource{[this] { return dir.path() + QLatin1Char('/'); },
                                                   [] { return QStringLiteral("Beleg.jpg"); }});
    }
    // "PDF erstellen" into |name|.
    QString MakePdf(TBild &viewer, const QString &name)
    {
        pdfDialog.answer = dir.filePath(name);
        viewer.Button1Click(viewer.Button1);
        EXPECT_TRUE(QFile::exists(*pdfDialog.answer));
        return *pdfDialog.answer;
    }

    QTemporaryDir dir;
    testing_support::FakeDesktop desktop;
    testing_support::ScriptedBoxes boxes;
    testing_support::ScriptedModalDialogs dialogs;
    testing_support::ScriptedPdfDialog pdfDialog;
    platform::ScopedService<platform::PdfFileDialogService> usePdfDialog{pdfDialog};
};

TEST_F(TextLayerPdf, AReceiptCanBeFoundWhereItsWordsStandAndLooksTheSame)
{
    const Receipt receipt = RenderReceipt();
    WriteDocument(receipt.picture, 20);

    // First opening: recognised for real.
    QElapsedTimer clock;
    clock.start();
    TBild *viewer = Open();
    ASSERT_NE(viewer->TextRecognition(), nullptr);
    ASSERT_TRUE(viewer->TextRecognition()->waitForFinished(120000));
    std::cout << "recognition of a 1000 x 1000 receipt at 300 dpi: " << clock.elapsed() << " ms" << std::endl;
    ASSERT_EQ(viewer->TextRecognition()->state(), TTextRecognitionJob::State::Done);
    const QString withText = MakePdf(*viewer, QStringLiteral("mit.pdf"));
    EXPECT_TRUE(dialogs.shown.empty());

    const PdfText text = TextOf(withText, dir.filePath(QStringLiteral("mit.html")));
    ASSERT_FALSE(text.page.isEmpty());
    // Picture pixels to points: the picture spans 96 .. 720 of the page's
    // 816 pixels and is centred vertically on its 1056.
    const double scale = 624.0 / receipt.picture.width();
    const double top = (1056 - std::nearbyint(receipt.picture.height() * scale)) / 2;
    const double ptX = text.page.width() / 816, ptY = text.page.height() / 1056;
    auto onPage = [&](const QRect &r) {
        return QRectF((96 + r.x() * scale) * ptX, (top + r.y() * scale) * ptY, r.width() * scale * ptX,
                      r.height() * scale * ptY);
    };
    int found = 0;
    for (const PlacedWord &expected : receipt.words) {
        const QRectF want = onPage(expected.box);
        // The recognised word of that text nearest to where it stands.
        const PdfWord *best = nullptr;
        for (const PdfWord &w : text.words)
            if (w.text == expected.text &&
                (!best || QLineF(w.box.center(), want.center()).length() <
                              QLineF(best->box.center(), want.center()).length()))
                best = &w;
        if (!best) {
            std::cout << "not found: " << expected.text.toStdString() << std::endl;
            continue;
        }
        ++found;
        const QRectF around = want.adjusted(-want.height() / 2, -want.height() / 2, want.height() / 2, want.height() / 2);
        EXPECT_TRUE(around.contains(best->box.center()) && best->box.intersects(want))
            << expected.text.toStdString() << " at " << best->box.x() << "," << best->box.y() << " "
            << best->box.width() << "x" << best->box.height() << ", standing at " << want.x() << "," << want.y()
            << " " << want.width() << "x" << want.height();
        EXPECT_LT(best->box.height(), 2 * want.height()) << expected.text.toStdString();
    }
    EXPECT_GE(found * 10, int(receipt.words.size()) * 9) << found << " of " << receipt.words.size();

    // Second opening: the cached words, no recognition.
    testing_support::ScriptedRecognition counting(&platform::Service<platform::TextRecognitionService>::real());
    TBild *again = Open();
    ASSERT_TRUE(again->TextRecognition()->waitForFinished(10000));
    EXPECT_TRUE(again->TextRecognition()->fromCache());
    EXPECT_EQ(counting.calls, 0);

    // Without language data (and without the cache): the same page, no text,
    // nothing reported.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache2"))));
    QTemporaryDir noData;
    const std::unique_ptr<platform::TextRecognitionService> engine = platform::MakeTesseractRecognition(noData.path());
    platform::ScopedService<platform::TextRecognitionService> useEngine(*engine);
    TBild *bare = Open();
    ASSERT_TRUE(bare->TextRecognition()->waitForFinished(10000));
    EXPECT_EQ(bare->TextRecognition()->state(), TTextRecognitionJob::State::Failed);
    const QString withoutText = MakePdf(*bare, QStringLiteral("ohne.pdf"));
    EXPECT_TRUE(TextOf(withoutText, dir.filePath(QStringLiteral("ohne.html"))).words.empty());
    EXPECT_TRUE(boxes.errors().isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());

    const QImage a = Rendering(withText, dir.filePath(QStringLiteral("mit")));
    const QImage b = Rendering(withoutText, dir.filePath(QStringLiteral("ohne")));
    ASSERT_FALSE(a.isNull());
    EXPECT_TRUE(a == b) << "the text layer shows on the rendered page";
}

// One word the double "recognises", at a place of its own.
const platform::RecognizedWord kWord{QStringLiteral("Quittungsbeleg"), QRect(100, 100, 600, 80), 95};

struct PrinterCase {
    const char *name;
    bool pdfPrinter;
    bool textExpected;
};

class TextLayerPrinters : public TextLayerPdf, public ::testing::WithParamInterface<PrinterCase> {};

TEST_P(TextLayerPrinters, OnlyThePdfPrinterGetsTheText)
{
    testing_support::ScriptedRecognition engine;
    engine.words = {kWord};
    QImage picture(800, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    WriteDocument(picture, 90);
    TBild *viewer = Open();
    ASSERT_TRUE(viewer->TextRecognition()->waitForFinished(10000));

    QString pdf;
    if (GetParam().pdfPrinter) {
        pdf = MakePdf(*viewer, QStringLiteral("Beleg.pdf"));
    } else {
        // "Drucken" on the default printer, the private CUPS queue.
        const std::size_t before = testing_support::PrivateCupsInstance()->printer().jobCount();
        viewer->Button3Click(viewer->Button3);
        auto &queue = testing_support::PrivateCupsInstance()->printer();
        ASSERT_TRUE(queue.waitForJob(before, 60));
        pdf = dir.filePath(QStringLiteral("job.pdf"));
        QFile f(pdf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(queue.job(before));
    }
    const PdfText text = TextOf(pdf, dir.filePath(QStringLiteral("text.html")));
    if (GetParam().textExpected) {
        ASSERT_EQ(text.words.size(), 1u);
        EXPECT_EQ(text.words[0].text, kWord.text);
    } else {
        EXPECT_TRUE(text.words.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Printers, TextLayerPrinters,
                         ::testing::Values(PrinterCase{"PdfPrinter", true, true},
                                           PrinterCase{"CupsQueue", false, false}),
                         [](const auto &info) { return std::string(info.param.name); });

struct WaitCase {
    const char *name;
    bool cancel; // "Abbrechen" instead of waiting
};

class RecognitionStillRunning : public TextLayerPdf, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(RecognitionStillRunning, APdfWaitsInAProgressWindowOrGoesWithoutText)
{
    testing_support::ScriptedRecognition engine;
    engine.words = {kWord};
    engine.hold();
    QImage picture(800, 400, QImage::Format_RGB32);
    picture.fill(Qt::white);
    WriteDocument(picture, 90);
    TBild *viewer = Open();
    QString label;
    dialogs.script = [&](QDialog &dialog) {
        if (auto *l = dialog.findChild<QLabel *>())
            label = l->text();
        if (GetParam().cancel) {
            QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("Abbrechen")), Qt::LeftButton);
        } else {
            engine.release();
            for (int i = 0; i < 1000 && dialog.isVisible() && dialog.result() == platform::mrNone; ++i)
                QTest::qWait(10);
        }
        return platform::mrNone;
    };
    const QString pdf = MakePdf(*viewer, QStringLiteral("Beleg.pdf"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Texterkennung läuft …");
    EXPECT_EQ(label, QStringLiteral("Texterkennung läuft …"));
    EXPECT_EQ(TextOf(pdf, dir.filePath(QStringLiteral("text.html"))).words.size(), GetParam().cancel ? 0u : 1u);
    // The recognition goes on after "Abbrechen" (the next PDF may have the
    // text); it ends before the engine goes.
    engine.release();
    EXPECT_TRUE(viewer->TextRecognition()->waitForFinished(10000));
    EXPECT_EQ(viewer->TextRecognition()->state(), TTextRecognitionJob::State::Done);
}

INSTANTIATE_TEST_SUITE_P(Choices, RecognitionStillRunning,
                         ::testing::Values(WaitCase{"Abbrechen", true}, WaitCase{"Waiting", false}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
