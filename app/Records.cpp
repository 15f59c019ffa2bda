#include "app/Records.h"

#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString ShortStringValue(const std::uint8_t *field, int capacity)
{
    const int len = std::min<int>(field[0], capacity);
    return QString::fromLocal8Bit(reinterpret_cast<const char *>(field + 1), len);
}

void SetShortString(std::uint8_t *field, int capacity, const QString &value)
{
    const QByteArray bytes = platform::CutAtCharacterBoundary(value.toLocal8Bit(), capacity);
    field[0] = static_cast<std::uint8_t>(bytes.size());
    std::memcpy(field + 1, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace {

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

RecordReadResult ReadRecordFile(const QString &path, void *record, std::size_t size)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return RecordReadResult::Missing;
    // Non-blocking, so that a pipe or device in the file's place cannot hang us.
    int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return RecordReadResult::NotOpened;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return RecordReadResult::NotOpened;
    }
    QByteArray buffer(static_cast<qsizetype>(size), 0);
    std::size_t got = 0;
    bool failed = false;
    while (got < size) {
        ssize_t n = ::read(fd, buffer.data() + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    std::memcpy(record, buffer.constData(), got);
    if (failed)
        return RecordReadResult::Failed;
    return got == size ? RecordReadResult::Read : RecordReadResult::Short;
}

bool WriteRecordFile(const QString &path, const void *record, std::size_t size)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    const bool exists = ::lstat(name.constData(), &st) == 0;
    if (exists && (S_ISDIR(st.st_mode) || ::access(name.constData(), W_OK) != 0))
        return false;

    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temp = name + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    ::fchmod(fd, exists ? (st.st_mode & 07777) : 0644);
    bool ok = writeAll(fd, static_cast<const char *>(record), size) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.constData(), name.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool OverwriteRecordInPlace(const QString &path, const void *record, std::size_t size)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::lseek(fd, 0, SEEK_SET) == 0 &&
              writeAll(fd, static_cast<const char *>(record), size);
    ok = (::close(fd) == 0) && ok;
    return ok;
}
