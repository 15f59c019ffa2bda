// A preview control on the offscreen screen with fixed screen measures
// (17-pixel scroll bars, 96 pixels per inch) and a recording printer.
#pragma once

#include "preview/RaduZovovaz.h"
#include "support/FixedSystemMetrics.h"
#include "support/QtApp.h"
#include "support/RecordingPrinter.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <memory>

// Opens the layout state of the control to the tests.
class PreviewProbe : public TRaduZovovaz {
public:
    using TRaduZovovaz::DeltaX;
    using TRaduZovovaz::HorzOffset;
    using TRaduZovovaz::IsDragging;
    using TRaduZovovaz::IsWholePage;
    using TRaduZovovaz::LastZoom;
    using TRaduZovovaz::MaxHScroll;
    using TRaduZovovaz::MaxVScroll;
    using TRaduZovovaz::PageCol;
    using TRaduZovovaz::PageRow;
    using TRaduZovovaz::TRaduZovovaz;
    using TRaduZovovaz::VertOffset;
};

class PreviewTest : public ::testing::Test {
protected:
    PreviewTest() { testing_support::EnsureQtApplication(); }

    void SetUp() override
    {
        ctl = std::make_unique<PreviewProbe>();
        ctl->OnChange = [this](QObject *) { ++changes; };
        ctl->show();
    }

    // Sizes the control so that its client area is |w| x |h| with the
    // given scroll bars shown.
    void SetClient(int w, int h, bool vertBar, bool horzBar = false)
    {
        const int f = 2 * ctl->frameWidth();
        ctl->resize(w + f + (vertBar ? 17 : 0), h + f + (horzBar ? 17 : 0));
    }

    // Records |n| pages, each with a filled rectangle in page pixels.
    void AddPages(int n, QRect mark = QRect(100, 100, 200, 100))
    {
        for (int i = 0; i < n; ++i) {
            QPainter *canvas = ctl->BeginPage();
            canvas->fillRect(mark, Qt::black);
            ctl->EndPage();
        }
    }

    QRect PageRect(int i) const
    {
        const RECT r = ctl->GetPageRect(i);
        return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
    }

    void ClickClient(QPoint p, Qt::MouseButton button = Qt::LeftButton);

    testing_support::FixedSystemMetrics metrics;
    platform::ScopedService<platform::SystemMetricsService> useMetrics{metrics};
    testing_support::RecordingPrinter printer;
    platform::ScopedService<platform::PrinterService> usePrinter{printer};
    std::unique_ptr<PreviewProbe> ctl;
    int changes = 0;
};
