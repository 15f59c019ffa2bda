#include "app/DocumentSave.h"

#include "platform/Jpeg.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace quillora {

using platform::FileAccessError;

QString withJpgEnding(const QString &name)
{
    return name.endsWith(QLatin1String(".jpg"), Qt::CaseSensitive) ? name : name + QLatin1String(".jpg");
}

QString withoutJpgEnding(const QString &name)
{
    if (name.endsWith(QLatin1String(".jpg"), Qt::CaseSensitive) ||
        name.endsWith(QLatin1String(".Jpg"), Qt::CaseSensitive))
        return name.left(name.size() - 4);
    return name;
}

QString jpgFileNameFor(const QString &path)
{
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    const QString file = path.mid(slash + 1);
    return file.left(std::max<qsizetype>(0, file.size() - 3)) + QLatin1String("jpg");
}

bool fileExists(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool fileExists(const QString &path)
{
    return fileExists(QFile::encodeName(path));
}

void replaceFile(const QString &path, const std::function<void(const platform::ByteSink &)> &produce)
{
    platform::WriteFileAtomically(path, produce);
}

void replaceFile(const QString &path, const std::vector<std::uint8_t> &bytes)
{
    replaceFile(path, [&bytes](const platform::ByteSink &sink) { sink(bytes.data(), bytes.size()); });
}

void overwriteDocument(const platform::Picture &picture, const QString &path)
{
    overwriteDocument(picture, QFile::encodeName(path));
}

void overwriteDocument(const platform::Picture &picture, const QByteArray &path)
{
    if (path.toLower().endsWith(".bmp")) {
        platform::WriteFileAtomically(
            path, [&picture](const platform::ByteSink &sink) { platform::writeBmp(picture.image(), sink); });
        return;
    }
    const std::vector<std::uint8_t> bytes = picture.jpegBytes(kOverwriteQuality);
    platform::WriteFileAtomically(path, [&bytes](const platform::ByteSink &sink) { sink(bytes.data(), bytes.size()); });
}

namespace {

// Whether anything at all, a dangling link included, has the name |path|.
bool nameTaken(const QByteArray &path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

} // namespace

QByteArray freeTemporaryBitmapName(const QByteArray &folder, const QByteArray &name)
{
    for (int n = 1;; ++n) {
        const QByteArray candidate = folder + name + '~' + QByteArray::number(n) + ".bmp";
        if (!nameTaken(candidate))
            return candidate;
    }
}

QString freeTemporaryBitmapName(const QString &folder, const QString &name)
{
    return QFile::decodeName(freeTemporaryBitmapName(QFile::encodeName(folder), QFile::encodeName(name)));
}

QString writeNewDocument(const platform::Picture &picture, const QString &folder, const QString &name)
{
    return QFile::decodeName(writeNewDocument(picture, QFile::encodeName(folder), QFile::encodeName(name)));
}

QByteArray writeNewDocument(const platform::Picture &picture, const QByteArray &folder, const QByteArray &name)
{
    QByteArray bmpPath = folder + name + ".bmp";
    const QByteArray jpgName = name.mid(name.lastIndexOf('/') + 1) + ".jpg";
    if (!picture.isEmpty()) {
        // A bitmap document of that name (or anything else there) is never
        // overwritten by the temporary file: the picture then goes to a free
        // name beside it.
        if (nameTaken(bmpPath))
            bmpPath = freeTemporaryBitmapName(folder, name);
        picture.saveBitmapFile(bmpPath);
    }
    if (!fileExists(bmpPath))
        return QByteArray();
    std::vector<std::uint8_t> jpeg;
    {
        const platform::MappedFile bmp(bmpPath);
        // A 24-bit file, as written above, is encoded straight from its
        // mapped rows; any other bitmap file is decoded first.
        platform::BgrRows rows;
        if (platform::bmpBgrRows(bmp.data(), bmp.size(), rows))
            jpeg = platform::encodeJpegBgrRows(rows.first, rows.step, rows.width, rows.height, kNewDocumentQuality);
        else
            jpeg = platform::encodeJpeg(platform::decodeBmp(bmp.data(), bmp.size()), kNewDocumentQuality);
    }
    platform::WriteFileAtomically(folder + jpgName,
                                  [&jpeg](const platform::ByteSink &sink) { sink(jpeg.data(), jpeg.size()); });
    ::unlink(bmpPath.constData());
    return jpgName;
}

} // namespace quillora
