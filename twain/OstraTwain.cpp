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

} // namespace

// ---------------------------------------------------------------------------
// Unit routines
// ---------------------------------------------------------------------------
std::int32_t TWTypeSize(TW_UINT16 TypeName)
{
    return static_cast<std::int32_t>(TwainItemSize(TypeName));
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
        // A file that another user could have put or changed there (a
        // planted manager in the current or temporary folder) is passed
        // over; the module service logs why.
        const QString candidate = dir + QLatin1String(TWAINLIBRARY);
        if (FileExists(candidate) && !platform::FindLibrary(candidate).isEmpty())
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
        result = CallLogged(fTwainProc, AppInfo, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &fVirtualWindow) ==
                 TWRC_SUCCESS;
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
            result = fTwainProc && CallLogged(fTwainProc, AppInfo, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM,
                                              &fVirtualWindow) == TWRC_SUCCESS;
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
    TW_UINT16 rc = CallLogged(fTwainProc, AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source->Structure);
    while (rc == TWRC_SUCCESS && DeviceList->Count() < kMaxEnumeratedSources) {
        const std::int32_t before = DeviceList->Count();
        DeviceList->Add(source);
        if (DeviceList->Count() == before)
            break; // the list could not grow; the unlisted source is freed below
        source = new TTwainSource(this);
        source->fTransferMode = fTransferMode;
        source->fIndex = DeviceList->Count();
        rc = CallLogged(fTwainProc, AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &source->Structure);
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
        if (CallLogged(fTwainProc, AppInfo, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity) ==
            TWRC_SUCCESS)
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
    return CallLogged(fOwner->fTwainProc, GetAppInfo(), &Structure, DG, DAT, Msg, pData);
}

TW_UINT16 TTwainSource::CallManager(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 Msg, TW_MEMREF pData)
{
    if (!fOwner || !fOwner->fTwainProc)
        return TWRC_FAILURE;
    return CallLogged(fOwner->fTwainProc, GetAppInfo(), nullptr, DG, DAT, Msg, pData);
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
