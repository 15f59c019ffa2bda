// "Scanner-Einstellungen": the source's own dialog.
//
// The usual settings on top (mode, resolution, paper size and scan area,
// paper source, brightness and contrast where the device has them), a
// preview on which the scan area can be dragged, every other option of the
// device below in its groups, and "Scannen", "Abbrechen", "Schließen" with a
// progress bar.  The dialog never talks to the device: it shows the option
// values its session hands it and passes the person's changes to the
// session, which has them set on the worker.
#pragma once

#include "sources/sane/Options.h"
#include "sources/sane/TwainValues.h"

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <map>
#include <string>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSlider;
class QVBoxLayout;

namespace sane_source {

class Page;
class Session;

// The image of a page, for showing it.
QImage pageImage(const Page &page);

// The preview picture with the scan area drawn on it; the person drags a
// new area with the mouse.  Areas are fractions (0 to 1) of the whole area.
class PreviewArea : public QWidget {
    Q_OBJECT
public:
    explicit PreviewArea(QWidget *parent = nullptr);
    void setImage(const QImage &image);
    bool hasImage() const { return !image_.isNull(); }
    // Width over height of the whole scan area.
    void setAspect(double aspect);
    void setArea(const QRectF &fractions);
    QRectF area() const { return area_; }
    // Where the whole area is drawn.
    QRectF pictureRect() const;
    QSize sizeHint() const override { return {260, 340}; }

signals:
    void areaDragged(const QRectF &fractions);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF toFraction(const QPointF &p) const;

    QImage image_;
    double aspect_ = 210.0 / 297.0;
    QRectF area_{0, 0, 1, 1};
    bool dragging_ = false;
    QPointF dragStart_;
    QRectF dragArea_;
};

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    ScanDialog(Session &session, const QString &deviceName, const OptionSnapshot &options, const QString &paper,
               bool settingsOnly);
    ~ScanDialog() override;

    // The session is gone (or about to be): no more requests.
    void detach();

    void updateOptions(const OptionSnapshot &options);
    void setBusy(bool busy, bool preview);
    void setProgress(double share);
    void pageReady(int pages);
    void showPreview(const Page &page);
    void showError(const QString &text);
    void showStatus(const QString &text);

    QString statusText() const;
    bool busy() const { return busy_; }
    PreviewArea *preview() const { return preview_; }

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void buildAdvanced();
    void fillTop();
    void updateAdvancedValues();
    QWidget *optionWidget(const OptionInfo &o);
    void setOptionFromWidget(const std::string &name, const OptionValue &value);
    bool fullArea(double area[4]) const;
    bool currentArea(double area[4]) const;
    double dpi() const;
    void areaEdited();
    void paperChosen(int index);
    void previewDragged(const QRectF &fractions);
    void updatePreviewArea();
    std::string structureKey(const OptionSnapshot &snap) const;
    void setControlsEnabled(bool enabled);

    QPointer<Session> session_;
    OptionSnapshot options_;
    QString paper_;
    bool settingsOnly_ = false;
    bool busy_ = false;
    bool updating_ = false;

    std::vector<ModeChoice> modes_;
    std::vector<double> resolutions_;
    std::vector<std::string> sources_; // option value per entry; "" for "Automatisch"

    QLabel *deviceLabel_ = nullptr;
    QComboBox *mode_ = nullptr;
    QComboBox *resolution_ = nullptr;
    QComboBox *paperSize_ = nullptr;
    QDoubleSpinBox *area_[4] = {};
    QComboBox *source_ = nullptr;
    QSlider *brightness_ = nullptr;
    QSlider *contrast_ = nullptr;
    QLabel *brightnessLabel_ = nullptr;
    QLabel *contrastLabel_ = nullptr;
    QWidget *topBox_ = nullptr;
    QScrollArea *advancedScroll_ = nullptr;
    QWidget *advanced_ = nullptr;
    std::map<std::string, QWidget *> advancedWidgets_;
    std::string advancedKey_;
    PreviewArea *preview_ = nullptr;
    QPushButton *previewButton_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *scan_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QPushButton *close_ = nullptr;
};

// Progress while scanning without the dialog (ShowUI false, indicators on).
class ProgressWindow : public QWidget {
    Q_OBJECT
public:
    ProgressWindow(Session &session, const QString &deviceName);
    void setProgress(double share);

private:
    QPointer<Session> session_;
    QProgressBar *bar_ = nullptr;
};

} // namespace sane_source
