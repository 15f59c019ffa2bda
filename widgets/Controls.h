// Controls that several windows share: a panel that shows its caption in the
// middle, the picture area, and a glyph button.
#pragma once

#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QToolButton>
#include <QWidget>

// A panel; its caption is drawn centred behind its child controls.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget *parent = nullptr);
    QString Caption() const { return caption_; }
    void SetCaption(const QString &caption);
    // The caption is centred in the part of the panel below |child| (the
    // whole panel without one).
    void SetCaptionBelow(QWidget *child);
    QRect CaptionArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString caption_;
    QPointer<QWidget> captionBelow_;
};

// A label for a path: a path too long for it is shown shortened in the
// middle, and the whole path is its tool tip.
class TPathLabel : public QLabel {
    Q_OBJECT
public:
    explicit TPathLabel(QWidget *parent = nullptr);
    void SetPath(const QString &path);
    // The text as drawn.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The picture area.  With Stretch on, the picture fills the whole area
// without keeping its aspect ratio; otherwise it is drawn at its own size
// in the top-left corner.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent = nullptr);

    const QImage &Picture() const { return picture_; }
    void SetPicture(const QImage &picture);
    void Clear();
    bool Empty() const { return picture_.isNull(); }

    bool Stretch() const { return stretch_; }
    void SetStretch(bool stretch);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage picture_;
    bool stretch_ = false;
};

// A group box whose caption has a colour of its own; its controls keep the
// colours of the active style.  On a dark style the caption colour is
// lightened so it stays readable.
class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    TGroupBox(const QString &title, QColor captionColor, QWidget *parent = nullptr);
    QColor CaptionColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor captionColor_;
};

// A flat 35 x 35 button showing a glyph.
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    TSpeedButton(const QIcon &glyph, QWidget *parent = nullptr);
};

// The glyphs of the main window's buttons, drawn at |size| pixels.
namespace Glyphs {
QIcon OpenFolder(int size = 28);   // open yellow folder with a green arrow
QIcon FloppyDisk(int size = 28);   // save
QIcon RotateRight(int size = 28);  // red circular arrow turning clockwise
QIcon FramedPicture(int size = 28); // landscape picture with corner arrows
} // namespace Glyphs
