#include "widgets/Controls.h"

#include <QPainter>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <functional>

TPanel::TPanel(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
}

void TPanel::SetCaption(const QString &caption)
{
    if (caption_ == caption)
        return;
    caption_ = caption;
    update();
}

void TPanel::SetCaptionBelow(QWidget *child)
{
    captionBelow_ = child;
    update();
}

QRect TPanel::CaptionArea() const
{
    QRect area = rect();
    if (captionBelow_ && captionBelow_->isVisible())
        area.setTop(std::min(area.bottom(), captionBelow_->geometry().bottom() + 1));
    return area;
}

void TPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(CaptionArea(), Qt::AlignCenter | Qt::TextWordWrap, caption_);
}

TPathLabel::TPathLabel(QWidget *parent) : QLabel(parent) {}

void TPathLabel::SetPath(const QString &path)
{
    setText(path);
    setToolTip(path);
}

QString TPathLabel::ShownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TPathLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    p.drawText(contentsRect(), int(alignment()), ShownText());
}

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::SetPicture(const QImage &picture)
{
    picture_ = picture;
    update();
}

void TImage::Clear()
{
    picture_ = QImage();
    update();
}

void TImage::SetStretch(bool stretch)
{
    if (stretch_ == stretch)
        return;
    stretch_ = stretch;
    update();
}

void TImage::paintEvent(QPaintEvent *)
{
    if (picture_.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (stretch_)
        p.drawImage(rect(), picture_);
    else
        p.drawImage(QPoint(0, 0), picture_);
}

TGroupBox::TGroupBox(const QString &title, QColor captionColor, QWidget *parent)
    : QGroupBox(title, parent), captionColor_(captionColor)
{
}

QColor TGroupBox::CaptionColor() const
{
    const QColor window = palette().color(QPalette::Window);
    if (window.lightness() >= 128)
        return captionColor_;
    // On a dark background: the same hue, light enough to read.
    QColor c = captionColor_.toHsl();
    return QColor::fromHsl(c.hslHue(), std::max(c.hslSaturation(), 150), 170);
}

void TGroupBox::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    // Styles take the caption colour either from textColor or from the
    // option's window-text colour; the controls inside keep theirs.
    option.textColor = CaptionColor();
    option.palette.setColor(QPalette::WindowText, option.textColor);
    p.drawComplexControl(QStyle::CC_GroupBox, option);
}

TSpeedButton::TSpeedButton(const QIcon &glyph, QWidget *parent) : QToolButton(parent)
{
    setIcon(glyph);
    setIconSize(QSize(28, 28));
    setFixedSize(35, 35);
    setAutoRaise(false);
    setFocusPolicy(Qt::NoFocus);
}

namespace Glyphs {
namespace {

QIcon render(int size, const std::function<void(QPainter &, double)> &draw)
{
    QIcon icon;
    for (bool enabled : {true, false}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing, true);
        draw(p, size / 28.0);
        if (!enabled) {
            p.setCompositionMode(QPainter::CompositionMode_SourceIn);
            p.fillRect(pm.rect(), QColor(150, 150, 150, 160));
        }
        p.end();
        icon.addPixmap(pm, enabled ? QIcon::Normal : QIcon::Disabled);
    }
    return icon;
}

} // namespace

QIcon OpenFolder(int size)
{
    return render(size, [](QPainter &p, double s) {
        p.scale(s, s);
        // Back of the folder with its tab.
        QPainterPath back;
        back.moveTo(2, 8);
        back.lineTo(9, 8);
        back.lineTo(11, 10);
        back.lineTo(22, 10);
        back.lineTo(22, 24);
        back.lineTo(2, 24);
        back.closeSubpath();
        p.setPen(QPen(QColor(140, 100, 0), 1));
        p.setBrush(QColor(230, 180, 40));
        p.drawPath(back);
        // Open front flap.
        QPainterPath front;
        front.moveTo(5, 14);
        front.lineTo(26, 14);
        front.lineTo(22, 24);
        front.lineTo(2, 24);
        front.closeSubpath();
        p.setBrush(QColor(255, 215, 80));
        p.drawPath(front);
        // Green arrow pointing into the folder.
        p.setPen(QPen(QColor(0, 110, 0), 1));
        p.setBrush(QColor(40, 170, 40));
        QPolygonF arrow({{16, 1}, {24, 6}, {16, 11}, {16, 8}, {10, 8}, {10, 4}, {16, 4}});
        p.drawPolygon(arrow);
    });
}

QIcon FloppyDisk(int size)
{
    return render(size, [](QPainter &p, double s) {
        p.scale(s, s);
        p.setPen(QPen(QColor(20, 30, 70), 1));
        p.setBrush(QColor(50, 80, 160));
        QPainterPath body;
        body.moveTo(3, 3);
        body.lineTo(22, 3);
        body.lineTo(25, 6);
        body.lineTo(25, 25);
        body.lineTo(3, 25);
        body.closeSubpath();
        p.drawPath(body);
        p.setBrush(QColor(235, 235, 235));
        p.drawRect(QRectF(7, 3, 13, 8)); // metal shutter
        p.setBrush(QColor(50, 80, 160));
        p.drawRect(QRectF(15, 4, 3, 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6, 15, 16, 10)); // label
        p.setPen(QPen(QColor(160, 160, 160), 1));
        p.drawLine(QPointF(8, 18), QPointF(20, 18));
        p.drawLine(QPointF(8, 21), QPointF(20, 21));
    });
}

QIcon RotateRight(int size)
{
    return render(size, [](QPainter &p, double s) {
        p.scale(s, s);
        const QColor red(210, 30, 30);
        p.setPen(QPen(red, 3.2, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        // Arc from the left, over the top, clockwise down the right side.
        p.drawArc(QRectF(5, 5, 18, 18), 200 * 16, -250 * 16);
        // Arrow head at the end of the arc (about 310 degrees).
        const double a = (200.0 - 250.0) * M_PI / 180.0;
        const QPointF tip(14 + 9 * std::cos(a), 14 - 9 * std::sin(a));
        p.setPen(Qt::NoPen);
        p.setBrush(red);
        QPolygonF head({tip + QPointF(-6, -1), tip + QPointF(4, -3), tip + QPointF(0, 6)});
        p.drawPolygon(head);
    });
}

QIcon FramedPicture(int size)
{
    return render(size, [](QPainter &p, double s) {
        p.scale(s, s);
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.setBrush(QColor(120, 190, 240));
        p.drawRect(QRectF(6, 7, 16, 14));
        // Hills and sun.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 150, 60));
        p.drawPolygon(QPolygonF({{6.5, 20.5}, {11, 13}, {15, 18}, {18, 15}, {21.5, 20.5}}));
        p.setBrush(QColor(250, 210, 40));
        p.drawEllipse(QPointF(18, 10.5), 1.8, 1.8);
        // Arrows at the four corners, pointing outwards.
        p.setPen(QPen(QColor(30, 30, 30), 1.3));
        const QPointF corners[4] = {{4, 5}, {24, 5}, {4, 23}, {24, 23}};
        const QPointF dirs[4] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
        for (int i = 0; i < 4; ++i) {
            const QPointF c = corners[i], d = dirs[i];
            p.drawLine(c, c - 3 * d);
            p.drawLine(c, c - QPointF(2.5 * d.x(), 0));
            p.drawLine(c, c - QPointF(0, 2.5 * d.y()));
        }
    });
}

} // namespace Glyphs
