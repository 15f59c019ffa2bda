#include "twaindirect/Scanners.h"

#include "platform/Assert.h"
#include "platform/Modules.h"

#include <QLoggingCategory>

#include <cstring>

Q_LOGGING_CATEGORY(lcTwainDirect, "quillora.twaindirect", QtWarningMsg)

namespace Scanners {
namespace {

constexpr char kUnit[] = "scanners";

const QString kEntryNotFound = QStringLiteral("DSMEntry not found in Twain DLL");
const QString kNotLoaded = QStringLiteral("Twain DLL couldn't be loaded");
const QString kCallFailed = QStringLiteral("DSM Call failed in %1: Code %2");
const QString kSourceOpen = QStringLiteral("Cannot Close Source Manager: A Source is Currently Open");
const QString kNoStatus = QStringLiteral("Can't get Status");
const QString kDsmError = QStringLiteral("DSM Error at %1:\r%2");

// %.04x with upper-case letters: at least four hexadecimal digits.
QString hex4(unsigned value)
{
    return QString::asprintf("%.04X", value);
}

// Copies |text| into a TW_STR32, the rest of the field zero bytes.
void putStr32(TW_STR32 &field, const char *text)
{
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

void fillAppId()
{
    std::memset(&appId, 0, sizeof appId);
    appId.Id = 0;
    appId.Version.MajorNum = 1;
    appId.Version.MinorNum = 0;
    appId.Version.Language = TWLG_USA;
    appId.Version.Country = TWCY_USA;
    putStr32(appId.Version.Info, "Ostra Twain Test");
    appId.ProtocolMajor = 1;
    appId.ProtocolMinor = 7;
    appId.SupportedGroups = DG_CONTROL | DG_IMAGE;
    putStr32(appId.ProductName, "ImagoTest");
    putStr32(appId.ProductFamily, "Ostra Twain Framework");
    putStr32(appId.Manufacturer, "Velmar");
}

} // namespace

bool LoadTwain()
{
    if (!HDSMDLL) {
        HDSMDLL = ::LoadLibrary(QStringLiteral("TWAIN_32.DLL"));
        DSM_Entry = reinterpret_cast<DSMENTRYPROC>(::GetProcAddress(HDSMDLL, "DSM_Entry"));
        qCDebug(lcTwainDirect) << "LoadTwain: library" << (HDSMDLL ? "loaded" : "not loaded") << ", DSM_Entry"
                               << (DSM_Entry ? "found" : "missing");
        if (!DSM_Entry) {
            // A library without the entry point is of no use: let it go, so
            // the next attempt searches again and reports the same.
            if (HDSMDLL)
                ::FreeLibrary(HDSMDLL);
            HDSMDLL = nullptr;
            throw ETwainError(kEntryNotFound);
        }
    }
    return HDSMDLL != nullptr;
}

void UnloadTwain()
{
    if (HDSMDLL) {
        DSM_Entry = nullptr;
        ::FreeLibrary(HDSMDLL);
        HDSMDLL = nullptr;
        qCDebug(lcTwainDirect) << "UnloadTwain: library freed";
    }
}

TW_UINT16 CallDSMEntry(pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    QUILLORA_ASSERT(DSM_Entry != nullptr, platform::kAssertionFailedText, kUnit);
    const TW_UINT16 rc = DSM_Entry(&appId, pDest, DG, DAT, MSG, pData);
    qCDebug(lcTwainDirect).nospace() << "DSM_Entry(app " << appId.Id << ", dest "
                                     << (pDest ? QString::number(pDest->Id) : QStringLiteral("none")) << ", DG 0x"
                                     << Qt::hex << DG << ", DAT 0x" << DAT << ", MSG 0x" << MSG << ") = " << Qt::dec
                                     << rc;
    return rc;
}

QString Condition2String(TW_UINT16 ConditionCode)
{
    switch (ConditionCode) {
    case TWCC_SUCCESS:
        return QStringLiteral("Operation worked.");
    case TWCC_BUMMER:
        return QStringLiteral("General failure. Unload Source immediately.");
    case TWCC_LOWMEMORY:
        return QStringLiteral("Not enough memory to complete operation.");
    case TWCC_NODS:
        return QStringLiteral("Source Manager unable to find the specified Source.");
    case TWCC_MAXCONNECTIONS:
        return QStringLiteral("Source is connected to maximum supported number of applications.");
    case TWCC_OPERATIONERROR:
        return QStringLiteral("Source or Source Manager reported an error to the\ruser and handled the error; "
                              "no application action required.");
    case TWCC_BADCAP:
        return QStringLiteral("Capability not supported by Source or operation (get,\rset) is not supported on "
                              "capability, or capability had\rdependencies on other capabilities and cannot be\r"
                              "operated upon at this time");
    case TWCC_BADPROTOCOL:
        return QStringLiteral("Unrecognized operation triplet.");
    case TWCC_BADVALUE:
        return QStringLiteral("Data parameter out of supported range.");
    case TWCC_SEQERROR:
        return QStringLiteral("Illegal operation for current Source Manager\rSource state.");
    case TWCC_BADDEST:
        return QStringLiteral("Unknown destination in DSM_Entry.");
    case TWCC_CAPUNSUPPORTED:
        return QStringLiteral("Capability not supported by Source.");
    case TWCC_CAPBADOPERATION:
        return QStringLiteral("Operation not supported on capability.");
    case TWCC_CAPSEQERROR:
        return QStringLiteral("Capability has dependencies on other capabilities and \rcannot be operated upon at "
                              "this time.");
    case TWCC_DENIED:
        return QStringLiteral("File System operation is denied (file is protected).");
    case TWCC_FILEEXISTS:
        return QStringLiteral("Operation failed because file already exists.");
    case TWCC_FILENOTFOUND:
        return QStringLiteral("File not found.");
    case TWCC_NOTEMPTY:
        return QStringLiteral("Operation failed because directory is not empty.");
    case TWCC_PAPERJAM:
    case TWCC_PAPERDOUBLEFEED:
        return QStringLiteral("Transfer failed because of a feeder error");
    default:
        return QStringLiteral("Unknown Condition ") + hex4(ConditionCode);
    }
}

void RaiseLastDSMCondition(const QString &at)
{
    QUILLORA_ASSERT(DSM_Entry != nullptr, platform::kAssertionFailedText, kUnit);
    TW_STATUS status{};
    if (CallDSMEntry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
        throw ETwainError(kNoStatus);
    throw ETwainError(kDsmError.arg(at, Condition2String(status.ConditionCode)));
}

void TwainCheckDSM(TW_UINT16 res, const QString &at)
{
    if (res == TWRC_SUCCESS)
        return;
    if (res == TWRC_FAILURE)
        RaiseLastDSMCondition(at);
    throw ETwainError(kCallFailed.arg(at, hex4(res)));
}

void TWOpenDSM(HWND hWnd)
{
    if (TWDSMOpen)
        return;
    QUILLORA_ASSERT(hWnd != nullptr, platform::kAssertionFailedText, kUnit);
    if (!LoadTwain())
        throw ETwainError(kNotLoaded);
    fillAppId();
    hMainWnd = hWnd;
    TwainCheckDSM(CallDSMEntry(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &hMainWnd), QStringLiteral("TWOpenDSM"));
    TWDSMOpen = true;
}

void TWCloseDSM()
{
    if (TWDSOpen)
        throw ETwainError(kSourceOpen);
    if (TWDSMOpen) {
        TwainCheckDSM(CallDSMEntry(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &hMainWnd),
                      QStringLiteral("TWCloseDSM"));
        TWDSMOpen = false;
        UnloadTwain();
    }
}

bool TWIsDSMOpen()
{
    return TWDSMOpen;
}

void TWCloseDS()
{
    QUILLORA_ASSERT(TWDSMOpen, "DSM must be open", kUnit);
    if (TWDSOpen) {
        TwainCheckDSM(CallDSMEntry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &dsId),
                      QStringLiteral("TWCloseDS"));
        TWDSOpen = false;
    }
}

void TWDisableDS()
{
    QUILLORA_ASSERT(TWDSOpen, "DS must be open", kUnit);
    if (TWDSEnabled) {
        TW_USERINTERFACE twUI{};
        twUI.hParent = static_cast<TW_HANDLE>(hMainWnd);
        twUI.ShowUI = 0xFFFF;
        TwainCheckDSM(CallDSMEntry(&dsId, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &twUI),
                      QStringLiteral("TWDisableDS"));
        TWDSEnabled = false;
    }
}

bool TWIsDSOpen()
{
    return TWDSOpen;
}

bool TWIsDSEnabled()
{
    return TWDSEnabled;
}

void ResetState()
{
    UnloadTwain();
    std::memset(&appId, 0, sizeof appId);
    std::memset(&dsId, 0, sizeof dsId);
    hMainWnd = nullptr;
    TWDSMOpen = false;
    TWDSOpen = false;
    TWDSEnabled = false;
}

} // namespace Scanners
