// TWAIN protocol 1.9: records, constants, triplets, return and condition
// codes, capabilities, item and container types.
//
// Records are packed on 2-byte boundaries as the standard publishes them.
// TW_HANDLE and TW_MEMREF have the platform's pointer size; every other member
// keeps the standard's width.  The compile-time checks at the end pin every
// size and offset the library, the manager and the sources rely on.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Scalar types
// ---------------------------------------------------------------------------
using TW_INT8 = std::int8_t;
using TW_INT16 = std::int16_t;
using TW_INT32 = std::int32_t;
using TW_UINT8 = std::uint8_t;
using TW_UINT16 = std::uint16_t;
using TW_UINT32 = std::uint32_t;
using TW_BOOL = std::uint16_t;
using TW_HANDLE = void *;
using TW_MEMREF = void *;

using TW_STR32 = char[34];
using TW_STR64 = char[66];
using TW_STR128 = char[130];
using TW_STR255 = char[256];
using TW_STR1024 = char[1026];
using TW_UNI512 = char16_t[512];

#pragma pack(push, 2)

struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};

struct TW_FRAME {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
};

struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};

struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};

struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
};

// The item lists of TW_ENUMERATION and TW_ARRAY run past the end of the
// record: NumItems items of the item type's size, back to back.
struct TW_ENUMERATION {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
};

struct TW_ARRAY {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
};

struct TW_USERINTERFACE {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
};

struct TW_EVENT {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
};

struct TW_STATUS {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
};

struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
};

struct TW_IMAGEINFO {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
};

struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
};

struct TW_MEMORY {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
};

struct TW_SETUPFILEXFER {
    TW_STR255 FileName;
    TW_UINT16 Format;
    TW_INT16 VRefNum;
};

struct TW_ELEMENT8 {
    TW_UINT8 Index;
    TW_UINT8 Channel1;
    TW_UINT8 Channel2;
    TW_UINT8 Channel3;
};

struct TW_PALETTE8 {
    TW_UINT16 NumColors;
    TW_UINT16 PaletteType;
    TW_ELEMENT8 Colors[256];
};

#pragma pack(pop)

using pTW_IDENTITY = TW_IDENTITY *;

// Entry points, C linkage.
extern "C" {
using DSMENTRYPROC = TW_UINT16 (*)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                   TW_UINT16 MSG, TW_MEMREF pData);
using DSENTRYPROC = TW_UINT16 (*)(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                  TW_MEMREF pData);
}

// ---------------------------------------------------------------------------
// TWAIN 2 on Linux: the records a TWAIN 2 manager exchanges with
// applications and sources that declare DF_APP2 / DF_DS2 (protocol 2.5, the
// same two-byte packing, pointers of the platform's size).
// ---------------------------------------------------------------------------
using TW_UINTPTR = std::uintptr_t;

extern "C" {
using DSM_MEMALLOCATE = TW_HANDLE (*)(TW_UINT32 size);
using DSM_MEMFREE = void (*)(TW_HANDLE handle);
using DSM_MEMLOCK = TW_MEMREF (*)(TW_HANDLE handle);
using DSM_MEMUNLOCK = void (*)(TW_HANDLE handle);
}

#pragma pack(push, 2)

struct TW_ENTRYPOINT {
    TW_UINT32 Size;
    DSMENTRYPROC DSM_Entry;
    DSM_MEMALLOCATE DSM_MemAllocate;
    DSM_MEMFREE DSM_MemFree;
    DSM_MEMLOCK DSM_MemLock;
    DSM_MEMUNLOCK DSM_MemUnlock;
};

struct TW_CALLBACK {
    TW_MEMREF CallBackProc; // a function with DSM_Entry's signature
    TW_UINT32 RefCon;
    TW_UINT16 Message;
};

struct TW_CALLBACK2 {
    TW_MEMREF CallBackProc;
    TW_UINTPTR RefCon;
    TW_UINT16 Message;
};

#pragma pack(pop)

constexpr TW_UINT16 TWON_PROTOCOLMAJOR2 = 2;
constexpr TW_UINT16 TWON_PROTOCOLMINOR2 = 5;

// Identity flags in SupportedGroups.
constexpr TW_UINT32 DF_DSM2 = 0x10000000;
constexpr TW_UINT32 DF_APP2 = 0x20000000;
constexpr TW_UINT32 DF_DS2 = 0x40000000;

// ---------------------------------------------------------------------------
// Protocol
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWON_PROTOCOLMAJOR = 1;
constexpr TW_UINT16 TWON_PROTOCOLMINOR = 9;

// ---------------------------------------------------------------------------
// Data groups
// ---------------------------------------------------------------------------
constexpr TW_UINT32 DG_CONTROL = 0x0001;
constexpr TW_UINT32 DG_IMAGE = 0x0002;
constexpr TW_UINT32 DG_AUDIO = 0x0004;

// ---------------------------------------------------------------------------
// Data argument types
// ---------------------------------------------------------------------------
constexpr TW_UINT16 DAT_NULL = 0x0000;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
constexpr TW_UINT16 DAT_EVENT = 0x0002;
constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
constexpr TW_UINT16 DAT_PARENT = 0x0004;
constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
constexpr TW_UINT16 DAT_SETUPFILEXFER = 0x0007;
constexpr TW_UINT16 DAT_STATUS = 0x0008;
constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
constexpr TW_UINT16 DAT_CALLBACK = 0x0010;
constexpr TW_UINT16 DAT_CALLBACK2 = 0x0012;
constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;
constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 DAT_IMAGEFILEXFER = 0x0105;
constexpr TW_UINT16 DAT_PALETTE8 = 0x010a;

// ---------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------
constexpr TW_UINT16 MSG_NULL = 0x0000;
constexpr TW_UINT16 MSG_GET = 0x0001;
constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
constexpr TW_UINT16 MSG_SET = 0x0006;
constexpr TW_UINT16 MSG_RESET = 0x0007;
constexpr TW_UINT16 MSG_QUERYSUPPORT = 0x0008;
constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
constexpr TW_UINT16 MSG_DEVICEEVENT = 0x0104;
constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
constexpr TW_UINT16 MSG_OPENDS = 0x0401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
constexpr TW_UINT16 MSG_ENABLEDSUIONLY = 0x0503;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 MSG_REGISTER_CALLBACK = 0x0902;

// ---------------------------------------------------------------------------
// Return codes
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;

// ---------------------------------------------------------------------------
// Condition codes
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_BADVALUE = 10;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
constexpr TW_UINT16 TWCC_BADDEST = 12;
constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
constexpr TW_UINT16 TWCC_CAPBADOPERATION = 14;
constexpr TW_UINT16 TWCC_CAPSEQERROR = 15;
constexpr TW_UINT16 TWCC_DENIED = 16;
constexpr TW_UINT16 TWCC_FILEEXISTS = 17;
constexpr TW_UINT16 TWCC_FILENOTFOUND = 18;
constexpr TW_UINT16 TWCC_NOTEMPTY = 19;
constexpr TW_UINT16 TWCC_PAPERJAM = 20;
constexpr TW_UINT16 TWCC_PAPERDOUBLEFEED = 21;

// ---------------------------------------------------------------------------
// Item types
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWTY_INT8 = 0x0000;
constexpr TW_UINT16 TWTY_INT16 = 0x0001;
constexpr TW_UINT16 TWTY_INT32 = 0x0002;
constexpr TW_UINT16 TWTY_UINT8 = 0x0003;
constexpr TW_UINT16 TWTY_UINT16 = 0x0004;
constexpr TW_UINT16 TWTY_UINT32 = 0x0005;
constexpr TW_UINT16 TWTY_BOOL = 0x0006;
constexpr TW_UINT16 TWTY_FIX32 = 0x0007;
constexpr TW_UINT16 TWTY_FRAME = 0x0008;
constexpr TW_UINT16 TWTY_STR32 = 0x0009;
constexpr TW_UINT16 TWTY_STR64 = 0x000a;
constexpr TW_UINT16 TWTY_STR128 = 0x000b;
constexpr TW_UINT16 TWTY_STR255 = 0x000c;
constexpr TW_UINT16 TWTY_STR1024 = 0x000d;
constexpr TW_UINT16 TWTY_UNI512 = 0x000e;

// Bytes one item of |type| takes in a container; 0 for an unknown type.
constexpr std::size_t TwainItemSize(TW_UINT16 type)
{
    switch (type) {
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

// ---------------------------------------------------------------------------
// Container types
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWON_ARRAY = 3;
constexpr TW_UINT16 TWON_ENUMERATION = 4;
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWON_RANGE = 6;
constexpr TW_UINT8 TWON_DONTCARE8 = 0xff;
constexpr TW_UINT16 TWON_DONTCARE16 = 0xffff;
constexpr TW_UINT32 TWON_DONTCARE32 = 0xffffffff;

// ---------------------------------------------------------------------------
// Memory flags
// ---------------------------------------------------------------------------
constexpr TW_UINT32 TWMF_APPOWNS = 0x0001;
constexpr TW_UINT32 TWMF_DSMOWNS = 0x0002;
constexpr TW_UINT32 TWMF_DSOWNS = 0x0004;
constexpr TW_UINT32 TWMF_POINTER = 0x0008;
constexpr TW_UINT32 TWMF_HANDLE = 0x0010;

// ---------------------------------------------------------------------------
// Capability values
// ---------------------------------------------------------------------------
constexpr TW_UINT16 TWUN_INCHES = 0;
constexpr TW_UINT16 TWUN_CENTIMETERS = 1;
constexpr TW_UINT16 TWUN_PICAS = 2;
constexpr TW_UINT16 TWUN_POINTS = 3;
constexpr TW_UINT16 TWUN_TWIPS = 4;
constexpr TW_UINT16 TWUN_PIXELS = 5;

constexpr TW_UINT16 TWPT_BW = 0;
constexpr TW_UINT16 TWPT_GRAY = 1;
constexpr TW_UINT16 TWPT_RGB = 2;
constexpr TW_UINT16 TWPT_PALETTE = 3;
constexpr TW_UINT16 TWPT_CMY = 4;
constexpr TW_UINT16 TWPT_CMYK = 5;
constexpr TW_UINT16 TWPT_YUV = 6;
constexpr TW_UINT16 TWPT_YUVK = 7;
constexpr TW_UINT16 TWPT_CIEXYZ = 8;
constexpr TW_UINT16 TWPT_BGR = 12;

constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
constexpr TW_UINT16 TWPF_VANILLA = 1;

constexpr TW_UINT16 TWPA_RGB = 0;
constexpr TW_UINT16 TWPA_GRAY = 1;
constexpr TW_UINT16 TWPA_CMY = 2;

constexpr TW_UINT16 TWFF_TIFF = 0;
constexpr TW_UINT16 TWFF_PICT = 1;
constexpr TW_UINT16 TWFF_BMP = 2;
constexpr TW_UINT16 TWFF_XBM = 3;
constexpr TW_UINT16 TWFF_JFIF = 4;
constexpr TW_UINT16 TWFF_FPX = 5;
constexpr TW_UINT16 TWFF_TIFFMULTI = 6;
constexpr TW_UINT16 TWFF_PNG = 7;
constexpr TW_UINT16 TWFF_SPIFF = 8;
constexpr TW_UINT16 TWFF_EXIF = 9;

constexpr TW_UINT16 TWOR_ROT0 = 0;
constexpr TW_UINT16 TWOR_ROT90 = 1;
constexpr TW_UINT16 TWOR_ROT180 = 2;
constexpr TW_UINT16 TWOR_ROT270 = 3;
constexpr TW_UINT16 TWOR_PORTRAIT = TWOR_ROT0;
constexpr TW_UINT16 TWOR_LANDSCAPE = TWOR_ROT270;

constexpr TW_UINT16 TWSS_NONE = 0;
constexpr TW_UINT16 TWSS_A4LETTER = 1;
constexpr TW_UINT16 TWSS_B5LETTER = 2;
constexpr TW_UINT16 TWSS_USLETTER = 3;
constexpr TW_UINT16 TWSS_USLEGAL = 4;
constexpr TW_UINT16 TWSS_A5 = 5;
constexpr TW_UINT16 TWSS_B4 = 6;
constexpr TW_UINT16 TWSS_B6 = 7;

constexpr TW_UINT16 TWAS_NONE = 0;
constexpr TW_UINT16 TWAS_AUTO = 1;
constexpr TW_UINT16 TWAS_CURRENT = 2;

constexpr TW_UINT16 TWSX_NATIVE = 0;
constexpr TW_UINT16 TWSX_FILE = 1;
constexpr TW_UINT16 TWSX_MEMORY = 2;

// Languages and countries (the codes this program uses by name; the
// acquisition library's TTwainLanguage covers every code from 0 to 113).
constexpr TW_INT16 TWLG_USERLOCALE = -1;
constexpr TW_UINT16 TWLG_DAN = 0;
constexpr TW_UINT16 TWLG_GER = 6;
constexpr TW_UINT16 TWLG_USA = 13;
constexpr TW_UINT16 TWCY_USA = 1;
constexpr TW_UINT16 TWCY_GERMANY = 49;

// ---------------------------------------------------------------------------
// Capabilities
// ---------------------------------------------------------------------------
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
constexpr TW_UINT16 ICAP_UNITS = 0x0102;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
constexpr TW_UINT16 CAP_FEEDERLOADED = 0x1003;
constexpr TW_UINT16 CAP_AUTOFEED = 0x1007;
constexpr TW_UINT16 CAP_INDICATORS = 0x100b;
constexpr TW_UINT16 CAP_UICONTROLLABLE = 0x100e;
constexpr TW_UINT16 ICAP_ORIENTATION = 0x1110;
constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
constexpr TW_UINT16 ICAP_PIXELFLAVOR = 0x111f;
constexpr TW_UINT16 ICAP_SUPPORTEDSIZES = 0x1122;
constexpr TW_UINT16 ICAP_BITDEPTH = 0x112b;
constexpr TW_UINT16 ICAP_UNDEFINEDIMAGESIZE = 0x112d;
constexpr TW_UINT16 ICAP_AUTOMATICBORDERDETECTION = 0x1150;
constexpr TW_UINT16 ICAP_AUTOMATICDESKEW = 0x1151;
constexpr TW_UINT16 ICAP_AUTOMATICROTATE = 0x1152;
constexpr TW_UINT16 ICAP_AUTOSIZE = 0x1156;

// ---------------------------------------------------------------------------
// Layout checks
// ---------------------------------------------------------------------------
namespace twain_layout_checks {
constexpr std::size_t P = sizeof(void *);

static_assert(sizeof(TW_STR32) == 34 && sizeof(TW_STR64) == 66 && sizeof(TW_STR128) == 130);
static_assert(sizeof(TW_STR255) == 256 && sizeof(TW_STR1024) == 1026 && sizeof(TW_UNI512) == 1024);
static_assert(sizeof(TW_FIX32) == 4 && offsetof(TW_FIX32, Frac) == 2);
static_assert(sizeof(TW_FRAME) == 16 && offsetof(TW_FRAME, Top) == 4 && offsetof(TW_FRAME, Right) == 8 &&
              offsetof(TW_FRAME, Bottom) == 12);

static_assert(sizeof(TW_VERSION) == 42);
static_assert(offsetof(TW_VERSION, MinorNum) == 2 && offsetof(TW_VERSION, Language) == 4 &&
              offsetof(TW_VERSION, Country) == 6 && offsetof(TW_VERSION, Info) == 8);

static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, Version) == 4 && offsetof(TW_IDENTITY, ProtocolMajor) == 46 &&
              offsetof(TW_IDENTITY, ProtocolMinor) == 48 && offsetof(TW_IDENTITY, SupportedGroups) == 50 &&
              offsetof(TW_IDENTITY, Manufacturer) == 54 && offsetof(TW_IDENTITY, ProductFamily) == 88 &&
              offsetof(TW_IDENTITY, ProductName) == 122);

static_assert(sizeof(TW_CAPABILITY) == 4 + P && offsetof(TW_CAPABILITY, ConType) == 2 &&
              offsetof(TW_CAPABILITY, hContainer) == 4);

static_assert(sizeof(TW_ONEVALUE) == 6 && offsetof(TW_ONEVALUE, Item) == 2);
static_assert(sizeof(TW_RANGE) == 22 && offsetof(TW_RANGE, MinValue) == 2 && offsetof(TW_RANGE, MaxValue) == 6 &&
              offsetof(TW_RANGE, StepSize) == 10 && offsetof(TW_RANGE, DefaultValue) == 14 &&
              offsetof(TW_RANGE, CurrentValue) == 18);
static_assert(offsetof(TW_ENUMERATION, NumItems) == 2 && offsetof(TW_ENUMERATION, CurrentIndex) == 6 &&
              offsetof(TW_ENUMERATION, DefaultIndex) == 10 && offsetof(TW_ENUMERATION, ItemList) == 14);
static_assert(offsetof(TW_ARRAY, NumItems) == 2 && offsetof(TW_ARRAY, ItemList) == 6);

static_assert(sizeof(TW_USERINTERFACE) == 4 + P && offsetof(TW_USERINTERFACE, ModalUI) == 2 &&
              offsetof(TW_USERINTERFACE, hParent) == 4);
static_assert(sizeof(TW_EVENT) == P + 2 && offsetof(TW_EVENT, TWMessage) == P);
static_assert(sizeof(TW_STATUS) == 4 && offsetof(TW_STATUS, Reserved) == 2);
static_assert(sizeof(TW_PENDINGXFERS) == 6 && offsetof(TW_PENDINGXFERS, Reserved) == 2);

static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(offsetof(TW_IMAGEINFO, YResolution) == 4 && offsetof(TW_IMAGEINFO, ImageWidth) == 8 &&
              offsetof(TW_IMAGEINFO, ImageLength) == 12 && offsetof(TW_IMAGEINFO, SamplesPerPixel) == 16 &&
              offsetof(TW_IMAGEINFO, BitsPerSample) == 18 && offsetof(TW_IMAGEINFO, BitsPerPixel) == 34 &&
              offsetof(TW_IMAGEINFO, Planar) == 36 && offsetof(TW_IMAGEINFO, PixelType) == 38 &&
              offsetof(TW_IMAGEINFO, Compression) == 40);

static_assert(sizeof(TW_IMAGELAYOUT) == 28 && offsetof(TW_IMAGELAYOUT, DocumentNumber) == 16 &&
              offsetof(TW_IMAGELAYOUT, PageNumber) == 20 && offsetof(TW_IMAGELAYOUT, FrameNumber) == 24);
static_assert(sizeof(TW_SETUPMEMXFER) == 12 && offsetof(TW_SETUPMEMXFER, MaxBufSize) == 4 &&
              offsetof(TW_SETUPMEMXFER, Preferred) == 8);
static_assert(sizeof(TW_MEMORY) == 8 + P && offsetof(TW_MEMORY, Length) == 4 && offsetof(TW_MEMORY, TheMem) == 8);
static_assert(sizeof(TW_IMAGEMEMXFER) == 26 + sizeof(TW_MEMORY) && offsetof(TW_IMAGEMEMXFER, BytesPerRow) == 2 &&
              offsetof(TW_IMAGEMEMXFER, Columns) == 6 && offsetof(TW_IMAGEMEMXFER, Rows) == 10 &&
              offsetof(TW_IMAGEMEMXFER, XOffset) == 14 && offsetof(TW_IMAGEMEMXFER, YOffset) == 18 &&
              offsetof(TW_IMAGEMEMXFER, BytesWritten) == 22 && offsetof(TW_IMAGEMEMXFER, Memory) == 26);
static_assert(sizeof(TW_SETUPFILEXFER) == 260 && offsetof(TW_SETUPFILEXFER, Format) == 256 &&
              offsetof(TW_SETUPFILEXFER, VRefNum) == 258);
static_assert(sizeof(TW_ELEMENT8) == 4 && offsetof(TW_ELEMENT8, Channel1) == 1 &&
              offsetof(TW_ELEMENT8, Channel2) == 2 && offsetof(TW_ELEMENT8, Channel3) == 3);
static_assert(sizeof(TW_PALETTE8) == 1028 && offsetof(TW_PALETTE8, PaletteType) == 2 &&
              offsetof(TW_PALETTE8, Colors) == 4);

static_assert(sizeof(TW_ENTRYPOINT) == 4 + 5 * P && offsetof(TW_ENTRYPOINT, DSM_Entry) == 4 &&
              offsetof(TW_ENTRYPOINT, DSM_MemAllocate) == 4 + P && offsetof(TW_ENTRYPOINT, DSM_MemFree) == 4 + 2 * P &&
              offsetof(TW_ENTRYPOINT, DSM_MemLock) == 4 + 3 * P && offsetof(TW_ENTRYPOINT, DSM_MemUnlock) == 4 + 4 * P);
static_assert(sizeof(TW_CALLBACK) == P + 6 && offsetof(TW_CALLBACK, RefCon) == P &&
              offsetof(TW_CALLBACK, Message) == P + 4);
static_assert(sizeof(TW_CALLBACK2) == 2 * P + 2 && offsetof(TW_CALLBACK2, RefCon) == P &&
              offsetof(TW_CALLBACK2, Message) == 2 * P);
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(TW_ENTRYPOINT) == 44 && sizeof(TW_CALLBACK) == 14 && sizeof(TW_CALLBACK2) == 18);
#endif
} // namespace twain_layout_checks
