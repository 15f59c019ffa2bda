#include "sources/sane/ScanDialog.h"

#include "sources/sane/Page.h"
#include "sources/sane/Session.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <QPainterPath>

#include <algorithm>
#include <limits>
#include <cmath>
#include <cstring>
#include <set>

namespace sane_source {

namespace {

const double kStandardResolutions[] = {50, 75, 100, 150, 200, 240, 300, 400, 600, 800, 1200, 2400, 4800, 9600};

// Options the upper part of the dialog shows in its own terms.
bool shownOnTop(const std::string &name)
{
    static const std::set<std::string> top = {opt::mode,  opt::resolution, opt::xResolution, opt::yResolution,
                                              opt::tlx,   opt::tly,        opt::brx,         opt::bry,
                                              opt::source, opt::brightness, opt::contrast,   opt::preview};
    return top.count(name) > 0;
}

QString unitSuffix(SANE_Unit unit)
{
    switch (unit) {
    case SANE_UNIT_PIXEL:
        return QStringLiteral(" px");
    case SANE_UNIT_BIT:
        return QStringLiteral(" Bit");
    case SANE_UNIT_MM:
        return QStringLiteral(" mm");
    case SANE_UNIT_DPI:
        return QStringLiteral(" dpi");
    case SANE_UNIT_PERCENT:
        return QStringLiteral(" %");
    case SANE_UNIT_MICROSECOND:
        return QStringLiteral(" µs");
    default:
        return {};
    }
}

// A number option's range as slider positions.
struct SliderScale {
    double min = 0;
    double step = 1;
    int count = 1;
};

SliderScale sliderScale(const OptionInfo &o)
{
    SliderScale s;
    s.min = wordToDouble(o, o.range.min);
    const double max = wordToDouble(o, o.range.max);
    double q = wordToDouble(o, o.range.quant);
    if (!(q > 0))
        q = o.type == SANE_TYPE_FIXED ? std::max((max - s.min) / 1000.0, 0.01) : 1;
    s.step = q;
    s.count = int(std::clamp(std::floor((max - s.min) / q + 1e-9), 0.0, 100000.0));
    return s;
}

QString numberText(const OptionInfo &o, double v)
{
    return (o.type == SANE_TYPE_FIXED ? QString::number(v, 'f', 2) : QString::number(qint64(std::llround(v)))) +
           unitSuffix(o.unit);
}

QString sourceLabel(const std::string &value, bool firstFeeder)
{
    switch (classifySource(value)) {
    case SourceKind::Flatbed:
        return QStringLiteral("Flachbett");
    case SourceKind::Feeder:
        return firstFeeder ? QStringLiteral("Einzug") : QStringLiteral("Einzug (%1)").arg(QString::fromStdString(value));
    default:
        return QString::fromStdString(value);
    }
}

constexpr const char *kOptionProperty = "saneOption";

} // namespace

QImage pageImage(const Page &page)
{
    if (!page.valid())
        return {};
    const int w = page.width(), h = page.height();
    QImage image;
    switch (page.kind()) {
    case PixelKind::BlackWhite:
        image = QImage(w, h, QImage::Format_Mono);
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        break;
    case PixelKind::Gray:
        image = QImage(w, h, QImage::Format_Grayscale8);
        break;
    case PixelKind::Rgb:
        image = QImage(w, h, QImage::Format_BGR888);
        break;
    }
    if (image.isNull())
        return {};
    const std::size_t bytes = std::min<std::size_t>(page.stride(), std::size_t(image.bytesPerLine()));
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), page.row(y), bytes);
    return image;
}

// ---------------------------------------------------------------------------
// PreviewArea

PreviewArea::PreviewArea(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 200);
    setCursor(Qt::CrossCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewArea::setImage(const QImage &image)
{
    image_ = image;
    update();
}

void PreviewArea::setAspect(double aspect)
{
    if (aspect > 0.05 && aspect < 20)
        aspect_ = aspect;
    update();
}

void PreviewArea::setArea(const QRectF &fractions)
{
    area_ = fractions.normalized() & QRectF(0, 0, 1, 1);
    update();
}

QRectF PreviewArea::pictureRect() const
{
    const QRectF r = QRectF(rect()).adjusted(4, 4, -4, -4);
    double w = r.width(), h = r.height();
    if (w / h > aspect_)
        w = h * aspect_;
    else
        h = w / aspect_;
    return {r.left() + (r.width() - w) / 2, r.top() + (r.height() - h) / 2, w, h};
}

QPointF PreviewArea::toFraction(const QPointF &p) const
{
    const QRectF pic = pictureRect();
    return {std::clamp((p.x() - pic.left()) / pic.width(), 0.0, 1.0),
            std::clamp((p.y() - pic.top()) / pic.height(), 0.0, 1.0)};
}

void PreviewArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF pic = pictureRect();
    painter.fillRect(rect(), palette().window());
    if (image_.isNull()) {
        painter.fillRect(pic, QColor(235, 235, 235));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(pic, image_);
    }
    painter.setPen(QPen(QColor(90, 90, 90), 1));
    painter.drawRect(pic);
    const QRectF a = dragging_ ? dragArea_ : area_;
    const QRectF shown(pic.left() + a.left() * pic.width(), pic.top() + a.top() * pic.height(),
                       a.width() * pic.width(), a.height() * pic.height());
    // Veil what lies outside the scan area.
    QPainterPath outside;
    outside.addRect(pic);
    QPainterPath inside;
    inside.addRect(shown);
    painter.fillPath(outside.subtracted(inside), QColor(255, 255, 255, 150));
    painter.setPen(QPen(QColor(0, 90, 200), 2, Qt::DashLine));
    painter.drawRect(shown);
    // The hint goes over the veil, so that all of it stays legible.
    if (image_.isNull()) {
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(pic, Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("Noch keine Vorschau.\n„Vorschau“ scannt die ganze Fläche."));
    }
}

void PreviewArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    dragging_ = true;
    dragStart_ = toFraction(event->position());
    dragArea_ = QRectF(dragStart_, dragStart_);
    update();
}

void PreviewArea::mouseMoveEvent(QMouseEvent *event)
{
    if (!dragging_)
        return;
    dragArea_ = QRectF(dragStart_, toFraction(event->position())).normalized();
    update();
}

void PreviewArea::mouseReleaseEvent(QMouseEvent *event)
{
    if (!dragging_ || event->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    dragArea_ = QRectF(dragStart_, toFraction(event->position())).normalized();
    const QRectF pic = pictureRect();
    // A click without a drag keeps the area.
    if (dragArea_.width() * pic.width() >= 4 && dragArea_.height() * pic.height() >= 4) {
        area_ = dragArea_;
        emit areaDragged(area_);
    }
    update();
}

// ---------------------------------------------------------------------------
// ScanDialog

ScanDialog::ScanDialog(Session &session, const QString &deviceName, const OptionSnapshot &options,
                       const QString &paper, bool settingsOnly)
    : session_(&session), options_(options), paper_(paper), settingsOnly_(settingsOnly)
{
    setObjectName(QStringLiteral("ScanDialog"));
    setWindowTitle(QStringLiteral("Scanner-Einstellungen"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    build();
    deviceLabel_->setText(deviceName);
    updateOptions(options_);
}

ScanDialog::~ScanDialog() = default;

void ScanDialog::detach() { session_ = nullptr; }

void ScanDialog::build()
{
    auto *outer = new QVBoxLayout(this);
    auto *columns = new QHBoxLayout;
    outer->addLayout(columns, 1);

    // Left: the usual settings, then the device's other options.
    auto *left = new QVBoxLayout;
    columns->addLayout(left, 5);
    auto *top = new QGroupBox(QStringLiteral("Einstellungen"));
    topBox_ = top;
    auto *form = new QFormLayout(top);
    deviceLabel_ = new QLabel;
    deviceLabel_->setObjectName(QStringLiteral("device"));
    form->addRow(QStringLiteral("Scanner:"), deviceLabel_);

    mode_ = new QComboBox;
    mode_->setObjectName(QStringLiteral("mode"));
    form->addRow(QStringLiteral("&Modus:"), mode_);
    connect(mode_, &QComboBox::activated, this, [this](int i) {
        if (session_ && i >= 0 && i < int(modes_.size()))
            session_->dialogSetMode(modes_[std::size_t(i)].mode, modes_[std::size_t(i)].depth);
    });

    resolution_ = new QComboBox;
    resolution_->setObjectName(QStringLiteral("resolution"));
    form->addRow(QStringLiteral("&Auflösung:"), resolution_);
    connect(resolution_, &QComboBox::activated, this, [this](int i) {
        if (session_ && i >= 0 && i < int(resolutions_.size()))
            session_->dialogSetResolution(resolutions_[std::size_t(i)]);
    });

    paperSize_ = new QComboBox;
    paperSize_->setObjectName(QStringLiteral("paper"));
    form->addRow(QStringLiteral("&Papierformat:"), paperSize_);
    connect(paperSize_, &QComboBox::activated, this, &ScanDialog::paperChosen);

    auto *areaRow = new QHBoxLayout;
    const char *names[4] = {"areaLeft", "areaTop", "areaWidth", "areaHeight"};
    const QString tips[4] = {QStringLiteral("Links"), QStringLiteral("Oben"), QStringLiteral("Breite"),
                             QStringLiteral("Höhe")};
    for (int i = 0; i < 4; ++i) {
        area_[i] = new QDoubleSpinBox;
        area_[i]->setObjectName(QLatin1String(names[i]));
        area_[i]->setDecimals(1);
        area_[i]->setSuffix(QStringLiteral(" mm"));
        area_[i]->setToolTip(tips[i]);
        area_[i]->setAccessibleName(tips[i]);
        area_[i]->setKeyboardTracking(false);
        connect(area_[i], &QDoubleSpinBox::editingFinished, this, &ScanDialog::areaEdited);
        auto *label = new QLabel(tips[i] + QLatin1Char(':'));
        areaRow->addWidget(label);
        areaRow->addWidget(area_[i]);
    }
    form->addRow(QStringLiteral("Scanbereich:"), areaRow);

    source_ = new QComboBox;
    source_->setObjectName(QStringLiteral("source"));
    form->addRow(QStringLiteral("&Vorlage:"), source_);
    connect(source_, &QComboBox::activated, this, [this](int i) {
        if (session_ && i >= 0 && i < int(sources_.size()))
            session_->dialogSetSource(sources_[std::size_t(i)]);
    });

    auto makeSlider = [&](QSlider *&slider, QLabel *&label, const char *name, const std::string &option,
                          const QString &caption) {
        slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(QLatin1String(name));
        slider->setTracking(false);
        label = new QLabel(caption);
        form->addRow(label, slider);
        connect(slider, &QSlider::valueChanged, this, [this, slider, option](int pos) {
            if (updating_)
                return;
            const OptionInfo *o = options_.find(option);
            if (!o || o->constraintType != SANE_CONSTRAINT_RANGE)
                return;
            const SliderScale s = sliderScale(*o);
            OptionValue v;
            v.words.assign(std::size_t(o->elements()), doubleToWord(*o, s.min + pos * s.step));
            setOptionFromWidget(option, v);
            slider->setToolTip(numberText(*o, s.min + pos * s.step));
        });
    };
    makeSlider(brightness_, brightnessLabel_, "brightness", opt::brightness, QStringLiteral("&Helligkeit:"));
    makeSlider(contrast_, contrastLabel_, "contrast", opt::contrast, QStringLiteral("&Kontrast:"));
    left->addWidget(top);

    auto *moreLabel = new QLabel(QStringLiteral("Weitere Einstellungen des Scanners:"));
    left->addWidget(moreLabel);
    advancedScroll_ = new QScrollArea;
    advancedScroll_->setObjectName(QStringLiteral("advanced"));
    advancedScroll_->setWidgetResizable(true);
    advancedScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    advancedScroll_->setMinimumHeight(160);
    left->addWidget(advancedScroll_, 1);

    // Right: the preview.
    auto *right = new QVBoxLayout;
    columns->addLayout(right, 4);
    preview_ = new PreviewArea;
    preview_->setObjectName(QStringLiteral("previewArea"));
    right->addWidget(preview_, 1);
    connect(preview_, &PreviewArea::areaDragged, this, &ScanDialog::previewDragged);
    previewButton_ = new QPushButton(QStringLiteral("&Vorschau"));
    previewButton_->setObjectName(QStringLiteral("preview"));
    right->addWidget(previewButton_);
    connect(previewButton_, &QPushButton::clicked, this, [this] {
        if (session_)
            session_->dialogPreview();
    });

    // Bottom: progress, messages, buttons.
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setVisible(false);
    outer->addWidget(progress_);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    outer->addWidget(status_);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    scan_ = new QPushButton(settingsOnly_ ? QStringLiteral("OK") : QStringLiteral("&Scannen"));
    scan_->setObjectName(QStringLiteral("scan"));
    scan_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("&Abbrechen"));
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setEnabled(false);
    close_ = new QPushButton(QStringLiteral("S&chließen"));
    close_->setObjectName(QStringLiteral("close"));
    buttons->addWidget(scan_);
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);
    outer->addLayout(buttons);
    connect(scan_, &QPushButton::clicked, this, [this] {
        if (session_)
            session_->dialogScan();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (session_)
            session_->dialogCancel();
    });
    connect(close_, &QPushButton::clicked, this, &ScanDialog::reject);
    resize(980, 640);
}

void ScanDialog::reject()
{
    if (session_)
        session_->dialogClose();
    hide();
}

void ScanDialog::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (session_)
        session_->dialogClose();
}

double ScanDialog::dpi() const
{
    const OptionInfo *o = options_.find(opt::resolution);
    if (!o || !o->active() || o->value.words.empty())
        o = options_.find(opt::xResolution);
    return o && !o->value.words.empty() ? o->number() : 0;
}

bool ScanDialog::fullArea(double area[4]) const
{
    const std::string *names[4] = {&opt::tlx, &opt::tly, &opt::brx, &opt::bry};
    for (int i = 0; i < 4; ++i) {
        const OptionInfo *o = options_.find(*names[i]);
        if (!o || o->constraintType != SANE_CONSTRAINT_RANGE)
            return false;
        double v = wordToDouble(*o, i < 2 ? o->range.min : o->range.max);
        if (o->unit == SANE_UNIT_PIXEL)
            v = dpi() > 0 ? v / dpi() * 25.4 : 0;
        area[i] = v;
    }
    return area[2] > area[0] && area[3] > area[1];
}

bool ScanDialog::currentArea(double area[4]) const
{
    const std::string *names[4] = {&opt::tlx, &opt::tly, &opt::brx, &opt::bry};
    for (int i = 0; i < 4; ++i) {
        const OptionInfo *o = options_.find(*names[i]);
        if (!o || o->value.words.empty())
            return false;
        double v = o->number();
        if (o->unit == SANE_UNIT_PIXEL)
            v = dpi() > 0 ? v / dpi() * 25.4 : 0;
        area[i] = v;
    }
    return true;
}

void ScanDialog::fillTop()
{
    // Mode.
    modes_ = modeChoices(options_);
    mode_->clear();
    for (const ModeChoice &c : modes_)
        mode_->addItem(c.label);
    mode_->setCurrentIndex(currentModeChoice(modes_, options_));
    const OptionInfo *mode = options_.find(opt::mode);
    mode_->setEnabled(mode && mode->active() && mode->settable());

    // Resolution.
    resolutions_.clear();
    resolution_->clear();
    const OptionInfo *res = options_.find(opt::resolution);
    if (!res || !res->active())
        res = options_.find(opt::xResolution);
    if (res) {
        std::set<double> values;
        if (res->constraintType == SANE_CONSTRAINT_WORD_LIST) {
            for (SANE_Word w : res->wordList)
                values.insert(wordToDouble(*res, w));
        } else if (res->constraintType == SANE_CONSTRAINT_RANGE) {
            const double lo = wordToDouble(*res, res->range.min), hi = wordToDouble(*res, res->range.max);
            for (double d : kStandardResolutions)
                if (d >= lo && d <= hi && std::abs(nearestAllowed(*res, d) - d) < 1e-6)
                    values.insert(d);
            if (values.empty()) {
                values.insert(lo);
                values.insert(hi);
            }
        }
        if (!res->value.words.empty())
            values.insert(res->number());
        resolutions_.assign(values.begin(), values.end());
        for (double d : resolutions_)
            resolution_->addItem(QStringLiteral("%1 dpi").arg(d, 0, 'g', 6));
        const auto it = std::find(resolutions_.begin(), resolutions_.end(), res->number());
        resolution_->setCurrentIndex(it == resolutions_.end() ? -1 : int(it - resolutions_.begin()));
    }
    resolution_->setEnabled(res && res->active() && res->settable());

    // Area and paper size.
    double full[4], cur[4];
    const bool haveArea = fullArea(full) && currentArea(cur);
    paperSize_->clear();
    paperSize_->setEnabled(haveArea);
    for (QDoubleSpinBox *s : area_)
        s->setEnabled(haveArea);
    if (haveArea) {
        const double maxW = full[2] - full[0], maxH = full[3] - full[1];
        paperSize_->addItem(QStringLiteral("Ganze Fläche (%1 × %2 mm)").arg(maxW, 0, 'f', 0).arg(maxH, 0, 'f', 0),
                            QVariant(-1));
        int selected = -1;
        if (std::abs(cur[0] - full[0]) < 0.5 && std::abs(cur[1] - full[1]) < 0.5 && std::abs(cur[2] - full[2]) < 0.5 &&
            std::abs(cur[3] - full[3]) < 0.5)
            selected = 0;
        const auto &sizes = paperSizes();
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (sizes[i].width > maxW + 0.5 || sizes[i].height > maxH + 0.5)
                continue;
            paperSize_->addItem(QStringLiteral("%1 (%2 × %3 mm)")
                                    .arg(QLatin1String(sizes[i].label))
                                    .arg(sizes[i].width, 0, 'g', 4)
                                    .arg(sizes[i].height, 0, 'g', 4),
                                QVariant(int(i)));
            if (selected < 0 && std::abs(cur[0] - full[0]) < 0.5 && std::abs(cur[1] - full[1]) < 0.5 &&
                std::abs(cur[2] - cur[0] - sizes[i].width) < 1 && std::abs(cur[3] - cur[1] - sizes[i].height) < 1)
                selected = paperSize_->count() - 1;
        }
        paperSize_->addItem(QStringLiteral("Benutzerdefiniert"), QVariant(-2));
        paperSize_->setCurrentIndex(selected >= 0 ? selected : paperSize_->count() - 1);
        const double values[4] = {cur[0] - full[0], cur[1] - full[1], cur[2] - cur[0], cur[3] - cur[1]};
        const double maxima[4] = {maxW, maxH, maxW, maxH};
        for (int i = 0; i < 4; ++i) {
            area_[i]->setRange(0, maxima[i]);
            area_[i]->setValue(values[i]);
        }
        preview_->setAspect(maxW / maxH);
    }
    updatePreviewArea();

    // Paper source.
    sources_.clear();
    source_->clear();
    const OptionInfo *src = options_.find(opt::source);
    if (src && src->type == SANE_TYPE_STRING) {
        bool flatbed = false, feeder = false, deviceAuto = false;
        for (const std::string &v : src->stringList) {
            const SourceKind k = classifySource(v);
            source_->addItem(sourceLabel(v, k == SourceKind::Feeder && !feeder));
            sources_.push_back(v);
            flatbed = flatbed || k == SourceKind::Flatbed;
            feeder = feeder || k == SourceKind::Feeder;
            deviceAuto = deviceAuto || k == SourceKind::DeviceAuto;
        }
        if (flatbed && feeder && !deviceAuto) {
            source_->addItem(QStringLiteral("Automatisch"));
            sources_.emplace_back();
        }
        int current = -1;
        if (paper_ == QLatin1String("auto") && !sources_.empty() && sources_.back().empty()) {
            current = int(sources_.size()) - 1;
        } else {
            for (std::size_t i = 0; i < sources_.size(); ++i)
                if (!sources_[i].empty() && sources_[i] == src->value.text)
                    current = int(i);
        }
        source_->setCurrentIndex(current);
    }
    source_->setEnabled(src && src->active() && src->settable());

    // Brightness and contrast.
    auto fillSlider = [&](QSlider *slider, QLabel *label, const std::string &name) {
        const OptionInfo *o = options_.find(name);
        const bool usable = o && o->constraintType == SANE_CONSTRAINT_RANGE && o->type != SANE_TYPE_STRING &&
                            o->type != SANE_TYPE_BOOL;
        slider->setVisible(usable);
        label->setVisible(usable);
        if (!usable)
            return;
        const SliderScale s = sliderScale(*o);
        slider->setRange(0, s.count);
        slider->setValue(int(std::lround((o->number() - s.min) / s.step)));
        slider->setEnabled(o->active() && o->settable());
        slider->setToolTip(numberText(*o, o->number()));
    };
    fillSlider(brightness_, brightnessLabel_, opt::brightness);
    fillSlider(contrast_, contrastLabel_, opt::contrast);
}

std::string ScanDialog::structureKey(const OptionSnapshot &snap) const
{
    std::string key;
    for (const OptionInfo &o : snap.options) {
        if (shownOnTop(o.name))
            continue;
        key += o.name + '\x1f' + std::to_string(int(o.type)) + '\x1f' + std::to_string(o.cap) + '\x1f' +
               std::to_string(int(o.constraintType)) + '\x1f' + std::to_string(o.size) + '\x1f' +
               std::to_string(o.range.min) + ',' + std::to_string(o.range.max) + ',' + std::to_string(o.range.quant) +
               '\x1f' + std::to_string(o.wordList.size()) + '\x1f' + std::to_string(o.stringList.size()) + '\x1e';
    }
    return key;
}

QWidget *ScanDialog::optionWidget(const OptionInfo &o)
{
    const std::string name = o.name;
    const QString tip = QString::fromStdString(o.description);
    QWidget *w = nullptr;
    const bool array = o.type != SANE_TYPE_STRING && o.elements() > 1;
    if (o.type == SANE_TYPE_BUTTON) {
        auto *b = new QPushButton(QString::fromStdString(o.title.empty() ? o.name : o.title));
        const int index = o.index;
        connect(b, &QPushButton::clicked, this, [this, index] {
            if (session_)
                session_->dialogPress(index);
        });
        w = b;
    } else if (o.type == SANE_TYPE_BOOL && !array) {
        auto *c = new QCheckBox(QString::fromStdString(o.title.empty() ? o.name : o.title));
        c->setChecked(!o.value.words.empty() && o.value.words.front());
        connect(c, &QCheckBox::toggled, this, [this, name](bool on) {
            setOptionFromWidget(name, OptionValue{{on ? SANE_TRUE : SANE_FALSE}, {}});
        });
        w = c;
    } else if (array) {
        auto *e = new QLineEdit(valueText(o, o.value));
        e->setToolTip(tip);
        connect(e, &QLineEdit::editingFinished, this, [this, name, e] {
            const OptionInfo *opt = options_.find(name);
            if (!opt || updating_)
                return;
            OptionValue v;
            for (const QString &part : e->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                bool ok = false;
                const double d = part.trimmed().toDouble(&ok);
                if (ok)
                    v.words.push_back(doubleToWord(*opt, d));
            }
            if (!v.words.empty() && v != opt->value)
                setOptionFromWidget(name, v);
        });
        w = e;
    } else if (o.type == SANE_TYPE_STRING) {
        if (o.constraintType == SANE_CONSTRAINT_STRING_LIST) {
            auto *c = new QComboBox;
            for (const std::string &s : o.stringList)
                c->addItem(QString::fromStdString(s));
            c->setCurrentText(QString::fromStdString(o.value.text));
            connect(c, &QComboBox::activated, this, [this, name, c](int i) {
                setOptionFromWidget(name, OptionValue{{}, c->itemText(i).toStdString()});
            });
            w = c;
        } else {
            auto *e = new QLineEdit(QString::fromStdString(o.value.text));
            e->setMaxLength(std::max(0, int(o.size) - 1));
            connect(e, &QLineEdit::editingFinished, this, [this, name, e] {
                const OptionInfo *opt = options_.find(name);
                if (opt && !updating_ && e->text().toStdString() != opt->value.text)
                    setOptionFromWidget(name, OptionValue{{}, e->text().toStdString()});
            });
            w = e;
        }
    } else if (o.constraintType == SANE_CONSTRAINT_WORD_LIST) {
        auto *c = new QComboBox;
        for (SANE_Word v : o.wordList)
            c->addItem(numberText(o, wordToDouble(o, v)), QVariant(qint64(v)));
        c->setCurrentIndex(o.value.words.empty() ? -1 : c->findData(QVariant(qint64(o.value.words.front()))));
        connect(c, &QComboBox::activated, this, [this, name, c](int i) {
            setOptionFromWidget(name, OptionValue{{SANE_Word(c->itemData(i).toLongLong())}, {}});
        });
        w = c;
    } else if (o.constraintType == SANE_CONSTRAINT_RANGE) {
        auto *box = new QWidget;
        auto *row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        auto *slider = new QSlider(Qt::Horizontal);
        slider->setTracking(false);
        auto *value = new QLabel;
        value->setMinimumWidth(70);
        const SliderScale s = sliderScale(o);
        slider->setRange(0, s.count);
        slider->setValue(int(std::lround((o.number() - s.min) / s.step)));
        value->setText(numberText(o, o.number()));
        row->addWidget(slider, 1);
        row->addWidget(value);
        connect(slider, &QSlider::sliderMoved, this, [this, name, value](int pos) {
            if (const OptionInfo *opt = options_.find(name)) {
                const SliderScale sc = sliderScale(*opt);
                value->setText(numberText(*opt, sc.min + pos * sc.step));
            }
        });
        connect(slider, &QSlider::valueChanged, this, [this, name](int pos) {
            const OptionInfo *opt = options_.find(name);
            if (!opt || updating_)
                return;
            const SliderScale sc = sliderScale(*opt);
            setOptionFromWidget(name, OptionValue{{doubleToWord(*opt, sc.min + pos * sc.step)}, {}});
        });
        slider->setObjectName(QStringLiteral("slider"));
        w = box;
    } else if (o.type == SANE_TYPE_FIXED) {
        auto *spin = new QDoubleSpinBox;
        spin->setRange(-32768, 32767.9999);
        spin->setDecimals(4);
        spin->setKeyboardTracking(false);
        spin->setValue(o.number());
        spin->setSuffix(unitSuffix(o.unit));
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this, name](double v) {
            if (const OptionInfo *opt = options_.find(name); opt && !updating_)
                setOptionFromWidget(name, OptionValue{{doubleToWord(*opt, v)}, {}});
        });
        w = spin;
    } else {
        auto *spin = new QSpinBox;
        spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        spin->setKeyboardTracking(false);
        spin->setValue(o.value.words.empty() ? 0 : o.value.words.front());
        spin->setSuffix(unitSuffix(o.unit));
        connect(spin, &QSpinBox::valueChanged, this, [this, name](int v) {
            if (!updating_)
                setOptionFromWidget(name, OptionValue{{SANE_Word(v)}, {}});
        });
        w = spin;
    }
    if (auto *c = qobject_cast<QComboBox *>(w)) {
        // Long values (some devices list whole sentences) must not widen
        // the dialog.
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(14);
    }
    w->setToolTip(tip);
    w->setProperty(kOptionProperty, QString::fromStdString(name));
    w->setObjectName(QStringLiteral("sane:") + QString::fromStdString(name));
    w->setEnabled(o.active() && o.settable());
    return w;
}

void ScanDialog::buildAdvanced()
{
    advancedWidgets_.clear();
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    QGroupBox *group = nullptr;
    QFormLayout *form = nullptr;
    auto ensureGroup = [&](const QString &title) {
        group = new QGroupBox(title);
        form = new QFormLayout(group);
        layout->addWidget(group);
    };
    for (const OptionInfo &o : options_.options) {
        if (o.type == SANE_TYPE_GROUP) {
            ensureGroup(QString::fromStdString(o.title));
            continue;
        }
        if (o.name.empty() || shownOnTop(o.name))
            continue;
        if (!form)
            ensureGroup(QStringLiteral("Allgemein"));
        QWidget *w = optionWidget(o);
        advancedWidgets_[o.name] = w;
        if (o.type == SANE_TYPE_BOOL || o.type == SANE_TYPE_BUTTON) {
            form->addRow(w);
        } else {
            auto *label = new QLabel(QString::fromStdString(o.title.empty() ? o.name : o.title) + QLatin1Char(':'));
            label->setToolTip(QString::fromStdString(o.description));
            label->setEnabled(o.active());
            form->addRow(label, w);
        }
    }
    // Groups that stayed empty (all their options are on top) go again.
    for (QGroupBox *g : content->findChildren<QGroupBox *>(Qt::FindDirectChildrenOnly))
        if (g->layout() && g->layout()->count() == 0)
            delete g;
    layout->addStretch(1);
    QWidget *old = advancedScroll_->takeWidget();
    advancedScroll_->setWidget(content);
    advanced_ = content;
    if (old)
        old->deleteLater();
}

void ScanDialog::updateAdvancedValues()
{
    for (auto &[name, w] : advancedWidgets_) {
        const OptionInfo *o = options_.find(name);
        if (!o)
            continue;
        w->setEnabled(o->active() && o->settable());
        if (auto *c = qobject_cast<QCheckBox *>(w)) {
            QSignalBlocker block(c);
            c->setChecked(!o->value.words.empty() && o->value.words.front());
        } else if (auto *e = qobject_cast<QLineEdit *>(w)) {
            QSignalBlocker block(e);
            e->setText(o->type == SANE_TYPE_STRING ? QString::fromStdString(o->value.text) : valueText(*o, o->value));
        } else if (auto *c = qobject_cast<QComboBox *>(w)) {
            QSignalBlocker block(c);
            if (o->type == SANE_TYPE_STRING)
                c->setCurrentText(QString::fromStdString(o->value.text));
            else if (!o->value.words.empty())
                c->setCurrentIndex(c->findData(QVariant(qint64(o->value.words.front()))));
        } else if (auto *s = qobject_cast<QDoubleSpinBox *>(w)) {
            QSignalBlocker block(s);
            s->setValue(o->number());
        } else if (auto *s = qobject_cast<QSpinBox *>(w)) {
            QSignalBlocker block(s);
            s->setValue(o->value.words.empty() ? 0 : o->value.words.front());
        } else if (auto *slider = w->findChild<QSlider *>(QStringLiteral("slider"))) {
            QSignalBlocker block(slider);
            const SliderScale s = sliderScale(*o);
            slider->setValue(int(std::lround((o->number() - s.min) / s.step)));
            if (auto *label = w->findChild<QLabel *>())
                label->setText(numberText(*o, o->number()));
        }
    }
}

void ScanDialog::updateOptions(const OptionSnapshot &options)
{
    options_ = options;
    updating_ = true;
    {
        const QSignalBlocker b1(mode_), b2(resolution_), b3(paperSize_), b4(source_), b5(brightness_), b6(contrast_);
        QSignalBlocker areaBlock[4] = {QSignalBlocker(area_[0]), QSignalBlocker(area_[1]), QSignalBlocker(area_[2]),
                                       QSignalBlocker(area_[3])};
        fillTop();
    }
    const std::string key = structureKey(options_);
    if (key != advancedKey_ || !advanced_) {
        advancedKey_ = key;
        buildAdvanced();
    } else {
        updateAdvancedValues();
    }
    updating_ = false;
    setControlsEnabled(!busy_);
}

void ScanDialog::setOptionFromWidget(const std::string &name, const OptionValue &value)
{
    if (updating_ || !session_)
        return;
    const OptionInfo *o = options_.find(name);
    if (!o)
        return;
    session_->dialogSetOption(o->index, value);
}

void ScanDialog::areaEdited()
{
    if (updating_ || !session_)
        return;
    double full[4];
    if (!fullArea(full))
        return;
    const double left = full[0] + area_[0]->value(), top = full[1] + area_[1]->value();
    const double right = std::min(full[2], left + area_[2]->value());
    const double bottom = std::min(full[3], top + area_[3]->value());
    double cur[4];
    if (currentArea(cur) && std::abs(cur[0] - left) < 0.05 && std::abs(cur[1] - top) < 0.05 &&
        std::abs(cur[2] - right) < 0.05 && std::abs(cur[3] - bottom) < 0.05)
        return;
    if (right - left < 1 || bottom - top < 1)
        return;
    session_->dialogSetArea(left, top, right, bottom);
}

void ScanDialog::paperChosen(int index)
{
    if (!session_ || index < 0)
        return;
    double full[4];
    if (!fullArea(full))
        return;
    const int which = paperSize_->itemData(index).toInt();
    if (which == -2)
        return; // "Benutzerdefiniert": the area as it is
    double right = full[2], bottom = full[3];
    if (which >= 0 && which < int(paperSizes().size())) {
        right = std::min(full[2], full[0] + paperSizes()[std::size_t(which)].width);
        bottom = std::min(full[3], full[1] + paperSizes()[std::size_t(which)].height);
    }
    session_->dialogSetArea(full[0], full[1], right, bottom);
}

void ScanDialog::previewDragged(const QRectF &f)
{
    double full[4];
    if (!session_ || !fullArea(full))
        return;
    const double w = full[2] - full[0], h = full[3] - full[1];
    session_->dialogSetArea(full[0] + f.left() * w, full[1] + f.top() * h, full[0] + f.right() * w,
                            full[1] + f.bottom() * h);
}

void ScanDialog::updatePreviewArea()
{
    double full[4], cur[4];
    if (!fullArea(full) || !currentArea(cur))
        return;
    const double w = full[2] - full[0], h = full[3] - full[1];
    preview_->setArea(QRectF((cur[0] - full[0]) / w, (cur[1] - full[1]) / h, (cur[2] - cur[0]) / w,
                             (cur[3] - cur[1]) / h));
}

void ScanDialog::setControlsEnabled(bool enabled)
{
    topBox_->setEnabled(enabled);
    advancedScroll_->setEnabled(enabled);
    preview_->setEnabled(enabled);
    previewButton_->setEnabled(enabled && !settingsOnly_);
    scan_->setEnabled(enabled);
    cancel_->setEnabled(!enabled);
}

void ScanDialog::setBusy(bool busy, bool preview)
{
    busy_ = busy;
    setControlsEnabled(!busy);
    progress_->setVisible(busy);
    progress_->setValue(0);
    if (busy)
        showStatus(preview ? QStringLiteral("Die Vorschau wird gescannt …") : QStringLiteral("Es wird gescannt …"));
}

void ScanDialog::setProgress(double share)
{
    progress_->setValue(int(std::lround(std::clamp(share, 0.0, 1.0) * 1000)));
}

void ScanDialog::pageReady(int pages)
{
    progress_->setValue(1000);
    progress_->setVisible(false);
    cancel_->setEnabled(false);
    showStatus(pages == 1 ? QStringLiteral("Die Seite ist gescannt.")
                          : QStringLiteral("%1 Seiten sind gescannt.").arg(pages));
}

void ScanDialog::showPreview(const Page &page)
{
    preview_->setImage(pageImage(page));
    updatePreviewArea();
}

void ScanDialog::showError(const QString &text)
{
    status_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    status_->setText(text);
}

void ScanDialog::showStatus(const QString &text)
{
    status_->setStyleSheet({});
    status_->setText(text);
}

QString ScanDialog::statusText() const { return status_->text(); }

// ---------------------------------------------------------------------------
// ProgressWindow

ProgressWindow::ProgressWindow(Session &session, const QString &deviceName) : session_(&session)
{
    setObjectName(QStringLiteral("ScanProgress"));
    setWindowTitle(QStringLiteral("Scannen – %1").arg(deviceName));
    setWindowFlag(Qt::Dialog);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Es wird gescannt …")));
    bar_ = new QProgressBar;
    bar_->setRange(0, 1000);
    layout->addWidget(bar_);
    auto *cancel = new QPushButton(QStringLiteral("&Abbrechen"));
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(cancel, 0, Qt::AlignRight);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (session_)
            session_->dialogCancel();
    });
    setAttribute(Qt::WA_DeleteOnClose, false);
    show();
}

void ProgressWindow::setProgress(double share)
{
    bar_->setValue(int(std::lround(std::clamp(share, 0.0, 1.0) * 1000)));
}

} // namespace sane_source
