// The TWAIN acquisition library: identities, the source manager, sources,
// capability negotiation and image transfer.
//
// Object lifetime of the source manager (C++ has no virtual constructors):
// TCustomOstraTwain's constructor only sets SelectedSourceIndex to -1.  The
// concrete class must call Construct() at the end of its constructor (which
// runs DoCreate through the virtual slot, so the concrete override runs) and
// Destruct() at the start of its destructor (which runs DoDestroy through the
// slot).  The base destructor runs the base DoDestroy itself when the concrete
// class did not call Destruct().  RefreshVirtualWindow calls both slots as
// ordinary virtual calls.
//
// Split of the implementation: OstraTwain.cpp holds the identity, the source
// manager, the source lifecycle and the capability layer; the image-transfer
// side of TTwainSource (TransferImages, ReadNative, PrepareMemXfer,
// TransferImageMemory, ReadMemory, ReadFile, SetupFileTransfer,
// ProcessMessage) and DibNumColors / TwainToTTwainFormat live in
// OstraTwainTransfer.cpp.  None of those are virtual, and nothing in
// OstraTwain.cpp calls them.
#pragma once

#include "platform/WinTypes.h"
#include "twain/OstraTwainUtils.h"
#include "twain/Twain.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

class TCustomOstraTwain;
class TTwainSource;

// ---------------------------------------------------------------------------
// Library constants
// ---------------------------------------------------------------------------
inline constexpr char TWAINLIBRARY[] = "TWAIN_32.DLL";
constexpr TW_INT16 ERROR_INT16 = 32767;

// ---------------------------------------------------------------------------
// Small set type over a one-byte enumeration (members 0 to 31).
// ---------------------------------------------------------------------------
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Include(m);
    }
    constexpr void Include(E m) { fBits |= bit(m); }
    constexpr void Exclude(E m) { fBits &= ~bit(m); }
    constexpr bool Contains(E m) const { return (fBits & bit(m)) != 0; }
    constexpr bool Empty() const { return fBits == 0; }
    constexpr std::uint32_t Bits() const { return fBits; }
    friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.fBits == b.fBits; }

private:
    static constexpr std::uint32_t bit(E m) { return std::uint32_t{1} << static_cast<unsigned>(m); }
    std::uint32_t fBits = 0;
};

// ---------------------------------------------------------------------------
// Enumerations and their TWAIN numbers
// ---------------------------------------------------------------------------
enum TTwainTransferMode : std::uint8_t { ttmFile, ttmNative, ttmMemory };

enum TTwainFormat : std::uint8_t {
    tfTIFF, tfPict, tfBMP, tfXBM, tfJPEG, tfFPX, tfTIFFMulti, tfPNG, tfSPIFF, tfEXIF, tfUnknown
};
extern const TW_UINT16 FormatToTwain[tfUnknown + 1];

enum TTwainUnit : std::uint8_t { tuInches, tuCentimeters, tuPicas, tuPoints, tuTwips, tuPixels, tuUnknown };

enum TTwainPixelFlavor : std::uint8_t { tpfChocolate, tpfVanilla, tpfUnknown };

// Grey level of pixel value 0 and of pixel value 1 of a 1-bit image.
struct TPixelColorPair {
    std::uint8_t Value0;
    std::uint8_t Value1;
};
extern const TPixelColorPair PixelColor[tpfUnknown + 1];

enum TTwainPixelType : std::uint8_t {
    tbdBw, tbdGray, tbdRgb, tbdPalette, tbdCmy, tbdCmyk, tbdYuv, tbdYuvk, tbdCieXYZ,
    tbdUnknown, tbdUnknown1, tbdUnknown2, tbdBgr
};

enum TTwainOrientation : std::uint8_t { torPortrait, torLandscape };

enum TTwainPaperSize : std::uint8_t { tpsA4, tpsA5, tpsB4, tpsB5, tpsB6, tpsUSLetter, tpsUSLegal };

enum TTwainAutoSize : std::uint8_t { tasNone, tasAuto, tasCurrent };

enum TRetrieveCap : std::uint8_t { rcGet, rcGetCurrent, rcGetDefault, rcReset };
extern const TW_UINT16 ModeToTwain[rcReset + 1];

enum TCapabilityRet : std::uint8_t {
    crSuccess, crUnsupported, crBadOperation, crDependencyError, crLowMemory, crInvalidState, crInvalidContainer
};

enum TTwainGroup : std::uint8_t { tgControl, tgImage, tgAudio };
using TTwainGroups = TEnumSet<TTwainGroup>;

// The values are the TWAIN language codes themselves.
enum TTwainLanguage : std::int8_t {
    tlUserLocale = -1,
    tlDanish = 0, tlDutch = 1, tlInternationalEnglish = 2, tlFrenchCanadian = 3, tlFinnish = 4, tlFrench = 5,
    tlGerman = 6, tlIcelandic = 7, tlItalian = 8, tlNorwegian = 9, tlPortuguese = 10, tlSpanish = 11,
    tlSwedish = 12, tlUsEnglish = 13, tlAfrikaans = 14, tlAlbania = 15, tlArabic = 16, tlArabicAlgeria = 17,
    tlArabicBahrain = 18, tlArabicEgypt = 19, tlArabicIraq = 20, tlArabJordan = 21, tlArabicKuwait = 22,
    tlArabicLebanon = 23, tlArabicLibya = 24, tlArabicMorocco = 25, tlArabicOman = 26, tlArabicQatar = 27,
    tlArabicSaudiarabia = 28, tlArabicSyria = 29, tlArabicTunisia = 30, tlArabicUae = 31, tlArabicYemen = 32,
    tlBasque = 33, tlByelorussian = 34, tlBulgarian = 35, tlCatalan = 36, tlChinese = 37,
    tlChineseHongkong = 38, tlChinesePeoplesRepublic = 39, tlChineseSingapore = 40, tlChineseSimplified = 41,
    tlChineseTwain = 42, tlChineseTraditional = 43, tlCroatia = 44, tlCzech = 45, tlDutchBelgian = 46,
    tlEnglishAustralian = 47, tlEnglishCanadian = 48, tlEnglishIreland = 49, tlEnglishNewZealand = 50,
    tlEnglishSouthAfrica = 51, tlEnglishUk = 52, tlEstonian = 53, tlFaeroese = 54, tlFarsi = 55,
    tlFrenchBelgian = 56, tlFrenchLuxembourg = 57, tlFrenchSwiss = 58, tlGermanAustrian = 59,
    tlGermanLuxembourg = 60, tlGermanLiechtenstein = 61, tlGermanSwiss = 62, tlGreek = 63, tlHebrew = 64,
    tlHungarian = 65, tlIndonesian = 66, tlItalianSwiss = 67, tlJapanese = 68, tlKorean = 69,
    tlKoreanJohab = 70, tlLatvian = 71, tlLithuanian = 72, tlNorewgianBokmal = 73, tlNorwegianNynorsk = 74,
    tlPolish = 75, tlPortugueseBrazil = 76, tlRomanian = 77, tlRussian = 78, tlSerbianLatin = 79,
    tlSlovak = 80, tlSlovenian = 81, tlSpanishMexican = 82, tlSpanishModern = 83, tlThai = 84, tlTurkish = 85,
    tlUkranian = 86, tlAssamese = 87, tlBengali = 88, tlBihari = 89, tlBodo = 90, tlDogri = 91,
    tlGujarati = 92, tlHarayanvi = 93, tlHindi = 94, tlKannada = 95, tlKashmiri = 96, tlMalayalam = 97,
    tlMarathi = 98, tlMarwari = 99, tlMeghalayan = 100, tlMizo = 101, tlNaga = 102, tlOrissi = 103,
    tlPunjabi = 104, tlPushtu = 105, tlSerbianCyrillic = 106, tlSikkimi = 107, tlSwedishFinland = 108,
    tlTamil = 109, tlTelugu = 110, tlTripuri = 111, tlUrdu = 112, tlVietnamese = 113,
};

using TTwainUnitSet = TEnumSet<TTwainUnit>;
using TTwainPixelFlavorSet = TEnumSet<TTwainPixelFlavor>;
using TTwainPixelTypeSet = TEnumSet<TTwainPixelType>;
using TTwainBitDepth = std::vector<std::uint16_t>;
using TTwainResolution = std::vector<Extended>;
using TGetCapabilityList = std::vector<QString>;
using TSetCapabilityList = std::vector<const void *>;

// Reverse translations of the tables above (any other value: the Unknown member).
TTwainUnit TwainToTTwainUnit(TW_UINT16 Value);
TTwainPixelFlavor TwainToTTwainPixelFlavor(TW_UINT16 Value);
TTwainPixelType TwainToTTwainPixelType(TW_UINT16 Value);
// TWFF_ value -> format (OstraTwainTransfer.cpp).
TTwainFormat TwainToTTwainFormat(TW_UINT16 Value);

// ---------------------------------------------------------------------------
// Unit routines
// ---------------------------------------------------------------------------
// Bytes one item of a TWTY_ type occupies in a container; 0 for unknown types.
std::int32_t TWTypeSize(TW_UINT16 TypeName);
// 8-bit text into a TW_STR255: zero-filled, at most 255 bytes copied.
void StrToStr255(const QByteArray &Value, TW_STR255 &Result);
// Directory that holds TWAIN_32.DLL, ending in the path delimiter, or "".
QString GetTwainDirectory();
// Builds a message record with the current cursor position; time stays 0.
MSG MakeMsg(HWND Handle, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Colour-table entries of a packed DIB (OstraTwainTransfer.cpp).
TW_UINT16 DibNumColors(const void *dib);

// ---------------------------------------------------------------------------
// Event types.  Each is fired only when a handler is assigned.
// ---------------------------------------------------------------------------
using TOnSourceNotify = std::function<void(TObject *Sender, std::int32_t Index)>;
using TOnTransferComplete = std::function<void(TObject *Sender, std::int32_t Index, bool Canceled)>;
using TOnTwainError =
    std::function<void(TObject *Sender, std::int32_t Index, std::int32_t ErrorCode, std::int32_t Additional)>;
using TOnSourceFileTransfer = std::function<void(TObject *Sender, std::int32_t Index, TW_STR255 &Filename,
                                                 TTwainFormat Format, bool &Cancel)>;

// ---------------------------------------------------------------------------
// One TW_IDENTITY record.
// ---------------------------------------------------------------------------
class TTwainIdentity : public TObject {
public:
    TTwainIdentity();

    // Copies the whole record when Source is an identity (a source counts);
    // does nothing for any other object.
    void Assign(const TObject *Source);

    // 0 Version.Info, 1 Manufacturer, 2 ProductFamily, any other ProductName.
    QString GetString(std::int32_t Index) const;
    void SetString(std::int32_t Index, const QString &Value);

    TW_UINT16 GetMajorVersion() const;
    void SetMajorVersion(TW_UINT16 Value);
    TW_UINT16 GetMinorVersion() const;
    void SetMinorVersion(TW_UINT16 Value);
    TTwainLanguage GetLanguage() const;
    void SetLanguage(TTwainLanguage Value);
    TW_UINT16 GetCountryCode() const;
    void SetCountryCode(TW_UINT16 Value);
    TTwainGroups GetGroups() const;
    void SetGroups(TTwainGroups Value);

    // Properties.
    TW_UINT16 MajorVersion() const { return GetMajorVersion(); }
    TW_UINT16 MinorVersion() const { return GetMinorVersion(); }
    TTwainLanguage Language() const { return GetLanguage(); }
    TW_UINT16 CountryCode() const { return GetCountryCode(); }
    TTwainGroups Groups() const { return GetGroups(); }
    QString VersionInfo() const { return GetString(0); }
    void SetVersionInfo(const QString &Value) { SetString(0, Value); }
    QString Manufacturer() const { return GetString(1); }
    void SetManufacturer(const QString &Value) { SetString(1, Value); }
    QString ProductFamily() const { return GetString(2); }
    void SetProductFamily(const QString &Value) { SetString(2, Value); }
    QString ProductName() const { return GetString(3); }
    void SetProductName(const QString &Value) { SetString(3, Value); }

    TW_IDENTITY Structure;
};

// ---------------------------------------------------------------------------
// The source manager.  Abstract: the window-bound component implements the
// six pure operations.
// ---------------------------------------------------------------------------
class TCustomOstraTwain : public TObject {
    friend class TTwainSource;

public:
    TCustomOstraTwain();
    ~TCustomOstraTwain() override;
    TCustomOstraTwain(const TCustomOstraTwain &) = delete;
    TCustomOstraTwain &operator=(const TCustomOstraTwain &) = delete;

    bool LoadLibrary();
    bool UnloadLibrary();
    bool LoadSourceManager();
    bool UnloadSourceManager(bool forced);
    bool EnumerateDevices();
    void ClearDeviceList();

    TTwainSource *GetSource(std::int32_t Index);
    std::int32_t GetSourceCount();
    std::int32_t FindSource(const TW_IDENTITY *Value);
    std::int32_t GetDefaultSource();

    std::int32_t SelectSource();
    TTwainSource *GetSelectedSource();
    std::int32_t GetSelectedSourceIndex() const;
    void SetSelectedSourceIndex(std::int32_t Value);

    void SetInfo(const TTwainIdentity *Value);
    void SetLibraryLoaded(bool Value);
    void SetSourceManagerLoaded(bool Value);

    // Closes everything, rebuilds the window side and reopens the manager.
    void RefreshVirtualWindow();

    // Properties.
    TTwainSource *Source(std::int32_t Index) { return GetSource(Index); }
    std::int32_t SourceCount() { return GetSourceCount(); }
    void SetSourceCount(std::int32_t Value) { fDummySourceCount = Value; }
    std::int32_t SelectedSourceIndex() const { return GetSelectedSourceIndex(); }
    TTwainSource *SelectedSource() { return GetSelectedSource(); }
    TTwainIdentity *Info() const { return fInfo; }
    bool LibraryLoaded() const { return fLibraryLoaded; }
    bool SourceManagerLoaded() const { return fSourceManagerLoaded; }
    TTwainTransferMode TransferMode() const { return fTransferMode; }
    void SetTransferMode(TTwainTransferMode Value) { fTransferMode = Value; }
    bool IsConsoleApplication() const { return fIsConsoleApplication; }
    void SetIsConsoleApplication(bool Value) { fIsConsoleApplication = Value; }
    std::int32_t SourcesLoaded() const { return fSourcesLoaded; }
    TW_IDENTITY *AppIdentity() const { return AppInfo; }
    HMODULE Handle() const { return fHandle; }
    HWND VirtualWindow() const { return fVirtualWindow; }
    DSMENTRYPROC TwainProc() const { return fTwainProc; }
    bool HasEnumerated() const { return fHasEnumerated; }

    TOnSourceNotify &OnSourceDisable() { return fOnSourceDisable; }
    TOnSourceNotify &OnAcquireCancel() { return fOnAcquireCancel; }
    TOnSourceNotify &OnSourceSetupFileXfer() { return fOnSourceSetupFileXfer; }
    TOnSourceFileTransfer &OnSourceFileTransfer() { return fOnSourceFileTransfer; }
    TOnTwainError &OnAcquireError() { return fOnAcquireError; }
    TOnTransferComplete &OnTransferComplete() { return fOnTransferComplete; }

    // Virtual operations, in slot order.
    virtual void DoCreate();
    virtual void DoDestroy();
    virtual void MessageTimer_Enable() = 0;
    virtual void MessageTimer_Disable() = 0;
    virtual std::int32_t CustomSelectSource() = 0;
    virtual HWND CustomGetParentWindow() = 0;
    virtual void DoTwainAcquire(TObject *Sender, std::int32_t Index, HBITMAP Image, bool &Cancel) = 0;
    virtual void DoAcquireProgress(TObject *Sender, std::int32_t Index, HBITMAP Image, std::int32_t Current,
                                   std::int32_t Total) = 0;

protected:
    // See the lifetime note at the top of this file.
    void Construct();
    void Destruct();

    std::int32_t fSourcesLoaded = 0;
    TOnSourceNotify fOnSourceDisable;
    TOnSourceNotify fOnAcquireCancel;
    TOnSourceNotify fOnSourceSetupFileXfer;
    TOnSourceFileTransfer fOnSourceFileTransfer;
    TOnTwainError fOnAcquireError;
    TOnTransferComplete fOnTransferComplete;
    std::int32_t fSelectedSourceIndex = -1;
    std::int32_t fDummySourceCount = 0;
    TPointerList *DeviceList = nullptr;
    TW_IDENTITY *AppInfo = nullptr;
    TTwainIdentity *fInfo = nullptr;
    HMODULE fHandle = nullptr;
    bool fHasEnumerated = false;
    DSMENTRYPROC fTwainProc = nullptr;
    TTwainTransferMode fTransferMode = ttmNative;
    bool fLibraryLoaded = false;
    bool fSourceManagerLoaded = false;
    bool fIsConsoleApplication = false;
    HWND fVirtualWindow = nullptr;

private:
    // MessageTimer_Disable, except while the base destructor tears down an
    // object whose concrete part is already gone.
    void TimerDisable();
    bool fConstructed = false;
    bool fInBaseDestructor = false;
};

// ---------------------------------------------------------------------------
// One data source.
// ---------------------------------------------------------------------------
class TTwainSource : public TTwainIdentity {
    friend class TCustomOstraTwain;

public:
    explicit TTwainSource(TCustomOstraTwain *AOwner);
    ~TTwainSource() override;
    TTwainSource(const TTwainSource &) = delete;
    TTwainSource &operator=(const TTwainSource &) = delete;

    // Lifecycle.
    bool LoadSource();
    bool UnloadSource();
    void SetLoaded(bool Value);
    bool EnableSource(bool ShowUI, bool Modal);
    bool DisableSource();
    void SetEnabled(bool Value);
    TW_UINT16 GetReturnStatus();
    TW_INT16 GetPendingXfers();
    TW_IDENTITY *GetAppInfo() const;
    TW_IDENTITY *GetStructure();

    // Properties.
    std::int32_t Index() const { return fIndex; }
    void SetIndex(std::int32_t Value) { fIndex = Value; }
    TTwainTransferMode TransferMode() const { return fTransferMode; }
    void SetTransferMode(TTwainTransferMode Value) { fTransferMode = Value; }
    bool ShowUI() const { return fShowUI; }
    void SetShowUI(bool Value) { fShowUI = Value; }
    bool Modal() const { return fModal; }
    void SetModal(bool Value) { fModal = Value; }
    bool Enabled() const { return fEnabled; }
    bool Loaded() const { return fLoaded; }
    TCustomOstraTwain *Owner() const { return fOwner; }
    TW_IDENTITY *SourceIdentity() { return GetStructure(); }
    TW_IDENTITY *AppInfo() const { return GetAppInfo(); }
    TW_INT16 PendingXfers() { return GetPendingXfers(); }

    // Capability layer: generic.
    TCapabilityRet ResultToCapabilityRec(TW_UINT16 Value);
    TCapabilityRet GetCapabilityRec(TW_UINT16 Capability, HGLOBAL &Handle, TRetrieveCap Mode, TW_UINT16 &Container);
    TCapabilityRet SetCapabilityRec(TW_UINT16 Capability, TW_UINT16 ConType, HGLOBAL Data);
    void GetItem(QString &Return, TW_UINT16 ItemType, const void *Data);
    TCapabilityRet GetOneValue(TW_UINT16 Capability, TW_UINT16 &ItemType, QString &Value, TRetrieveCap Mode = rcGet,
                               HGLOBAL MemHandle = nullptr);
    TCapabilityRet GetRangeValue(TW_UINT16 Capability, TW_UINT16 &ItemType, QString &Min, QString &Max,
                                 QString &Step, QString &Default, QString &Current, HGLOBAL MemHandle = nullptr);
    TCapabilityRet GetEnumerationValue(TW_UINT16 Capability, TW_UINT16 &ItemType, TGetCapabilityList &List,
                                       std::int32_t &Current, std::int32_t &Default, TRetrieveCap Mode = rcGet,
                                       HGLOBAL MemHandle = nullptr);
    TCapabilityRet GetArrayValue(TW_UINT16 Capability, TW_UINT16 &ItemType, TGetCapabilityList &List,
                                 HGLOBAL MemHandle = nullptr);
    TCapabilityRet SetOneValue(TW_UINT16 Capability, TW_UINT16 ItemType, const void *Value);
    TCapabilityRet SetRangeValue(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT32 Min, TW_UINT32 Max,
                                 TW_UINT32 Step, TW_UINT32 Current);
    TCapabilityRet SetEnumerationValue(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT32 CurrentIndex,
                                       const TSetCapabilityList &List);
    TCapabilityRet SetArrayValue(TW_UINT16 Capability, TW_UINT16 ItemType, const TSetCapabilityList &List);

    // Capability layer: typed wrappers.
    TCapabilityRet SetCapXferCount(TW_INT16 Value);
    TCapabilityRet GetCapXferCount(TW_INT16 &Return, TRetrieveCap Mode = rcGet);
    TCapabilityRet SetICapUnits(TTwainUnit Value);
    TCapabilityRet GetICapUnits(TTwainUnit &Return, TTwainUnitSet &Supported, TRetrieveCap Mode = rcGet);
    TCapabilityRet SetIPixelFlavor(TTwainPixelFlavor Value);
    TCapabilityRet GetIPixelFlavor(TTwainPixelFlavor &Return, TTwainPixelFlavorSet &Supported,
                                   TRetrieveCap Mode = rcGet);
    TCapabilityRet SetIPixelType(TTwainPixelType Value);
    TCapabilityRet GetIPixelType(TTwainPixelType &Return, TTwainPixelTypeSet &Supported, TRetrieveCap Mode = rcGet);
    TCapabilityRet SetIBitDepth(TW_UINT16 Value);
    TCapabilityRet GetIBitDepth(TW_UINT16 &Return, TTwainBitDepth &Supported, TRetrieveCap Mode = rcGet);
    TCapabilityRet SetIXResolution(Extended Value);
    TCapabilityRet SetIYResolution(Extended Value);
    TCapabilityRet GetIXResolution(Extended &Return, TTwainResolution &Values, TRetrieveCap Mode = rcGet);
    TCapabilityRet GetIYResolution(Extended &Return, TTwainResolution &Values, TRetrieveCap Mode = rcGet);
    TCapabilityRet GetIPhysicalWidth(Extended &Return, TRetrieveCap Mode = rcGet);
    TCapabilityRet GetIPhysicalHeight(Extended &Return, TRetrieveCap Mode = rcGet);
    TCapabilityRet SetOrientation(TTwainOrientation Value);
    TCapabilityRet SetPaperSize(TTwainPaperSize Value);
    TCapabilityRet SetAutoSize(TTwainAutoSize Value);
    TCapabilityRet SetUndefinedImageSize(bool Value);
    TCapabilityRet SetAutoBorderDetection(bool Value);
    TCapabilityRet SetAutoRotate(bool Value);
    TCapabilityRet SetAutoDeskew(bool Value);
    TCapabilityRet SetIndicators(bool Value);
    TCapabilityRet SetFeederEnabled(TW_BOOL Value);
    TCapabilityRet SetAutoFeed(TW_BOOL Value);
    TCapabilityRet GetUIControllable(bool &Return);
    TCapabilityRet GetFeederLoaded(bool &Return);
    TCapabilityRet GetFeederEnabled(bool &Return);
    TCapabilityRet GetAutofeed(bool &Return);
    TCapabilityRet GetResolution(TW_UINT16 Capability, Extended &Return, TTwainResolution &Values,
                                 TRetrieveCap Mode);
    TCapabilityRet SetImagelayoutFrame(double fLeft, double fTop, double fRight, double fBottom);

    // Image transfer and message routing (OstraTwainTransfer.cpp).  The native
    // handle is the pointer-sized global-memory handle the source hands over.
    void TransferImages();
    // False when the DIB does not fit its block (a failed transfer).
    bool ReadNative(HGLOBAL hNative, bool &Cancel);
    TW_UINT16 PrepareMemXfer(HBITMAP &BitmapHandle, TW_INT16 &PixelType);
    TW_UINT16 TransferImageMemory(HBITMAP &ImageHandle, TW_INT16 PixelType);
    void ReadMemory(HBITMAP Image, bool &Cancel);
    void ReadFile(TW_STR255 &Name, TW_UINT16 Format, bool &Cancel);
    bool SetupFileTransfer(const QString &Filename, TTwainFormat Format);
    bool ProcessMessage(const MSG &Msg);

protected:
    // One DSM_Entry call through the owner's entry point with AppInfo as
    // origin; TWRC_FAILURE when no entry point is loaded.
    TW_UINT16 CallSource(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 Msg, TW_MEMREF pData);
    TW_UINT16 CallManager(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 Msg, TW_MEMREF pData);

    std::int32_t fIndex = 0;
    TTwainTransferMode fTransferMode = ttmNative;
    bool fShowUI = true;
    bool fModal = true;
    bool fEnabled = false;
    bool fLoaded = false;
    TCustomOstraTwain *fOwner = nullptr;

private:
    // Typed-wrapper helpers (OstraTwain.cpp).
    TCapabilityRet SetUInt16(TW_UINT16 Capability, TW_UINT16 ItemType, TW_UINT16 Value);
    TCapabilityRet GetBoolValue(TW_UINT16 Capability, bool &Return);
    TCapabilityRet GetUInt16Enumeration(TW_UINT16 Capability, TRetrieveCap Mode, std::vector<std::int32_t> &Items,
                                        std::int32_t &Picked);
    // GetUInt16Enumeration's values as a set of the library's enumeration
    // (through |convert|), and the current or default one of them.
    template <typename Value, typename ValueSet, typename Convert>
    TCapabilityRet GetEnumeratedSet(TW_UINT16 Capability, TRetrieveCap Mode, Value &Return, ValueSet &Supported,
                                    Convert convert);
    TCapabilityRet GetPhysical(TW_UINT16 Capability, Extended &Return, TRetrieveCap Mode);
};
