#include "platform/Metafile.h"

#include "platform/FileAccess.h"
#include "platform/Picture.h"
#include "platform/SystemMetrics.h"

#include <QBuffer>
#include <QFile>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPicture>
#include <QPixmap>
#include <QTextItem>

#include <cerrno>
#include <climits>
#include <cmath>
#include <variant>
#include <vector>


namespace platform {
namespace {

// Largest side of a page read from a file; keeps play-back arithmetic sane.
constexpr int kMaxExtent = 1 << 20;

struct SetPen { QPen pen; };
struct SetBrush { QBrush brush; };
struct SetBrushOrigin { QPointF origin; };
struct SetFont { QFont font; };
struct SetBackground { QBrush brush; };
struct SetBackgroundMode { Qt::BGMode mode; };
struct SetTransform { QTransform transform; };
struct SetClipPath { QPainterPath path; Qt::ClipOperation op; };
struct SetClipRegion { QRegion region; Qt::ClipOperation op; };
struct SetClipEnabled { bool enabled; };
struct SetHints { QPainter::RenderHints hints; };
struct SetComposition { QPainter::CompositionMode mode; };
struct SetOpacity { qreal opacity; };
struct DrawPath { QPainterPath path; };
struct DrawPolygon { QPolygonF polygon; QPaintEngine::PolygonDrawMode mode; };
struct DrawRects { std::vector<QRectF> rects; };
struct DrawLines { std::vector<QLineF> lines; };
struct DrawEllipse { QRectF rect; };
struct DrawPoints { QPolygonF points; };
struct DrawImage { QRectF target; QImage image; QRectF source; Qt::ImageConversionFlags flags; };
struct DrawTiled { QRectF target; QPixmap pixmap; QPointF offset; };
struct DrawText { QPointF baseline; QString text; QFont font; };

using Command = std::variant<SetPen, SetBrush, SetBrushOrigin, SetFont, SetBackground, SetBackgroundMode, SetTransform,
                             SetClipPath, SetClipRegion, SetClipEnabled, SetHints, SetComposition, SetOpacity, DrawPath,
                             DrawPolygon, DrawRects, DrawLines, DrawEllipse, DrawPoints, DrawImage, DrawTiled, DrawText>;

int screenDpiX()
{
    const int dpi = ScreenDeviceCaps(LOGPIXELSX);
    return dpi > 0 ? dpi : 96;
}

int screenDpiY()
{
    const int dpi = ScreenDeviceCaps(LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

} // namespace

struct Metafile::Data {
    int width = 1;
    int height = 1;
    int dpiX = 96;
    int dpiY = 96;
    std::vector<Command> commands;
};

// The paint engine that appends every state change and drawing to a page.
class MetafileEngine : public QPaintEngine {
public:
    explicit MetafileEngine(Metafile::Data &data) : QPaintEngine(AllFeatures), data_(data) {}

    bool begin(QPaintDevice *) override
    {
        setActive(true);
        return true;
    }
    bool end() override
    {
        setActive(false);
        return true;
    }
    Type type() const override { return User; }

    void updateState(const QPaintEngineState &state) override
    {
        const DirtyFlags f = state.state();
        // The transform first: a clip is given in the coordinates of the
        // transform that holds when it is set.
        if (f & DirtyTransform)
            add(SetTransform{state.transform()});
        if (f & DirtyPen)
            add(SetPen{state.pen()});
        if (f & DirtyBrush)
            add(SetBrush{state.brush()});
        if (f & DirtyBrushOrigin)
            add(SetBrushOrigin{state.brushOrigin()});
        if (f & DirtyFont)
            add(SetFont{pixelSized(state.font())});
        if (f & DirtyBackground)
            add(SetBackground{state.backgroundBrush()});
        if (f & DirtyBackgroundMode)
            add(SetBackgroundMode{state.backgroundMode()});
        if (f & DirtyHints)
            add(SetHints{state.renderHints()});
        if (f & DirtyCompositionMode)
            add(SetComposition{state.compositionMode()});
        if (f & DirtyOpacity)
            add(SetOpacity{state.opacity()});
        if (f & DirtyClipPath)
            add(SetClipPath{state.clipPath(), state.clipOperation()});
        if (f & DirtyClipRegion)
            add(SetClipRegion{state.clipRegion(), state.clipOperation()});
        if (f & DirtyClipEnabled)
            add(SetClipEnabled{state.isClipEnabled()});
    }

    void drawPath(const QPainterPath &path) override { add(DrawPath{path}); }
    void drawPolygon(const QPointF *points, int pointCount, PolygonDrawMode mode) override
    {
        if (pointCount > 0)
            add(DrawPolygon{QPolygonF(QList<QPointF>(points, points + pointCount)), mode});
    }
    void drawPolygon(const QPoint *points, int pointCount, PolygonDrawMode mode) override
    {
        QPolygonF polygon;
        polygon.reserve(pointCount);
        for (int i = 0; i < pointCount; ++i)
            polygon.append(QPointF(points[i]));
        if (pointCount > 0)
            add(DrawPolygon{polygon, mode});
    }
    void drawRects(const QRectF *rects, int rectCount) override
    {
        if (rectCount > 0)
            add(DrawRects{std::vector<QRectF>(rects, rects + rectCount)});
    }
    void drawRects(const QRect *rects, int rectCount) override
    {
        std::vector<QRectF> all;
        all.reserve(std::size_t(std::max(rectCount, 0)));
        for (int i = 0; i < rectCount; ++i)
            all.emplace_back(rects[i]);
        if (!all.empty())
            add(DrawRects{std::move(all)});
    }
    void drawLines(const QLineF *lines, int lineCount) override
    {
        if (lineCount > 0)
            add(DrawLines{std::vector<QLineF>(lines, lines + lineCount)});
    }
    void drawLines(const QLine *lines, int lineCount) override
    {
        std::vector<QLineF> all;
        all.reserve(std::size_t(std::max(lineCount, 0)));
        for (int i = 0; i < lineCount; ++i)
            all.emplace_back(lines[i]);
        if (!all.empty())
            add(DrawLines{std::move(all)});
    }
    void drawEllipse(const QRectF &r) override { add(DrawEllipse{r}); }
    void drawEllipse(const QRect &r) override { add(DrawEllipse{QRectF(r)}); }
    void drawPoints(const QPointF *points, int pointCount) override
    {
        if (pointCount > 0)
            add(DrawPoints{QPolygonF(QList<QPointF>(points, points + pointCount))});
    }
    void drawPoints(const QPoint *points, int pointCount) override
    {
        QPolygonF all;
        for (int i = 0; i < pointCount; ++i)
            all.append(QPointF(points[i]));
        if (pointCount > 0)
            add(DrawPoints{all});
    }
    void drawPixmap(const QRectF &r, const QPixmap &pm, const QRectF &sr) override
    {
        // Kept as an image: a printer and the play-back thread of no screen
        // need no window-system pixmap.
        add(DrawImage{r, pm.toImage(), sr, Qt::AutoColor});
    }
    void drawImage(const QRectF &r, const QImage &image, const QRectF &sr, Qt::ImageConversionFlags flags) override
    {
        // Implicitly shared: the page keeps the picture without copying it.
        add(DrawImage{r, image, sr, flags});
    }
    void drawTiledPixmap(const QRectF &r, const QPixmap &pixmap, const QPointF &s) override
    {
        add(DrawTiled{r, pixmap, s});
    }
    void drawTextItem(const QPointF &p, const QTextItem &textItem) override
    {
        add(DrawText{p, textItem.text(), pixelSized(textItem.font())});
    }

private:
    void add(Command &&c) { data_.commands.push_back(std::move(c)); }

    // A font in points is turned into one in pixels of the reference
    // device, so it keeps its size on devices of any resolution.
    QFont pixelSized(QFont font) const
    {
        if (font.pixelSize() <= 0 && font.pointSizeF() > 0) {
            const double px = font.pointSizeF() * data_.dpiY / 72.0;
            font.setPixelSize(std::max(1, int(std::lround(px))));
        }
        return font;
    }

    Metafile::Data &data_;
};

class MetafileCanvas::Device : public QPaintDevice {
public:
    explicit Device(Metafile::Data &data) : data_(data), engine_(data) {}
    ~Device() override = default;
    QPaintEngine *paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth:
            return data_.width;
        case PdmHeight:
            return data_.height;
        case PdmWidthMM:
            return int(std::lround(data_.width * 25.4 / data_.dpiX));
        case PdmHeightMM:
            return int(std::lround(data_.height * 25.4 / data_.dpiY));
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmPhysicalDpiX:
            return data_.dpiX;
        case PdmDpiY:
        case PdmPhysicalDpiY:
            return data_.dpiY;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 0;
        }
    }

private:
    Metafile::Data &data_;
    mutable MetafileEngine engine_;
};

Metafile::Metafile(int width, int height) : d(std::make_unique<Data>())
{
    d->width = std::clamp(width, 1, kMaxExtent);
    d->height = std::clamp(height, 1, kMaxExtent);
    d->dpiX = screenDpiX();
    d->dpiY = screenDpiY();
}

Metafile::~Metafile() = default;
Metafile::Metafile(Metafile &&) noexcept = default;
Metafile &Metafile::operator=(Metafile &&) noexcept = default;

int Metafile::width() const
{
    return d->width;
}

int Metafile::height() const
{
    return d->height;
}

int Metafile::commandCount() const
{
    return int(d->commands.size());
}

void Metafile::play(QPainter &painter, const QRectF &target) const
{
    if (target.width() <= 0 || target.height() <= 0 || !painter.isActive())
        return;
    painter.save();
    const QTransform base = QTransform::fromScale(target.width() / d->width, target.height() / d->height) *
                            QTransform::fromTranslate(target.left(), target.top()) * painter.worldTransform();
    const QRectF page(0, 0, d->width, d->height);
    painter.setWorldTransform(base);
    painter.setClipRect(page, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    const QRegion outerClip = painter.clipRegion();
    const QPainter::RenderHints baseHints =
        painter.renderHints() | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing;
    painter.setRenderHints(baseHints);
    painter.setFont(QFont());

    QTransform current; // the page's own transform
    // Clipping that the page asks to replace or switch off falls back to
    // the page rectangle (and whatever the caller clipped to).
    auto pageClipOnly = [&] {
        painter.setWorldTransform(base);
        painter.setClipRegion(outerClip, Qt::ReplaceClip);
        painter.setWorldTransform(current * base);
    };

    for (const Command &c : d->commands) {
        std::visit(Overloaded{
                       [&](const SetPen &s) { painter.setPen(s.pen); },
                       [&](const SetBrush &s) { painter.setBrush(s.brush); },
                       [&](const SetBrushOrigin &s) { painter.setBrushOrigin(s.origin); },
                       [&](const SetFont &s) { painter.setFont(s.font); },
                       [&](const SetBackground &s) { painter.setBackground(s.brush); },
                       [&](const SetBackgroundMode &s) { painter.setBackgroundMode(s.mode); },
                       [&](const SetTransform &s) {
                           current = s.transform;
                           painter.setWorldTransform(current * base);
                       },
                       [&](const SetClipPath &s) {
                           if (s.op == Qt::ReplaceClip || s.op == Qt::NoClip)
                               pageClipOnly();
                           if (s.op != Qt::NoClip)
                               painter.setClipPath(s.path, Qt::IntersectClip);
                       },
                       [&](const SetClipRegion &s) {
                           if (s.op == Qt::ReplaceClip || s.op == Qt::NoClip)
                               pageClipOnly();
                           if (s.op != Qt::NoClip)
                               painter.setClipRegion(s.region, Qt::IntersectClip);
                       },
                       [&](const SetClipEnabled &s) {
                           if (!s.enabled)
                               pageClipOnly();
                       },
                       [&](const SetHints &s) { painter.setRenderHints(s.hints | baseHints); },
                       [&](const SetComposition &s) { painter.setCompositionMode(s.mode); },
                       [&](const SetOpacity &s) { painter.setOpacity(s.opacity); },
                       [&](const DrawPath &s) { painter.drawPath(s.path); },
                       [&](const DrawPolygon &s) {
                           switch (s.mode) {
                           case QPaintEngine::PolylineMode:
                               painter.drawPolyline(s.polygon);
                               break;
                           case QPaintEngine::WindingMode:
                               painter.drawPolygon(s.polygon, Qt::WindingFill);
                               break;
                           default:
                               painter.drawPolygon(s.polygon, Qt::OddEvenFill);
                               break;
                           }
                       },
                       [&](const DrawRects &s) { painter.drawRects(s.rects.data(), int(s.rects.size())); },
                       [&](const DrawLines &s) { painter.drawLines(s.lines.data(), int(s.lines.size())); },
                       [&](const DrawEllipse &s) { painter.drawEllipse(s.rect); },
                       [&](const DrawPoints &s) { painter.drawPoints(s.points); },
                       [&](const DrawImage &s) { painter.drawImage(s.target, s.image, s.source, s.flags); },
                       [&](const DrawTiled &s) { painter.drawTiledPixmap(s.target, s.pixmap, s.offset); },
                       [&](const DrawText &s) {
                           const QFont kept = painter.font();
                           painter.setFont(s.font);
                           painter.drawText(s.baseline, s.text);
                           painter.setFont(kept);
                       },
                   },
                   c);
    }
    painter.restore();
}

QPicture Metafile::toPicture() const
{
    QPicture picture;
    // The page's extent, not that of what was drawn on it.
    picture.setBoundingRect(QRect(0, 0, d->width, d->height));
    {
        QPainter p(&picture);
        play(p, QRectF(0, 0, d->width, d->height));
    }
    return picture;
}

void Metafile::saveToFile(const QString &path) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!toPicture().save(&buffer))
        throw FileAccessError(FileAccessError::Op::Write, path, EIO);
    buffer.close();
    WriteFileAtomically(path, bytes);
}

Metafile Metafile::fromPicture(const QPicture &picture)
{
    const QRect box = picture.boundingRect();
    if (picture.isNull() || box.width() <= 0 || box.height() <= 0 || box.width() > kMaxExtent ||
        box.height() > kMaxExtent)
        throw MetafileError("Die Metadatei hat keine gültige Größe.");
    Metafile page(box.width(), box.height());
    {
        MetafileCanvas canvas(page);
        canvas.drawPicture(-box.topLeft(), picture);
    }
    return page;
}

Metafile Metafile::loadFromFile(const QString &path)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    QByteArray data(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QPicture picture;
    if (!picture.load(&buffer))
        throw MetafileError(
            QStringLiteral("Die Datei %1 ist keine lesbare Metadatei.").arg(path).toStdString());
    return fromPicture(picture);
}

MetafileCanvas::MetafileCanvas(Metafile &page) : device_(std::make_unique<Device>(*page.d))
{
    begin(device_.get());
}

MetafileCanvas::~MetafileCanvas()
{
    if (isActive())
        end();
}

} // namespace platform
