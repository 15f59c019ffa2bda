#include "platform/FileAccess.h"

#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Every file the program writes, and every failure to read or write one.
Q_LOGGING_CATEGORY(lcFiles, "quillora.files", QtWarningMsg)

namespace platform {
namespace {

QString opText(FileAccessError::Op op)
{
    switch (op) {
    case FileAccessError::Op::Open:
        return QStringLiteral("Die Datei \"%1\" kann nicht geöffnet werden. %2");
    case FileAccessError::Op::Read:
        return QStringLiteral("Die Datei \"%1\" kann nicht gelesen werden. %2");
    case FileAccessError::Op::Create:
        return QStringLiteral("Die Datei \"%1\" kann nicht erstellt werden. %2");
    case FileAccessError::Op::Write:
        return QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden. %2");
    case FileAccessError::Op::Rename:
        return QStringLiteral("Die Datei \"%1\" kann nicht ersetzt werden. %2");
    case FileAccessError::Op::Remove:
        return QStringLiteral("Die Datei \"%1\" kann nicht gelöscht werden. %2");
    }
    return QStringLiteral("%1: %2");
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

// The process id of a name of the temporary pattern, or -1.
long temporaryOwner(const char *name)
{
    const std::size_t len = std::strlen(name);
    static constexpr char kEnd[] = ".tmp";
    static constexpr char kMark[] = ".quillora-";
    if (len < 1 + sizeof kMark - 1 + 1 + sizeof kEnd - 1 || name[0] != '.' ||
        std::memcmp(name + len - (sizeof kEnd - 1), kEnd, sizeof kEnd - 1) != 0)
        return -1;
    const std::size_t digitsEnd = len - (sizeof kEnd - 1);
    std::size_t digitsStart = digitsEnd;
    while (digitsStart > 0 && name[digitsStart - 1] >= '0' && name[digitsStart - 1] <= '9')
        --digitsStart;
    const std::size_t digits = digitsEnd - digitsStart;
    if (digits == 0 || digits > 9 || digitsStart < sizeof kMark - 1 + 1)
        return -1;
    if (std::memcmp(name + digitsStart - (sizeof kMark - 1), kMark, sizeof kMark - 1) != 0)
        return -1;
    long pid = 0;
    for (std::size_t i = digitsStart; i < digitsEnd; ++i)
        pid = pid * 10 + (name[i] - '0');
    return pid > 0 ? pid : -1;
}

} // namespace

QString systemErrorText(int e)
{
    switch (e) {
    case ENOENT:
        return QStringLiteral("Die Datei oder das Verzeichnis ist nicht vorhanden.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Zugriff verweigert.");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Auf dem Datenträger ist nicht genügend Speicherplatz.");
    case EROFS:
        return QStringLiteral("Der Datenträger ist schreibgeschützt.");
    case EISDIR:
        return QStringLiteral("Der Name bezeichnet ein Verzeichnis.");
    case ENOTDIR:
        return QStringLiteral("Ein Teil des Pfades ist kein Verzeichnis.");
    case ENAMETOOLONG:
        return QStringLiteral("Der Dateiname ist zu lang.");
    case EFBIG:
        return QStringLiteral("Die Datei ist zu groß.");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler.");
    case EINVAL:
        return QStringLiteral("Der Name bezeichnet keine gewöhnliche Datei.");
    case ENOMEM:
        return QStringLiteral("Nicht genügend Speicher.");
    case 0:
        return QString();
    default:
        return QString::fromLocal8Bit(std::strerror(e));
    }
}

FileAccessError::FileAccessError(Op op, const QString &path, int errnoValue)
    : EInOutError(errnoValue, opText(op).arg(path, systemErrorText(errnoValue)).trimmed()), op_(op)
{
    qCDebug(lcFiles) << "failed:" << path << "errno" << errnoValue;
}

bool WriteAll(int fd, const void *data, std::size_t size)
{
    auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

ssize_t ReadFull(int fd, void *data, std::size_t size)
{
    auto *p = static_cast<char *>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return ssize_t(got);
}

QByteArray TemporaryNameFor(const QByteArray &nativeTarget, long pid)
{
    const qsizetype slash = nativeTarget.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : nativeTarget.left(slash + 1);
    const QByteArray name = nativeTarget.mid(slash + 1);
    return folder + '.' + name + ".quillora-" + QByteArray::number(qlonglong(pid)) + ".tmp";
}

AtomicFile::AtomicFile(const QString &target, Durability durability)
    : AtomicFile(QFile::encodeName(target), durability)
{
}

AtomicFile::AtomicFile(const QByteArray &nativeTarget, Durability durability)
    : target_(nativeTarget), durability_(durability)
{
    temp_ = TemporaryNameFor(target_, long(::getpid()));
    // A file of this name can only be left over from this very process id
    // (a killed earlier run whose id came round again): it is not ours to
    // keep.
    ::unlink(temp_.constData());
    fd_ = ::open(temp_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0)
        throw FileAccessError(FileAccessError::Op::Create, QFile::decodeName(target_), errno);
}

AtomicFile::~AtomicFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_)
        ::unlink(temp_.constData());
}

void AtomicFile::Write(const void *data, std::size_t size)
{
    if (fd_ < 0 || !WriteAll(fd_, data, size))
        throw FileAccessError(FileAccessError::Op::Write, QFile::decodeName(target_), fd_ < 0 ? EBADF : errno);
}

void AtomicFile::Commit()
{
    const QString shown = QFile::decodeName(target_);
    if (fd_ < 0)
        throw FileAccessError(FileAccessError::Op::Write, shown, EBADF);
    struct stat st {};
    if (::stat(target_.constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::fchmod(fd_, st.st_mode & 07777);
    const bool flush = durability_ == Durability::Flushed;
    if (flush && ::fsync(fd_) != 0)
        throw FileAccessError(FileAccessError::Op::Write, shown, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        throw FileAccessError(FileAccessError::Op::Write, shown, errno);
    if (::rename(temp_.constData(), target_.constData()) != 0)
        throw FileAccessError(FileAccessError::Op::Rename, shown, errno);
    committed_ = true;
    qCDebug(lcFiles) << "written:" << shown << (flush ? "(flushed)" : "");
    if (!flush)
        return;
    // Make the rename itself durable; a failure here changes nothing about
    // the file's contents.
    const int dirFd = ::open(folderOf(target_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

void WriteFileAtomically(const QByteArray &nativePath, const std::function<void(const ByteSink &)> &produce)
{
    AtomicFile file(nativePath);
    produce([&file](const std::uint8_t *p, std::size_t n) { file.Write(p, n); });
    file.Commit();
}

void WriteFileAtomically(const QString &path, const std::function<void(const ByteSink &)> &produce)
{
    WriteFileAtomically(QFile::encodeName(path), produce);
}

void WriteFileAtomically(const QByteArray &nativePath, const QByteArray &bytes)
{
    AtomicFile file(nativePath);
    file.Write(bytes.constData(), std::size_t(bytes.size()));
    file.Commit();
}

void WriteFileAtomically(const QString &path, const QByteArray &bytes)
{
    WriteFileAtomically(QFile::encodeName(path), bytes);
}

int RemoveStaleTemporaries(const QByteArray &nativeFolder)
{
    DIR *dir = ::opendir(nativeFolder.isEmpty() ? "." : nativeFolder.constData());
    if (!dir)
        return 0;
    const long self = long(::getpid());
    QByteArray prefix = nativeFolder;
    if (!prefix.isEmpty() && !prefix.endsWith('/'))
        prefix += '/';
    int removed = 0;
    while (dirent *e = ::readdir(dir)) {
        const long pid = temporaryOwner(e->d_name);
        if (pid < 0 || pid == self)
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue; // alive, or not ours to judge
        const QByteArray path = prefix + e->d_name;
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.constData()) == 0) {
            qCDebug(lcFiles) << "left by an ended process, removed:" << QFile::decodeName(path);
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

} // namespace platform
