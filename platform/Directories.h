// The five directory kinds of the TWAIN utilities, mapped to Linux.
//
//   Windows      -> /usr/lib/quillora/      where a system-wide installation
//                                           keeps shared program parts such as
//                                           the Data Source Manager
//   System       -> /usr/lib/               the system's shared libraries
//   Current      -> the working directory of the process
//   Application  -> the directory of the running executable
//                   (/proc/self/exe); the caller takes the directory part
//   Temp         -> $TMPDIR when set and not empty, else /tmp/
//
// GetDirectory returns the directory as an absolute path; only Application
// returns the full file name of the executable (as GetModuleFileName does),
// every other kind returns a directory, with or without a trailing "/".
// An empty string means the platform could not tell.
//
// The answers come from a service: tests install one that points any kind,
// and the program directory, at folders of their own
// (tests/support/FixedDirectories.h).
#pragma once

#include "platform/Service.h"

#include <QString>

namespace platform {

enum class DirectoryKind { Windows, System, Current, Application, Temp };

class DirectoryService {
public:
    virtual ~DirectoryService() = default;
    virtual QString Directory(DirectoryKind kind) = 0;
    // The directory of the running executable, with a trailing "/".
    virtual QString ProgramDirectory() = 0;
};

// The real answers, as described above.
class SystemDirectories : public DirectoryService {
public:
    QString Directory(DirectoryKind kind) override;
    QString ProgramDirectory() override;
};

QString GetDirectory(DirectoryKind kind);

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::DirectoryService)
