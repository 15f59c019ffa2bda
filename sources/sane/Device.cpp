#include "sources/sane/Device.h"

#include "sources/sane/Log.h"
#include "sources/sane/Texts.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sane_source {

namespace {

bool g_initialised = false;
SANE_Status g_initStatus = SANE_STATUS_GOOD;

// Descriptor sizes beyond this are not believed.
constexpr SANE_Int kMaxOptionSize = 1 << 20;
constexpr std::size_t kReadBuffer = 1 << 20;
// The shortest time between two progress reports of a scan.
constexpr std::chrono::milliseconds kProgressInterval(100);

// Read-only options through which some devices tell whether the feeder
// holds paper.
const char *const kPaperSensors[] = {"page-loaded", "adf-loaded", "paper-loaded", "document-loaded", "adf-paper"};

} // namespace

SANE_Status initSane()
{
    if (!g_initialised) {
        SANE_Int version = 0;
        g_initStatus = sane_init(&version, nullptr);
        g_initialised = g_initStatus == SANE_STATUS_GOOD;
        qCDebug(lcSane) << "sane_init:" << g_initStatus;
    }
    return g_initStatus;
}

void exitSane()
{
    if (g_initialised) {
        sane_exit();
        g_initialised = false;
    }
}

std::vector<FoundDevice> discoverDevices(bool localOnly, SANE_Status *status)
{
    std::vector<FoundDevice> found;
    SANE_Status st = initSane();
    if (st == SANE_STATUS_GOOD) {
        const SANE_Device **list = nullptr;
        const auto started = std::chrono::steady_clock::now();
        st = sane_get_devices(&list, localOnly ? SANE_TRUE : SANE_FALSE);
        qCDebug(lcSane) << "sane_get_devices" << (localOnly ? "(local):" : "(all):") << st << "in"
                        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                  started)
                               .count()
                        << "ms";
        if (st == SANE_STATUS_GOOD && list) {
            for (int i = 0; list[i]; ++i) {
                const SANE_Device *d = list[i];
                if (!d->name || !*d->name)
                    continue;
                found.push_back({d->name, d->vendor ? d->vendor : "", d->model ? d->model : "",
                                 d->type ? d->type : ""});
            }
        }
    }
    if (status)
        *status = st;
    return found;
}

QString statusMessage(SANE_Status status) { return texts::forStatus(status); }

// ---------------------------------------------------------------------------

Device::~Device() { close(); }

SANE_Status Device::open(const std::string &saneName)
{
    close();
    SANE_Status st = initSane();
    if (st != SANE_STATUS_GOOD)
        return st;
    SANE_Handle h = nullptr;
    st = sane_open(saneName.c_str(), &h);
    qCDebug(lcSane) << "sane_open" << saneName.c_str() << ":" << st;
    if (st == SANE_STATUS_GOOD && h) {
        handle_ = h;
        name_ = saneName;
    } else if (st == SANE_STATUS_GOOD) {
        st = SANE_STATUS_INVAL;
    }
    return st;
}

void Device::close()
{
    if (handle_) {
        sane_cancel(handle_);
        sane_close(handle_);
        qCDebug(lcSane) << "sane_close" << name_.c_str();
    }
    handle_ = nullptr;
}

const SANE_Option_Descriptor *Device::descriptor(int index)
{
    if (!handle_ || index < 0)
        return nullptr;
    return sane_get_option_descriptor(handle_, index);
}

int Device::indexOf(const std::string &name)
{
    if (!handle_)
        return -1;
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return -1;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor *d = sane_get_option_descriptor(handle_, i);
        if (d && d->name && name == d->name && d->type != SANE_TYPE_GROUP)
            return i;
    }
    return -1;
}

OptionSnapshot Device::snapshot()
{
    OptionSnapshot snap;
    if (!handle_)
        return snap;
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return snap;
    count = std::clamp<SANE_Int>(count, 0, 10000);
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor *d = sane_get_option_descriptor(handle_, i);
        if (!d)
            continue;
        OptionInfo o;
        o.index = i;
        o.name = d->name ? d->name : "";
        o.title = d->title ? d->title : "";
        o.description = d->desc ? d->desc : "";
        o.type = d->type;
        o.unit = d->unit;
        o.size = std::clamp<SANE_Int>(d->size, 0, kMaxOptionSize);
        o.cap = d->cap;
        o.constraintType = d->constraint_type;
        if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
            o.range = *d->constraint.range;
        } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
            const SANE_Int n = std::clamp<SANE_Int>(d->constraint.word_list[0], 0, 10000);
            o.wordList.assign(d->constraint.word_list + 1, d->constraint.word_list + 1 + n);
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
            for (int k = 0; d->constraint.string_list[k] && k < 10000; ++k)
                o.stringList.emplace_back(d->constraint.string_list[k]);
        } else {
            o.constraintType = SANE_CONSTRAINT_NONE;
        }
        if (o.type != SANE_TYPE_GROUP && o.type != SANE_TYPE_BUTTON && o.active() && o.readable() && o.size > 0) {
            std::vector<SANE_Word> buffer(std::size_t(o.size) / sizeof(SANE_Word) + 2, 0);
            if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, buffer.data(), nullptr) ==
                SANE_STATUS_GOOD) {
                if (o.type == SANE_TYPE_STRING) {
                    const char *text = reinterpret_cast<const char *>(buffer.data());
                    o.value.text.assign(text, strnlen(text, std::size_t(o.size)));
                } else {
                    o.value.words.assign(buffer.begin(), buffer.begin() + o.elements());
                }
            }
        }
        snap.options.push_back(std::move(o));
    }
    return snap;
}

SANE_Status Device::setValue(int index, const OptionValue &value, SANE_Int *info)
{
    const SANE_Option_Descriptor *d = descriptor(index);
    if (!d)
        return SANE_STATUS_INVAL;
    if (d->type == SANE_TYPE_GROUP || d->type == SANE_TYPE_BUTTON || !SANE_OPTION_IS_SETTABLE(d->cap) ||
        !SANE_OPTION_IS_ACTIVE(d->cap))
        return SANE_STATUS_INVAL;
    const SANE_Int size = std::clamp<SANE_Int>(d->size, 0, kMaxOptionSize);
    std::vector<SANE_Word> buffer(std::size_t(size) / sizeof(SANE_Word) + 2, 0);
    if (d->type == SANE_TYPE_STRING) {
        if (size <= 0)
            return SANE_STATUS_INVAL;
        std::memcpy(buffer.data(), value.text.data(), std::min<std::size_t>(value.text.size(), std::size_t(size) - 1));
    } else {
        const std::size_t n = std::max<std::size_t>(1, std::size_t(size) / sizeof(SANE_Word));
        if (value.words.empty())
            return SANE_STATUS_INVAL;
        if (value.words.size() < n) {
            // Elements not given keep their current values.
            sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr);
        }
        std::copy_n(value.words.begin(), std::min(n, value.words.size()), buffer.begin());
    }
    SANE_Int got = 0;
    const SANE_Status st = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, buffer.data(), &got);
    qCDebug(lcSane) << "set option" << (d->name ? d->name : "") << ":" << st << "info" << got;
    if (info)
        *info = got;
    return st;
}

SANE_Status Device::setAutomatic(int index, SANE_Int *info)
{
    if (!descriptor(index))
        return SANE_STATUS_INVAL;
    SANE_Int got = 0;
    const SANE_Status st = sane_control_option(handle_, index, SANE_ACTION_SET_AUTO, nullptr, &got);
    if (info)
        *info = got;
    return st;
}

SANE_Status Device::press(int index, SANE_Int *info)
{
    const SANE_Option_Descriptor *d = descriptor(index);
    if (!d || d->type != SANE_TYPE_BUTTON)
        return SANE_STATUS_INVAL;
    SANE_Int got = 0;
    const SANE_Status st = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, nullptr, &got);
    if (info)
        *info = got;
    return st;
}

SANE_Status Device::setNumber(const std::string &name, double value, SANE_Int *info)
{
    const int index = indexOf(name);
    const SANE_Option_Descriptor *d = descriptor(index);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_BOOL))
        return SANE_STATUS_UNSUPPORTED;
    OptionInfo o;
    o.type = d->type;
    o.constraintType = d->constraint_type;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range)
        o.range = *d->constraint.range;
    else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list)
        o.wordList.assign(d->constraint.word_list + 1,
                          d->constraint.word_list + 1 + std::clamp<SANE_Int>(d->constraint.word_list[0], 0, 10000));
    else
        o.constraintType = SANE_CONSTRAINT_NONE;
    const SANE_Word w = doubleToWord(o, nearestAllowed(o, value));
    OptionValue v;
    v.words.assign(std::max<std::size_t>(1, std::size_t(std::clamp<SANE_Int>(d->size, 0, kMaxOptionSize)) /
                                                sizeof(SANE_Word)),
                   w);
    return setValue(index, v, info);
}

SANE_Status Device::setText(const std::string &name, const std::string &value, SANE_Int *info)
{
    const int index = indexOf(name);
    if (index < 0)
        return SANE_STATUS_UNSUPPORTED;
    OptionValue v;
    v.text = value;
    return setValue(index, v, info);
}

std::map<std::string, OptionValue> Device::currentValues()
{
    std::map<std::string, OptionValue> values;
    for (const OptionInfo &o : snapshot().options) {
        if (o.name.empty() || !o.active() || !o.settable() || o.type == SANE_TYPE_BUTTON ||
            o.type == SANE_TYPE_GROUP || o.name == opt::preview)
            continue;
        if (o.value.words.empty() && o.type != SANE_TYPE_STRING)
            continue;
        values[o.name] = o.value;
    }
    return values;
}

void Device::applyValues(const std::map<std::string, OptionValue> &values)
{
    if (!handle_ || values.empty())
        return;
    for (int pass = 0; pass < 2; ++pass) {
        for (const OptionInfo &o : snapshot().options) {
            auto it = values.find(o.name);
            if (it == values.end() || !o.active() || !o.settable() || o.value == it->second)
                continue;
            setValue(o.index, it->second);
        }
    }
}

double Device::resolutionDpi(bool y)
{
    const OptionSnapshot snap = snapshot();
    const OptionInfo *o = snap.find(y ? opt::yResolution : opt::xResolution);
    if (!o || !o->active() || o->value.words.empty())
        o = snap.find(opt::resolution);
    if (!o || o->value.words.empty())
        return 0;
    return o->number();
}

bool Device::reconnect(const std::map<std::string, OptionValue> &values)
{
    const std::string name = name_;
    close();
    if (open(name) != SANE_STATUS_GOOD)
        return false;
    applyValues(values);
    return true;
}

ScanResult Device::scan(const ScanRequest &request)
{
    ScanResult result;
    if (!handle_) {
        result.status = SANE_STATUS_IO_ERROR;
        result.deviceLost = true;
        result.message = texts::unreachable();
        return result;
    }
    const std::map<std::string, OptionValue> before = currentValues();
    const OptionSnapshot snap = snapshot();

    // Which values of "source" mean flatbed and feeder.
    std::string flatbedValue, feederValue, deviceAutoValue;
    if (const OptionInfo *src = snap.usable(opt::source)) {
        for (const std::string &v : src->stringList) {
            const SourceKind k = classifySource(v);
            if (k == SourceKind::Flatbed && flatbedValue.empty())
                flatbedValue = v;
            else if (k == SourceKind::Feeder && feederValue.empty())
                feederValue = v;
            else if (k == SourceKind::DeviceAuto && deviceAutoValue.empty())
                deviceAutoValue = v;
        }
    }

    if (request.preview) {
        // Whole area, low resolution, colour where the device has it; from
        // the flatbed, so that no sheet of the feeder is used up.
        if (const OptionInfo *p = snap.usable(opt::preview))
            setValue(p->index, OptionValue{{SANE_TRUE}, {}});
        if (const OptionInfo *m = snap.usable(opt::mode)) {
            for (const std::string &v : m->stringList)
                if (classifyMode(v) == ModeKind::Color) {
                    setText(opt::mode, v);
                    break;
                }
        }
        if (!flatbedValue.empty())
            setText(opt::source, flatbedValue);
        for (const std::string &name : {opt::resolution, opt::xResolution, opt::yResolution})
            if (snap.usable(name))
                setNumber(name, 50);
        for (const std::string &name : {opt::tlx, opt::tly})
            if (const OptionInfo *o = snap.usable(name))
                setNumber(name, o->constraintType == SANE_CONSTRAINT_RANGE ? wordToDouble(*o, o->range.min) : 0);
        for (const std::string &name : {opt::brx, opt::bry})
            if (const OptionInfo *o = snap.usable(name))
                setNumber(name, o->constraintType == SANE_CONSTRAINT_RANGE ? wordToDouble(*o, o->range.max) : 1e9);
        ScanRequest one = request;
        one.maxPages = 1;
        result = scanPages(one, false);
        applyValues(before);
        return result;
    }

    bool feeder = false;
    switch (request.paper) {
    case PaperSource::AsSet:
        if (const OptionInfo *src = snap.usable(opt::source))
            feeder = classifySource(src->value.text) == SourceKind::Feeder;
        break;
    case PaperSource::Flatbed:
        if (!flatbedValue.empty())
            setText(opt::source, flatbedValue);
        break;
    case PaperSource::Feeder:
        if (!feederValue.empty()) {
            setText(opt::source, feederValue);
            feeder = true;
        }
        break;
    case PaperSource::Automatic: {
        if (!deviceAutoValue.empty()) {
            setText(opt::source, deviceAutoValue);
            feeder = true;
            break;
        }
        if (feederValue.empty())
            break;
        // The device's own paper sensor, where it has one.
        int sensor = -1;
        for (const char *name : kPaperSensors)
            if (const OptionInfo *o = snap.find(name); o && o->active() && o->type == SANE_TYPE_BOOL &&
                                                       !o->value.words.empty()) {
                sensor = o->value.words.front() ? 1 : 0;
                break;
            }
        if (sensor == 0 && !flatbedValue.empty()) {
            setText(opt::source, flatbedValue);
        } else {
            setText(opt::source, feederValue);
            feeder = true;
        }
        break;
    }
    }

    result = scanPages(request, feeder);
    if (request.paper == PaperSource::Automatic && feeder && result.pages.empty() &&
        result.status == SANE_STATUS_NO_DOCS && !flatbedValue.empty()) {
        // The feeder is empty: the page lies on the flatbed.
        setText(opt::source, flatbedValue);
        ScanRequest one = request;
        one.maxPages = 1;
        result = scanPages(one, false);
    }
    if (request.paper != PaperSource::AsSet)
        if (auto it = before.find(opt::source); it != before.end() && handle_)
            setText(opt::source, it->second.text);

    if (result.status == SANE_STATUS_IO_ERROR && !result.cancelled) {
        // A device that went away answers with an I/O error; see whether it
        // is still there.
        if (!reconnect(before)) {
            result.deviceLost = true;
            result.message = texts::deviceLost();
        }
    }
    return result;
}

ScanResult Device::scanPages(const ScanRequest &request, bool feeder)
{
    ScanResult result;
    const double xDpi = resolutionDpi(false);
    const double yDpi = resolutionDpi(true);
    std::vector<std::uint8_t> buffer(kReadBuffer);
    const int maxPages = feeder ? request.maxPages : 1;
    auto cancelled = [&] { return request.cancel && request.cancel->load(); };
    auto fail = [&](SANE_Status st, const QString &message) {
        sane_cancel(handle_);
        result.status = st;
        result.message = message.isEmpty() ? statusMessage(st) : message;
    };

    for (int pageNo = 0; maxPages < 0 || pageNo < maxPages; ++pageNo) {
        if (cancelled()) {
            sane_cancel(handle_);
            result.cancelled = true;
            break;
        }
        SANE_Status st = sane_start(handle_);
        qCDebug(lcSane) << "sane_start:" << st;
        if (st == SANE_STATUS_NO_DOCS && pageNo > 0) {
            // The feeder ran empty after at least one page: done.
            sane_cancel(handle_);
            break;
        }
        if (st != SANE_STATUS_GOOD) {
            fail(st, {});
            break;
        }
        PageBuilder builder;
        bool last = false;
        bool failed = false;
        double lastShare = -1;
        std::chrono::steady_clock::time_point lastProgress{};
        while (!last && !failed) {
            SANE_Parameters params{};
            st = sane_get_parameters(handle_, &params);
            QString error;
            if (st != SANE_STATUS_GOOD) {
                fail(st, {});
                failed = true;
                break;
            }
            if (!builder.beginFrame(params, &error)) {
                fail(SANE_STATUS_UNSUPPORTED, error);
                failed = true;
                break;
            }
            for (;;) {
                if (cancelled()) {
                    sane_cancel(handle_);
                    qCDebug(lcSane) << "scan cancelled";
                    result.cancelled = true;
                    failed = true;
                    break;
                }
                SANE_Int got = 0;
                st = sane_read(handle_, buffer.data(), SANE_Int(buffer.size()), &got);
                if (st == SANE_STATUS_EOF)
                    break;
                if (st != SANE_STATUS_GOOD) {
                    qCDebug(lcSane) << "sane_read:" << st;
                    fail(st, {});
                    failed = true;
                    break;
                }
                if (got > 0)
                    builder.addData(buffer.data(), std::min<std::size_t>(std::size_t(got), buffer.size()));
                if (request.progress && builder.expectedBytes() > 0) {
                    // Each step redraws the dialog on the GUI thread: a few
                    // steps a second are enough for the eye, and a fast device
                    // does not hand the GUI a hundred redraws to do.
                    const double share =
                        std::min(1.0, double(builder.receivedBytes()) / double(builder.expectedBytes()));
                    const auto now = std::chrono::steady_clock::now();
                    if (share - lastShare >= 0.01 && now - lastProgress >= kProgressInterval) {
                        lastShare = share;
                        lastProgress = now;
                        request.progress(share);
                    }
                }
            }
            if (failed)
                break;
            last = builder.endFrame();
            if (!last) {
                st = sane_start(handle_);
                if (st != SANE_STATUS_GOOD) {
                    fail(st, {});
                    failed = true;
                }
            }
        }
        if (failed)
            break;
        Page page = builder.takePage(xDpi, yDpi);
        if (!page.valid()) {
            fail(SANE_STATUS_EOF, texts::noImage());
            break;
        }
        result.pages.push_back(std::move(page));
    }
    if (!result.cancelled && result.status == SANE_STATUS_GOOD)
        sane_cancel(handle_);
    return result;
}

} // namespace sane_source
