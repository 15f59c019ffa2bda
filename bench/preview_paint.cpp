// The preview of one scanned A4 page (2480 x 3508) at fit-to-width in a
// 1200 x 800 client: a repaint, and a zoom click (recalculation and
// repaint) from fit-to-width on, each against a plain QPainter::drawImage of the same picture
// scaled into the same rectangle of a buffer of the client's size.  The
// ratios are printed at the end with the processor's name.
#include "platform/SystemMetrics.h"
#include "preview/RaduZovovaz.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class Bench17 : public platform::SystemMetricsService {
public:
    int GetSystemMetrics(int index) override
    {
        return index == platform::SM_CXVSCROLL || index == platform::SM_CYHSCROLL ? 17 : 0;
    }
    int ScreenDeviceCaps(int) override { return 96; }
};

// A scan-like picture: smooth gradients with some detail, not one colour.
QImage makeScan()
{
    QImage img(2480, 3508, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            row[x] = qRgb(230 + (x * 13 + y) % 25, 235 - (y / 7) % 30, ((x / 3) ^ (y / 5)) % 2 ? 40 : 245);
    }
    return img;
}

struct Fixture {
    Bench17 metrics;
    platform::ScopedService<platform::SystemMetricsService> use{metrics};
    QImage scan = makeScan();
    std::unique_ptr<TRaduZovovaz> ctl;
    QRect pictureOnScreen;

    Fixture()
    {
        ctl = std::make_unique<TRaduZovovaz>();
        ctl->show();
        // Client 1200 x 800 with the vertical bar shown.
        ctl->resize(1200 + 17 + 2 * ctl->frameWidth(), 800 + 2 * ctl->frameWidth());
        QPainter *canvas = ctl->BeginPage();
        canvas->drawImage(QRect(96, 86, 624, 883), scan);
        ctl->EndPage();
        ctl->ViewFitToWidth();
        const RECT r = ctl->GetPageRect(0);
        const double m = ctl->Magnification();
        pictureOnScreen = QRect(r.left + int(96 * m), r.top + int(86 * m), int(624 * m), int(883 * m));
    }
};

Fixture &fixture()
{
    static Fixture *f = new Fixture;
    return *f;
}

void BM_PlainDrawImage(benchmark::State &state)
{
    Fixture &f = fixture();
    QImage buffer(1200, 800, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&buffer);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(f.pictureOnScreen, f.scan);
        p.end();
        benchmark::DoNotOptimize(buffer.constBits());
    }
}
BENCHMARK(BM_PlainDrawImage)->Unit(benchmark::kMillisecond);

void BM_FitToWidthRepaint(benchmark::State &state)
{
    Fixture &f = fixture();
    f.ctl->ViewFitToWidth();
    f.ctl->DoPaint();
    for (auto _ : state) {
        f.ctl->DoPaint();
        benchmark::DoNotOptimize(f.ctl->BackBuffer().constBits());
    }
}
BENCHMARK(BM_FitToWidthRepaint)->Unit(benchmark::kMillisecond);

void BM_ZoomClick(benchmark::State &state)
{
    // Zoom-in clicks in the middle of the page, starting at fit-to-width as
    // the viewer opens; at the largest magnification the view goes back to
    // fit-to-width (not timed).
    Fixture &f = fixture();
    const QPoint click = f.ctl->contentsRect().topLeft() + QPoint(600, 300);
    auto reset = [&] {
        f.ctl->SetPreviewMode(pmNormal);
        f.ctl->ViewFitToWidth();
        f.ctl->SetPreviewMode(pmZoomIn);
        f.ctl->DoPaint();
    };
    reset();
    for (auto _ : state) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(click), QPointF(click), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(f.ctl.get(), &press);
        benchmark::DoNotOptimize(f.ctl->BackBuffer().constBits());
        if (f.ctl->Magnification() > 4.8f) {
            state.PauseTiming();
            reset();
            state.ResumeTiming();
        }
    }
    f.ctl->SetPreviewMode(pmNormal);
}
BENCHMARK(BM_ZoomClick)->Unit(benchmark::kMillisecond);

// Only the first zoom-in click after fit-to-width: the page outgrows the
// client, the horizontal bar appears and the back buffer shrinks.
void BM_FirstZoomClick(benchmark::State &state)
{
    Fixture &f = fixture();
    const QPoint click = f.ctl->contentsRect().topLeft() + QPoint(600, 300);
    for (auto _ : state) {
        state.PauseTiming();
        f.ctl->SetPreviewMode(pmNormal);
        f.ctl->ViewFitToWidth();
        f.ctl->SetPreviewMode(pmZoomIn);
        f.ctl->DoPaint();
        state.ResumeTiming();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(click), QPointF(click), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(f.ctl.get(), &press);
        benchmark::DoNotOptimize(f.ctl->BackBuffer().constBits());
    }
    f.ctl->SetPreviewMode(pmNormal);
}
BENCHMARK(BM_FirstZoomClick)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::TimeKeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double base = reporter.time["BM_PlainDrawImage"];
    if (base > 0) {
        std::printf("\nProcessor: %s\n", bench::ProcessorName().c_str());
        std::printf("fit-to-width repaint / plain drawImage: %.2f (limit 1.5)\n", reporter.time["BM_FitToWidthRepaint"] / base);
        std::printf("zoom click (recalculate + repaint) / plain drawImage: %.2f (limit 2.5)\n",
                    reporter.time["BM_ZoomClick"] / base);
        std::printf("first zoom click after fit-to-width / plain drawImage: %.2f (limit 2.5)\n",
                    reporter.time["BM_FirstZoomClick"] / base);
    }
    delete &fixture();
    benchmark::Shutdown();
    return 0;
}
