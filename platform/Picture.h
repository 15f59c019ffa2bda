// A picture: nothing, a bitmap, or a JPEG image.
//
// A JPEG image decoded from a file keeps the compressed bytes it came from
// until its pixels are changed; writing it as JPEG then gives those bytes
// back unchanged instead of encoding again.  The pixels of either kind are
// held as a QImage (implicitly shared, so copies are cheap).
#pragma once

#include "platform/FileAccess.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Reads a whole file in one allocation of its size; a file larger than the
// limit for pictures is refused before anything is read.  Throws
// FileAccessError.  The QByteArray overloads take the name as the bytes the
// system knows it by.
std::vector<std::uint8_t> readWholeFile(const QString &path);
std::vector<std::uint8_t> readWholeFile(const QByteArray &nativePath);

// A whole file mapped into memory for reading (or read into memory where
// the file system cannot map it).  Throws FileAccessError.
class MappedFile {
public:
    explicit MappedFile(const QString &path);
    explicit MappedFile(const QByteArray &nativePath);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    const std::uint8_t *data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    void *mapping_ = nullptr;
    std::vector<std::uint8_t> copy_;
};

// Thrown for a file name whose extension names no picture format.
class PictureFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Picture {
public:
    enum class Kind { Empty, Bitmap, Jpeg };

    Picture() = default;

    Kind kind() const { return kind_; }
    bool isEmpty() const { return kind_ == Kind::Empty; }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }

    // The pixels: the bitmap, or the JPEG image in its decoded form.
    const QImage &image() const { return image_; }

    // The compressed bytes a JPEG image was decoded from; empty for a
    // bitmap and for a JPEG image whose pixels were replaced.
    const std::vector<std::uint8_t> &jpegData() const { return jpegData_; }
    bool hasJpegData() const { return !jpegData_.empty(); }

    void clear();
    // Becomes a bitmap holding |image|.
    void setBitmap(QImage image);
    // Becomes (or stays) a JPEG image holding |image| and no compressed data.
    void setJpegImage(QImage image);
    // Becomes a JPEG image decoded from |bytes|, which it keeps.  Throws
    // JpegError; the picture is unchanged then.
    void setJpegData(std::vector<std::uint8_t> bytes);
    // Pixel access for changing them in place; a JPEG image forgets its
    // compressed data.
    QImage &editImage();

    // Loads a file, the decoder chosen by the extension (".jpg" and ".jpeg":
    // JPEG; ".bmp": Windows bitmap; letter case ignored).  Throws
    // FileAccessError, JpegError, BmpError or PictureFormatError and then
    // leaves the picture as it was.
    void loadFromFile(const QString &path);
    void loadFromFile(const QByteArray &nativePath);

    // The JPEG bytes of this picture: the kept compressed data when there is
    // any, otherwise the pixels encoded at |quality|.  Throws JpegError
    // (also for an empty picture).
    std::vector<std::uint8_t> jpegBytes(int quality) const;

    // Writes the pixels as a Windows bitmap file at |path|, which appears
    // under that name only when complete (an existing file is replaced; it
    // is not flushed to the disk, being an intermediate step).  Throws
    // FileAccessError or BmpError.
    void saveBitmapFile(const QString &path) const;
    void saveBitmapFile(const QByteArray &nativePath) const;

private:
    Kind kind_ = Kind::Empty;
    QImage image_;
    std::vector<std::uint8_t> jpegData_;
};

} // namespace platform
