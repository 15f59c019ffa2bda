// Files and folders: existence checks, the directory search with
// attributes, the program directory and the folder for the program's own
// stored files.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace platform {

// Attribute bits of a directory entry.
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;  // name starts with "."
constexpr int faSysFile = 0x04; // neither file nor folder (device, socket, pipe)
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faSymLink = 0x400; // informational: a link is found like what it points to
constexpr int faAnyFile = 0x1FF;

// True when |path| names an existing file (not a folder).
bool FileExists(const QString &path);
bool DirectoryExists(const QString &path);
// The same for a name given as the bytes the system knows it by.
bool NativeFileExists(const QByteArray &nativePath);

// State of a running directory search.  Name and Attr are filled for each
// entry found; size, time and the read-only state cost a system call each
// and are read when asked for.
struct TSearchRec {
    QString Name;
    int Attr = 0; // faDirectory, faHidden, faSysFile, faSymLink, faArchive

    qint64 Size() const;    // 0 for anything but a plain file
    QDateTime Time() const; // last modification
    bool ReadOnly() const;  // this process may not write it
    // The entry's name as the bytes the system knows it by; Name shows
    // bytes that are no UTF-8 as the replacement character.
    QByteArray NativeName() const;

    struct State;
    std::shared_ptr<State> state;
};

// Searches the folder of |pattern| for entries whose names match its last
// component ("*" and "?" wildcards, letter case ignored) and whose
// attributes are allowed by |attr| (plain files always are).  Entries come
// in the order the file system returns them.  0 when an entry was found
// (it is in |rec|), otherwise an errno value.
int FindFirst(const QString &pattern, int attr, TSearchRec &rec);
int FindNext(TSearchRec &rec);
void FindClose(TSearchRec &rec);

// The directory of the running executable, with a trailing "/" (from the
// directory service, see platform/Directories.h).
QString ProgramDirectory();

// The folder for the program's own stored files (settings, version and
// style): the program directory when it can be written and is not an
// installed one below /usr/, otherwise $XDG_CONFIG_HOME/Quillora/ (by default
// ~/.config/Quillora/), created when missing.  With a trailing "/".
QString DataDirectory();
// The choice DataDirectory makes, for given circumstances (no side effects).
QString DataDirectoryFor(const QString &programDir, bool programDirWritable, const QString &xdgConfigHome,
                         const QString &home);

// One pass over |folder| (with trailing "/"): calls |found| for each entry
// whose name matches one of |patterns| and whose attributes |attr| allows,
// with the index of the first pattern it matches, in the order the file
// system returns the entries.  The same entries, in the same order, as one
// FindFirst/FindNext search per pattern, at the cost of one.  0, or the
// errno value of a folder that cannot be read.
int SearchFolder(const QString &folder, const QStringList &patterns, int attr,
                 const std::function<void(int pattern, const TSearchRec &rec)> &found);
int SearchFolder(const QByteArray &nativeFolder, const QStringList &patterns, int attr,
                 const std::function<void(int pattern, const TSearchRec &rec)> &found);

// Matches |name| against a wildcard |pattern| ("*": any run of bytes, "?":
// one byte), ASCII letters compared without case.
bool MatchesWildcard(const char *pattern, const char *name);

// Cuts |bytes| to at most |limit| bytes without splitting a UTF-8 character.
QByteArray CutAtCharacterBoundary(const QByteArray &bytes, int limit);

} // namespace platform
