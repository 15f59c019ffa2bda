// Text recognition for the PDF text layer, on a typed A4 letter scanned at
// 300 dpi and stored at JPEG quality 20 (2480 x 3508 pixels):
//  - opening the viewer on it (BM_ViewerOpenRecognising: the document read,
//    decoded, composed, the window shown and its events processed) while
//    its recognition starts on the worker thread, against the same opening
//    with a recognition service that does nothing (BM_ViewerOpenPlain);
//    each opening uses an empty cache, so recognition really starts, and
//    the viewer is closed (not timed) before the next;
//  - the recognition of the page itself (BM_RecognizeA4), German and
//    English, against decoding the same JPEG file (BM_DecodeA4).
// The ratios are printed at the end with the processor's name.
#include "platform/Jpeg.h"
#include "platform/Picture.h"
#include "platform/TextRecognition.h"
#include "preview/Bildanzeige.h"
#include "support/FakeDesktop.h"
#include "support/ScriptedModalDialogs.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Does nothing: the viewer as it was before it recognised text.
class NoRecognition : public platform::TextRecognitionService {
public:
    std::vector<platform::RecognizedWord> Recognize(const QImage &, const std::atomic<bool> *) override { return {}; }
};

struct Letter {
    QTemporaryDir dir;
    QString folder;
    QString name = QStringLiteral("Brief.jpg");

    Letter()
    {
        folder = dir.path() + QLatin1Char('/');
        QImage page(2480, 3508, QImage::Format_RGB32);
        page.fill(qRgb(246, 244, 238));
        QPainter p(&page);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(42); // 10 points at 300 dpi
        p.setFont(font);
        p.setPen(Qt::black);
        const QStringList text{
            QStringLiteral("Sehr geehrte Damen und Herren, für Ihre Bestellung vom 14.03.2024 berechnen wir"),
            QStringLiteral("die folgenden Positionen. Bitte überweisen Sie den Betrag von 23,95 EUR innerhalb"),
            QStringLiteral("von vierzehn Tagen auf das unten genannte Konto. Thank you for your order, we look"),
            QStringLiteral("forward to serving you again. Mit freundlichen Grüßen, Ihre Buchhaltung Müller"),
        };
        int y = 400;
        for (int i = 0; i < 52; ++i, y += 60)
            p.drawText(250, y, text[i % text.size()]);
        p.end();
        const std::vector<std::uint8_t> jpeg = platform::encodeJpeg(page, 20);
        QFile f(folder + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(reinterpret_cast<const char *>(jpeg.data()), qsizetype(jpeg.size()));
    }
};

Letter &letter()
{
    static Letter *l = new Letter;
    return *l;
}

void openViewers(benchmark::State &state, platform::TextRecognitionService &service)
{
    Letter &l = letter();
    testing_support::FakeDesktop desktop;
    platform::ScopedService<platform::TextRecognitionService> use(service);
    const TDocumentSource source{[&] { return l.folder; }, [&] { return l.name; }};
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir cache;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
        state.ResumeTiming();
        TBild *viewer = TBild::OpenDocument(source);
        QCoreApplication::processEvents();
        state.PauseTiming();
        delete viewer;
        TTextRecognitionJob::WaitForAll();
        state.ResumeTiming();
    }
}

void BM_ViewerOpenPlain(benchmark::State &state)
{
    NoRecognition none;
    openViewers(state, none);
}
BENCHMARK(BM_ViewerOpenPlain)->Unit(benchmark::kMillisecond)->Iterations(12);

void BM_ViewerOpenRecognising(benchmark::State &state)
{
    openViewers(state, platform::Service<platform::TextRecognitionService>::real());
}
BENCHMARK(BM_ViewerOpenRecognising)->Unit(benchmark::kMillisecond)->Iterations(12);

void BM_DecodeA4(benchmark::State &state)
{
    for (auto _ : state) {
        platform::Picture picture;
        picture.loadFromFile(letter().folder + letter().name);
        benchmark::DoNotOptimize(picture.image().constBits());
    }
}
BENCHMARK(BM_DecodeA4)->Unit(benchmark::kMillisecond);

void BM_RecognizeA4(benchmark::State &state)
{
    platform::Picture picture;
    picture.loadFromFile(letter().folder + letter().name);
    auto engine = platform::MakeTesseractRecognition();
    std::size_t words = 0;
    for (auto _ : state)
        words = engine->Recognize(picture.image(), nullptr).size();
    state.counters["words"] = double(words);
}
BENCHMARK(BM_RecognizeA4)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    testing_support::ScriptedModalDialogs dialogs;
    benchmark::Initialize(&argc, argv);
    bench::TimeKeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nProcessor: %s\n", bench::ProcessorName().c_str());
    if (const double plain = reporter.time["BM_ViewerOpenPlain"]; plain > 0)
        std::printf("viewer opening with recognition starting / without: %.2f\n",
                    reporter.time["BM_ViewerOpenRecognising"] / plain);
    if (const double decode = reporter.time["BM_DecodeA4"]; decode > 0)
        std::printf("recognition of an A4 page at 300 dpi: %.0f ms, %.0f times its JPEG decoding\n",
                    reporter.time["BM_RecognizeA4"], reporter.time["BM_RecognizeA4"] / decode);
    delete &letter();
    benchmark::Shutdown();
    return 0;
}
