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
// Tests point any kind at a folder of their own with SetDirectoryOverride.
#pragma once

#include "platform/Files.h"

#include <QString>

namespace platform {

enum class DirectoryKind { Windows, System, Current, Application, Temp };

QString GetDirectory(DirectoryKind kind);

// Replaces the answer for |kind| until cleared; an override of Application
// is the executable's full file name.
void SetDirectoryOverride(DirectoryKind kind, const QString &path);
void ClearDirectoryOverride(DirectoryKind kind);
void ClearDirectoryOverrides();

// The directory of the running executable with a trailing "/":
// ProgramDirectory() in platform/Files.h.

} // namespace platform
