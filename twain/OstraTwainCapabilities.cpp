// The capability layer of TTwainSource: reading and writing the four
// container kinds (one value, range, enumeration, array) through
// DAT_CAPABILITY, and the typed Get.../Set... wrappers of the capabilities
// the program negotiates.
//
// Containers come from the source and are treated as untrusted: every item
// is read within the block the source handed over.

#include "twain/OstraTwain.h"

#include "platform/GlobalMemory.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The size of the largest item type: room for one item copied out of a
// container into a zero-filled buffer.
constexpr std::size_t kMaxItemSize = 1026;

TW_UINT16 readU16(const unsigned char *p)
{
    TW_UINT16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

TW_UINT32 readU32(const unsigned char *p)
{
    TW_UINT32 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void writeU16(unsigned char *p, TW_UINT16 v)
{
    std::memcpy(p, &v, sizeof v);
}

void writeU32(unsigned char *p, TW_UINT32 v)
{
    std::memcpy(p, &v, sizeof v);
}

// A container received from a source: locked for reading, unlocked and freed
// when it goes out of scope, whatever path the reader takes.
class ReceivedContainer {
public:
    explicit ReceivedContainer(HGLOBAL handle) : fHandle(handle)
    {
        if (fHandle) {
            fData = static_cast<const unsigned char *>(GlobalLock(fHandle));
            fSize = fData ? GlobalSize(fHandle) : 0;
        }
    }
    ~ReceivedContainer()
    {
        if (fData)
            GlobalUnlock(fHandle);
        if (fHandle)
            GlobalFree(fHandle);
    }
    ReceivedContainer(const ReceivedContainer &) = delete;
    ReceivedContainer &operator=(const ReceivedContainer &) = delete;

    // True when the block is there and holds at least |bytes| bytes.
    bool Holds(std::size_t bytes) const { return fData && fSize >= bytes; }
    const unsigned char *Data() const { return fData; }
    std::size_t Size() const { return fSize; }

    // Copies the item of |itemType| at |offset| into |buffer| (kMaxItemSize
    // bytes, zero-filled first); only bytes inside the block are copied.
    void CopyItem(std::size_t offset, TW_UINT16 itemType, unsigned char *buffer) const
    {
        std::memset(buffer, 0, kMaxItemSize);
        if (!fData || offset >= fSize)
            return;
        std::size_t want = static_cast<std::size_t>(std::max(TWTypeSize(itemType), 4));
        want = std::min({want, kMaxItemSize, fSize - offset});
        std::memcpy(buffer, fData + offset, want);
    }

    // Number of items the list from |offset| really holds: NumItems cut to
    // what the block holds.
    std::uint32_t ItemsHeld(std::size_t offset, TW_UINT32 numItems, TW_UINT16 itemType) const
    {
        if (!fData || offset > fSize)
            return 0;
        const std::size_t room = fSize - offset;
        const auto itemSize = static_cast<std::size_t>(TWTypeSize(itemType));
        const std::size_t fits = itemSize ? room / itemSize : room;
        return static_cast<std::uint32_t>(std::min<std::size_t>(numItems, fits));
    }

private:
    HGLOBAL fHandle = nullptr;
    const unsigned char *fData = nullptr;
    std::size_t fSize = 0;
};

// Reads the items of a list container from |listOffset| on as text, NumItems
// cut to what the block holds.
template <typename ReadItem>
void readItemList(const ReceivedContainer &block, std::size_t listOffset, TW_UINT32 numItems, TW_UINT16 itemType,
                  TGetCapabilityList &list, ReadItem readItem)
{
    const std::uint32_t count = block.ItemsHeld(listOffset, numItems, itemType);
    const auto itemSize = static_cast<std::size_t>(TWTypeSize(itemType));
    list.assign(count, QString());
    unsigned char item[kMaxItemSize];
    for (std::uint32_t i = 0; i < count; ++i) {
        block.CopyItem(listOffset + i * itemSize, itemType, item);
        readItem(list[i], itemType, item);
    }
}

// A container to send: allocated zero-filled and locked for filling.
class SentContainer {
public:
    explicit SentContainer(std::size_t size)
    {
        fHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        if (fHandle) {
            fData = static_cast<unsigned char *>(GlobalLock(fHandle));
            if (!fData) {
                GlobalFree(fHandle);
                fHandle = nullptr;
            }
        }
    }
    ~SentContainer()
    {
        if (fData)
            GlobalUnlock(fHandle);
        if (fHandle)
            GlobalFree(fHandle);
    }
    SentContainer(const SentContainer &) = delete;
    SentContainer &operator=(const SentContainer &) = delete;

    bool Ok() const { return fData != nullptr; }
    unsigned char *Data() { return fData; }
    // Unlocks before the block is handed to the source.
    HGLOBAL Release()
    {
        if (fData)
            GlobalUnlock(fHandle);
        fData = nullptr;
        return fHandle;
    }

private:
    HGLOBAL fHandle = nullptr;
    unsigned char *fData = nullptr;
};

std::int64_t textToNumber(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    return ok ? v : -1;
}

TW_UINT16 toUInt16Code(std::int64_t item)
{
    // Not a 16-bit code (also a text that was no number): a value no table knows.
    return (item < 0 || item > 0xFFFF) ? TW_UINT16(0xFFFF) : TW_UINT16(item);
}

} // namespace

// ---------------------------------------------------------------------------
// TTwainSource: capability layer, generic
// ---------------------------------------------------------------------------
TCapabilityRet TTwainSource::ResultToCapabilityRec(TW_UINT16 Value)
{
    if (Value == TWRC_SUCCESS)
        return crSuccess;
    switch (GetReturnStatus()) {
    case TWCC_LOWMEMORY:
        return crLowMemory;
    case TWCC_SEQERROR:
        return crInvalidState;
    case TWCC_CAPUNSUPPORTED:
        return crUnsupported;
    case TWCC_CAPBADOPERATION:
        return crBadOperation;
    case TWCC_CAPSEQERROR:
        return crDependencyError;
    default:
        return crBadOperation;
    }
}

TCapabilityRet TTwainSource::GetCapabilityRec(TW_UINT16 Capability, HGLOBAL &Handle, TRetrieveCap Mode,
                                              TW_UINT16 &Container)
{
    if (!fLoaded)
        return crInvalidState;
    TW_CAPABILITY cap;
    std::memset(&cap, 0, sizeof cap);
    cap.Cap = Capability;
    cap.ConType = TWON_DONTCARE16;
    cap.hContainer = nullptr;
    const TW_UINT16 msg = Mode <= rcReset ? ModeToTwain[Mode] : MSG_GET;
    const TCapabilityRet result = ResultToCapabilityRec(CallSource(DG_CONTROL, DAT_CAPABILITY, msg, &cap));
    if (result == crSuccess) {
        Handle = cap.hContainer;
        Container = cap.ConType;
    }
    return result;
}

TCapabilityRet TTwainSource::SetCapabilityRec(TW_UINT16 Capability, TW_UINT16 ConType, HGLOBAL Data)
{
    if (!fLoaded)
        return crInvalidState;
    TW_CAPABILITY cap;
    std::memset(&cap, 0, sizeof cap);
    cap.Cap = Capability;
    cap.ConType = ConType;
    cap.hContainer = Data;
    return ResultToCapabilityRec(CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
}

void TTwainSource::GetItem(QString &Return, TW_UINT16 ItemType, const void *Data)
{
    if (!Data)
        return;
    const auto *p = static_cast<const unsigned char *>(Data);
    switch (ItemType) {
    case TWTY_INT8:
        Return = QString::number(static_cast<std::int8_t>(p[0]));
        break;
    case TWTY_INT16:
        Return = QString::number(static_cast<std::int16_t>(readU16(p)));
        break;
    case TWTY_INT32:
        Return = QString::number(static_cast<std::int32_t>(readU32(p)));
        break;
    case TWTY_UINT8:
        Return = QString::number(p[0]);
        break;
    case TWTY_UINT16:
    case TWTY_BOOL:
        Return = QString::number(readU16(p));
        break;
    case TWTY_UINT32:
        Return = QString::number(readU32(p));
        break;
    case TWTY_FIX32: {
        TW_FIX32 f;
        std::memcpy(&f, p, sizeof f);
        // Whole part, the locale's separator, the fraction to five decimals.
        const unsigned fraction = static_cast<unsigned>((std::uint64_t(f.Frac) * 100000u + 32768u) / 65536u);
        Return = QString::number(f.Whole) + QLocale().decimalPoint() +
                 QStringLiteral("%1").arg(fraction, 5, 10, QLatin1Char('0'));
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255: {
        const auto *text = reinterpret_cast<const char *>(p);
        const auto size = static_cast<std::size_t>(TWTypeSize(ItemType));
        Return = QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, size)));
        break;
    }
    default:
        break;
    }
}

TCapabilityRet TTwainSource::GetOneValue(TW_UINT16 Capability, TW_UINT16 &ItemType, QString &Value,
                                         TRetrieveCap Mode, HGLOBAL MemHandle)
{
    HGLOBAL handle = MemHandle;
    TW_UINT16 container = TWON_ONEVALUE;
    if (!handle) {
        const TCapabilityRet r = GetCapabilityRec(Capability, handle, Mode, container);
        if (r != crSuccess)
            return r;
    }
    ReceivedContainer block(handle);
    if (container != TWON_ONEVALUE || !block.Holds(2))
        return crInvalidContainer;
    ItemType = readU16(block.Data());
    unsigned char item[kMaxItemSize];
    block.CopyItem(2, ItemType, item);
    GetItem(Value, ItemType, item);
    return crSuccess;
}

TCapabilityRet TTwainSource::GetRangeValue(TW_UINT16 Capability, TW_UINT16 &ItemType, QString &Min, QString &Max,
                                           QString &Step, QString &Default, QString &Current, HGLOBAL MemHandle)
{
    HGLOBAL handle = MemHandle;
    TW_UINT16 container = TWON_RANGE;
    if (!handle) {
        const TCapabilityRet r = GetCapabilityRec(Capability, handle, rcGet, container);
        if (r != crSuccess)
            return r;
    }
    ReceivedContainer block(handle);
    if (container != TWON_RANGE || !block.Holds(sizeof(TW_RANGE)))
        return crInvalidContainer;
    ItemType = readU16(block.Data());
    unsigned char item[kMaxItemSize];
    QString *targets[] = {&Min, &Max, &Step, &Default, &Current};
    for (std::size_t i = 0; i < 5; ++i) {
        block.CopyItem(2 + 4 * i, ItemType, item);
        GetItem(*targets[i], ItemType, item);
    }
    return crSuccess;
}

TCapabilityRet TTwainSource::GetEnumerationValue(TW_UINT16 Capability, TW_UINT16 &ItemType,
                                                 TGetCapabilityList &List, std::int32_t &Current,
                                                 std::int32_t &Default, TRetrieveCap Mode, HGLOBAL MemHandle)
{
    HGLOBAL handle = MemHandle;
    TW_UINT16 container = TWON_ENUMERATION;
    if (!handle) {
        const TCapabilityRet r = GetCapabilityRec(Capability, handle, Mode, container);
        if (r != crSuccess)
            return r;
    }
    ReceivedContainer block(handle);
    constexpr std::size_t listOffset = offsetof(TW_ENUMERATION, ItemList);
    if (container != TWON_ENUMERATION || !block.Holds(listOffset))
        return crInvalidContainer;
    const unsigned char *data = block.Data();
    ItemType = readU16(data);
    Current = static_cast<std::int32_t>(readU32(data + offsetof(TW_ENUMERATION, CurrentIndex)));
    Default = static_cast<std::int32_t>(readU32(data + offsetof(TW_ENUMERATION, DefaultIndex)));
    readItemList(block, listOffset, readU32(data + offsetof(TW_ENUMERATION, NumItems)), ItemType, List,
                 [this](QString &r, TW_UINT16 t, const void *d) { GetItem(r, t, d); });
    return crSuccess;
}

TCapabilityRet TTwainSource::GetArrayValue(TW_UINT16 Capability, TW_UINT16 &ItemType, TGetCapabilityList &List,
                                           HGLOBAL MemHandle)
{
    HGLOBAL handle = MemHandle;
    TW_UINT16 container = TWON_ARRAY;
    if (!handle) {
        const TCapabilityRet r = GetCapabilityRec(Capability, handle, rcGet, container);
        if (r != crSuccess)
            return r;
    }
    ReceivedContainer block(handle);
    constexpr std::size_t listOffset = offsetof(TW_ARRAY, ItemList);
    if (container != TWON_ARRAY || !block.Holds(listOffset))
        return crInvalidContainer;
    const unsigned char *data = block.Data();
    ItemType = readU16(data);
    readItemList(block, listOffset, readU32(data + offsetof(TW_ARRAY, NumItems)), ItemType, List,
                 [this](QString &r, TW_UINT16 t, const void *d) { GetItem(r, t, d); });
    return crSuccess;
}

TCapabilityRet TTwainSource::SetOneValue(TW_UINT16 Capability, TW_UINT16 ItemType, const void *Value)
{
    if (!fLoaded)
        return crInvalidState;
    const auto itemSize = static_cast<std::size_t>(TWTypeSize(ItemType));
    SentContainer block(std::max<std::size_t>(itemSize, 4) + 2);
    if (!block.Ok())
        return crLowMemory;
    writeU16(block.Data(), ItemType);
    if (Value && itemSize)
        std::memcpy(block.Data() + 2, Value, itemSize);
    return SetCapabilityRec(Capability, TWON_ONEVALUE, block.Release());
}

TCapabilityRet TTwainSource::SetRangeValue(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT32 Min, TW_UINT32 Max,
                                           TW_UINT32 Step, TW_UINT32 Current)
{
    if (!fLoaded)
        return crInvalidState;
    SentContainer block(sizeof(TW_RANGE));
    if (!block.Ok())
        return crLowMemory;
    unsigned char *p = block.Data();
    writeU16(p, ItemType);
    writeU32(p + offsetof(TW_RANGE, MinValue), Min);
    writeU32(p + offsetof(TW_RANGE, MaxValue), Max);
    writeU32(p + offsetof(TW_RANGE, StepSize), Step);
    writeU32(p + offsetof(TW_RANGE, CurrentValue), Current);
    return SetCapabilityRec(Capability, TWON_RANGE, block.Release());
}

TCapabilityRet TTwainSource::SetEnumerationValue(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT32 CurrentIndex,
                                                 const TSetCapabilityList &List)
{
    if (!fLoaded)
        return crInvalidState;
    const auto itemSize = static_cast<std::size_t>(TWTypeSize(ItemType));
    if (List.size() > std::numeric_limits<TW_UINT32>::max() ||
        (itemSize && List.size() > (std::numeric_limits<std::size_t>::max() - 16) / itemSize))
        return crLowMemory;
    SentContainer block(itemSize * List.size() + sizeof(TW_ENUMERATION));
    if (!block.Ok())
        return crLowMemory;
    unsigned char *p = block.Data();
    writeU16(p, ItemType);
    writeU32(p + offsetof(TW_ENUMERATION, NumItems), static_cast<TW_UINT32>(List.size()));
    writeU32(p + offsetof(TW_ENUMERATION, CurrentIndex), CurrentIndex);
    unsigned char *item = p + offsetof(TW_ENUMERATION, ItemList);
    for (const void *entry : List) {
        if (entry && itemSize)
            std::memcpy(item, entry, itemSize);
        item += itemSize;
    }
    return SetCapabilityRec(Capability, TWON_ENUMERATION, block.Release());
}

TCapabilityRet TTwainSource::SetArrayValue(TW_UINT16 Capability, TW_UINT16 ItemType, const TSetCapabilityList &List)
{
    if (!fLoaded)
        return crInvalidState;
    const auto itemSize = static_cast<std::size_t>(TWTypeSize(ItemType));
    if (List.size() > std::numeric_limits<TW_UINT32>::max() ||
        (itemSize && List.size() > (std::numeric_limits<std::size_t>::max() - 8) / itemSize))
        return crLowMemory;
    SentContainer block(itemSize * List.size() + sizeof(TW_ARRAY));
    if (!block.Ok())
        return crLowMemory;
    unsigned char *p = block.Data();
    writeU16(p, ItemType);
    writeU32(p + offsetof(TW_ARRAY, NumItems), static_cast<TW_UINT32>(List.size()));
    unsigned char *item = p + offsetof(TW_ARRAY, ItemList);
    for (const void *entry : List) {
        if (entry && itemSize)
            std::memcpy(item, entry, itemSize);
        item += itemSize;
    }
    return SetCapabilityRec(Capability, TWON_ARRAY, block.Release());
}

// ---------------------------------------------------------------------------
// TTwainSource: capability layer, typed wrappers
// ---------------------------------------------------------------------------
TCapabilityRet TTwainSource::SetUInt16(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT16 Value)
{
    return SetOneValue(Capability, ItemType, &Value);
}

TCapabilityRet TTwainSource::GetBoolValue(TW_UINT16 Capability, bool &Return)
{
    TW_UINT16 itemType = 0;
    QString text;
    const TCapabilityRet r = GetOneValue(Capability, itemType, text, rcGet, nullptr);
    if (r != crSuccess)
        return r;
    if (itemType != TWTY_BOOL)
        return crUnsupported;
    Return = text == QLatin1String("1");
    return crSuccess;
}

TCapabilityRet TTwainSource::GetUInt16Enumeration(TW_UINT16 Capability, TRetrieveCap Mode,
                                                  std::vector<std::int32_t> &Items, std::int32_t &Picked)
{
    TW_UINT16 itemType = 0;
    TGetCapabilityList list;
    std::int32_t current = 0;
    std::int32_t def = 0;
    const TCapabilityRet r = GetEnumerationValue(Capability, itemType, list, current, def, Mode, nullptr);
    if (r != crSuccess)
        return r;
    if (itemType != TWTY_UINT16)
        return crUnsupported;
    const std::int32_t index = Mode == rcGetDefault ? def : current;
    if (index < 0 || static_cast<std::size_t>(index) >= list.size())
        return crBadOperation;
    Items.clear();
    Items.reserve(list.size());
    for (const QString &text : list)
        Items.push_back(static_cast<std::int32_t>(textToNumber(text)));
    Picked = Items[static_cast<std::size_t>(index)];
    return crSuccess;
}

template <typename Value, typename ValueSet, typename Convert>
TCapabilityRet TTwainSource::GetEnumeratedSet(TW_UINT16 Capability, TRetrieveCap Mode, Value &Return,
                                              ValueSet &Supported, Convert convert)
{
    std::vector<std::int32_t> items;
    std::int32_t picked = 0;
    const TCapabilityRet r = GetUInt16Enumeration(Capability, Mode, items, picked);
    if (r != crSuccess)
        return r;
    for (std::int32_t item : items)
        Supported.Include(convert(toUInt16Code(item)));
    Return = convert(toUInt16Code(picked));
    return crSuccess;
}

TCapabilityRet TTwainSource::SetCapXferCount(TW_INT16 Value)
{
    return SetUInt16(CAP_XFERCOUNT, TWTY_UINT16, static_cast<TW_UINT16>(Value));
}

TCapabilityRet TTwainSource::GetCapXferCount(TW_INT16 &Return, TRetrieveCap Mode)
{
    TW_UINT16 itemType = 0;
    QString text;
    const TCapabilityRet r = GetOneValue(CAP_XFERCOUNT, itemType, text, Mode, nullptr);
    if (r != crSuccess)
        return r;
    if (itemType != TWTY_INT16)
        return crUnsupported;
    Return = static_cast<TW_INT16>(textToNumber(text));
    return crSuccess;
}

TCapabilityRet TTwainSource::SetICapUnits(TTwainUnit Value)
{
    static constexpr TW_UINT16 table[tuUnknown + 1] = {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PICAS, TWUN_POINTS,
                                                       TWUN_TWIPS,  TWUN_PIXELS,      TWUN_INCHES};
    return SetUInt16(ICAP_UNITS, TWTY_UINT16, Value <= tuUnknown ? table[Value] : TWUN_INCHES);
}

TCapabilityRet TTwainSource::GetICapUnits(TTwainUnit &Return, TTwainUnitSet &Supported, TRetrieveCap Mode)
{
    return GetEnumeratedSet(ICAP_UNITS, Mode, Return, Supported, TwainToTTwainUnit);
}

TCapabilityRet TTwainSource::SetIPixelFlavor(TTwainPixelFlavor Value)
{
    static constexpr TW_UINT16 table[tpfUnknown + 1] = {TWPF_CHOCOLATE, TWPF_VANILLA, TWPF_CHOCOLATE};
    return SetUInt16(ICAP_PIXELFLAVOR, TWTY_UINT16, Value <= tpfUnknown ? table[Value] : TWPF_CHOCOLATE);
}

TCapabilityRet TTwainSource::GetIPixelFlavor(TTwainPixelFlavor &Return, TTwainPixelFlavorSet &Supported,
                                             TRetrieveCap Mode)
{
    return GetEnumeratedSet(ICAP_PIXELFLAVOR, Mode, Return, Supported, TwainToTTwainPixelFlavor);
}

TCapabilityRet TTwainSource::SetIPixelType(TTwainPixelType Value)
{
    return SetUInt16(ICAP_PIXELTYPE, TWTY_UINT16, static_cast<TW_UINT16>(Value));
}

TCapabilityRet TTwainSource::GetIPixelType(TTwainPixelType &Return, TTwainPixelTypeSet &Supported,
                                           TRetrieveCap Mode)
{
    return GetEnumeratedSet(ICAP_PIXELTYPE, Mode, Return, Supported, TwainToTTwainPixelType);
}

TCapabilityRet TTwainSource::SetIBitDepth(TW_UINT16 Value)
{
    return SetUInt16(ICAP_BITDEPTH, TWTY_UINT16, Value);
}

TCapabilityRet TTwainSource::GetIBitDepth(TW_UINT16 &Return, TTwainBitDepth &Supported, TRetrieveCap Mode)
{
    std::vector<std::int32_t> items;
    std::int32_t picked = 0;
    const TCapabilityRet r = GetUInt16Enumeration(ICAP_BITDEPTH, Mode, items, picked);
    if (r != crSuccess)
        return r;
    Supported.clear();
    for (std::int32_t item : items)
        Supported.push_back(static_cast<TW_UINT16>(item));
    Return = static_cast<TW_UINT16>(picked);
    return crSuccess;
}

TCapabilityRet TTwainSource::SetIXResolution(Extended Value)
{
    const TW_FIX32 fix = FloatToFix32(Value);
    return SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, &fix);
}

TCapabilityRet TTwainSource::SetIYResolution(Extended Value)
{
    const TW_FIX32 fix = FloatToFix32(Value);
    return SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, &fix);
}

TCapabilityRet TTwainSource::GetIXResolution(Extended &Return, TTwainResolution &Values, TRetrieveCap Mode)
{
    return GetResolution(ICAP_XRESOLUTION, Return, Values, Mode);
}

TCapabilityRet TTwainSource::GetIYResolution(Extended &Return, TTwainResolution &Values, TRetrieveCap Mode)
{
    return GetResolution(ICAP_YRESOLUTION, Return, Values, Mode);
}

TCapabilityRet TTwainSource::GetResolution(TW_UINT16 Capability, Extended &Return, TTwainResolution &Values,
                                           TRetrieveCap Mode)
{
    HGLOBAL handle = nullptr;
    TW_UINT16 container = 0;
    const TCapabilityRet r = GetCapabilityRec(Capability, handle, Mode, container);
    if (r != crSuccess)
        return r;
    ReceivedContainer block(handle);
    if (container != TWON_ENUMERATION && container != TWON_ARRAY)
        return crUnsupported;
    const bool isEnumeration = container == TWON_ENUMERATION;
    const std::size_t listOffset = isEnumeration ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
    if (!block.Holds(listOffset))
        return crInvalidContainer;
    const unsigned char *data = block.Data();
    if (readU16(data) != TWTY_FIX32)
        return crUnsupported;
    const std::uint32_t count = block.ItemsHeld(listOffset, readU32(data + 2), TWTY_FIX32);
    TTwainResolution values;
    values.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        TW_FIX32 fix;
        std::memcpy(&fix, data + listOffset + 4 * std::size_t(i), sizeof fix);
        values.push_back(Fix32ToFloat(fix));
    }
    Extended picked = 0;
    if (isEnumeration) {
        const auto index = static_cast<std::int32_t>(
            readU32(data + (Mode == rcGetDefault ? offsetof(TW_ENUMERATION, DefaultIndex)
                                                 : offsetof(TW_ENUMERATION, CurrentIndex))));
        if (index < 0 || static_cast<std::uint32_t>(index) >= count)
            return crBadOperation;
        picked = values[static_cast<std::size_t>(index)];
    }
    Values = std::move(values);
    Return = picked;
    return crSuccess;
}

TCapabilityRet TTwainSource::GetPhysical(TW_UINT16 Capability, Extended &Return, TRetrieveCap Mode)
{
    HGLOBAL handle = nullptr;
    TW_UINT16 container = 0;
    const TCapabilityRet r = GetCapabilityRec(Capability, handle, Mode, container);
    if (r != crSuccess)
        return r;
    // Read as a one-value container whatever kind the source named.
    ReceivedContainer block(handle);
    if (!block.Holds(2))
        return crInvalidContainer;
    if (readU16(block.Data()) != TWTY_FIX32)
        return crUnsupported;
    unsigned char item[kMaxItemSize];
    block.CopyItem(2, TWTY_FIX32, item);
    TW_FIX32 fix;
    std::memcpy(&fix, item, sizeof fix);
    Return = Fix32ToFloat(fix);
    return crSuccess;
}

TCapabilityRet TTwainSource::GetIPhysicalWidth(Extended &Return, TRetrieveCap Mode)
{
    return GetPhysical(ICAP_PHYSICALWIDTH, Return, Mode);
}

TCapabilityRet TTwainSource::GetIPhysicalHeight(Extended &Return, TRetrieveCap Mode)
{
    return GetPhysical(ICAP_PHYSICALHEIGHT, Return, Mode);
}

TCapabilityRet TTwainSource::SetOrientation(TTwainOrientation Value)
{
    return SetUInt16(ICAP_ORIENTATION, TWTY_UINT16, Value == torLandscape ? TWOR_LANDSCAPE : TWOR_PORTRAIT);
}

TCapabilityRet TTwainSource::SetPaperSize(TTwainPaperSize Value)
{
    static constexpr TW_UINT16 table[tpsUSLegal + 1] = {TWSS_A4LETTER, TWSS_A5,       TWSS_B4,    TWSS_B5LETTER,
                                                        TWSS_B6,       TWSS_USLETTER, TWSS_USLEGAL};
    return SetUInt16(ICAP_SUPPORTEDSIZES, TWTY_UINT16, Value <= tpsUSLegal ? table[Value] : TWSS_A4LETTER);
}

TCapabilityRet TTwainSource::SetAutoSize(TTwainAutoSize Value)
{
    static constexpr TW_UINT16 table[tasCurrent + 1] = {TWAS_NONE, TWAS_AUTO, TWAS_CURRENT};
    return SetUInt16(ICAP_AUTOSIZE, TWTY_UINT16, Value <= tasCurrent ? table[Value] : TWAS_NONE);
}

namespace {
constexpr TW_UINT16 twBool(bool value)
{
    return value ? TW_UINT16(0xFFFF) : TW_UINT16(0);
}
} // namespace

TCapabilityRet TTwainSource::SetUndefinedImageSize(bool Value)
{
    return SetUInt16(ICAP_UNDEFINEDIMAGESIZE, TWTY_BOOL, twBool(Value));
}

TCapabilityRet TTwainSource::SetAutoBorderDetection(bool Value)
{
    return SetUInt16(ICAP_AUTOMATICBORDERDETECTION, TWTY_BOOL, twBool(Value));
}

TCapabilityRet TTwainSource::SetAutoRotate(bool Value)
{
    return SetUInt16(ICAP_AUTOMATICROTATE, TWTY_BOOL, twBool(Value));
}

TCapabilityRet TTwainSource::SetAutoDeskew(bool Value)
{
    return SetUInt16(ICAP_AUTOMATICDESKEW, TWTY_BOOL, twBool(Value));
}

TCapabilityRet TTwainSource::SetIndicators(bool Value)
{
    return SetUInt16(CAP_INDICATORS, TWTY_BOOL, twBool(Value));
}

TCapabilityRet TTwainSource::SetFeederEnabled(TW_BOOL Value)
{
    return SetUInt16(CAP_FEEDERENABLED, TWTY_BOOL, Value);
}

TCapabilityRet TTwainSource::SetAutoFeed(TW_BOOL Value)
{
    return SetUInt16(CAP_AUTOFEED, TWTY_BOOL, Value);
}

TCapabilityRet TTwainSource::GetUIControllable(bool &Return)
{
    return GetBoolValue(CAP_UICONTROLLABLE, Return);
}

TCapabilityRet TTwainSource::GetFeederLoaded(bool &Return)
{
    return GetBoolValue(CAP_FEEDERLOADED, Return);
}

TCapabilityRet TTwainSource::GetFeederEnabled(bool &Return)
{
    return GetBoolValue(CAP_FEEDERENABLED, Return);
}

TCapabilityRet TTwainSource::GetAutofeed(bool &Return)
{
    return GetBoolValue(CAP_AUTOFEED, Return);
}

TCapabilityRet TTwainSource::SetImagelayoutFrame(double fLeft, double fTop, double fRight, double fBottom)
{
    if (!fLoaded)
        return crInvalidState;
    TW_IMAGELAYOUT layout;
    std::memset(&layout, 0, sizeof layout);
    layout.Frame.Left = FloatToFix32(fLeft);
    layout.Frame.Top = FloatToFix32(fTop);
    layout.Frame.Right = FloatToFix32(fRight);
    layout.Frame.Bottom = FloatToFix32(fBottom);
    return ResultToCapabilityRec(CallSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
}
