// Layout, zoom, scrolling, mouse and painting of the preview control.
#include "PreviewFixture.h"

#include <QScrollBar>
#include <QTest>

#include <cmath>

namespace {

struct ModeCase {
    const char *name;
    void (TRaduZovovaz::*view)();
    int clientW, clientH;
    bool vertBar; // shown once the layout has settled
    float magnification;
    int w, h, columns;
};

class LayoutModes : public PreviewTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(LayoutModes, OnePageInA1200By800Client)
{
    const ModeCase &c = GetParam();
    SetClient(c.clientW, c.clientH, c.vertBar);
    AddPages(1);
    (ctl.get()->*c.view)();
    ctl->Recalculate();

    EXPECT_EQ(ctl->ClientWidth(), c.clientW);
    EXPECT_EQ(ctl->ClientHeight(), c.clientH);
    EXPECT_EQ(ctl->VertScrollBar()->isVisibleTo(ctl.get()), c.vertBar);
    EXPECT_FALSE(ctl->HorzScrollBar()->isVisibleTo(ctl.get()));
    EXPECT_FLOAT_EQ(ctl->Magnification(), c.magnification);
    const QRect r = PageRect(0);
    EXPECT_EQ(r.width(), c.w);
    EXPECT_EQ(r.height(), c.h);
    EXPECT_EQ(ctl->PageCol, c.columns);
    EXPECT_EQ(ctl->PageRow, 1);
    // The grid is centred.
    const int totalW = c.columns * c.w + (c.columns + 1) * 30;
    EXPECT_EQ(ctl->DeltaX, std::max(0, (c.clientW - totalW) / 2));
    EXPECT_EQ(ctl->BackBuffer().size(), QSize(c.clientW, c.clientH));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LayoutModes,
    ::testing::Values(ModeCase{"FitToWidth", &TRaduZovovaz::ViewFitToWidth, 1200, 800, true, 1.3762255f, 1123, 1453, 1},
                      ModeCase{"TwoPages", &TRaduZovovaz::ViewTwoPage, 1200, 800, false, 0.6697304f, 546, 707, 2},
                      ModeCase{"FourPages", &TRaduZovovaz::ViewFourPage, 1200, 800, false, 0.3164828f, 258, 334, 4},
                      ModeCase{"WholePage", &TRaduZovovaz::ViewWholePage, 1200, 800, false, 0.6846591f, 559, 723, 1},
                      ModeCase{"ActualSize", &TRaduZovovaz::ViewActualSize, 1200, 800, true, 1.0f, 816, 1056, 1},
                      ModeCase{"ActualSizeWide", &TRaduZovovaz::ViewActualSize, 1900, 800, true, 1.0f, 816, 1056, 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PreviewTest, ZoomOutStopsAtTheFloatNearestToATenth)
{
    SetClient(1200, 800, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomOut);
    ctl->SetMagnification(1.0f);
    for (int i = 0; i < 9; ++i)
        ClickClient(PageRect(0).center());
    EXPECT_EQ(ctl->Magnification(), 0.1f);
    const int before = changes;
    ClickClient(PageRect(0).center());
    EXPECT_EQ(ctl->Magnification(), 0.1f);
    // The click selects page 0 again (no change) and refuses the zoom: no layout.
    EXPECT_EQ(changes, before);
}

TEST_F(PreviewTest, ZoomInNeverReachesFive)
{
    SetClient(1200, 800, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomIn);
    float last = ctl->Magnification();
    for (int i = 0; i < 60; ++i) {
        ClickClient(PageRect(0).topLeft() + QPoint(5, 5));
        ASSERT_LT(ctl->Magnification(), 5.0f);
        ASSERT_GE(ctl->Magnification(), last);
        last = ctl->Magnification();
    }
    EXPECT_GT(last, 4.85f);
}

TEST_F(PreviewTest, ZoomClickAfterFitToWidthKeepsItsMagnificationOnResize)
{
    SetClient(1200, 800, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomIn);
    ctl->ViewFitToWidth();
    const float fit = ctl->Magnification();
    EXPECT_EQ(ctl->LastZoom, zmFitToWidth);
    ClickClient(PageRect(0).center());
    EXPECT_EQ(ctl->LastZoom, zmCustom);
    EXPECT_FLOAT_EQ(ctl->Magnification(), float(double(fit) + 0.1));
    const float zoomed = ctl->Magnification();
    SetClient(900, 700, true, true);
    EXPECT_EQ(ctl->Magnification(), zoomed);
}

TEST_F(PreviewTest, ZoomClickKeepsTheClickedPointInTheMiddle)
{
    SetClient(1200, 800, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomIn);
    const QRect before = PageRect(0);
    const QPoint click = before.topLeft() + QPoint(before.width() / 2, 600);
    ClickClient(click);
    // The anchor is the clicked page point; after the zoom it lies in the
    // middle of the client height (the horizontal bar is needed too now).
    const TPageAnchor a = ctl->PageAnchor();
    EXPECT_EQ(a.Page, 0);
    const QRect after = PageRect(0);
    const int y = after.top() + int(std::nearbyint(a.Y * double(ctl->Magnification())));
    EXPECT_NEAR(y, ctl->ClientHeight() / 2, 1);
}

TEST_F(PreviewTest, ClicksBesideThePagesClearTheAnchorAndChangeNothing)
{
    SetClient(1200, 800, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomIn);
    ctl->ViewFitToWidth();
    ctl->SetPageIndex(0);
    const float mag = ctl->Magnification();
    const QRect page = PageRect(0);
    for (QPoint p : {QPoint(page.right() + 11, page.top() + 50), // the gap right of the page
                     QPoint(page.left() - 5, page.top() + 50),   // left of the grid
                     QPoint(page.left() + 50, page.top() - 10)}) { // the gap above
        ClickClient(p);
        EXPECT_EQ(ctl->PageAnchor(), (TPageAnchor{-1, -1, -1})) << p.x() << "," << p.y();
        EXPECT_EQ(ctl->PageIndex(), 0);
        EXPECT_EQ(ctl->Magnification(), mag);
    }
}

TEST_F(PreviewTest, ClickRightOfACentredColumnHitsNoPage)
{
    SetClient(1900, 800, true);
    AddPages(1);
    ctl->ViewWholePage(); // one column, centred
    ASSERT_EQ(ctl->PageCol, 1);
    ASSERT_GT(ctl->DeltaX, 0);
    const QRect page = PageRect(0);
    // Far enough right to be a whole cell away: column 1 of a one-column grid.
    ClickClient(QPoint(page.right() + 40 + page.width() / 2, page.center().y()));
    EXPECT_EQ(ctl->PageAnchor(), (TPageAnchor{-1, -1, -1}));
    EXPECT_EQ(ctl->PageIndex(), -1);
}

TEST_F(PreviewTest, AnEmptyCellAnchorsToItsNumberAndFramesNothing)
{
    SetClient(1200, 800, false);
    AddPages(3);
    ctl->ViewTwoPage();
    ASSERT_EQ(ctl->PageCol, 2);
    ASSERT_EQ(ctl->PageRow, 2);
    const QRect page2 = PageRect(2);
    // Page 2 lies at column 0, row 1.
    EXPECT_EQ(page2.left(), 30 + ctl->DeltaX - ctl->HorzOffset);
    EXPECT_EQ(page2.top(), page2.height() + 60 - ctl->VertOffset);
    const QPoint inEmptyCell = PageRect(1).center() + QPoint(0, page2.height() + 30);
    ctl->DropAnchor(inEmptyCell.x(), inEmptyCell.y());
    EXPECT_EQ(ctl->PageAnchor().Page, 3);
    ClickClient(inEmptyCell);
    EXPECT_EQ(ctl->PageIndex(), 3);
    ctl->DoPaint();
    const QImage &buffer = ctl->BackBuffer();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(buffer.pixel(PageRect(i).topLeft() + QPoint(20, 0)), qRgb(0, 0, 0)) << "page " << i;
}

TEST_F(PreviewTest, TheSelectedPageIsOutlinedRedTheOthersBlack)
{
    SetClient(1200, 800, false);
    AddPages(3);
    ctl->ViewFourPage();
    ctl->SetColor(QColor(0, 0, 200));
    auto outline = [&](int i) { return ctl->BackBuffer().pixel(PageRect(i).topLeft() + QPoint(10, 0)); };
    ctl->DoPaint();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(outline(i), qRgb(0, 0, 0));
    ctl->SetPageIndex(1);
    EXPECT_EQ(outline(0), qRgb(0, 0, 0));
    EXPECT_EQ(outline(1), qRgb(255, 0, 0));
    EXPECT_EQ(outline(2), qRgb(0, 0, 0));
    // Page interior white, shadow black, background the control's colour.
    const QRect r = PageRect(0);
    const QImage &buffer = ctl->BackBuffer();
    EXPECT_EQ(buffer.pixel(r.center().x(), r.top() + 5), qRgb(255, 255, 255));
    EXPECT_EQ(buffer.pixel(r.right() + 2, r.center().y()), qRgb(0, 0, 0));
    EXPECT_EQ(buffer.pixel(r.right() + 2, r.top() + 1), qRgb(0, 0, 200));
    EXPECT_EQ(buffer.pixel(r.right() + 6, r.center().y()), qRgb(0, 0, 200));
    // The recorded drawing appears, scaled: the mark at (100..300, 100..200).
    const double m = ctl->Magnification();
    EXPECT_EQ(buffer.pixel(r.left() + int(200 * m), r.top() + int(150 * m)), qRgb(0, 0, 0));
}

TEST_F(PreviewTest, WithoutPagesOnlyTheBackgroundShows)
{
    SetClient(1200, 800, true);
    AddPages(2);
    ctl->ViewActualSize();
    ASSERT_TRUE(ctl->VertScrollBar()->isVisibleTo(ctl.get()));
    changes = 0;
    ctl->Clear();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(ctl->VertScrollBar()->isVisibleTo(ctl.get()));
    EXPECT_FALSE(ctl->HorzScrollBar()->isVisibleTo(ctl.get()));
    const QImage &buffer = ctl->BackBuffer();
    const QRgb bg = ctl->Color().rgb();
    for (int y = 0; y < buffer.height(); y += 37)
        for (int x = 0; x < buffer.width(); x += 41)
            ASSERT_EQ(buffer.pixel(x, y), bg);
}

struct ScrollCase {
    int code;
    int expected; // from an offset of 100
};

class ScrollCodes : public PreviewTest, public ::testing::WithParamInterface<ScrollCase> {};

TEST_P(ScrollCodes, MoveTheVerticalOffset)
{
    SetClient(1200, 800, true);
    AddPages(2);
    ctl->ViewActualSize();
    ASSERT_GT(ctl->MaxVScroll, 200);
    ctl->WMMouseWheel(-100);
    ASSERT_EQ(ctl->VertOffset, 100);
    ctl->WMVScroll(GetParam().code);
    EXPECT_EQ(ctl->VertOffset, GetParam().expected);
    EXPECT_EQ(ctl->VertScrollBar()->value(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, ScrollCodes,
                         ::testing::Values(ScrollCase{0, 95}, ScrollCase{1, 105}, ScrollCase{2, 80}, ScrollCase{3, 120},
                                           ScrollCase{6, 100}, ScrollCase{7, 100}, ScrollCase{8, 100}));

TEST_F(PreviewTest, ScrollingStopsAtBothEnds)
{
    SetClient(1200, 800, true, true);
    AddPages(1);
    ctl->SetPreviewMode(pmZoomIn);
    ctl->SetMagnification(2.0f);
    ASSERT_GT(ctl->MaxHScroll, 0);
    ctl->WMMouseWheel(100000);
    EXPECT_EQ(ctl->VertOffset, 0);
    ctl->WMMouseWheel(-100000);
    EXPECT_EQ(ctl->VertOffset, ctl->MaxVScroll);
    ctl->WMMouseWheel(-120);
    EXPECT_EQ(ctl->VertOffset, ctl->MaxVScroll);
    for (int i = 0; i < 2000; ++i)
        ctl->WMHScroll(3);
    EXPECT_EQ(ctl->HorzOffset, ctl->MaxHScroll);
    // The bar's own actions come through the same handler.
    ctl->HorzScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(ctl->HorzOffset, ctl->MaxHScroll);
    ctl->HorzScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(ctl->HorzOffset, ctl->MaxHScroll - 5);
    EXPECT_EQ(ctl->HorzScrollBar()->value(), ctl->MaxHScroll - 5);
}

TEST_F(PreviewTest, DraggingMovesTheContentWithTheMouse)
{
    SetClient(1200, 800, true, true);
    AddPages(1);
    ctl->SetPreviewMode(pmDrag);
    ctl->SetPreviewMode(pmZoomIn); // custom zoom
    ctl->SetMagnification(2.0f);
    ctl->SetPreviewMode(pmDrag);
    ctl->WMMouseWheel(-300);
    const int h0 = ctl->HorzOffset, v0 = ctl->VertOffset;
    const QPoint start(600, 400);
    const QPoint o = ctl->contentsRect().topLeft();
    QTest::mousePress(ctl.get(), Qt::LeftButton, Qt::NoModifier, start + o);
    EXPECT_TRUE(ctl->IsDragging);
    QMouseEvent move(QEvent::MouseMove, QPointF(start + o + QPoint(-40, 30)), QPointF(), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(ctl.get(), &move);
    EXPECT_EQ(ctl->HorzOffset, std::min(ctl->MaxHScroll, h0 + 40));
    EXPECT_EQ(ctl->VertOffset, v0 - 30);
    QTest::mouseRelease(ctl.get(), Qt::RightButton, Qt::NoModifier, start + o);
    EXPECT_FALSE(ctl->IsDragging);
}

TEST_F(PreviewTest, PreviewModesSetCursorAndRaiseOneChange)
{
    changes = 0;
    ctl->SetPreviewMode(pmNormal);
    EXPECT_EQ(changes, 0);
    ctl->SetPreviewMode(pmDrag);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(ctl->cursor().hotSpot(), QPoint(9, 9));
    ctl->SetPreviewMode(pmZoomIn);
    EXPECT_EQ(ctl->cursor().hotSpot(), QPoint(6, 5));
    EXPECT_EQ(ctl->LastZoom, zmCustom);
    ctl->SetPreviewMode(pmNormal);
    EXPECT_EQ(ctl->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(changes, 3);
    // Each cursor is a two-colour 32 x 32 picture with something drawn.
    for (const char *name : {"CR_HANDDRAG", "CR_ZOOMIN", "CR_ZOOMOUT"}) {
        const QCursor c = LoadPreviewCursor(QString::fromLatin1(name));
        ASSERT_EQ(c.shape(), Qt::BitmapCursor) << name;
        const QImage mask = c.mask().toImage();
        EXPECT_EQ(mask.size(), QSize(32, 32));
        int drawn = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                drawn += mask.pixelIndex(x, y) != 0 ? 1 : 0;
        EXPECT_GT(drawn, 100) << name;
        EXPECT_LT(drawn, 700) << name;
    }
    // The zoom-in glass has a plus: more black than the zoom-out one.
    auto black = [](const QCursor &c) {
        const QImage b = c.bitmap().toImage();
        int n = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                n += b.pixelIndex(x, y) != 0 ? 1 : 0;
        return n;
    };
    EXPECT_GT(black(LoadPreviewCursor(QStringLiteral("CR_ZOOMIN"))), black(LoadPreviewCursor(QStringLiteral("CR_ZOOMOUT"))));
}

TEST_F(PreviewTest, ANarrowClientKeepsOneColumnAndDrawsNothingBroken)
{
    for (int w : {1, 20, 50, 77, 80}) {
        SetClient(w, 300, false);
        if (ctl->PageCount() == 0)
            AddPages(3);
        ctl->ViewFourPage();
        ctl->Recalculate();
        EXPECT_EQ(ctl->PageCol, 1) << w;
        ctl->DoPaint();
        ClickClient(QPoint(w / 2, 40));
    }
}

} // namespace
