// Loading shared objects and looking up their exports.
//
// LoadLibrary takes a path (any name with a "/") or a bare file name.  A bare
// name is looked for as Windows looks for a library: in the program
// directory first (dlopen alone never looks beside the executable), then in
// the folders the dynamic loader searches for a name without a slash, in its
// order: $LD_LIBRARY_PATH (not for a set-id program), the folders of
// /etc/ld.so.conf and the files it includes, then /lib and /usr/lib with
// their multiarch and lib64 variants.  The first file found that may be
// loaded is loaded by its full path.
//
// Safe loading: a library file is loaded only if the file and every folder
// from it up to "/" (after symbolic links are resolved) belong to root or to
// the user the program runs as, and none of them can be written by group or
// others.  A root-owned folder with the sticky bit (such as /tmp) may be on
// the way; the file itself must still be owned by root or the user.  A file
// that fails is not loaded (a bare name goes on to the next folder), and a
// warning of the logging category "quillora.modules" says why.  The loaded
// file is the resolved path that was checked, so a link that changes after
// the check is not followed.
//
// An export is looked up by name or by ordinal.
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
#include <QStringList>

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

// Why the library file |path| may not be loaded (in English, for the log),
// or an empty string when it may.  |resolved| receives the path with every
// symbolic link resolved (the file that would be loaded).
QString LibraryFileRefusal(const QString &path, QString *resolved = nullptr);

// The folders the dynamic loader searches for a bare library name, in its
// order, each with a trailing "/" (see above; without the program directory).
QStringList LoaderSearchFolders();

// The file LoadLibrary would load for |fileName|: for a path, the resolved
// path if it may be loaded; for a bare name, the first file of that name in
// the program directory or a loader folder that may be loaded.  Empty when
// there is none.  Refusals are logged.
QString FindLibrary(const QString &fileName);

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
