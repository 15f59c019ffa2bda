#include "platform/Picture.h"

#include "platform/BmpFile.h"
#include "platform/Jpeg.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Picture files larger than this are not read into memory.
constexpr off_t kMaxFileSize = off_t(1) << 30;

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

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release()
    {
        int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

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
    : std::runtime_error(opText(op).arg(path, systemErrorText(errnoValue)).trimmed().toStdString()),
      op_(op), errno_(errnoValue)
{
}

namespace {

// Opens a plain file of at most kMaxFileSize bytes for reading and gives its
// description.  Non-blocking, so that a pipe or device under a picture's
// name cannot hang the program; anything but a regular file is refused.
Fd openRegularFileForReading(const QString &path, struct stat &st)
{
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        throw FileAccessError(FileAccessError::Op::Open, path, errno);
    if (::fstat(fd.get(), &st) != 0)
        throw FileAccessError(FileAccessError::Op::Read, path, errno);
    if (S_ISDIR(st.st_mode))
        throw FileAccessError(FileAccessError::Op::Read, path, EISDIR);
    if (!S_ISREG(st.st_mode))
        throw FileAccessError(FileAccessError::Op::Read, path, EINVAL);
    if (st.st_size > kMaxFileSize)
        throw FileAccessError(FileAccessError::Op::Read, path, EFBIG);
    return fd;
}

} // namespace

std::vector<std::uint8_t> readWholeFile(const QString &path)
{
    struct stat st {};
    Fd fd = openRegularFileForReading(path, st);
    std::vector<std::uint8_t> data(std::size_t(st.st_size));
    std::size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            // The file grew since it was measured.
            if (data.size() >= std::size_t(kMaxFileSize))
                throw FileAccessError(FileAccessError::Op::Read, path, EFBIG);
            data.resize(std::max<std::size_t>(data.size() * 2, 65536));
        }
        const ssize_t n = ::read(fd.get(), data.data() + have, data.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FileAccessError(FileAccessError::Op::Read, path, errno);
        }
        if (n == 0)
            break;
        have += std::size_t(n);
    }
    data.resize(have);
    return data;
}

MappedFile::MappedFile(const QString &path)
{
    struct stat st {};
    Fd fd = openRegularFileForReading(path, st);
    if (st.st_size == 0)
        return;
    void *m = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
    if (m != MAP_FAILED) {
        mapping_ = m;
        data_ = static_cast<const std::uint8_t *>(m);
        size_ = std::size_t(st.st_size);
        return;
    }
    copy_ = readWholeFile(path);
    data_ = copy_.data();
    size_ = copy_.size();
}

MappedFile::~MappedFile()
{
    if (mapping_)
        ::munmap(mapping_, size_);
}

void Picture::clear()
{
    kind_ = Kind::Empty;
    image_ = QImage();
    jpegData_.clear();
}

void Picture::setBitmap(QImage image)
{
    kind_ = image.isNull() ? Kind::Empty : Kind::Bitmap;
    image_ = std::move(image);
    jpegData_.clear();
}

void Picture::setJpegImage(QImage image)
{
    kind_ = image.isNull() ? Kind::Empty : Kind::Jpeg;
    image_ = std::move(image);
    jpegData_.clear();
}

void Picture::setJpegData(std::vector<std::uint8_t> bytes)
{
    QImage decoded = decodeJpeg(bytes.data(), bytes.size());
    kind_ = Kind::Jpeg;
    image_ = std::move(decoded);
    jpegData_ = std::move(bytes);
}

QImage &Picture::editImage()
{
    jpegData_.clear();
    return image_;
}

void Picture::loadFromFile(const QString &path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg")) {
        setJpegData(readWholeFile(path));
    } else if (ext == QLatin1String("bmp")) {
        const MappedFile file(path);
        setBitmap(decodeBmp(file.data(), file.size()));
    } else {
        throw PictureFormatError(
            QStringLiteral("Unbekannte Dateierweiterung eines Bildes (.%1)").arg(ext).toStdString());
    }
}

std::vector<std::uint8_t> Picture::jpegBytes(int quality) const
{
    if (kind_ == Kind::Jpeg && hasJpegData())
        return jpegData_;
    return encodeJpeg(image_, quality);
}

void Picture::saveBitmapFile(const QString &path) const
{
    const QByteArray name = QFile::encodeName(path);
    Fd fd(::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw FileAccessError(FileAccessError::Op::Create, path, errno);
    writeBmp(image_, [&](const std::uint8_t *p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd.get(), p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                throw FileAccessError(FileAccessError::Op::Write, path, errno);
            }
            p += w;
            n -= std::size_t(w);
        }
    });
    if (::close(fd.release()) != 0)
        throw FileAccessError(FileAccessError::Op::Write, path, errno);
}

} // namespace platform
