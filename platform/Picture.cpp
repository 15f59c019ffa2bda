#include "platform/Picture.h"

#include "platform/BmpFile.h"
#include "platform/Jpeg.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPictures, "quillora.pictures", QtWarningMsg)

namespace platform {

namespace {

// Picture files larger than this are not read into memory.
constexpr off_t kMaxFileSize = off_t(1) << 30;

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

namespace {

// Opens a plain file of at most kMaxFileSize bytes for reading and gives its
// description.  Non-blocking, so that a pipe or device under a picture's
// name cannot hang the program; anything but a regular file is refused.
Fd openRegularFileForReading(const QByteArray &nativePath, struct stat &st)
{
    const QString path = QFile::decodeName(nativePath);
    Fd fd(::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
    return readWholeFile(QFile::encodeName(path));
}

std::vector<std::uint8_t> readWholeFile(const QByteArray &path)
{
    struct stat st {};
    Fd fd = openRegularFileForReading(path, st);
    // One allocation of the size measured when the file was opened (which
    // is within the limit); what a writer appends meanwhile is not read.
    std::vector<std::uint8_t> data(std::size_t(st.st_size));
    const ssize_t n = ReadFull(fd.get(), data.data(), data.size());
    if (n < 0)
        throw FileAccessError(FileAccessError::Op::Read, QFile::decodeName(path), errno);
    data.resize(std::size_t(n));
    return data;
}

MappedFile::MappedFile(const QString &path) : MappedFile(QFile::encodeName(path)) {}

MappedFile::MappedFile(const QByteArray &path)
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
    loadFromFile(QFile::encodeName(path));
}

void Picture::loadFromFile(const QByteArray &path)
{
    const QByteArray file = path.mid(path.lastIndexOf('/') + 1);
    const qsizetype dot = file.lastIndexOf('.');
    const QString ext = dot < 0 ? QString() : QFile::decodeName(file.mid(dot + 1)).toLower();
    qCDebug(lcPictures) << "load" << QFile::decodeName(path);
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
    saveBitmapFile(QFile::encodeName(path));
}

void Picture::saveBitmapFile(const QByteArray &path) const
{
    // Under a temporary name until complete, so a killed save never leaves
    // a truncated bitmap that looks like a document.
    AtomicFile file(path, AtomicFile::Durability::Intermediate);
    writeBmp(image_, [&](const std::uint8_t *p, std::size_t n) { file.Write(p, n); });
    file.Commit();
}

} // namespace platform
