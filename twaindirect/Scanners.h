// A procedure-level binding to the TWAIN Data Source Manager, independent of
// the acquisition library: it loads TWAIN_32.DLL itself, keeps its own
// application identity and open flags, and raises ETwainError for every
// failed call, with the failed operation and the TWAIN condition in English.
//
// The unit opens and closes the manager only; nothing here opens or enables
// a data source, so the source flags stay false and the source-side
// operations stop at their first test.
//
// Preconditions are checked with QUILLORA_ASSERT (platform/Assert.h) and
// raise platform::EAssertionFailed naming the unit "scanners".
//
// GUI thread only: the unit state is plain global data.  Every call into the
// manager is logged at debug level in the category "quillora.twaindirect".
#pragma once

#include "platform/Exceptions.h"
#include "platform/WinTypes.h"
#include "twain/Twain.h"

#include <QString>

namespace Scanners {

// A failed manager call; the text says which operation and why.
class ETwainError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// Unit state.  Read freely; only the routines below change it.
inline HMODULE HDSMDLL = nullptr;        // the loaded manager library, 0 when none
inline DSMENTRYPROC DSM_Entry = nullptr; // its entry point, null when none
inline TW_IDENTITY appId{};              // this binding's application identity
inline TW_IDENTITY dsId{};               // the data source (nothing fills it)
inline HWND hMainWnd = nullptr;          // the manager's parent window
inline bool TWDSMOpen = false;
inline bool TWDSOpen = false;
inline bool TWDSEnabled = false;

// Loads "TWAIN_32.DLL" by the platform's library search (the program
// directory first) unless loaded; raises "DSMEntry not found in Twain DLL"
// when the library or its export DSM_Entry is missing.  True when loaded.
bool LoadTwain();
// Frees the library when loaded.
void UnloadTwain();

// Opens the manager for |hWnd| (nothing when open already).
void TWOpenDSM(HWND hWnd);
// Closes the manager and frees the library (nothing when closed).
void TWCloseDSM();
bool TWIsDSMOpen();
void TWCloseDS();
void TWDisableDS();
bool TWIsDSOpen();
bool TWIsDSEnabled();

// The English text of a TWAIN condition code.
QString Condition2String(TW_UINT16 ConditionCode);
// Asks the manager's condition for this application and raises it.
[[noreturn]] void RaiseLastDSMCondition(const QString &at);
// Nothing for TWRC_SUCCESS; raises for every other result.
void TwainCheckDSM(TW_UINT16 res, const QString &at);
// One DSM_Entry call with appId as origin.
TW_UINT16 CallDSMEntry(pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

// Back to the state at program start, freeing a loaded library without
// any TWAIN call (tests).
void ResetState();

} // namespace Scanners
