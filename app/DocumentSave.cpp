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

bool fileExists(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
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
    if (path.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive)) {
        replaceFile(path, [&picture](const platform::ByteSink &sink) { platform::writeBmp(picture.image(), sink); });
        return;
    }
    replaceFile(path, picture.jpegBytes(kOverwriteQuality));
}

QString freeTemporaryBitmapName(const QString &folder, const QString &name)
{
    for (int n = 1;; ++n) {
        const QString candidate = folder + name + QLatin1Char('~') + QString::number(n) + QLatin1String(".bmp");
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

QString writeNewDocument(const platform::Picture &picture, const QString &folder, const QString &name)
{
    QString bmpPath = folder + name + QLatin1String(".bmp");
    const QString jpgName = jpgFileNameFor(bmpPath);
    if (!picture.isEmpty()) {
        // A bitmap document of that name is never overwritten by the
        // temporary file: the picture then goes to a free name beside it.
        if (fileExists(bmpPath) || QFileInfo(bmpPath).isDir() || QFileInfo(bmpPath).isSymLink())
            bmpPath = freeTemporaryBitmapName(folder, name);
        picture.saveBitmapFile(bmpPath);
    }
    if (!fileExists(bmpPath))
        return QString();
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
    replaceFile(folder + jpgName, jpeg);
    ::unlink(QFile::encodeName(bmpPath).constData());
    return jpgName;
}

} // namespace quillora
