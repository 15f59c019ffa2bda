#include "app/Records.h"

#include "platform/FileAccess.h"
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

QByteArray ShortStringBytes(const std::uint8_t *field, int capacity)
{
    const int len = std::min<int>(field[0], capacity);
    return QByteArray(reinterpret_cast<const char *>(field + 1), len);
}

void SetShortString(std::uint8_t *field, int capacity, const QString &value)
{
    const QByteArray bytes = platform::CutAtCharacterBoundary(value.toLocal8Bit(), capacity);
    field[0] = static_cast<std::uint8_t>(bytes.size());
    std::memcpy(field + 1, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

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
    const ssize_t n = platform::ReadFull(fd, buffer.data(), size);
    ::close(fd);
    if (n < 0)
        return RecordReadResult::Failed;
    const std::size_t got = std::size_t(n);
    std::memcpy(record, buffer.constData(), got);
    return got == size ? RecordReadResult::Read : RecordReadResult::Short;
}

bool WriteRecordFile(const QString &path, const void *record, std::size_t size)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    const bool exists = ::lstat(name.constData(), &st) == 0;
    if (exists && (S_ISDIR(st.st_mode) || ::access(name.constData(), W_OK) != 0))
        return false;
    try {
        platform::AtomicFile file(name);
        file.Write(record, size);
        file.Commit();
    } catch (const platform::FileAccessError &) {
        return false;
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
              platform::WriteAll(fd, record, size);
    ok = (::close(fd) == 0) && ok;
    return ok;
}
