// The shell: starting a program or opening a document or address, with the
// result codes of the Windows shell (above 32: success).
//
// A file that is executable (and not a folder) is started as a program of
// its own, detached from this one, with |parameters| split as a command line
// and |directory| as its working directory.  An address ("https:", "mailto:"
// ...), a folder or any other file is handed to the desktop's handler for
// its kind.  A relative |file| is looked for in |directory| (or the current
// directory when that is empty).
#pragma once

#include "platform/Service.h"
#include "platform/WinTypes.h"

#include <QString>
#include <QUrl>

namespace platform {

// Show commands.
constexpr INT SW_HIDE = 0;
constexpr INT SW_SHOWNORMAL = 1;
constexpr INT SW_NORMAL = 1;
constexpr INT SW_SHOW = 5;

// Results of 32 or less: errors.
constexpr INT SHELL_OUT_OF_RESOURCES = 0; // the system could not start it
constexpr INT ERROR_FILE_NOT_FOUND = 2;
constexpr INT ERROR_PATH_NOT_FOUND = 3;
constexpr INT SE_ERR_ACCESSDENIED = 5;
constexpr INT SE_ERR_OOM = 8;
constexpr INT ERROR_BAD_FORMAT = 11;
constexpr INT SE_ERR_NOASSOC = 31;
// The value a successful call gives.
constexpr INT SHELL_SUCCESS = 42;

class ShellService {
public:
    virtual ~ShellService() = default;
    // |owner| may be null.  Returns a value above 32 on success, else one of
    // the error codes above.
    virtual INT Execute(HWND owner, const QString &verb, const QString &file, const QString &parameters,
                        const QString &directory, INT showCommand) = 0;
};

// Hands documents, folders and addresses to the desktop.  The real shell
// uses it; a test may put another in its place.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    // False when no program could be found to open |url|.
    virtual bool Open(const QUrl &url) = 0;
};

// The real shell: POSIX for programs, the desktop opener for the rest.
class PosixShell : public ShellService {
public:
    INT Execute(HWND owner, const QString &verb, const QString &file, const QString &parameters,
                const QString &directory, INT showCommand) override;
};

// The desktop's handler through Qt (xdg-open on Linux desktops).
class QtDesktopOpener : public DesktopOpener {
public:
    bool Open(const QUrl &url) override;
};

// The shell in use.
INT ShellExecute(HWND owner, const QString &verb, const QString &file, const QString &parameters,
                 const QString &directory, INT showCommand);

// Whether |file| names an address with a scheme of its own (two or more
// letters before a colon: "https://...", "mailto:..."), not a path.
bool IsAddress(const QString &file);

// The shell's result for a failed start of a program, from the system's
// error number.
INT ShellResultForErrno(int error);

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::ShellService)
QUILLORA_DECLARE_SERVICE(platform::DesktopOpener)
