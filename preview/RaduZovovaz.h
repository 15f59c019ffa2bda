// TRaduZovovaz: a print-preview control.  Pages are recorded as vector
// pictures (BeginPage, draw on the returned canvas in page pixels, EndPage)
// and shown as white sheets on the control's background colour, in a grid,
// at a chosen magnification, with scroll bars, wheel, zoom clicks and hand
// dragging; PrintAll and PrintPage send them to the selected printer.
#pragma once

#include "platform/Metafile.h"
#include "platform/WinTypes.h"

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QScrollBar;

enum TZoomMode : std::uint8_t { zmFitToWidth = 0, zmActualSize = 1, zmWholePage = 2, zmTwoPages = 3, zmFourPages = 4, zmCustom = 5 };
enum TPreviewMode : std::uint8_t { pmNormal = 0, pmDrag = 1, pmZoomIn = 2, pmZoomOut = 3 };

// A page number and a point on that page in unscaled page pixels;
// (-1, -1, -1) is no anchor.
struct TPageAnchor {
    std::int32_t Page = 0;
    std::int32_t X = 0;
    std::int32_t Y = 0;
    bool operator==(const TPageAnchor &) const = default;
};

// Scroll-bar numbers and masks of SetScrollBar.
constexpr int SB_HORZ = 0;
constexpr int SB_VERT = 1;
constexpr unsigned SIF_RANGE = 0x1;
constexpr unsigned SIF_POS = 0x4;
constexpr unsigned SIF_TRACKPOS = 0x10;

// Numbers of the control's cursors in the application-wide cursor table.
constexpr int crHandDrag = 111;
constexpr int crZoomIn = 112;
constexpr int crZoomOut = 113;

class TRaduZovovaz : public QFrame {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using TMouseEvent = std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(QObject *Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

    explicit TRaduZovovaz(QWidget *AOwner = nullptr);
    ~TRaduZovovaz() override;

    // ---- pages and printing ----
    // Appends a new empty page and returns the canvas that records it, in
    // page pixels; owned by the control until EndPage.  A page still open
    // is ended first.
    QPainter *BeginPage();
    void EndPage();
    void Clear();
    std::int32_t GetPageCount() const;
    void SetPageIndex(std::int32_t Value);
    void PrintAll();
    void PrintPage(std::int32_t Page);
    void SaveToMetafile(const QString &FileName, std::int32_t Page);
    void ReadPrinterConfig();
    // The recorded page |Page| (0 .. PageCount - 1).
    const platform::Metafile &PageAt(std::int32_t Page) const;

    // ---- layout, zoom and navigation ----
    float GetMagnification(TZoomMode Mode) const;
    void SetMagnification(float Value);
    void ViewFitToWidth();
    void ViewActualSize();
    void ViewWholePage();
    void ViewTwoPage();
    void ViewFourPage();
    void SetPreviewMode(TPreviewMode Value);
    void Recalculate();
    RECT GetPageRect(std::int32_t Index) const;
    void DropAnchor(int X, int Y);
    void DoPaint();
    void SetScrollBar(int Bar, int Max, int Pos, unsigned Mask);
    void ShowHideScrollBar(bool ShowHorz, bool ShowVert);
    void ResetScrollBar();
    int GetScrollTrackPos(int Bar) const;

    // ---- window messages ----
    // WM_HSCROLL / WM_VSCROLL with a scroll code (SB_LINEUP = 0 ...).
    void WMHScroll(int ScrollCode);
    void WMVScroll(int ScrollCode);
    // WM_MOUSEWHEEL: +120 per notch turned away from the user.
    void WMMouseWheel(int WheelDelta);
    void WMSize();
    // Reports the background as erased and draws nothing.
    LRESULT WMEraseBkGnd();

    // ---- properties ----
    QString Title() const { return FTitle; }
    void SetTitle(const QString &Value) { FTitle = Value; }
    std::int32_t MarginLeft() const { return FMarginLeft; }
    std::int32_t MarginTop() const { return FMarginTop; }
    std::int32_t MarginRight() const { return FMarginRight; }
    std::int32_t MarginBottom() const { return FMarginBottom; }
    void SetMarginLeft(std::int32_t v) { FMarginLeft = v; }
    void SetMarginTop(std::int32_t v) { FMarginTop = v; }
    void SetMarginRight(std::int32_t v) { FMarginRight = v; }
    void SetMarginBottom(std::int32_t v) { FMarginBottom = v; }
    std::int32_t PageIndex() const { return FPageIndex; }
    std::int32_t PageCount() const { return GetPageCount(); }
    std::int32_t PageWidth() const { return FPageWidth; }
    std::int32_t PageHeight() const { return FPageHeight; }
    float Magnification() const { return FMagnification; }
    TPreviewMode PreviewMode() const { return FPreviewMode; }
    TPageAnchor PageAnchor() const { return FPageAnchor; }
    // Background of the preview: the button-shadow colour of the palette
    // unless set.
    QColor Color() const;
    void SetColor(const QColor &Value);

    TNotifyEvent OnChange;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    // Called by PrintAll and PrintPage for each sheet before its page is
    // drawn, with the canvas in unscaled page pixels: what it draws lies
    // under the page.
    std::function<void(QPainter &Canvas, std::int32_t Page)> OnPrintUnderlay;

    // The client area: the window without its border and scroll bars.
    int ClientWidth() const;
    int ClientHeight() const;
    const QImage &BackBuffer() const { return Buffer; }
    QScrollBar *HorzScrollBar() const { return hbar_; }
    QScrollBar *VertScrollBar() const { return vbar_; }

protected:
    // The base mouse handling, in client coordinates.
    virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    virtual void MouseMove(Qt::KeyboardModifiers Shift, int X, int Y);
    virtual void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void changeEvent(QEvent *event) override;

    // Fields, in declared order.
    TZoomMode LastZoom = zmFitToWidth;
    std::unique_ptr<platform::MetafileCanvas> LastCanvas;
    bool IsWholePage = false;
    QImage Buffer;
    RECT ClientRect{};
    std::int32_t HorzOffset = 0;
    std::int32_t VertOffset = 0;
    std::int32_t MaxHScroll = 0;
    std::int32_t MaxVScroll = 0;
    std::int32_t SmallChange = 5;
    std::int32_t LargeChange = 20;
    std::int32_t PageCol = 1;
    std::int32_t PageRow = 0;
    std::int32_t DeltaX = 0;
    bool IsDragging = false;
    std::int32_t LastX = 0;
    std::int32_t LastY = 0;
    std::int32_t LastOffX = 0;
    std::int32_t LastOffY = 0;
    std::vector<std::unique_ptr<platform::Metafile>> Pages;
    std::int32_t FPageIndex = -1;
    std::int32_t FPageWidth = 816;
    std::int32_t FPageHeight = 1056;
    QString FTitle;
    std::int32_t FMarginLeft = 96;
    std::int32_t FMarginTop = 96;
    std::int32_t FMarginRight = 96;
    std::int32_t FMarginBottom = 96;
    float FMagnification = 1.0f;
    TPageAnchor FPageAnchor{};
    TPreviewMode FPreviewMode = pmNormal;

private:
    struct PageCache {
        QImage image; // the page drawn at image.size(), transparent where nothing was drawn
        bool valid = false;
        QSize drawnOnce; // size at which the page was last drawn straight into the buffer
    };

    void raiseChange();
    // W and H: the size of a page on screen.
    int PageW() const;
    int PageH() const;
    // Steps 1 to 6 of Recalculate and the scroll bars the layout needs.
    void layoutGrid(bool &needHorz, bool &needVert);
    // Places the scroll bars and keeps the back buffer at the client size.
    void placeScrollBars();
    void resizeBuffer();
    void renderBuffer();
    void drawPage(QPainter &painter, std::size_t index, const QRect &r);
    void onScrollAction(QScrollBar *bar, int action);
    QPoint clientOrigin() const;
    void printOnePage(std::int32_t Page);
    // The page |Page| stretched over the sheet |r| of the printer's canvas,
    // with what OnPrintUnderlay draws under it.
    void playOnSheet(QPainter &canvas, std::int32_t Page, const QRect &r);

    QScrollBar *hbar_ = nullptr;
    QScrollBar *vbar_ = nullptr;
    QColor color_;
    bool bufferCurrent_ = false;
    std::vector<PageCache> cache_;
};

// Loads one of the control's cursors by resource name: "CR_HANDDRAG" (an
// open hand), "CR_ZOOMIN" and "CR_ZOOMOUT" (a magnifying glass with a plus
// or a minus sign); the arrow for any other name.
QCursor LoadPreviewCursor(const QString &Name);
