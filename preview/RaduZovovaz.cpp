#include "preview/RaduZovovaz.h"

#include "platform/CursorTable.h"
#include "platform/Exceptions.h"
#include "platform/Printing.h"
#include "platform/SystemMetrics.h"

#include <QApplication>
#include <QEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

Q_LOGGING_CATEGORY(lcPreview, "quillora.preview", QtWarningMsg)

namespace {

constexpr int kGap = 30;
constexpr int kShadow = 4;
// A page drawn larger than this many pixels on screen is played back
// straight into the buffer instead of being kept drawn.
constexpr qint64 kMaxCachedPixels = 4LL * 1000 * 1000;

// Rounds to the nearest integer, halves to the even neighbour; values
// outside the 32-bit range are clamped, NaN gives 0.
std::int32_t Round(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::nearbyint(v);
    if (r >= double(INT_MAX))
        return INT_MAX;
    if (r <= double(INT_MIN))
        return INT_MIN;
    return std::int32_t(r);
}

std::int32_t clamp32(long long v)
{
    return std::int32_t(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

QString listIndexError(std::int32_t index)
{
    return QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index);
}

bool intersects(const RECT &a, const RECT &b)
{
    return std::max(a.left, b.left) < std::min(a.right, b.right) && std::max(a.top, b.top) < std::min(a.bottom, b.bottom);
}

} // namespace

TRaduZovovaz::TRaduZovovaz(QWidget *AOwner) : QFrame(AOwner)
{
    setObjectName(QStringLiteral("RaduZovovaz"));
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    resize(200, 200);

    platform::SetScreenCursor(crHandDrag, LoadPreviewCursor(QStringLiteral("CR_HANDDRAG")));
    platform::SetScreenCursor(crZoomIn, LoadPreviewCursor(QStringLiteral("CR_ZOOMIN")));
    platform::SetScreenCursor(crZoomOut, LoadPreviewCursor(QStringLiteral("CR_ZOOMOUT")));

    Buffer = QImage(200, 200, QImage::Format_RGB32);
    ClientRect = RECT{0, 0, 200, 200};
    FTitle = QStringLiteral("Printing ...");

    // The scroll bars of the window; both hidden until the layout needs them.
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar *bar : {hbar_, vbar_}) {
        bar->setFocusPolicy(Qt::NoFocus);
        bar->setCursor(Qt::ArrowCursor);
        bar->setRange(0, 0);
        bar->setSingleStep(SmallChange);
        bar->setPageStep(0);
        bar->hide();
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar](int action) { onScrollAction(bar, action); });
        connect(bar, &QAbstractSlider::sliderReleased, this,
                [this, bar] { bar == hbar_ ? WMHScroll(4) : WMVScroll(4); });
    }
    placeScrollBars();
}

TRaduZovovaz::~TRaduZovovaz()
{
    // The canvas records into the last page: it goes first.
    LastCanvas.reset();
}

// ---- pages ---------------------------------------------------------------

QPainter *TRaduZovovaz::BeginPage()
{
    if (LastCanvas)
        EndPage();
    Pages.push_back(std::make_unique<platform::Metafile>(FPageWidth, FPageHeight));
    cache_.resize(Pages.size());
    Recalculate();
    LastCanvas = std::make_unique<platform::MetafileCanvas>(*Pages.back());
    return LastCanvas.get();
}

void TRaduZovovaz::EndPage()
{
    if (LastCanvas) {
        LastCanvas.reset();
        if (!cache_.empty())
            cache_.back() = PageCache{};
    }
    DoPaint();
}

void TRaduZovovaz::Clear()
{
    LastCanvas.reset();
    Pages.clear();
    cache_.clear();
    FPageIndex = -1;
    ResetScrollBar();
    Recalculate();
    DoPaint();
}

std::int32_t TRaduZovovaz::GetPageCount() const
{
    return std::int32_t(Pages.size());
}

const platform::Metafile &TRaduZovovaz::PageAt(std::int32_t Page) const
{
    if (Page < 0 || Page >= GetPageCount())
        throw platform::Exception(listIndexError(Page));
    return *Pages[std::size_t(Page)];
}

void TRaduZovovaz::SetPageIndex(std::int32_t Value)
{
    if (Value == FPageIndex)
        return;
    FPageIndex = Value;
    DoPaint();
    raiseChange();
}

// ---- printing --------------------------------------------------------------

namespace {

// Drops a print job that an error interrupts, so the printer is free again
// and no half-written output is left.
struct JobGuard {
    platform::PrinterService &printer;
    bool done = false;
    ~JobGuard()
    {
        if (!done)
            printer.Abort();
    }
};

} // namespace

void TRaduZovovaz::PrintAll()
{
    if (Pages.empty())
        return;
    platform::PrinterService &printer = platform::Printer();
    printer.SetTitle(FTitle);
    qCDebug(lcPreview) << "PrintAll" << Pages.size() << "pages," << FTitle;
    if (!printer.BeginDoc())
        return;
    JobGuard guard{printer};
    const int n = GetPageCount();
    for (int i = 0; i < n; ++i) {
        playOnSheet(printer.Canvas(), i, QRect(0, 0, printer.PageWidth(), printer.PageHeight()));
        if (i < n - 1)
            printer.NewPage();
    }
    guard.done = true;
    printer.EndDoc();
}

void TRaduZovovaz::PrintPage(std::int32_t Page)
{
    (void)PageAt(Page); // a page outside the store fails before a job starts
    platform::PrinterService &printer = platform::Printer();
    printer.SetTitle(FTitle + QStringLiteral(" - Page ") + QString::number(qint64(Page) + 1));
    qCDebug(lcPreview) << "PrintPage" << Page;
    if (!printer.BeginDoc())
        return;
    JobGuard guard{printer};
    playOnSheet(printer.Canvas(), Page, QRect(0, 0, printer.PageWidth(), printer.PageHeight()));
    guard.done = true;
    printer.EndDoc();
}

void TRaduZovovaz::playOnSheet(QPainter &canvas, std::int32_t Page, const QRect &r)
{
    const platform::Metafile &page = PageAt(Page);
    if (OnPrintUnderlay && r.width() > 0 && r.height() > 0) {
        canvas.save();
        canvas.translate(r.topLeft());
        canvas.scale(double(r.width()) / page.width(), double(r.height()) / page.height());
        OnPrintUnderlay(canvas, Page);
        canvas.restore();
    }
    page.play(canvas, r);
}

void TRaduZovovaz::SaveToMetafile(const QString &FileName, std::int32_t Page)
{
    PageAt(Page).saveToFile(FileName);
}

void TRaduZovovaz::ReadPrinterConfig()
{
    double px = 360, py = 360, pw = 3060, ph = 3960;
    try {
        platform::PrinterService &printer = platform::Printer();
        const int x = printer.GetDeviceCaps(platform::LOGPIXELSX);
        const int y = printer.GetDeviceCaps(platform::LOGPIXELSY);
        const int w = printer.GetDeviceCaps(platform::PHYSICALWIDTH);
        const int h = printer.GetDeviceCaps(platform::PHYSICALHEIGHT);
        // A device that reports no resolution or no sheet is no printer.
        if (x > 0 && y > 0 && w > 0 && h > 0) {
            px = x;
            py = y;
            pw = w;
            ph = h;
        }
    } catch (const std::exception &e) {
        qCDebug(lcPreview) << "ReadPrinterConfig: no printer:" << e.what();
    }
    const double sx = platform::ScreenDeviceCaps(platform::LOGPIXELSX);
    const double sy = platform::ScreenDeviceCaps(platform::LOGPIXELSY);
    FPageWidth = std::max(1, Round(pw / px * sx));
    FPageHeight = std::max(1, Round(ph / py * sy));
}

// ---- layout ----------------------------------------------------------------

int TRaduZovovaz::ClientWidth() const
{
    const QRect r = contentsRect();
    const int v = std::max(0, platform::GetSystemMetrics(platform::SM_CXVSCROLL));
    return std::max(0, r.width() - (vbar_ && vbar_->isVisibleTo(this) ? v : 0));
}

int TRaduZovovaz::ClientHeight() const
{
    const QRect r = contentsRect();
    const int hs = std::max(0, platform::GetSystemMetrics(platform::SM_CYHSCROLL));
    return std::max(0, r.height() - (hbar_ && hbar_->isVisibleTo(this) ? hs : 0));
}

QPoint TRaduZovovaz::clientOrigin() const
{
    return contentsRect().topLeft();
}

int TRaduZovovaz::PageW() const
{
    return Round(double(FPageWidth) * double(FMagnification));
}

int TRaduZovovaz::PageH() const
{
    return Round(double(FPageHeight) * double(FMagnification));
}

float TRaduZovovaz::GetMagnification(TZoomMode Mode) const
{
    const double cw = ClientWidth();
    const double ch = ClientHeight();
    const double v = platform::GetSystemMetrics(platform::SM_CXVSCROLL);
    const double hs = platform::GetSystemMetrics(platform::SM_CYHSCROLL);
    switch (Mode) {
    case zmFitToWidth:
        return float((cw - 60 - v) / FPageWidth);
    case zmActualSize:
        return 1.0f;
    case zmWholePage:
        return float(std::min((cw - 60 - v) / FPageWidth, (ch - 60 - hs) / FPageHeight));
    case zmTwoPages:
        return float(((cw - 90 - v) / 2) / FPageWidth);
    case zmFourPages:
        return float(((cw - 150 - v) / 4) / FPageWidth);
    default:
        return 1.0f;
    }
}

void TRaduZovovaz::SetMagnification(float Value)
{
    // 0.1 in double precision: the float nearest to it lies just above.
    if (double(Value) <= 0.1 || Value >= 5.0f || Value == FMagnification || std::isnan(Value))
        return;
    FMagnification = Value;
    if (FPageAnchor.Page == -1)
        FPageAnchor = TPageAnchor{FPageIndex, FPageWidth / 2, 0};
    Recalculate();
    DoPaint();
}

void TRaduZovovaz::ViewFitToWidth()
{
    IsWholePage = false;
    LastZoom = zmFitToWidth;
    SetMagnification(GetMagnification(zmFitToWidth));
}

void TRaduZovovaz::ViewActualSize()
{
    IsWholePage = false;
    LastZoom = zmActualSize;
    SetMagnification(GetMagnification(zmActualSize));
}

void TRaduZovovaz::ViewWholePage()
{
    IsWholePage = true;
    LastZoom = zmWholePage;
    SetMagnification(GetMagnification(zmWholePage));
}

void TRaduZovovaz::ViewTwoPage()
{
    IsWholePage = false;
    LastZoom = zmTwoPages;
    SetMagnification(GetMagnification(zmTwoPages));
}

void TRaduZovovaz::ViewFourPage()
{
    IsWholePage = false;
    LastZoom = zmFourPages;
    SetMagnification(GetMagnification(zmFourPages));
}

void TRaduZovovaz::SetPreviewMode(TPreviewMode Value)
{
    if (Value == FPreviewMode)
        return;
    FPreviewMode = Value;
    switch (Value) {
    case pmNormal:
        setCursor(Qt::ArrowCursor);
        break;
    case pmDrag:
        setCursor(platform::ScreenCursor(crHandDrag));
        break;
    case pmZoomIn:
        setCursor(platform::ScreenCursor(crZoomIn));
        LastZoom = zmCustom;
        break;
    case pmZoomOut:
        setCursor(platform::ScreenCursor(crZoomOut));
        LastZoom = zmCustom;
        break;
    }
    raiseChange();
}

void TRaduZovovaz::layoutGrid(bool &needHorz, bool &needVert)
{
    // 1. The zoom mode's magnification, without the limits of SetMagnification.
    if (LastZoom != zmCustom)
        FMagnification = GetMagnification(LastZoom);
    // 2.
    const long long w = PageW();
    const long long h = PageH();
    // 3. Columns; a client too narrow for a page of positive width keeps one.
    PageCol = 1;
    if (w > 0) {
        long long r = ClientWidth() - (w + 2 * kGap);
        while (w + kGap < r) {
            ++PageCol;
            r -= w + kGap;
        }
    }
    // 4.
    if (IsWholePage)
        PageCol = 1;
    // 5.
    const std::int32_t count = GetPageCount();
    PageRow = count / PageCol + (count % PageCol != 0 ? 1 : 0);
    // 6.-8.
    const long long totalW = PageCol * w + (PageCol + 1LL) * kGap;
    const long long totalH = PageRow * h + (PageRow + 1LL) * kGap;
    needHorz = ClientWidth() < totalW;
    needVert = ClientHeight() < totalH;
}

void TRaduZovovaz::Recalculate()
{
    bufferCurrent_ = false;
    if (Pages.empty()) {
        FPageIndex = -1;
        ResetScrollBar();
        ShowHideScrollBar(false, false);
        raiseChange();
        return;
    }

    // Showing or hiding a scroll bar changes the client area, which can
    // change the layout and so the bars; settle them first.  A layout that
    // would switch a bar on and off for ever keeps every bar it asked for.
    bool needHorz = false, needVert = false;
    for (int pass = 0;; ++pass) {
        layoutGrid(needHorz, needVert);
        const bool hShown = hbar_->isVisibleTo(this), vShown = vbar_->isVisibleTo(this);
        if (needHorz == hShown && needVert == vShown)
            break;
        if (pass == 2) {
            ShowHideScrollBar(needHorz || hShown, needVert || vShown);
            layoutGrid(needHorz, needVert);
            break;
        }
        ShowHideScrollBar(needHorz, needVert);
    }
    // 7., 8.
    if (!needHorz)
        HorzOffset = 0;
    if (!needVert)
        VertOffset = 0;

    const long long w = PageW();
    const long long h = PageH();
    const long long cw = ClientWidth();
    const long long ch = ClientHeight();
    const long long totalW = PageCol * w + (PageCol + 1LL) * kGap;
    const long long totalH = PageRow * h + (PageRow + 1LL) * kGap;
    // 9., 10.
    DeltaX = clamp32(std::max(0LL, (cw - totalW) / 2));
    MaxHScroll = clamp32(std::max(0LL, totalW - cw));
    MaxVScroll = clamp32(std::max(0LL, totalH - ch));
    // 11., 12.: the anchor to the middle of the client area.
    if (needHorz) {
        const long long c = FPageAnchor.Page % PageCol;
        const long long a = Round(FPageAnchor.X * double(FMagnification));
        const long long x = c * w + (c + 1) * kGap + a - cw / 2;
        HorzOffset = clamp32(std::min<long long>(MaxHScroll, std::max(0LL, x)));
    }
    if (needVert) {
        const long long r = FPageAnchor.Page / PageCol;
        const long long b = Round(FPageAnchor.Y * double(FMagnification));
        const long long y = r * h + (r + 1) * kGap + b - ch / 2;
        VertOffset = clamp32(std::min<long long>(MaxVScroll, std::max(0LL, y)));
    }
    // 13., 14.
    SetScrollBar(SB_HORZ, MaxHScroll, HorzOffset, SIF_RANGE | SIF_POS);
    SetScrollBar(SB_VERT, MaxVScroll, VertOffset, SIF_RANGE | SIF_POS);
    qCDebug(lcPreview) << "Recalculate: magnification" << FMagnification << "columns" << PageCol << "rows" << PageRow
                       << "offsets" << HorzOffset << VertOffset;
    raiseChange();
}

RECT TRaduZovovaz::GetPageRect(std::int32_t Index) const
{
    const long long w = PageW();
    const long long h = PageH();
    const long long c = Index % PageCol;
    const long long r = Index / PageCol;
    RECT rect;
    rect.left = clamp32(c * w + (c + 1) * kGap - HorzOffset + DeltaX);
    rect.top = clamp32(r * h + (r + 1) * kGap - VertOffset);
    rect.right = clamp32(rect.left + w);
    rect.bottom = clamp32(rect.top + h);
    return rect;
}

void TRaduZovovaz::DropAnchor(int X, int Y)
{
    const long long ax = (long long)HorzOffset + X - DeltaX;
    const long long ay = (long long)VertOffset + Y;
    const long long cellW = PageW() + kGap;
    const long long cellH = PageH() + kGap;
    if (cellW <= 0 || cellH <= 0 || !(FMagnification > 0)) {
        FPageAnchor = TPageAnchor{-1, -1, -1};
        return;
    }
    const long long col = ax / cellW;
    const long long row = ay / cellH;
    FPageAnchor.Page = clamp32(PageCol * row + col);
    FPageAnchor.X = Round(double((ax % cellW) - kGap) / FMagnification);
    FPageAnchor.Y = Round(double((ay % cellH) - kGap) / FMagnification);
    if (col >= PageCol || FPageAnchor.X < 0 || FPageAnchor.Y < 0 || FPageAnchor.X >= FPageWidth ||
        FPageAnchor.Y >= FPageHeight)
        FPageAnchor = TPageAnchor{-1, -1, -1};
}

// ---- painting ----------------------------------------------------------------

QColor TRaduZovovaz::Color() const
{
    return color_.isValid() ? color_ : palette().color(QPalette::Dark);
}

void TRaduZovovaz::SetColor(const QColor &Value)
{
    color_ = Value;
    DoPaint();
}

void TRaduZovovaz::drawPage(QPainter &painter, std::size_t index, const QRect &r)
{
    PageCache &cache = cache_[index];
    if (cache.valid && cache.image.size() == r.size()) {
        painter.drawImage(r.topLeft(), cache.image);
        return;
    }
    // A page is kept drawn only once it is shown a second time at the same
    // size: a zoom click draws just what is in sight, scrolling and
    // dragging at that size then reuse the whole drawn page.
    const qint64 pixels = qint64(r.width()) * r.height();
    if (cache.drawnOnce != r.size() || pixels > kMaxCachedPixels) {
        cache = PageCache{};
        cache.drawnOnce = r.size();
        painter.save();
        painter.setClipRect(r.intersected(QRect(0, 0, Buffer.width(), Buffer.height())));
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        Pages[index]->play(painter, r);
        painter.restore();
        return;
    }
    cache.image = QImage(r.size(), QImage::Format_ARGB32_Premultiplied);
    cache.valid = !cache.image.isNull();
    if (!cache.valid) {
        // No memory for it: drawn straight into the buffer.
        cache = PageCache{};
        Pages[index]->play(painter, r);
        return;
    }
    cache.image.fill(Qt::transparent);
    {
        QPainter p(&cache.image);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        Pages[index]->play(p, QRectF(0, 0, r.width(), r.height()));
    }
    painter.drawImage(r.topLeft(), cache.image);
}

void TRaduZovovaz::renderBuffer()
{
    if (Buffer.isNull())
        return;
    QPainter p(&Buffer);
    p.fillRect(Buffer.rect(), Color());
    std::vector<bool> drawn(Pages.size(), false);
    for (std::size_t i = 0; i < Pages.size(); ++i) {
        const RECT R = GetPageRect(std::int32_t(i));
        if (!intersects(R, ClientRect))
            continue;
        const QRect r(R.left, R.top, R.right - R.left, R.bottom - R.top);
        p.fillRect(r, Qt::white);
        p.setPen(QPen(std::int32_t(i) == FPageIndex ? QColor(255, 0, 0) : QColor(Qt::black), 0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.fillRect(QRect(QPoint(R.right, R.top + kShadow), QPoint(R.right + kShadow - 1, R.bottom + kShadow - 1)),
                   Qt::black);
        p.fillRect(QRect(QPoint(R.left + kShadow, R.bottom), QPoint(R.right - 1, R.bottom + kShadow - 1)), Qt::black);
        drawPage(p, i, r);
        drawn[i] = true;
    }
    // Pages out of sight give their drawing back.
    for (std::size_t i = 0; i < cache_.size(); ++i)
        if (!drawn[i])
            cache_[i] = PageCache{};
    bufferCurrent_ = true;
}

void TRaduZovovaz::DoPaint()
{
    renderBuffer();
    update();
}

LRESULT TRaduZovovaz::WMEraseBkGnd()
{
    return 1;
}

void TRaduZovovaz::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event); // the border
    if (!bufferCurrent_)
        renderBuffer();
    QPainter p(this);
    const QPoint o = clientOrigin();
    p.setClipRect(QRect(o, QSize(ClientWidth(), ClientHeight())));
    p.drawImage(o, Buffer);
    // The corner between two shown bars.
    if (hbar_->isVisibleTo(this) && vbar_->isVisibleTo(this))
        p.fillRect(QRect(vbar_->x(), hbar_->y(), vbar_->width(), hbar_->height()), palette().color(QPalette::Window));
}

void TRaduZovovaz::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        bufferCurrent_ = false;
        update();
    }
}

// ---- scroll bars -------------------------------------------------------------

void TRaduZovovaz::placeScrollBars()
{
    const QRect r = contentsRect();
    const int v = std::max(0, platform::GetSystemMetrics(platform::SM_CXVSCROLL));
    const int hs = std::max(0, platform::GetSystemMetrics(platform::SM_CYHSCROLL));
    const bool hShown = hbar_->isVisibleTo(this), vShown = vbar_->isVisibleTo(this);
    const int cw = std::max(0, r.width() - (vShown ? v : 0));
    const int ch = std::max(0, r.height() - (hShown ? hs : 0));
    hbar_->setGeometry(r.left(), r.top() + ch, cw, hs);
    vbar_->setGeometry(r.left() + cw, r.top(), v, ch);
}

void TRaduZovovaz::resizeBuffer()
{
    const int w = ClientWidth(), h = ClientHeight();
    if (Buffer.width() != w || Buffer.height() != h)
        Buffer = (w > 0 && h > 0) ? QImage(w, h, QImage::Format_RGB32) : QImage();
    ClientRect = RECT{0, 0, w, h};
    bufferCurrent_ = false;
}

void TRaduZovovaz::SetScrollBar(int Bar, int Max, int Pos, unsigned Mask)
{
    QScrollBar *bar = Bar == SB_HORZ ? hbar_ : vbar_;
    if (Mask & SIF_RANGE)
        bar->setRange(0, std::max(0, Max));
    if (Mask & SIF_POS) {
        bar->setSliderPosition(Pos);
        bar->setValue(Pos);
    }
}

void TRaduZovovaz::ShowHideScrollBar(bool ShowHorz, bool ShowVert)
{
    if (hbar_->isVisibleTo(this) == ShowHorz && vbar_->isVisibleTo(this) == ShowVert)
        return;
    hbar_->setVisible(ShowHorz);
    vbar_->setVisible(ShowVert);
    // The client area changes at once; the buffer follows it.
    placeScrollBars();
    resizeBuffer();
}

void TRaduZovovaz::ResetScrollBar()
{
    HorzOffset = 0;
    VertOffset = 0;
    SetScrollBar(SB_HORZ, 0, 0, SIF_POS);
    SetScrollBar(SB_VERT, 0, 0, SIF_POS);
}

int TRaduZovovaz::GetScrollTrackPos(int Bar) const
{
    return (Bar == SB_HORZ ? hbar_ : vbar_)->sliderPosition();
}

void TRaduZovovaz::onScrollAction(QScrollBar *bar, int action)
{
    int code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        code = 0;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        code = 1;
        break;
    case QAbstractSlider::SliderPageStepSub:
        code = 2;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        code = 3;
        break;
    case QAbstractSlider::SliderMove:
        code = 5;
        break;
    case QAbstractSlider::SliderToMinimum:
        code = 6;
        break;
    case QAbstractSlider::SliderToMaximum:
        code = 7;
        break;
    default:
        code = 8;
        break;
    }
    if (bar == hbar_) {
        WMHScroll(code);
        bar->setSliderPosition(HorzOffset);
    } else {
        WMVScroll(code);
        bar->setSliderPosition(VertOffset);
    }
}

namespace {

std::int32_t scrolled(std::int32_t offset, std::int32_t maximum, int code, std::int32_t small, std::int32_t large,
                      int trackPos)
{
    switch (code) {
    case 0:
        return std::max(0, offset - small);
    case 1:
        return std::min(maximum, offset + small);
    case 2:
        return std::max(0, offset - large);
    case 3:
        return std::min(maximum, offset + large);
    case 4:
    case 5:
        return trackPos;
    default:
        return offset;
    }
}

} // namespace

void TRaduZovovaz::WMHScroll(int ScrollCode)
{
    const std::int32_t offset =
        scrolled(HorzOffset, MaxHScroll, ScrollCode, SmallChange, LargeChange, GetScrollTrackPos(SB_HORZ));
    if (offset == HorzOffset)
        return;
    HorzOffset = offset;
    SetScrollBar(SB_HORZ, 0, HorzOffset, SIF_POS);
    DoPaint();
}

void TRaduZovovaz::WMVScroll(int ScrollCode)
{
    const std::int32_t offset =
        scrolled(VertOffset, MaxVScroll, ScrollCode, SmallChange, LargeChange, GetScrollTrackPos(SB_VERT));
    if (offset == VertOffset)
        return;
    VertOffset = offset;
    SetScrollBar(SB_VERT, 0, VertOffset, SIF_POS);
    DoPaint();
}

void TRaduZovovaz::WMMouseWheel(int WheelDelta)
{
    const std::int32_t offset =
        clamp32(std::max(0LL, std::min<long long>(MaxVScroll, (long long)VertOffset - WheelDelta)));
    if (offset == VertOffset)
        return;
    VertOffset = offset;
    SetScrollBar(SB_VERT, 0, VertOffset, SIF_POS);
    DoPaint();
}

void TRaduZovovaz::WMSize()
{
    placeScrollBars();
    resizeBuffer();
    Recalculate();
}

void TRaduZovovaz::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    WMSize();
}

// ---- mouse -------------------------------------------------------------------

void TRaduZovovaz::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)
{
    if (Button == Qt::LeftButton) {
        DropAnchor(X, Y);
        if (FPageAnchor.Page != -1) {
            SetPageIndex(FPageAnchor.Page);
            switch (FPreviewMode) {
            case pmNormal:
                break;
            case pmDrag:
                IsDragging = true;
                LastX = X;
                LastY = Y;
                LastOffX = HorzOffset;
                LastOffY = VertOffset;
                break;
            case pmZoomIn: {
                IsWholePage = false;
                LastZoom = zmCustom;
                const double m = double(FMagnification) + 0.1;
                SetMagnification(float(m > 5.0 ? 5.0 : m));
                break;
            }
            case pmZoomOut: {
                IsWholePage = false;
                LastZoom = zmCustom;
                const double m = double(FMagnification) - 0.1;
                SetMagnification(float(m < 0.1 ? 0.1 : m));
                break;
            }
            }
        }
    }
    setFocus(Qt::MouseFocusReason);
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
}

void TRaduZovovaz::MouseMove(Qt::KeyboardModifiers Shift, int X, int Y)
{
    if (IsDragging) {
        const std::int32_t h =
            clamp32(std::max(0LL, std::min<long long>(MaxHScroll, (long long)LastOffX + LastX - X)));
        const std::int32_t v =
            clamp32(std::max(0LL, std::min<long long>(MaxVScroll, (long long)LastOffY + LastY - Y)));
        if (h != HorzOffset || v != VertOffset) {
            HorzOffset = h;
            VertOffset = v;
            SetScrollBar(SB_HORZ, 0, HorzOffset, SIF_POS);
            SetScrollBar(SB_VERT, 0, VertOffset, SIF_POS);
            DoPaint();
        }
    }
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y);
}

void TRaduZovovaz::MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)
{
    IsDragging = false;
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
}

void TRaduZovovaz::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint() - clientOrigin();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
    event->accept();
}

void TRaduZovovaz::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint() - clientOrigin();
    MouseMove(event->modifiers(), p.x(), p.y());
    event->accept();
}

void TRaduZovovaz::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint() - clientOrigin();
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
    event->accept();
}

void TRaduZovovaz::wheelEvent(QWheelEvent *event)
{
    WMMouseWheel(event->angleDelta().y());
    event->accept();
}

void TRaduZovovaz::raiseChange()
{
    if (OnChange)
        OnChange(this);
}
