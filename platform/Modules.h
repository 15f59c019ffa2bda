// Loading shared objects and looking up their exports.
//
// LoadLibrary takes a full path (used as it is) or a bare file name (found
// by the system's library search, as dlopen searches).  An export is looked
// up by name or by ordinal.
//
// Ordinals on Linux: ELF objects have no export ordinals, so ordinals are
// mapped to names by a fixed table of this layer:
//     ordinal 1 -> "DSM_Entry"   (the entry point of a Data Source Manager)
// Every other ordinal finds nothing.  GetProcAddress with a name pointer whose
// value is below 0x10000 is taken as an ordinal, as on Windows
// (MAKEINTRESOURCEA).
//
// The service behind these functions can be replaced (tests install a double
// that serves in-process managers and fails on demand); the real one uses
// dlopen, dlsym and dlclose.
#pragma once

#include "platform/WinTypes.h"

#include "platform/Service.h"

#include <QString>

using FARPROC = void (*)();

namespace platform {

class ModuleService {
public:
    virtual ~ModuleService() = default;
    virtual HMODULE load(const QString &fileName) = 0;
    virtual FARPROC symbol(HMODULE module, const char *name) = 0;
    virtual bool free(HMODULE module) = 0;
};


// Name an ordinal stands for, nullptr when the ordinal names nothing.
const char *OrdinalName(WORD ordinal);

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::ModuleService)

inline const char *MAKEINTRESOURCEA(WORD ordinal)
{
    return reinterpret_cast<const char *>(static_cast<std::uintptr_t>(ordinal));
}

HMODULE LoadLibrary(const QString &fileName);
FARPROC GetProcAddress(HMODULE module, const char *nameOrOrdinal);
FARPROC GetProcAddress(HMODULE module, WORD ordinal);
BOOL FreeLibrary(HMODULE module);
