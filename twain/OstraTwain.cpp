#include "twain/OstraTwain.h"

#include "platform/Cursor.h"
#include "platform/GlobalMemory.h"
#include "platform/Modules.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------
const TW_UINT16 FormatToTwain[tfUnknown + 1] = {TWFF_TIFF, TWFF_PICT,      TWFF_BMP, TWFF_XBM,   TWFF_JFIF, TWFF_FPX,
                                                 TWFF_TIFFMULTI, TWFF_PNG, TWFF_SPIFF, TWFF_EXIF, TWFF_TIFF};

const TPixelColorPair PixelColor[tpfUnknown + 1] = {{0, 255}, {255, 0}, {0, 255}};

const TW_UINT16 ModeToTwain[rcReset + 1] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET};

namespace {

// A misbehaving manager that never ends its list must not hang the program.
constexpr std::int32_t kMaxEnumeratedSources = 10000;

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
// Unit routines
// ---------------------------------------------------------------------------
std::int32_t TWTypeSize(TW_UINT16 TypeName)
{
    switch (TypeName) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    case TWTY_STR1024:
        return 1026;
    case TWTY_UNI512:
        return 1024;
    default:
        return 0;
    }
}

void StrToStr255(const QByteArray &Value, TW_STR255 &Result)
{
    std::memset(Result, 0, sizeof(TW_STR255));
    const auto n = std::min<qsizetype>(Value.size(), 255);
    if (n > 0)
        std::memcpy(Result, Value.constData(), static_cast<std::size_t>(n));
}

QString GetTwainDirectory()
{
    static constexpr TDirectoryKind order[] = {dkWindows, dkSystem, dkCurrent, dkApplication, dkTemp};
    for (TDirectoryKind kind : order) {
        const QString dir = GetCustomDirectory(kind);
        if (dir.isEmpty())
            continue;
        if (FileExists(dir + QLatin1String(TWAINLIBRARY)))
            return dir;
    }
    return QString();
}

MSG MakeMsg(HWND Handle, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    MSG result;
    result.hwnd = Handle;
    result.message = uMsg;
    result.wParam = wParam;
    result.lParam = lParam;
    GetCursorPos(&result.pt);
    return result;
}

TTwainUnit TwainToTTwainUnit(TW_UINT16 Value)
{
    return Value <= TWUN_PIXELS ? static_cast<TTwainUnit>(Value) : tuUnknown;
}

TTwainPixelFlavor TwainToTTwainPixelFlavor(TW_UINT16 Value)
{
    return Value <= TWPF_VANILLA ? static_cast<TTwainPixelFlavor>(Value) : tpfUnknown;
}

TTwainPixelType TwainToTTwainPixelType(TW_UINT16 Value)
{
    if (Value <= TWPT_CIEXYZ)
        return static_cast<TTwainPixelType>(Value);
    if (Value == TWPT_BGR)
        return tbdBgr;
    return tbdUnknown;
}

// ---------------------------------------------------------------------------
// TTwainIdentity
// ---------------------------------------------------------------------------
namespace {

char *identityField(TW_IDENTITY &id, std::int32_t index)
{
    switch (index) {
    case 0:
        return id.Version.Info;
    case 1:
        return id.Manufacturer;
    case 2:
        return id.ProductFamily;
    default:
        return id.ProductName;
    }
}

} // namespace

TTwainIdentity::TTwainIdentity()
{
    std::memset(&Structure, 0, sizeof Structure);
    SetLanguage(tlUserLocale);
    SetCountryCode(TWCY_USA);
    SetMajorVersion(1);
    SetString(0, QStringLiteral("Application name"));
    Structure.ProtocolMajor = TWON_PROTOCOLMAJOR;
    Structure.ProtocolMinor = TWON_PROTOCOLMINOR;
    SetGroups({tgControl, tgImage});
    SetString(1, QStringLiteral("Application manufacturer"));
    SetString(2, QStringLiteral("App product family"));
    SetString(3, QStringLiteral("App product name"));
}

void TTwainIdentity::Assign(const TObject *Source)
{
    if (const auto *other = dynamic_cast<const TTwainIdentity *>(Source))
        if (other != this)
            std::memcpy(&Structure, &other->Structure, sizeof Structure);
}

QString TTwainIdentity::GetString(std::int32_t Index) const
{
    const char *field = identityField(const_cast<TW_IDENTITY &>(Structure), Index);
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, sizeof(TW_STR32))));
}

void TTwainIdentity::SetString(std::int32_t Index, const QString &Value)
{
    char *field = identityField(Structure, Index);
    std::memset(field, 0, sizeof(TW_STR32));
    const QByteArray bytes = Value.toUtf8();
    qsizetype n = std::min<qsizetype>(bytes.size(), sizeof(TW_STR32) - 1);
    // Do not cut a character in two: step back to the start of the character
    // that would be split.
    while (n > 0 && n < bytes.size() && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
        --n;
    if (n > 0)
        std::memcpy(field, bytes.constData(), static_cast<std::size_t>(n));
}

TW_UINT16 TTwainIdentity::GetMajorVersion() const
{
    return Structure.Version.MajorNum;
}

void TTwainIdentity::SetMajorVersion(TW_UINT16 Value)
{
    Structure.Version.MajorNum = Value;
}

TW_UINT16 TTwainIdentity::GetMinorVersion() const
{
    return Structure.Version.MinorNum;
}

void TTwainIdentity::SetMinorVersion(TW_UINT16 Value)
{
    Structure.Version.MinorNum = Value;
}

TTwainLanguage TTwainIdentity::GetLanguage() const
{
    const TW_UINT16 v = Structure.Version.Language;
    if (v <= static_cast<TW_UINT16>(tlVietnamese))
        return static_cast<TTwainLanguage>(v);
    // 0xFFFF and every code without a member.
    return tlUserLocale;
}

void TTwainIdentity::SetLanguage(TTwainLanguage Value)
{
    Structure.Version.Language = Value >= 0 ? static_cast<TW_UINT16>(Value) : TW_UINT16(0xFFFF);
}

TW_UINT16 TTwainIdentity::GetCountryCode() const
{
    return Structure.Version.Country;
}

void TTwainIdentity::SetCountryCode(TW_UINT16 Value)
{
    Structure.Version.Country = Value;
}

TTwainGroups TTwainIdentity::GetGroups() const
{
    TTwainGroups result{tgControl};
    if (Structure.SupportedGroups & DG_IMAGE)
        result.Include(tgImage);
    if (Structure.SupportedGroups & DG_AUDIO)
        result.Include(tgAudio);
    return result;
}

void TTwainIdentity::SetGroups(TTwainGroups Value)
{
    TW_UINT32 groups = DG_CONTROL;
    if (Value.Contains(tgImage))
        groups |= DG_IMAGE;
    if (Value.Contains(tgAudio))
        groups |= DG_AUDIO;
    Structure.SupportedGroups = groups;
}

// ---------------------------------------------------------------------------
// TCustomOstraTwain
// ---------------------------------------------------------------------------
TCustomOstraTwain::TCustomOstraTwain()
{
    fSelectedSourceIndex = -1;
}

TCustomOstraTwain::~TCustomOstraTwain()
{
    if (fConstructed) {
        fConstructed = false;
        fInBaseDestructor = true;
        TCustomOstraTwain::DoDestroy();
    }
}

void TCustomOstraTwain::Construct()
{
    if (fConstructed)
        return;
    fConstructed = true;
    DoCreate();
}

void TCustomOstraTwain::Destruct()
{
    if (!fConstructed)
        return;
    fConstructed = false;
    DoDestroy();
}

void TCustomOstraTwain::TimerDisable()
{
    if (!fInBaseDestructor)
        MessageTimer_Disable();
}

void TCustomOstraTwain::DoCreate()
{
    DeviceList = new TPointerList;
    fSourcesLoaded = 0;
    fHandle = nullptr;
    fTwainProc = nullptr;
    fSourceManagerLoaded = false;
    fHasEnumerated = false;
    fTransferMode = ttmNative;
    fInfo = new TTwainIdentity;
    AppInfo = &fInfo->Structure;
}

void TCustomOstraTwain::DoDestroy()
{
    SetLibraryLoaded(false);
    delete fInfo;
    fInfo = nullptr;
    AppInfo = nullptr;
    ClearDeviceList();
    delete DeviceList;
    DeviceList = nullptr;
}

bool TCustomOstraTwain::LoadLibrary()
{
    if (fLibraryLoaded)
        return true;
    const QString directory = GetTwainDirectory();
    if (directory.isEmpty())
        return false;
    HMODULE module = ::LoadLibrary(directory + QLatin1String(TWAINLIBRARY));
    if (!module) {
        fHandle = nullptr;
        return false;
    }
    fHandle = module;
    fTwainProc = reinterpret_cast<DSMENTRYPROC>(GetProcAddress(module, WORD(1)));
    if (!fTwainProc) {
        FreeLibrary(module);
        fHandle = nullptr;
        return false;
    }
    fLibraryLoaded = true;
    return true;
}

bool TCustomOstraTwain::UnloadLibrary()
{
    bool result = true;
    if (fLibraryLoaded) {
        SetSourceManagerLoaded(false);
        if (FreeLibrary(fHandle))
            fHandle = nullptr;
        else
            result = false;
    }
    fLibraryLoaded = false;
    // A manager that refused MSG_CLOSEDSM went away with its library: the
    // next library loaded has to be opened again.
    fSourceManagerLoaded = false;
    // The entry point belongs to the library just released.
    fTwainProc = nullptr;
    TimerDisable();
    return result;
}

bool TCustomOstraTwain::LoadSourceManager()
{
    bool result;
    if (fLibraryLoaded && !fSourceManagerLoaded && fTwainProc)
        result = fTwainProc(AppInfo, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &fVirtualWindow) == TWRC_SUCCESS;
    else
        result = fSourceManagerLoaded;
    if (result)
        fSourceManagerLoaded = true;
    return result;
}

bool TCustomOstraTwain::UnloadSourceManager(bool forced)
{
    bool result = true;
    if (fLibraryLoaded && fSourceManagerLoaded) {
        ClearDeviceList();
        if (!forced)
            result = fTwainProc &&
                     fTwainProc(AppInfo, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &fVirtualWindow) ==
                         TWRC_SUCCESS;
    }
    if (result)
        fSourceManagerLoaded = false;
    return result;
}

void TCustomOstraTwain::SetLibraryLoaded(bool Value)
{
    if (Value == fLibraryLoaded)
        return;
    if (Value)
        LoadLibrary();
    else
        UnloadLibrary();
}

void TCustomOstraTwain::SetSourceManagerLoaded(bool Value)
{
    if (!fLibraryLoaded || Value == fSourceManagerLoaded)
        return;
    if (Value)
        LoadSourceManager();
    else
        UnloadSourceManager(false);
}

bool TCustomOstraTwain::EnumerateDevices()
{
    if (!fLibraryLoaded || !fSourceManagerLoaded || !fTwainProc || !DeviceList)
        return false;
    ClearDeviceList();
    auto *source = new TTwainSource(this);
    TW_UINT16 rc = fTwainProc(AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source->Structure);
    while (rc == TWRC_SUCCESS && DeviceList->Count() < kMaxEnumeratedSources) {
        const std::int32_t before = DeviceList->Count();
        DeviceList->Add(source);
        if (DeviceList->Count() == before)
            break; // the list could not grow; the unlisted source is freed below
        source = new TTwainSource(this);
        source->fTransferMode = fTransferMode;
        source->fIndex = DeviceList->Count();
        rc = fTwainProc(AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &source->Structure);
    }
    delete source;
    fHasEnumerated = true;
    return true;
}

void TCustomOstraTwain::ClearDeviceList()
{
    if (DeviceList) {
        for (std::int32_t i = 0; i < DeviceList->Count(); ++i) {
            auto *source = static_cast<TTwainSource *>(DeviceList->Item(i));
            // Nobody reaches a source that is being freed through the list.
            DeviceList->PutItem(i, nullptr);
            delete source;
        }
        DeviceList->Clear();
    }
    fHasEnumerated = false;
}

std::int32_t TCustomOstraTwain::GetSourceCount()
{
    if (!fLibraryLoaded || !fSourceManagerLoaded || !DeviceList)
        return 0;
    if (!fHasEnumerated)
        EnumerateDevices();
    return DeviceList->Count();
}

TTwainSource *TCustomOstraTwain::GetSource(std::int32_t Index)
{
    if (!fLibraryLoaded || !fSourceManagerLoaded || !DeviceList)
        return nullptr;
    const std::int32_t count = GetSourceCount();
    if (Index >= 0 && Index < count)
        return static_cast<TTwainSource *>(DeviceList->Item(Index));
    if (Index == -1 && count > 0)
        return static_cast<TTwainSource *>(DeviceList->Item(GetDefaultSource()));
    return nullptr;
}

std::int32_t TCustomOstraTwain::FindSource(const TW_IDENTITY *Value)
{
    if (!Value)
        return -1;
    const std::int32_t count = GetSourceCount();
    for (std::int32_t i = 0; i < count; ++i) {
        const auto *source = static_cast<const TTwainSource *>(DeviceList->Item(i));
        if (source && std::memcmp(&source->Structure, Value, sizeof(TW_IDENTITY)) == 0)
            return i;
    }
    return -1;
}

std::int32_t TCustomOstraTwain::GetDefaultSource()
{
    if (fSourceManagerLoaded && fTwainProc) {
        TW_IDENTITY identity;
        std::memset(&identity, 0, sizeof identity);
        if (fTwainProc(AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity) == TWRC_SUCCESS)
            return FindSource(&identity);
    }
    return 0;
}

std::int32_t TCustomOstraTwain::SelectSource()
{
    if (!fLibraryLoaded || !fSourceManagerLoaded)
        return -1;
    const std::int32_t result = CustomSelectSource();
    SetSelectedSourceIndex(result);
    return result;
}

TTwainSource *TCustomOstraTwain::GetSelectedSource()
{
    const std::int32_t count = GetSourceCount();
    if (count == 0 || fSelectedSourceIndex < 0 || fSelectedSourceIndex >= count)
        return nullptr;
    return GetSource(fSelectedSourceIndex);
}

std::int32_t TCustomOstraTwain::GetSelectedSourceIndex() const
{
    return fSelectedSourceIndex;
}

void TCustomOstraTwain::SetSelectedSourceIndex(std::int32_t Value)
{
    fSelectedSourceIndex = Value;
}

void TCustomOstraTwain::SetInfo(const TTwainIdentity *Value)
{
    if (fInfo)
        fInfo->Assign(Value);
}

void TCustomOstraTwain::RefreshVirtualWindow()
{
    DoDestroy();
    DoCreate();
    if (LoadLibrary())
        SetSourceManagerLoaded(true);
}

// ---------------------------------------------------------------------------
// TTwainSource: lifecycle
// ---------------------------------------------------------------------------
TTwainSource::TTwainSource(TCustomOstraTwain *AOwner)
{
    fTransferMode = AOwner ? AOwner->fTransferMode : ttmNative;
    fLoaded = false;
    fShowUI = true;
    fEnabled = false;
    fModal = true;
    fOwner = AOwner;
}

TTwainSource::~TTwainSource()
{
    UnloadSource();
}

TW_UINT16 TTwainSource::CallSource(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 Msg, TW_MEMREF pData)
{
    if (!fOwner || !fOwner->fTwainProc)
        return TWRC_FAILURE;
    return fOwner->fTwainProc(GetAppInfo(), &Structure, DG, DAT, Msg, pData);
}

TW_UINT16 TTwainSource::CallManager(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 Msg, TW_MEMREF pData)
{
    if (!fOwner || !fOwner->fTwainProc)
        return TWRC_FAILURE;
    return fOwner->fTwainProc(GetAppInfo(), nullptr, DG, DAT, Msg, pData);
}

bool TTwainSource::LoadSource()
{
    bool result = true;
    if (!fLoaded) {
        result = CallManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &Structure) == TWRC_SUCCESS;
        if (result)
            ++fOwner->fSourcesLoaded;
    }
    if (result)
        fLoaded = true;
    return result;
}

bool TTwainSource::UnloadSource()
{
    bool result = true;
    if (fLoaded) {
        DisableSource();
        result = CallManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &Structure) == TWRC_SUCCESS;
        if (result)
            --fOwner->fSourcesLoaded;
    }
    fLoaded = false;
    return result;
}

void TTwainSource::SetLoaded(bool Value)
{
    if (Value == fLoaded)
        return;
    if (Value)
        LoadSource();
    else
        UnloadSource();
}

bool TTwainSource::EnableSource(bool ShowUI, bool Modal)
{
    bool result = fEnabled;
    if (fLoaded && !fEnabled) {
        TW_USERINTERFACE ui;
        std::memset(&ui, 0, sizeof ui);
        ui.ShowUI = ShowUI ? TW_BOOL(0xFFFF) : TW_BOOL(0);
        ui.ModalUI = Modal ? TW_BOOL(0xFFFF) : TW_BOOL(0);
        ui.hParent = static_cast<TW_HANDLE>(fOwner->CustomGetParentWindow());
        fOwner->MessageTimer_Enable();
        const TW_UINT16 rc = CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        result = rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS;
    }
    if (result)
        fEnabled = true;
    return result;
}

bool TTwainSource::DisableSource()
{
    bool result = true;
    if (fLoaded && fEnabled) {
        TW_USERINTERFACE ui;
        std::memset(&ui, 0, sizeof ui);
        result = CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS;
        fEnabled = false;
        if (result && fOwner->fOnSourceDisable)
            fOwner->fOnSourceDisable(fOwner, fIndex);
    }
    fEnabled = false;
    if (fOwner)
        fOwner->TimerDisable();
    return result;
}

void TTwainSource::SetEnabled(bool Value)
{
    if (!fLoaded || Value == fEnabled)
        return;
    if (Value)
        EnableSource(fShowUI, fModal);
    else
        DisableSource();
}

TW_UINT16 TTwainSource::GetReturnStatus()
{
    if (!fLoaded)
        return TWCC_SUCCESS;
    TW_STATUS status;
    std::memset(&status, 0, sizeof status);
    if (CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
        return TWCC_SUCCESS;
    return status.ConditionCode;
}

TW_INT16 TTwainSource::GetPendingXfers()
{
    if (fLoaded && fEnabled) {
        TW_PENDINGXFERS pending;
        std::memset(&pending, 0, sizeof pending);
        if (CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending) == TWRC_SUCCESS)
            return static_cast<TW_INT16>(pending.Count);
    }
    return ERROR_INT16;
}

TW_IDENTITY *TTwainSource::GetAppInfo() const
{
    return fOwner ? fOwner->AppInfo : nullptr;
}

TW_IDENTITY *TTwainSource::GetStructure()
{
    return &Structure;
}

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
