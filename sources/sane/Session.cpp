#include "sources/sane/Session.h"

#include "sources/sane/Log.h"
#include "sources/sane/ScanDialog.h"
#include "sources/sane/Texts.h"
#include "sources/sane/TwainValues.h"
#include "sources/sane/Worker.h"

#include "platform/Boxes.h"
#include "platform/FileAccess.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sane_source {

namespace {

// Rows per strip a memory transfer prefers: about a megabyte.
constexpr std::size_t kPreferredStrip = 1 << 20;

void defaultFileSetup(TW_SETUPFILEXFER &s)
{
    std::memset(&s, 0, sizeof s);
    const QByteArray name = QFile::encodeName(QDir::tempPath() + QStringLiteral("/TWAIN.BMP"));
    std::memcpy(s.FileName, name.constData(), std::min<std::size_t>(std::size_t(name.size()), sizeof s.FileName - 1));
    s.Format = TWFF_BMP;
}

const char *tripletName(TW_UINT16 dat)
{
    switch (dat) {
    case DAT_CAPABILITY: return "DAT_CAPABILITY";
    case DAT_EVENT: return "DAT_EVENT";
    case DAT_IDENTITY: return "DAT_IDENTITY";
    case DAT_PENDINGXFERS: return "DAT_PENDINGXFERS";
    case DAT_SETUPMEMXFER: return "DAT_SETUPMEMXFER";
    case DAT_SETUPFILEXFER: return "DAT_SETUPFILEXFER";
    case DAT_STATUS: return "DAT_STATUS";
    case DAT_USERINTERFACE: return "DAT_USERINTERFACE";
    case DAT_IMAGEINFO: return "DAT_IMAGEINFO";
    case DAT_IMAGELAYOUT: return "DAT_IMAGELAYOUT";
    case DAT_IMAGEMEMXFER: return "DAT_IMAGEMEMXFER";
    case DAT_IMAGENATIVEXFER: return "DAT_IMAGENATIVEXFER";
    case DAT_IMAGEFILEXFER: return "DAT_IMAGEFILEXFER";
    case DAT_PALETTE8: return "DAT_PALETTE8";
    default: return "DAT_?";
    }
}

} // namespace

Session::Session(const TW_IDENTITY &app, const TW_IDENTITY &self, const KnownDevice &device,
                 DeviceSettings settings, const TW_ENTRYPOINT *entry)
    : app_(app), self_(self), device_(device), settings_(std::move(settings))
{
    if (entry && entry->Size == sizeof(TW_ENTRYPOINT)) {
        entry_ = *entry;
        haveEntry_ = true;
    }
    defaultFileSetup(fileSetup_);
}

Session::~Session()
{
    if (sane_)
        close();
}

ScanDialog *Session::dialog() const { return dialog_.data(); }

TW_UINT16 Session::fail(TW_UINT16 cc)
{
    condition_ = cc;
    return TWRC_FAILURE;
}

TW_UINT16 Session::succeed()
{
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

TW_UINT16 Session::open()
{
    struct Opened {
        SANE_Status status = SANE_STATUS_GOOD;
        OptionSnapshot defaults;
        OptionSnapshot current;
    };
    auto dev = std::make_shared<Device>();
    const std::string name = device_.saneName;
    const auto values = settings_.values;
    const Opened r = name.empty() ? Opened{SANE_STATUS_INVAL, {}, {}} : Worker::instance().call([dev, name, values] {
        Opened o;
        o.status = dev->open(name);
        if (o.status == SANE_STATUS_GOOD) {
            o.defaults = dev->snapshot();
            dev->applyValues(values);
            o.current = dev->snapshot();
        }
        return o;
    });
    if (r.status != SANE_STATUS_GOOD) {
        // The dev object never reached the device; drop it on the worker's
        // terms (it is closed already).
        Worker::instance().post([dev] {});
        const QString text = r.status == SANE_STATUS_DEVICE_BUSY || r.status == SANE_STATUS_ACCESS_DENIED
                                 ? texts::forStatus(r.status)
                                 : texts::unreachable();
        platform::Boxes::instance().Information(text);
        return fail(TWCC_NODS);
    }
    sane_ = dev;
    defaults_ = r.defaults;
    options_ = r.current;
    state_ = 4;
    return succeed();
}

void Session::close()
{
    cancelScan();
    closeDialog();
    if (progress_)
        delete progress_.data();
    pages_.clear();
    if (sane_) {
        rememberSettings();
        auto dev = std::exchange(sane_, nullptr);
        // After this job every earlier job of this session has ended, so
        // nothing of the worker reaches this object any more.
        Worker::instance().call([dev] { dev->close(); });
    }
    state_ = 3;
}

TW_UINT16 Session::dispatch(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    TW_UINT16 rc = TWRC_FAILURE;
    const TW_UINT16 stateBefore = TW_UINT16(state_);
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_USERINTERFACE:
            rc = userInterface(msg, static_cast<TW_USERINTERFACE *>(data));
            break;
        case DAT_EVENT:
            if (msg != MSG_PROCESSEVENT || !data)
                rc = fail(msg != MSG_PROCESSEVENT ? TWCC_BADPROTOCOL : TWCC_BADVALUE);
            else
                rc = processEvent(static_cast<TW_EVENT *>(data));
            // Too frequent to log each one.
            return rc;
        case DAT_PENDINGXFERS:
            rc = pendingTransfers(msg, static_cast<TW_PENDINGXFERS *>(data));
            break;
        case DAT_SETUPMEMXFER:
            rc = msg == MSG_GET ? setupMemory(static_cast<TW_SETUPMEMXFER *>(data)) : fail(TWCC_BADPROTOCOL);
            break;
        case DAT_SETUPFILEXFER:
            rc = setupFile(msg, static_cast<TW_SETUPFILEXFER *>(data));
            break;
        case DAT_CAPABILITY:
            rc = capability(msg, static_cast<TW_CAPABILITY *>(data));
            break;
        case DAT_IDENTITY:
            if (msg == MSG_GET && data) {
                std::memcpy(data, &self_, sizeof self_);
                rc = succeed();
            } else {
                rc = fail(TWCC_BADPROTOCOL);
            }
            break;
        default:
            rc = fail(TWCC_BADPROTOCOL);
        }
    } else if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            rc = msg == MSG_GET ? imageInfo(static_cast<TW_IMAGEINFO *>(data)) : fail(TWCC_BADPROTOCOL);
            break;
        case DAT_IMAGELAYOUT:
            rc = imageLayout(msg, static_cast<TW_IMAGELAYOUT *>(data));
            break;
        case DAT_IMAGENATIVEXFER:
            rc = msg == MSG_GET ? nativeTransfer(static_cast<TW_HANDLE *>(data)) : fail(TWCC_BADPROTOCOL);
            break;
        case DAT_IMAGEMEMXFER:
            rc = msg == MSG_GET ? memoryTransfer(static_cast<TW_IMAGEMEMXFER *>(data)) : fail(TWCC_BADPROTOCOL);
            break;
        case DAT_IMAGEFILEXFER:
            rc = msg == MSG_GET ? fileTransfer() : fail(TWCC_BADPROTOCOL);
            break;
        case DAT_PALETTE8:
            rc = palette(msg, static_cast<TW_PALETTE8 *>(data));
            break;
        default:
            rc = fail(TWCC_BADPROTOCOL);
        }
    } else {
        rc = fail(TWCC_BADPROTOCOL);
    }
    qCDebug(lcSane).nospace() << "DS_Entry " << tripletName(dat) << " MSG 0x" << Qt::hex << msg << Qt::dec
                              << " state " << stateBefore << "->" << state_ << ": rc " << rc << " cc " << condition_;
    return rc;
}

// ---------------------------------------------------------------------------
// User interface and events

TW_UINT16 Session::userInterface(TW_UINT16 msg, TW_USERINTERFACE *ui)
{
    switch (msg) {
    case MSG_ENABLEDS:
    case MSG_ENABLEDSUIONLY: {
        if (!ui)
            return fail(TWCC_BADVALUE);
        if (state_ != 4)
            return fail(TWCC_SEQERROR);
        uiOnly_ = msg == MSG_ENABLEDSUIONLY;
        showUI_ = uiOnly_ || ui->ShowUI != 0;
        pending_ = MSG_NULL;
        state_ = 5;
        if (showUI_) {
            auto *dialog = new ScanDialog(*this, QString::fromUtf8(device_.productName), options_, settings_.paper,
                                          uiOnly_);
            dialog_ = dialog;
            if (ui->ModalUI)
                dialog->setWindowModality(Qt::ApplicationModal);
            dialog->show();
            dialog->raise();
            dialog->activateWindow();
        } else {
            if (indicators_)
                progress_ = new ProgressWindow(*this, QString::fromUtf8(device_.productName));
            startScan(false);
        }
        return succeed();
    }
    case MSG_DISABLEDS:
        if (state_ != 5 && state_ != 6)
            return fail(TWCC_SEQERROR);
        cancelScan();
        closeDialog();
        if (progress_)
            delete progress_.data();
        pages_.clear();
        rememberSettings();
        pending_ = MSG_NULL;
        state_ = 4;
        return succeed();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Session::processEvent(TW_EVENT *event)
{
    event->TWMessage = MSG_NULL;
    if (state_ < 5)
        return TWRC_NOTDSEVENT;
    if (pending_ != MSG_NULL) {
        event->TWMessage = std::exchange(pending_, MSG_NULL);
        qCDebug(lcSane) << "DS_Entry DAT_EVENT: notification" << Qt::hex << event->TWMessage;
        condition_ = TWCC_SUCCESS;
        return TWRC_DSEVENT;
    }
    return TWRC_NOTDSEVENT;
}

void Session::notify(TW_UINT16 msg)
{
    if ((app_.SupportedGroups & DF_APP2) && haveEntry_ && entry_.DSM_Entry) {
        // TWAIN 2: through the manager to the application's callback.
        const TW_UINT16 rc = entry_.DSM_Entry(&self_, &app_, DG_CONTROL, DAT_NULL, msg, nullptr);
        qCDebug(lcSane) << "DSM_Entry DAT_NULL" << Qt::hex << msg << ":" << rc;
        if (rc == TWRC_SUCCESS)
            return;
    }
    pending_ = msg;
    // Wake the application's message loop so that it asks at once instead
    // of at its next tick.
    PostMessage(platform::ApplicationWindow(), WM_USER, 0, 0);
}

// ---------------------------------------------------------------------------
// Scanning

PaperSource Session::paperSource() const
{
    if (settings_.paper == QLatin1String("auto"))
        return PaperSource::Automatic;
    return PaperSource::AsSet;
}

std::function<bool(Device &)> Session::reopener() const
{
    const std::string name = device_.saneName;
    const auto values = settings_.values;
    return [name, values](Device &d) {
        if (d.isOpen())
            return true;
        if (d.open(name) != SANE_STATUS_GOOD)
            return false;
        d.applyValues(values);
        return true;
    };
}

void Session::startScan(bool preview)
{
    if (scanning_ || !sane_)
        return;
    scanning_ = true;
    previewing_ = preview;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    const std::uint64_t generation = ++generation_;
    ScanRequest request;
    request.cancel = cancel_;
    request.maxPages = xferCount_ < 0 ? -1 : std::max<int>(1, xferCount_);
    request.paper = paperSource();
    request.preview = preview;
    Session *self = this;
    request.progress = [self, generation](double share) {
        deliver(self, [self, generation, share] {
            if (generation != self->generation_)
                return;
            if (self->dialog_)
                self->dialog_->setProgress(share);
            if (self->progress_)
                self->progress_->setProgress(share);
        });
    };
    auto dev = sane_;
    Worker::instance().post([dev, request, self, generation, preview, reopen = reopener()] {
        auto result = std::make_shared<ScanResult>();
        // A device that went away during an earlier scan is tried again.
        if (reopen(*dev)) {
            *result = dev->scan(request);
        } else {
            result->status = SANE_STATUS_IO_ERROR;
            result->deviceLost = true;
            result->message = texts::unreachable();
        }
        auto snapshot = std::make_shared<OptionSnapshot>(dev->snapshot());
        deliver(self, [self, generation, result, preview, snapshot] {
            if (generation == self->generation_ && !snapshot->options.empty())
                self->options_ = *snapshot;
            self->scanFinished(generation, result, preview);
        });
    });
    if (dialog_)
        dialog_->setBusy(true, preview);
}

void Session::cancelScan()
{
    if (cancel_)
        cancel_->store(true);
    if (scanning_) {
        // Results of the cancelled scan are dropped when they arrive.
        ++generation_;
        scanning_ = false;
    }
}

void Session::scanFinished(std::uint64_t generation, std::shared_ptr<ScanResult> result, bool preview)
{
    if (generation != generation_)
        return;
    scanning_ = false;
    if (preview) {
        if (dialog_) {
            if (!result->pages.empty())
                dialog_->showPreview(result->pages.front());
            else if (!result->cancelled)
                dialog_->showError(result->message);
            dialog_->setBusy(false, true);
            dialog_->updateOptions(options_);
        }
        return;
    }
    lastFeederEmpty_ = result->status == SANE_STATUS_NO_DOCS;
    if (!result->pages.empty()) {
        for (Page &p : result->pages)
            pages_.push_back(std::move(p));
        state_ = 6;
        memoryRow_ = 0;
        transferred_ = false;
        rememberSettings();
        if (dialog_) {
            dialog_->pageReady(int(pages_.size()));
            // Pages before a paper jam are delivered; the jam is reported.
            if (!result->message.isEmpty())
                dialog_->showError(result->message);
        }
        if (progress_)
            delete progress_.data();
        notify(MSG_XFERREADY);
        return;
    }
    if (progress_)
        delete progress_.data();
    if (dialog_) {
        dialog_->setBusy(false, false);
        dialog_->updateOptions(options_);
        if (result->cancelled)
            dialog_->showStatus(QStringLiteral("Der Scan wurde abgebrochen."));
        else
            dialog_->showError(result->message);
        return;
    }
    // Without a dialog the person learns of a failure from a box; the
    // application is asked to close the source.
    if (!result->cancelled)
        platform::Boxes::instance().Information(result->message);
    if (state_ == 5)
        notify(MSG_CLOSEDSREQ);
}

void Session::closeDialog()
{
    if (dialog_) {
        ScanDialog *d = dialog_.data();
        dialog_ = nullptr;
        d->detach();
        d->hide();
        d->deleteLater();
    }
}

void Session::rememberSettings()
{
    if (options_.options.empty())
        return;
    std::map<std::string, OptionValue> values;
    for (const OptionInfo &o : options_.options) {
        if (o.name.empty() || !o.active() || !o.settable() || o.type == SANE_TYPE_BUTTON ||
            o.type == SANE_TYPE_GROUP || o.name == opt::preview)
            continue;
        if (o.value.words.empty() && o.type != SANE_TYPE_STRING)
            continue;
        values[o.name] = o.value;
    }
    if (values != settings_.values) {
        settings_.values = std::move(values);
        emit settingsChanged();
    }
}

// ---------------------------------------------------------------------------
// Dialog requests

void Session::applyOptionResult(SANE_Status status, SANE_Int info, const QString &title,
                                std::shared_ptr<OptionSnapshot> snapshot)
{
    // A device that could not be reached leaves the options as they were.
    if (!snapshot->options.empty())
        options_ = *snapshot;
    if (!dialog_)
        return;
    dialog_->updateOptions(options_);
    if (snapshot->options.empty())
        dialog_->showError(texts::unreachable());
    else if (status == SANE_STATUS_INVAL)
        dialog_->showError(texts::valueRefused(title));
    else if (status != SANE_STATUS_GOOD)
        dialog_->showError(texts::forStatus(status));
    else if (info & SANE_INFO_INEXACT)
        dialog_->showStatus(QStringLiteral("Der Scanner hat für „%1“ den nächstmöglichen Wert gewählt.").arg(title));
    else
        dialog_->showStatus({});
}

void Session::changeOption(const QString &title, std::function<SANE_Status(Device &, SANE_Int *)> change)
{
    if (!sane_ || scanning_)
        return;
    auto dev = sane_;
    Session *self = this;
    Worker::instance().post([dev, self, title, change = std::move(change), reopen = reopener()] {
        SANE_Int info = 0;
        const SANE_Status st = reopen(*dev) ? change(*dev, &info) : SANE_STATUS_IO_ERROR;
        auto snapshot = std::make_shared<OptionSnapshot>(dev->snapshot());
        deliver(self, [self, st, info, title, snapshot] { self->applyOptionResult(st, info, title, snapshot); });
    });
}

void Session::dialogSetOption(int index, const OptionValue &value)
{
    QString title;
    for (const OptionInfo &o : options_.options)
        if (o.index == index)
            title = QString::fromStdString(o.title.empty() ? o.name : o.title);
    changeOption(title, [index, value](Device &dev, SANE_Int *info) { return dev.setValue(index, value, info); });
}

void Session::dialogSetAutomatic(int index)
{
    changeOption({}, [index](Device &dev, SANE_Int *info) { return dev.setAutomatic(index, info); });
}

void Session::dialogPress(int index)
{
    changeOption({}, [index](Device &dev, SANE_Int *info) { return dev.press(index, info); });
}

void Session::dialogSetArea(double left, double top, double right, double bottom)
{
    if (!sane_ || scanning_)
        return;
    const OptionSnapshot snap = options_;
    auto dev = sane_;
    Session *self = this;
    const double dpiX = currentDpi(false), dpiY = currentDpi(true);
    Worker::instance().post([dev, self, snap, left, top, right, bottom, dpiX, dpiY, reopen = reopener()] {
        if (!reopen(*dev)) {
            auto empty = std::make_shared<OptionSnapshot>();
            deliver(self, [self, empty] { self->applyOptionResult(SANE_STATUS_IO_ERROR, 0, {}, empty); });
            return;
        }
        // Geometry options count millimetres, or pixels at the resolution.
        auto toDevice = [&](const OptionInfo *o, double mm, bool y) {
            return o->unit == SANE_UNIT_PIXEL ? mm / 25.4 * (y ? dpiY : dpiX) : mm;
        };
        const OptionInfo *tlx = snap.usable(opt::tlx), *tly = snap.usable(opt::tly);
        const OptionInfo *brx = snap.usable(opt::brx), *bry = snap.usable(opt::bry);
        SANE_Status st = SANE_STATUS_GOOD;
        SANE_Int info = 0;
        if (tlx && tly && brx && bry) {
            // Widest first, so that no intermediate area is refused.
            dev->setNumber(opt::brx, wordToDouble(*brx, brx->range.max));
            dev->setNumber(opt::bry, wordToDouble(*bry, bry->range.max));
            SANE_Int i = 0;
            for (auto [name, o, mm, y] : {std::tuple{opt::tlx, tlx, left, false}, std::tuple{opt::tly, tly, top, true},
                                          std::tuple{opt::brx, brx, right, false},
                                          std::tuple{opt::bry, bry, bottom, true}}) {
                const SANE_Status s = dev->setNumber(name, toDevice(o, mm, y), &i);
                info |= i;
                if (s != SANE_STATUS_GOOD)
                    st = s;
            }
        }
        auto snapshot = std::make_shared<OptionSnapshot>(dev->snapshot());
        deliver(self, [self, st, info, snapshot] {
            self->applyOptionResult(st, info, QStringLiteral("Scanbereich"), snapshot);
        });
    });
}

void Session::dialogSetPaper(const QString &paper)
{
    settings_.paper = paper;
    emit settingsChanged();
}

void Session::dialogScan()
{
    if (uiOnly_) {
        rememberSettings();
        notify(MSG_CLOSEDSOK);
        return;
    }
    if (state_ != 5)
        return;
    if (dialog_)
        dialog_->showStatus({});
    startScan(false);
}

void Session::dialogPreview()
{
    if (state_ != 5)
        return;
    startScan(true);
}

void Session::dialogCancel()
{
    if (!scanning_)
        return;
    const bool preview = previewing_;
    cancelScan();
    // The device stops at once (the worker calls sane_cancel at its next
    // read); the dialog is usable again now.
    if (dialog_) {
        dialog_->setBusy(false, preview);
        dialog_->showStatus(QStringLiteral("Der Scan wurde abgebrochen."));
    }
    if (!dialog_ && state_ == 5)
        notify(MSG_CLOSEDSREQ);
}

void Session::dialogClose()
{
    if (scanning_)
        cancelScan();
    rememberSettings();
    notify(uiOnly_ ? MSG_CLOSEDSOK : MSG_CLOSEDSREQ);
}

// ---------------------------------------------------------------------------
// Transfers

TW_UINT16 Session::pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS *p)
{
    if (!p)
        return fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GET:
        p->Count = state_ >= 6 ? TW_UINT16(pages_.size()) : 0;
        return succeed();
    case MSG_ENDXFER:
        if (state_ != 6 && state_ != 7)
            return fail(TWCC_SEQERROR);
        if (!pages_.empty())
            pages_.pop_front();
        memoryRow_ = 0;
        transferred_ = false;
        p->Count = TW_UINT16(pages_.size());
        if (pages_.empty()) {
            state_ = 5;
            if (dialog_)
                dialog_->setBusy(false, false);
        } else {
            state_ = 6;
        }
        return succeed();
    case MSG_RESET:
        if (state_ != 6 && state_ != 7)
            return fail(TWCC_SEQERROR);
        pages_.clear();
        memoryRow_ = 0;
        transferred_ = false;
        p->Count = 0;
        state_ = 5;
        if (dialog_)
            dialog_->setBusy(false, false);
        return succeed();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Session::setupMemory(TW_SETUPMEMXFER *s)
{
    if (!s)
        return fail(TWCC_BADVALUE);
    std::size_t stride = 0;
    if (!pages_.empty()) {
        stride = pages_.front().stride();
    } else {
        // Before a scan: the row of the current settings.
        double area[4];
        const double dpi = currentDpi(false);
        if (areaMm(options_, area) && dpi > 0) {
            const int width = std::max(1, int(std::lround((area[2] - area[0]) / 25.4 * dpi)));
            stride = dibStride(PixelKind::Rgb, width);
        } else {
            stride = 4;
        }
    }
    stride = std::max<std::size_t>(stride, 4);
    const std::size_t rows = std::max<std::size_t>(1, kPreferredStrip / stride);
    s->MinBufSize = TW_UINT32(stride);
    s->Preferred = TW_UINT32(std::min<std::size_t>(rows * stride, 0x7FFFFFFF));
    s->MaxBufSize = TW_UINT32(std::min<std::size_t>(std::max<std::size_t>(rows * stride * 64, stride), 0x7FFFFFFF));
    return succeed();
}

TW_UINT16 Session::setupFile(TW_UINT16 msg, TW_SETUPFILEXFER *s)
{
    if (!s)
        return fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GET:
    case MSG_GETDEFAULT:
        if (msg == MSG_GETDEFAULT)
            defaultFileSetup(*s);
        else
            *s = fileSetup_;
        return succeed();
    case MSG_RESET:
        if (state_ != 4)
            return fail(TWCC_SEQERROR);
        defaultFileSetup(fileSetup_);
        *s = fileSetup_;
        return succeed();
    case MSG_SET: {
        if (state_ < 4 || state_ > 6)
            return fail(TWCC_SEQERROR);
        if (s->Format != TWFF_BMP && s->Format != TWFF_TIFF)
            return fail(TWCC_BADVALUE);
        // The name must end within its 256 bytes and name something.
        const void *end = std::memchr(s->FileName, 0, sizeof s->FileName);
        if (!end || s->FileName[0] == 0)
            return fail(TWCC_BADVALUE);
        fileSetup_ = *s;
        return succeed();
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Session::imageInfo(TW_IMAGEINFO *info)
{
    if (!info)
        return fail(TWCC_BADVALUE);
    if ((state_ != 6 && state_ != 7) || pages_.empty())
        return fail(TWCC_SEQERROR);
    const Page &p = pages_.front();
    std::memset(info, 0, sizeof *info);
    const double perUnit = units_ == TWUN_CENTIMETERS ? 1 / 2.54 : 1.0;
    info->XResolution = toFix32(p.xDpi * perUnit);
    info->YResolution = toFix32(p.yDpi * perUnit);
    info->ImageWidth = p.width();
    info->ImageLength = p.height();
    switch (p.kind()) {
    case PixelKind::BlackWhite:
        info->SamplesPerPixel = 1;
        info->BitsPerSample[0] = 1;
        info->BitsPerPixel = 1;
        info->PixelType = TW_INT16(TWPT_BW);
        break;
    case PixelKind::Gray:
        info->SamplesPerPixel = 1;
        info->BitsPerSample[0] = 8;
        info->BitsPerPixel = 8;
        info->PixelType = TW_INT16(TWPT_GRAY);
        break;
    case PixelKind::Rgb:
        info->SamplesPerPixel = 3;
        info->BitsPerSample[0] = info->BitsPerSample[1] = info->BitsPerSample[2] = 8;
        info->BitsPerPixel = 24;
        info->PixelType = TW_INT16(TWPT_RGB);
        break;
    }
    info->Planar = 0;
    info->Compression = 0; // TWCP_NONE
    return succeed();
}

TW_UINT16 Session::nativeTransfer(TW_HANDLE *handle)
{
    if (!handle)
        return fail(TWCC_BADVALUE);
    if (state_ != 6 || pages_.empty() || transferred_)
        return fail(TWCC_SEQERROR);
    Page &page = pages_.front();
    if (app_.SupportedGroups & DF_APP2) {
        // TWAIN 2 on Linux hands a TIFF file over.
        const std::vector<std::uint8_t> tiff = encodeTiff(page);
        if (tiff.empty())
            return fail(TWCC_LOWMEMORY);
        TW_HANDLE h = haveEntry_ && entry_.DSM_MemAllocate ? entry_.DSM_MemAllocate(TW_UINT32(tiff.size()))
                                                           : GlobalAlloc(GMEM_MOVEABLE, tiff.size());
        if (!h)
            return fail(TWCC_LOWMEMORY);
        void *p = haveEntry_ && entry_.DSM_MemLock ? entry_.DSM_MemLock(h) : GlobalLock(h);
        std::memcpy(p, tiff.data(), tiff.size());
        if (haveEntry_ && entry_.DSM_MemUnlock)
            entry_.DSM_MemUnlock(h);
        else
            GlobalUnlock(h);
        *handle = h;
    } else {
        *handle = page.release();
    }
    transferred_ = true;
    state_ = 7;
    condition_ = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 Session::memoryTransfer(TW_IMAGEMEMXFER *mem)
{
    if (!mem)
        return fail(TWCC_BADVALUE);
    if ((state_ != 6 && state_ != 7) || pages_.empty() || transferred_)
        return fail(TWCC_SEQERROR);
    const Page &page = pages_.front();
    if (!page.valid())
        return fail(TWCC_SEQERROR);
    const std::size_t stride = page.stride();
    const TW_UINT32 length = mem->Memory.Length;
    if (!mem->Memory.TheMem || length < stride)
        return fail(TWCC_BADVALUE);
    std::uint8_t *dst = nullptr;
    bool locked = false;
    if (mem->Memory.Flags & TWMF_HANDLE) {
        if (GlobalSize(mem->Memory.TheMem) < length)
            return fail(TWCC_BADVALUE);
        dst = static_cast<std::uint8_t *>(GlobalLock(mem->Memory.TheMem));
        locked = true;
    } else {
        dst = static_cast<std::uint8_t *>(mem->Memory.TheMem);
    }
    if (!dst)
        return fail(TWCC_BADVALUE);
    const int rows = int(std::min<std::size_t>(length / stride, std::size_t(page.height() - memoryRow_)));
    copyMemoryRows(page, memoryRow_, rows, flavor_ == TWPF_VANILLA, dst);
    if (locked)
        GlobalUnlock(mem->Memory.TheMem);
    mem->Compression = 0;
    mem->BytesPerRow = TW_UINT32(stride);
    mem->Columns = TW_UINT32(page.width());
    mem->Rows = TW_UINT32(rows);
    mem->XOffset = 0;
    mem->YOffset = TW_UINT32(memoryRow_);
    mem->BytesWritten = TW_UINT32(std::size_t(rows) * stride);
    memoryRow_ += rows;
    state_ = 7;
    condition_ = TWCC_SUCCESS;
    if (memoryRow_ >= page.height()) {
        transferred_ = true;
        return TWRC_XFERDONE;
    }
    return TWRC_SUCCESS;
}

TW_UINT16 Session::fileTransfer()
{
    if (state_ != 6 || pages_.empty() || transferred_)
        return fail(TWCC_SEQERROR);
    const Page &page = pages_.front();
    const std::vector<std::uint8_t> bytes = fileSetup_.Format == TWFF_TIFF ? encodeTiff(page) : encodeBmpFile(page);
    if (bytes.empty())
        return fail(TWCC_LOWMEMORY);
    const QByteArray name(fileSetup_.FileName, int(strnlen(fileSetup_.FileName, sizeof fileSetup_.FileName)));
    try {
        platform::WriteFileAtomically(name, QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()),
                                                                    qsizetype(bytes.size())));
    } catch (const platform::FileAccessError &e) {
        qCWarning(lcSane) << e.what();
        return fail(TWCC_BUMMER);
    }
    transferred_ = true;
    state_ = 7;
    condition_ = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 Session::palette(TW_UINT16 msg, TW_PALETTE8 *pal)
{
    if (!pal)
        return fail(TWCC_BADVALUE);
    if (msg == MSG_SET || msg == MSG_RESET)
        return fail(TWCC_BADPROTOCOL);
    if (msg != MSG_GET && msg != MSG_GETDEFAULT)
        return fail(TWCC_BADPROTOCOL);
    PixelKind kind;
    if (!pages_.empty()) {
        kind = pages_.front().kind();
    } else {
        const TW_UINT16 t = currentPixelType(options_);
        kind = t == TWPT_BW ? PixelKind::BlackWhite : t == TWPT_GRAY ? PixelKind::Gray : PixelKind::Rgb;
    }
    if (kind == PixelKind::Rgb)
        return fail(TWCC_BADPROTOCOL);
    std::memset(pal, 0, sizeof *pal);
    pal->PaletteType = TWPA_GRAY;
    const bool vanilla = flavor_ == TWPF_VANILLA;
    if (kind == PixelKind::BlackWhite) {
        pal->NumColors = 2;
        for (int i = 0; i < 2; ++i) {
            const std::uint8_t v = (i == 0) == vanilla ? 255 : 0;
            pal->Colors[i] = {std::uint8_t(i), v, v, v};
        }
    } else {
        pal->NumColors = 256;
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t v = std::uint8_t(vanilla ? 255 - i : i);
            pal->Colors[i] = {std::uint8_t(i), v, v, v};
        }
    }
    return succeed();
}

// ---------------------------------------------------------------------------
// Image layout

TW_UINT16 Session::imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT *layout)
{
    if (!layout)
        return fail(TWCC_BADVALUE);
    auto fill = [&](const OptionSnapshot &snap) {
        double area[4];
        if (!areaMm(snap, area))
            return false;
        std::memset(layout, 0, sizeof *layout);
        layout->Frame.Left = toFix32(mmToUnits(area[0], false));
        layout->Frame.Top = toFix32(mmToUnits(area[1], true));
        layout->Frame.Right = toFix32(mmToUnits(area[2], false));
        layout->Frame.Bottom = toFix32(mmToUnits(area[3], true));
        layout->DocumentNumber = 1;
        layout->PageNumber = 1;
        layout->FrameNumber = 1;
        return true;
    };
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
        return fill(options_) ? succeed() : fail(TWCC_BADPROTOCOL);
    case MSG_GETDEFAULT:
        return fill(defaults_) ? succeed() : fail(TWCC_BADPROTOCOL);
    case MSG_RESET:
    case MSG_SET: {
        if (state_ != 4)
            return fail(TWCC_SEQERROR);
        double area[4];
        if (msg == MSG_RESET) {
            if (!areaMm(defaults_, area))
                return fail(TWCC_BADPROTOCOL);
        } else {
            area[0] = unitsToMm(fromFix32(layout->Frame.Left), false);
            area[1] = unitsToMm(fromFix32(layout->Frame.Top), true);
            area[2] = unitsToMm(fromFix32(layout->Frame.Right), false);
            area[3] = unitsToMm(fromFix32(layout->Frame.Bottom), true);
            if (!(area[2] > area[0]) || !(area[3] > area[1]))
                return fail(TWCC_BADVALUE);
        }
        bool inexact = false;
        const SANE_Status st = setAreaMm(area, &inexact);
        if (st == SANE_STATUS_UNSUPPORTED)
            return fail(TWCC_BADPROTOCOL);
        if (st != SANE_STATUS_GOOD)
            return fail(TWCC_BADVALUE);
        fill(options_);
        if (inexact) {
            condition_ = TWCC_SUCCESS;
            return TWRC_CHECKSTATUS;
        }
        return succeed();
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

} // namespace sane_source

namespace sane_source {

void Session::dialogSetMode(const std::string &mode, int depth)
{
    if (!sane_ || scanning_)
        return;
    auto dev = sane_;
    Session *self = this;
    Worker::instance().post([dev, self, mode, depth, reopen = reopener()] {
        SANE_Int info = 0;
        SANE_Status st = reopen(*dev) ? dev->setText(opt::mode, mode, &info) : SANE_STATUS_IO_ERROR;
        if (st == SANE_STATUS_GOOD && depth > 0) {
            // Line art needs one bit; leaving it needs more (a depth the
            // person chose otherwise, such as 16, is kept).
            const OptionSnapshot snap = dev->snapshot();
            const OptionInfo *d = snap.usable(opt::depth);
            if (d && !d->value.words.empty() && (depth == 1 || d->value.words.front() == 1))
                st = dev->setNumber(opt::depth, depth, &info);
        }
        auto snapshot = std::make_shared<OptionSnapshot>(dev->snapshot());
        deliver(self, [self, st, info, snapshot] {
            self->applyOptionResult(st, info, QStringLiteral("Modus"), snapshot);
        });
    });
}

void Session::dialogSetResolution(double dpi)
{
    if (!sane_ || scanning_)
        return;
    auto dev = sane_;
    Session *self = this;
    const bool single = options_.usable(opt::resolution) != nullptr;
    Worker::instance().post([dev, self, dpi, single, reopen = reopener()] {
        SANE_Int info = 0;
        SANE_Status st = SANE_STATUS_GOOD;
        if (!reopen(*dev)) {
            st = SANE_STATUS_IO_ERROR;
        } else if (single) {
            st = dev->setNumber(opt::resolution, dpi, &info);
        } else {
            st = dev->setNumber(opt::xResolution, dpi, &info);
            if (st == SANE_STATUS_GOOD)
                st = dev->setNumber(opt::yResolution, dpi, &info);
        }
        auto snapshot = std::make_shared<OptionSnapshot>(dev->snapshot());
        deliver(self, [self, st, info, snapshot] {
            self->applyOptionResult(st, info, QStringLiteral("Auflösung"), snapshot);
        });
    });
}

void Session::dialogSetSource(const std::string &value)
{
    if (!sane_ || scanning_)
        return;
    if (value.empty()) {
        dialogSetPaper(QStringLiteral("auto"));
        return;
    }
    if (!settings_.paper.isEmpty())
        dialogSetPaper({});
    const OptionInfo *src = options_.find(opt::source);
    if (!src)
        return;
    OptionValue v;
    v.text = value;
    dialogSetOption(src->index, v);
}

} // namespace sane_source
