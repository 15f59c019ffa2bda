// Capabilities of a SANE source: negotiated values mapped onto the device's
// options (mode, depth, resolution, scan area, paper source) or kept by the
// source itself (units, flavour, transfer mechanism, count, indicators).
#include "sources/sane/Session.h"

#include "sources/sane/Log.h"
#include "sources/sane/TwainValues.h"
#include "sources/sane/Worker.h"

#include "platform/GlobalMemory.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace sane_source {

namespace {

constexpr TW_UINT32 kTrue = 1;

const double kStandardResolutions[] = {50, 75, 100, 150, 200, 240, 300, 400, 600, 800, 1200, 2400, 4800, 9600};

bool near(double a, double b, double tolerance) { return std::abs(a - b) <= tolerance; }

} // namespace

// ---------------------------------------------------------------------------
// Device option helpers

void Session::refreshOptions()
{
    if (!sane_)
        return;
    auto dev = sane_;
    options_ = Worker::instance().call([dev] { return dev->snapshot(); });
}

SANE_Status Session::setDeviceNumber(const std::string &name, double value, SANE_Int *info)
{
    if (!sane_)
        return SANE_STATUS_INVAL;
    auto dev = sane_;
    return Worker::instance().call([dev, name, value, info] { return dev->setNumber(name, value, info); });
}

SANE_Status Session::setDeviceText(const std::string &name, const std::string &value, SANE_Int *info)
{
    if (!sane_)
        return SANE_STATUS_INVAL;
    auto dev = sane_;
    return Worker::instance().call([dev, name, value, info] { return dev->setText(name, value, info); });
}

const OptionInfo *Session::resolutionOption(bool y) const
{
    if (const OptionInfo *o = options_.usable(y ? opt::yResolution : opt::xResolution))
        return o;
    return options_.usable(opt::resolution);
}

double Session::currentDpi(bool y) const
{
    const OptionInfo *o = resolutionOption(y);
    if (!o) {
        o = options_.find(opt::resolution);
        if (!o || o->value.words.empty())
            return 0;
    }
    return o->number();
}

double Session::mmToUnits(double mm, bool y) const
{
    switch (units_) {
    case TWUN_CENTIMETERS:
        return mm / 10.0;
    case TWUN_PIXELS:
        return mm / 25.4 * currentDpi(y);
    default:
        return mm / 25.4;
    }
}

double Session::unitsToMm(double v, bool y) const
{
    switch (units_) {
    case TWUN_CENTIMETERS:
        return v * 10.0;
    case TWUN_PIXELS: {
        const double dpi = currentDpi(y);
        return dpi > 0 ? v / dpi * 25.4 : 0;
    }
    default:
        return v * 25.4;
    }
}

double Session::geometryMm(const OptionInfo &o, double value, bool y) const
{
    if (o.unit == SANE_UNIT_PIXEL) {
        const double dpi = currentDpi(y);
        return dpi > 0 ? value / dpi * 25.4 : 0;
    }
    return value;
}

double Session::mmToGeometry(const OptionInfo &o, double mm, bool y) const
{
    if (o.unit == SANE_UNIT_PIXEL)
        return mm / 25.4 * currentDpi(y);
    return mm;
}

bool Session::areaMm(const OptionSnapshot &snap, double area[4]) const
{
    const std::string *names[4] = {&opt::tlx, &opt::tly, &opt::brx, &opt::bry};
    for (int i = 0; i < 4; ++i) {
        const OptionInfo *o = snap.find(*names[i]);
        if (!o || !o->active() || o->value.words.empty())
            return false;
        area[i] = geometryMm(*o, o->number(), i % 2 == 1);
    }
    return true;
}

bool Session::maxAreaMm(double area[4]) const
{
    const std::string *names[4] = {&opt::tlx, &opt::tly, &opt::brx, &opt::bry};
    for (int i = 0; i < 4; ++i) {
        const OptionInfo *o = options_.find(*names[i]);
        if (!o || o->constraintType != SANE_CONSTRAINT_RANGE)
            return false;
        const double v = wordToDouble(*o, i < 2 ? o->range.min : o->range.max);
        area[i] = geometryMm(*o, v, i % 2 == 1);
    }
    return area[2] > area[0] && area[3] > area[1];
}

SANE_Status Session::setAreaMm(const double area[4], bool *inexact)
{
    const OptionInfo *o[4] = {options_.usable(opt::tlx), options_.usable(opt::tly), options_.usable(opt::brx),
                              options_.usable(opt::bry)};
    if (!o[0] || !o[1] || !o[2] || !o[3])
        return SANE_STATUS_UNSUPPORTED;
    double value[4];
    for (int i = 0; i < 4; ++i)
        value[i] = mmToGeometry(*o[i], area[i], i % 2 == 1);
    const double maxX = wordToDouble(*o[2], o[2]->range.max), maxY = wordToDouble(*o[3], o[3]->range.max);
    auto dev = sane_;
    const SANE_Status st = Worker::instance().call([dev, value, maxX, maxY] {
        // The widest area first, so that no step is refused for lying
        // outside the previous one.
        dev->setNumber(opt::brx, maxX);
        dev->setNumber(opt::bry, maxY);
        const std::string *names[4] = {&opt::tlx, &opt::tly, &opt::brx, &opt::bry};
        SANE_Status result = SANE_STATUS_GOOD;
        for (int i = 0; i < 4; ++i) {
            const SANE_Status s = dev->setNumber(*names[i], value[i]);
            if (s != SANE_STATUS_GOOD)
                result = s;
        }
        return result;
    });
    refreshOptions();
    double now[4];
    if (inexact) {
        *inexact = false;
        if (areaMm(options_, now))
            for (int i = 0; i < 4; ++i)
                *inexact = *inexact || !near(now[i], area[i], 0.05);
    }
    return st;
}

// ---------------------------------------------------------------------------
// Which capabilities

std::vector<TW_UINT16> Session::supportedCaps() const
{
    std::vector<TW_UINT16> caps = {CAP_XFERCOUNT,    ICAP_COMPRESSION,   ICAP_PIXELTYPE,   ICAP_UNITS,
                                   ICAP_XFERMECH,    CAP_INDICATORS,     CAP_UICONTROLLABLE, kCapSupportedCaps,
                                   kCapDeviceOnline, ICAP_PIXELFLAVOR,   ICAP_BITDEPTH,    ICAP_ORIENTATION};
    if (resolutionOption(false))
        caps.push_back(ICAP_XRESOLUTION);
    if (resolutionOption(true))
        caps.push_back(ICAP_YRESOLUTION);
    double area[4];
    if (maxAreaMm(area)) {
        caps.push_back(ICAP_PHYSICALWIDTH);
        caps.push_back(ICAP_PHYSICALHEIGHT);
        caps.push_back(ICAP_SUPPORTEDSIZES);
    }
    bool feeder = false;
    if (const OptionInfo *src = options_.usable(opt::source))
        for (const std::string &v : src->stringList)
            feeder = feeder || classifySource(v) == SourceKind::Feeder;
    if (feeder) {
        caps.push_back(CAP_FEEDERENABLED);
        caps.push_back(CAP_FEEDERLOADED);
        caps.push_back(CAP_AUTOFEED);
    }
    return caps;
}

bool Session::capSupported(TW_UINT16 cap) const
{
    const auto caps = supportedCaps();
    return std::find(caps.begin(), caps.end(), cap) != caps.end();
}

TW_UINT16 Session::capability(TW_UINT16 msg, TW_CAPABILITY *cap)
{
    if (!cap)
        return fail(TWCC_BADVALUE);
    if (state_ < 4)
        return fail(TWCC_SEQERROR);
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        return capGet(msg, cap);
    case MSG_SET:
        return capSet(cap);
    case MSG_RESET:
        return capReset(cap);
    case MSG_QUERYSUPPORT:
        return capQuerySupport(cap);
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 Session::capQuerySupport(TW_CAPABILITY *cap)
{
    TW_UINT32 flags = 0;
    if (capSupported(cap->Cap)) {
        flags = kTwqcGet | kTwqcGetCurrent | kTwqcGetDefault;
        switch (cap->Cap) {
        case CAP_UICONTROLLABLE:
        case kCapSupportedCaps:
        case kCapDeviceOnline:
        case ICAP_PHYSICALWIDTH:
        case ICAP_PHYSICALHEIGHT:
        case CAP_FEEDERLOADED:
            break;
        default:
            flags |= kTwqcSet | kTwqcReset;
        }
    }
    HGLOBAL h = makeOneValue(TWTY_INT32, flags);
    if (!h)
        return fail(TWCC_LOWMEMORY);
    cap->ConType = TWON_ONEVALUE;
    cap->hContainer = h;
    return succeed();
}

// ---------------------------------------------------------------------------
// Reading

TW_UINT16 Session::capGet(TW_UINT16 msg, TW_CAPABILITY *cap)
{
    const bool wantDefault = msg == MSG_GETDEFAULT;
    if (!capSupported(cap->Cap))
        return fail(TWCC_CAPUNSUPPORTED);
    HGLOBAL h = nullptr;
    TW_UINT16 conType = TWON_ONEVALUE;
    auto oneValue = [&](TW_UINT16 type, TW_UINT32 item) {
        h = makeOneValue(type, item);
        conType = TWON_ONEVALUE;
    };
    auto enumeration = [&](TW_UINT16 type, const std::vector<TW_UINT32> &items, TW_UINT32 current, TW_UINT32 def) {
        std::size_t cur = 0, dflt = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i] == current)
                cur = i;
            if (items[i] == def)
                dflt = i;
        }
        h = makeEnumeration(type, items, cur, dflt);
        conType = TWON_ENUMERATION;
    };

    switch (cap->Cap) {
    case CAP_XFERCOUNT:
        oneValue(TWTY_INT16, TW_UINT32(TW_UINT16(wantDefault ? -1 : xferCount_)));
        break;
    case ICAP_COMPRESSION:
        enumeration(TWTY_UINT16, {0}, 0, 0);
        break;
    case ICAP_PIXELTYPE: {
        std::vector<TW_UINT32> types;
        for (const ModeChoice &c : modeChoices(options_))
            if (c.pixelType != 0xFFFF && std::find(types.begin(), types.end(), c.pixelType) == types.end())
                types.push_back(c.pixelType);
        const TW_UINT16 current = currentPixelType(options_);
        if (std::find(types.begin(), types.end(), current) == types.end())
            types.push_back(current);
        enumeration(TWTY_UINT16, types, current, currentPixelType(defaults_));
        break;
    }
    case ICAP_UNITS:
        enumeration(TWTY_UINT16, {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS}, units_, TWUN_INCHES);
        break;
    case ICAP_XFERMECH:
        enumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, xferMech_, TWSX_NATIVE);
        break;
    case CAP_INDICATORS:
        oneValue(TWTY_BOOL, wantDefault || indicators_ ? kTrue : 0);
        break;
    case CAP_UICONTROLLABLE:
        oneValue(TWTY_BOOL, kTrue);
        break;
    case kCapDeviceOnline:
        oneValue(TWTY_BOOL, sane_ ? kTrue : 0);
        break;
    case kCapSupportedCaps: {
        std::vector<TW_UINT32> items;
        for (TW_UINT16 c : supportedCaps())
            items.push_back(c);
        h = makeArray(TWTY_UINT16, items);
        conType = TWON_ARRAY;
        break;
    }
    case ICAP_PIXELFLAVOR:
        enumeration(TWTY_UINT16, {TWPF_CHOCOLATE, TWPF_VANILLA}, flavor_, TWPF_CHOCOLATE);
        break;
    case ICAP_BITDEPTH: {
        const TW_UINT16 type = currentPixelType(options_);
        const TW_UINT32 depth = type == TWPT_BW ? 1 : type == TWPT_GRAY ? 8 : 24;
        enumeration(TWTY_UINT16, {depth}, depth, depth);
        break;
    }
    case ICAP_ORIENTATION:
        enumeration(TWTY_UINT16, {TWOR_ROT0}, TWOR_ROT0, TWOR_ROT0);
        break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        const bool y = cap->Cap == ICAP_YRESOLUTION;
        const OptionInfo *o = resolutionOption(y);
        std::set<double> dpis;
        if (o->constraintType == SANE_CONSTRAINT_WORD_LIST) {
            for (SANE_Word w : o->wordList)
                dpis.insert(wordToDouble(*o, w));
        } else if (o->constraintType == SANE_CONSTRAINT_RANGE) {
            const double lo = wordToDouble(*o, o->range.min), hi = wordToDouble(*o, o->range.max);
            dpis.insert(lo);
            dpis.insert(hi);
            for (double d : kStandardResolutions)
                if (d > lo && d < hi && near(nearestAllowed(*o, d), d, 1e-6))
                    dpis.insert(d);
        }
        const double current = o->number();
        dpis.insert(current);
        const OptionInfo *d = defaults_.find(o->name);
        const double def = d && !d->value.words.empty() ? d->number() : current;
        dpis.insert(def);
        const double perUnit = units_ == TWUN_CENTIMETERS ? 1 / 2.54 : 1.0;
        std::vector<TW_UINT32> items;
        for (double dpi : dpis)
            items.push_back(fix32Item(dpi * perUnit));
        enumeration(TWTY_FIX32, items, fix32Item(current * perUnit), fix32Item(def * perUnit));
        break;
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
        double area[4];
        maxAreaMm(area);
        const bool y = cap->Cap == ICAP_PHYSICALHEIGHT;
        oneValue(TWTY_FIX32, fix32Item(mmToUnits(y ? area[3] - area[1] : area[2] - area[0], y)));
        break;
    }
    case ICAP_SUPPORTEDSIZES: {
        double full[4];
        maxAreaMm(full);
        const double maxW = full[2] - full[0], maxH = full[3] - full[1];
        std::vector<TW_UINT32> items = {TWSS_NONE};
        for (const PaperSize &p : paperSizes())
            if (p.twss != 0xFFFF && p.width <= maxW + 0.5 && p.height <= maxH + 0.5)
                items.push_back(p.twss);
        auto sizeOf = [&](const OptionSnapshot &snap) -> TW_UINT32 {
            double a[4];
            if (!areaMm(snap, a) || !near(a[0], full[0], 0.5) || !near(a[1], full[1], 0.5))
                return TWSS_NONE;
            for (const PaperSize &p : paperSizes())
                if (p.twss != 0xFFFF && near(a[2] - a[0], p.width, 1) && near(a[3] - a[1], p.height, 1))
                    return p.twss;
            return TWSS_NONE;
        };
        enumeration(TWTY_UINT16, items, sizeOf(options_), sizeOf(defaults_));
        break;
    }
    case CAP_FEEDERENABLED: {
        auto isFeeder = [](const OptionSnapshot &snap) {
            const OptionInfo *src = snap.find(opt::source);
            return src && classifySource(src->value.text) == SourceKind::Feeder;
        };
        oneValue(TWTY_BOOL, (wantDefault ? isFeeder(defaults_) : isFeeder(options_)) ? kTrue : 0);
        break;
    }
    case CAP_FEEDERLOADED: {
        // The device's sensor where it has one; otherwise a feeder counts as
        // loaded until a scan found it empty.
        bool loaded = !lastFeederEmpty_;
        for (const char *name : {"page-loaded", "adf-loaded", "paper-loaded", "document-loaded"})
            if (const OptionInfo *o = options_.find(name);
                o && o->type == SANE_TYPE_BOOL && o->active() && !o->value.words.empty()) {
                loaded = o->value.words.front() != 0;
                break;
            }
        oneValue(TWTY_BOOL, loaded ? kTrue : 0);
        break;
    }
    case CAP_AUTOFEED:
        oneValue(TWTY_BOOL, kTrue);
        break;
    default:
        return fail(TWCC_CAPUNSUPPORTED);
    }
    if (!h)
        return fail(TWCC_LOWMEMORY);
    cap->ConType = conType;
    cap->hContainer = h;
    return succeed();
}

// ---------------------------------------------------------------------------
// Setting

TW_UINT16 Session::capSet(TW_CAPABILITY *cap)
{
    if (!capSupported(cap->Cap))
        return fail(TWCC_CAPUNSUPPORTED);
    if (state_ != 4)
        return fail(TWCC_SEQERROR);
    TW_UINT16 type = 0;
    TW_UINT32 item = 0;
    if (!readSetValue(cap->ConType, cap->hContainer, &type, &item))
        return fail(TWCC_BADVALUE);
    const bool isBool = item != 0;

    // A device option set: SUCCESS, CHECKSTATUS when the device took
    // another value, BADVALUE when it refused.
    auto deviceResult = [&](SANE_Status st, bool inexact) -> TW_UINT16 {
        refreshOptions();
        if (st == SANE_STATUS_INVAL)
            return fail(TWCC_BADVALUE);
        if (st != SANE_STATUS_GOOD)
            return fail(TWCC_BUMMER);
        if (inexact) {
            condition_ = TWCC_SUCCESS;
            return TWRC_CHECKSTATUS;
        }
        return succeed();
    };

    switch (cap->Cap) {
    case CAP_XFERCOUNT: {
        const TW_INT16 n = TW_INT16(TW_UINT16(item));
        if (n == 0 || n < -1)
            return fail(TWCC_BADVALUE);
        xferCount_ = n;
        return succeed();
    }
    case ICAP_COMPRESSION:
        return item == 0 ? succeed() : fail(TWCC_BADVALUE);
    case ICAP_PIXELTYPE: {
        for (const ModeChoice &c : modeChoices(options_)) {
            if (c.pixelType != item)
                continue;
            SANE_Status st = setDeviceText(opt::mode, c.mode);
            if (st == SANE_STATUS_GOOD) {
                refreshOptions();
                const OptionInfo *depth = options_.usable(opt::depth);
                const int now = depth && !depth->value.words.empty() ? depth->value.words.front() : -1;
                if (depth && c.depth > 0 && (c.depth == 1 || now == 1))
                    st = setDeviceNumber(opt::depth, c.depth);
            }
            return deviceResult(st, false);
        }
        return fail(TWCC_BADVALUE);
    }
    case ICAP_UNITS:
        if (item != TWUN_INCHES && item != TWUN_CENTIMETERS && item != TWUN_PIXELS)
            return fail(TWCC_BADVALUE);
        units_ = TW_UINT16(item);
        return succeed();
    case ICAP_XFERMECH:
        if (item > TWSX_MEMORY)
            return fail(TWCC_BADVALUE);
        xferMech_ = TW_UINT16(item);
        return succeed();
    case CAP_INDICATORS:
        indicators_ = isBool;
        return succeed();
    case ICAP_PIXELFLAVOR:
        if (item != TWPF_CHOCOLATE && item != TWPF_VANILLA)
            return fail(TWCC_BADVALUE);
        flavor_ = TW_UINT16(item);
        return succeed();
    case ICAP_BITDEPTH: {
        const TW_UINT16 t = currentPixelType(options_);
        const TW_UINT32 depth = t == TWPT_BW ? 1 : t == TWPT_GRAY ? 8 : 24;
        return item == depth ? succeed() : fail(TWCC_BADVALUE);
    }
    case ICAP_ORIENTATION:
        return item == TWOR_ROT0 ? succeed() : fail(TWCC_BADVALUE);
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        if (type != TWTY_FIX32)
            return fail(TWCC_BADVALUE);
        const bool y = cap->Cap == ICAP_YRESOLUTION;
        double dpi = fix32FromItem(item);
        if (units_ == TWUN_CENTIMETERS)
            dpi *= 2.54;
        if (!(dpi > 0))
            return fail(TWCC_BADVALUE);
        const OptionInfo *o = resolutionOption(y);
        const std::string name = o->name;
        const SANE_Status st = setDeviceNumber(name, dpi);
        refreshOptions();
        const OptionInfo *now = options_.find(name);
        return deviceResult(st, now && !near(now->number(), dpi, 0.01));
    }
    case ICAP_SUPPORTEDSIZES: {
        double area[4];
        maxAreaMm(area);
        if (item != TWSS_NONE) {
            const auto &sizes = paperSizes();
            auto it = std::find_if(sizes.begin(), sizes.end(), [&](const PaperSize &p) { return p.twss == item; });
            if (it == sizes.end() || item == 0xFFFF || it->width > area[2] - area[0] + 0.5 ||
                it->height > area[3] - area[1] + 0.5)
                return fail(TWCC_BADVALUE);
            area[2] = area[0] + it->width;
            area[3] = area[1] + it->height;
        }
        bool inexact = false;
        const SANE_Status st = setAreaMm(area, &inexact);
        return deviceResult(st, false);
    }
    case CAP_FEEDERENABLED: {
        const OptionInfo *src = options_.usable(opt::source);
        std::string value;
        for (const std::string &v : src->stringList)
            if (classifySource(v) == (isBool ? SourceKind::Feeder : SourceKind::Flatbed)) {
                value = v;
                break;
            }
        if (value.empty())
            return fail(TWCC_BADVALUE);
        settings_.paper.clear();
        return deviceResult(setDeviceText(opt::source, value), false);
    }
    case CAP_AUTOFEED:
        return succeed();
    default:
        // Read-only capabilities.
        return fail(TWCC_CAPBADOPERATION);
    }
}

TW_UINT16 Session::capReset(TW_CAPABILITY *cap)
{
    if (!capSupported(cap->Cap))
        return fail(TWCC_CAPUNSUPPORTED);
    if (state_ != 4)
        return fail(TWCC_SEQERROR);
    auto restore = [&](const std::string &name) {
        const OptionInfo *d = defaults_.find(name);
        if (!d || !options_.usable(name))
            return;
        const OptionInfo *o = options_.find(name);
        auto dev = sane_;
        const int index = o->index;
        const OptionValue value = d->value;
        Worker::instance().call([dev, index, value] { return dev->setValue(index, value); });
    };
    switch (cap->Cap) {
    case CAP_XFERCOUNT:
        xferCount_ = -1;
        break;
    case ICAP_UNITS:
        units_ = TWUN_INCHES;
        break;
    case ICAP_XFERMECH:
        xferMech_ = TWSX_NATIVE;
        break;
    case CAP_INDICATORS:
        indicators_ = true;
        break;
    case ICAP_PIXELFLAVOR:
        flavor_ = TWPF_CHOCOLATE;
        break;
    case ICAP_PIXELTYPE:
    case ICAP_BITDEPTH:
        restore(opt::mode);
        refreshOptions();
        restore(opt::depth);
        break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
        restore(resolutionOption(cap->Cap == ICAP_YRESOLUTION)->name);
        break;
    case ICAP_SUPPORTEDSIZES: {
        double area[4];
        if (areaMm(defaults_, area))
            setAreaMm(area, nullptr);
        break;
    }
    case CAP_FEEDERENABLED:
        restore(opt::source);
        break;
    case ICAP_COMPRESSION:
    case ICAP_ORIENTATION:
    case CAP_AUTOFEED:
        break;
    default:
        return fail(TWCC_CAPBADOPERATION);
    }
    refreshOptions();
    return capGet(MSG_GETCURRENT, cap);
}

} // namespace sane_source
