#include "sources/sane/TwainValues.h"

#include "platform/GlobalMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sane_source {

TW_FIX32 toFix32(double v)
{
    TW_FIX32 f{0, 0};
    if (!std::isfinite(v))
        return f;
    v = std::clamp(v, -32768.0, 32767.99998);
    const long scaled = std::lround(v * 65536.0);
    f.Whole = TW_INT16(scaled >> 16);
    f.Frac = TW_UINT16(scaled & 0xFFFF);
    return f;
}

double fromFix32(TW_FIX32 v) { return double(v.Whole) + double(v.Frac) / 65536.0; }

TW_UINT32 fix32Item(double v)
{
    const TW_FIX32 f = toFix32(v);
    TW_UINT32 item = 0;
    static_assert(sizeof f == sizeof item);
    std::memcpy(&item, &f, sizeof item);
    return item;
}

double fix32FromItem(TW_UINT32 item)
{
    TW_FIX32 f;
    std::memcpy(&f, &item, sizeof f);
    return fromFix32(f);
}

std::size_t itemSize(TW_UINT16 type)
{
    // Numbers only: frames and strings are not values of this source.
    const std::size_t size = TwainItemSize(type);
    return size <= 4 ? size : 0;
}

namespace {

void putItem(std::uint8_t *at, TW_UINT16 type, TW_UINT32 item)
{
    const std::size_t n = itemSize(type);
    // Little-endian: the low bytes of the 32-bit value are the item.
    std::memcpy(at, &item, n);
}

TW_UINT32 getItem(const std::uint8_t *at, TW_UINT16 type)
{
    switch (itemSize(type)) {
    case 1: {
        std::uint8_t v;
        std::memcpy(&v, at, 1);
        return type == TWTY_INT8 ? TW_UINT32(std::int32_t(std::int8_t(v))) : v;
    }
    case 2: {
        std::uint16_t v;
        std::memcpy(&v, at, 2);
        return type == TWTY_INT16 ? TW_UINT32(std::int32_t(std::int16_t(v))) : v;
    }
    default: {
        TW_UINT32 v;
        std::memcpy(&v, at, 4);
        return v;
    }
    }
}

HGLOBAL allocate(std::size_t bytes, std::uint8_t **data)
{
    HGLOBAL h = GlobalAlloc(GHND, bytes);
    *data = h ? static_cast<std::uint8_t *>(GlobalLock(h)) : nullptr;
    return h;
}

} // namespace

HGLOBAL makeOneValue(TW_UINT16 type, TW_UINT32 item)
{
    std::uint8_t *p = nullptr;
    HGLOBAL h = allocate(sizeof(TW_ONEVALUE), &p);
    if (!h)
        return nullptr;
    std::memcpy(p, &type, 2);
    putItem(p + 2, type, item);
    GlobalUnlock(h);
    return h;
}

HGLOBAL makeEnumeration(TW_UINT16 type, const std::vector<TW_UINT32> &items, std::size_t current, std::size_t def)
{
    const std::size_t size = itemSize(type);
    std::uint8_t *p = nullptr;
    HGLOBAL h = allocate(14 + std::max<std::size_t>(1, items.size()) * std::max<std::size_t>(size, 1), &p);
    if (!h)
        return nullptr;
    const TW_UINT32 n = TW_UINT32(items.size());
    const TW_UINT32 cur = TW_UINT32(std::min(current, items.empty() ? 0 : items.size() - 1));
    const TW_UINT32 dflt = TW_UINT32(std::min(def, items.empty() ? 0 : items.size() - 1));
    std::memcpy(p, &type, 2);
    std::memcpy(p + 2, &n, 4);
    std::memcpy(p + 6, &cur, 4);
    std::memcpy(p + 10, &dflt, 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        putItem(p + 14 + i * size, type, items[i]);
    GlobalUnlock(h);
    return h;
}

HGLOBAL makeArray(TW_UINT16 type, const std::vector<TW_UINT32> &items)
{
    const std::size_t size = itemSize(type);
    std::uint8_t *p = nullptr;
    HGLOBAL h = allocate(6 + std::max<std::size_t>(1, items.size()) * std::max<std::size_t>(size, 1), &p);
    if (!h)
        return nullptr;
    const TW_UINT32 n = TW_UINT32(items.size());
    std::memcpy(p, &type, 2);
    std::memcpy(p + 2, &n, 4);
    for (std::size_t i = 0; i < items.size(); ++i)
        putItem(p + 6 + i * size, type, items[i]);
    GlobalUnlock(h);
    return h;
}

bool readSetValue(TW_UINT16 conType, HGLOBAL container, TW_UINT16 *itemType, TW_UINT32 *item)
{
    if (!container)
        return false;
    const std::size_t have = GlobalSize(container);
    if (have < 2)
        return false;
    const auto *p = static_cast<const std::uint8_t *>(GlobalLock(container));
    if (!p)
        return false;
    bool ok = false;
    TW_UINT16 type;
    std::memcpy(&type, p, 2);
    const std::size_t size = itemSize(type);
    if (size > 0) {
        switch (conType) {
        case TWON_ONEVALUE:
            if (have >= 2 + size) {
                *item = getItem(p + 2, type);
                ok = true;
            }
            break;
        case TWON_ENUMERATION:
            if (have >= 14) {
                TW_UINT32 n, cur;
                std::memcpy(&n, p + 2, 4);
                std::memcpy(&cur, p + 6, 4);
                if (cur < n && 14 + std::uint64_t(cur + 1) * size <= have) {
                    *item = getItem(p + 14 + std::size_t(cur) * size, type);
                    ok = true;
                }
            }
            break;
        case TWON_RANGE:
            if (have >= 22) {
                TW_UINT32 v;
                std::memcpy(&v, p + 18, 4);
                *item = v;
                ok = true;
            }
            break;
        default:
            break;
        }
    }
    GlobalUnlock(container);
    if (ok)
        *itemType = type;
    return ok;
}

std::vector<ModeChoice> modeChoices(const OptionSnapshot &snap)
{
    std::vector<ModeChoice> choices;
    const OptionInfo *mode = snap.find(opt::mode);
    if (!mode || mode->type != SANE_TYPE_STRING)
        return choices;
    const OptionInfo *depth = snap.find(opt::depth);
    auto depthAllowed = [&](int d) {
        return depth && depth->constraintType == SANE_CONSTRAINT_WORD_LIST &&
               std::find(depth->wordList.begin(), depth->wordList.end(), d) != depth->wordList.end();
    };
    bool lineart = false;
    for (const std::string &v : mode->stringList)
        lineart = lineart || classifyMode(v) == ModeKind::Lineart;
    for (const std::string &v : mode->stringList) {
        switch (classifyMode(v)) {
        case ModeKind::Lineart:
            choices.push_back({TWPT_BW, v, -1, QStringLiteral("Schwarzweiß")});
            break;
        case ModeKind::Gray:
            // Gray at one bit is line art where the device has no mode for it.
            if (!lineart && depthAllowed(1))
                choices.push_back({TWPT_BW, v, 1, QStringLiteral("Schwarzweiß")});
            choices.push_back({TWPT_GRAY, v, depthAllowed(8) ? 8 : -1, QStringLiteral("Graustufen")});
            break;
        case ModeKind::Color:
            choices.push_back({TWPT_RGB, v, depthAllowed(8) ? 8 : -1, QStringLiteral("Farbe")});
            break;
        case ModeKind::Other:
            choices.push_back({0xFFFF, v, -1, QString::fromStdString(v)});
            break;
        }
    }
    // One entry per pixel type: a device with two gray modes keeps the first.
    std::vector<ModeChoice> unique;
    for (const ModeChoice &c : choices) {
        const bool seen = c.pixelType != 0xFFFF && std::any_of(unique.begin(), unique.end(), [&](const ModeChoice &u) {
                              return u.pixelType == c.pixelType;
                          });
        if (!seen)
            unique.push_back(c);
    }
    return unique;
}

int currentModeChoice(const std::vector<ModeChoice> &choices, const OptionSnapshot &snap)
{
    const OptionInfo *mode = snap.find(opt::mode);
    if (!mode)
        return -1;
    const OptionInfo *depth = snap.find(opt::depth);
    const int d = depth && depth->active() && !depth->value.words.empty() ? depth->value.words.front() : -1;
    int found = -1;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (choices[i].mode != mode->value.text)
            continue;
        if (choices[i].depth == 1 && d != 1)
            continue;
        if (choices[i].pixelType == TWPT_GRAY && d == 1 &&
            std::any_of(choices.begin(), choices.end(), [&](const ModeChoice &c) { return c.depth == 1; }))
            continue;
        found = int(i);
        break;
    }
    return found;
}

TW_UINT16 currentPixelType(const OptionSnapshot &snap)
{
    const std::vector<ModeChoice> choices = modeChoices(snap);
    const int i = currentModeChoice(choices, snap);
    if (i >= 0 && choices[std::size_t(i)].pixelType != 0xFFFF)
        return choices[std::size_t(i)].pixelType;
    if (const OptionInfo *mode = snap.find(opt::mode)) {
        switch (classifyMode(mode->value.text)) {
        case ModeKind::Lineart:
            return TWPT_BW;
        case ModeKind::Gray:
            return TWPT_GRAY;
        default:
            break;
        }
    }
    return TWPT_RGB;
}

const std::vector<PaperSize> &paperSizes()
{
    static const std::vector<PaperSize> sizes = {
        {TWSS_A4LETTER, "A4", 210, 297},       {TWSS_A5, "A5", 148, 210},        {0xFFFF, "A6", 105, 148},
        {TWSS_B5LETTER, "B5 (JIS)", 182, 257}, {TWSS_B4, "B4", 250, 353},        {TWSS_B6, "B6", 125, 176},
        {TWSS_USLETTER, "Letter", 215.9, 279.4}, {TWSS_USLEGAL, "Legal", 215.9, 355.6},
    };
    return sizes;
}

} // namespace sane_source
