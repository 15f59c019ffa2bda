// Reaching files: the one error type for file access, the retrying read and
// write loops, and the one writer that replaces a file atomically.
//
// File names are bytes on Linux.  Every function here has an overload that
// takes the name as the bytes the system knows it by (a "native" name);
// the QString overloads encode with QFile::encodeName.
#pragma once

#include "platform/Exceptions.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace platform {

// A file could not be opened, read, created, written, renamed or removed.
// The text names the file and the system's reason, in German.
class FileAccessError : public EInOutError {
public:
    enum class Op { Open, Read, Create, Write, Rename, Remove };
    FileAccessError(Op op, const QString &path, int errnoValue);
    Op op() const { return op_; }
    int errnoValue() const { return errorCode(); }

private:
    Op op_;
};

// The system's reason for |errnoValue| in German.
QString systemErrorText(int errnoValue);

// Writes all |size| bytes to |fd|, retrying after interruptions and short
// writes.  False (errno set) on failure.
bool WriteAll(int fd, const void *data, std::size_t size);
// Reads until |size| bytes are in or the file ends, retrying after
// interruptions.  The number of bytes read, or -1 (errno set).
ssize_t ReadFull(int fd, void *data, std::size_t size);

// Receives the bytes of a file being written.
using ByteSink = std::function<void(const std::uint8_t *, std::size_t)>;

// A file written so that it is either complete or not there at all: the
// bytes go to a new hidden file in the same folder, named
// ".<name>.quillora-<pid>.tmp", which Commit flushes to the disk, gives the
// permission bits of the file it replaces (0644 for a new one, less the
// umask) and renames over the target; the folder is flushed too, so the
// rename survives a power cut.  Without Commit the temporary file is removed
// and the target is untouched.  Every failure throws FileAccessError naming
// the target.  A file that is only an intermediate step (deleted again
// right after) may skip the flushes: it is still never seen incomplete
// under its name, but it may be lost in a power cut.
class AtomicFile {
public:
    enum class Durability { Flushed, Intermediate };
    explicit AtomicFile(const QString &target, Durability durability = Durability::Flushed);
    explicit AtomicFile(const QByteArray &nativeTarget, Durability durability = Durability::Flushed);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    void Write(const void *data, std::size_t size);
    void Commit();

    const QByteArray &TemporaryPath() const { return temp_; }

private:
    QByteArray target_;
    QByteArray temp_;
    int fd_ = -1;
    bool committed_ = false;
    Durability durability_;
};

// Replaces |path| with |bytes|, or with what |produce| hands its sink,
// through an AtomicFile.
void WriteFileAtomically(const QString &path, const QByteArray &bytes);
void WriteFileAtomically(const QByteArray &nativePath, const QByteArray &bytes);
void WriteFileAtomically(const QString &path, const std::function<void(const ByteSink &)> &produce);
void WriteFileAtomically(const QByteArray &nativePath, const std::function<void(const ByteSink &)> &produce);

// The temporary name AtomicFile uses for |nativeTarget| in process |pid|:
// ".<name>.quillora-<pid>.tmp" in the same folder.  It never ends in a
// document's extension, so it is never listed as a document.
QByteArray TemporaryNameFor(const QByteArray &nativeTarget, long pid);

// Removes, in |nativeFolder|, the temporary files of that pattern whose
// process is no longer alive (left behind by a program that was killed in
// the middle of a write).  Returns how many were removed.
int RemoveStaleTemporaries(const QByteArray &nativeFolder);

} // namespace platform
