#include "app/DocumentSave.h"

#include "platform/Jpeg.h"

#include "support/TestImages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace quillora;
using namespace picture_test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::vector<std::uint8_t> bytesOf(const QString &path)
{
    const QByteArray b = readAll(path);
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

void touchFile(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Makes every write past |bytes| fail with "file too large" while alive, as a
// full disk would; works for any user, root included.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = old_;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

} // namespace

TEST(DocumentNames, EndingsAreRecognisedOnlyInTheirExactLetterCase)
{
    EXPECT_EQ(withJpgEnding("Brief"), "Brief.jpg");
    EXPECT_EQ(withJpgEnding("Brief.jpg"), "Brief.jpg");
    EXPECT_EQ(withJpgEnding("Brief.JPG"), "Brief.JPG.jpg");
    EXPECT_EQ(withJpgEnding("jpg"), "jpg.jpg");
    EXPECT_EQ(withJpgEnding(""), ".jpg");
    EXPECT_EQ(withoutJpgEnding("Brief.jpg"), "Brief");
    EXPECT_EQ(withoutJpgEnding("Brief.Jpg"), "Brief");
    EXPECT_EQ(withoutJpgEnding("Brief.JPG"), "Brief.JPG");
    EXPECT_EQ(withoutJpgEnding(".jpg"), "");
    EXPECT_EQ(jpgFileNameFor("/a/b/Brief.bmp"), "Brief.jpg");
    EXPECT_EQ(jpgFileNameFor("/a/b/x.y"), "jpg");
    EXPECT_EQ(jpgFileNameFor("/a/b/ab"), "jpg");
}

TEST(ReplaceFile, WritesCompletelyOrLeavesTheEarlierFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Brief.jpg");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("alt");
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    replaceFile(path, std::vector<std::uint8_t>{'n', 'e', 'u'});
    EXPECT_EQ(readAll(path), "neu");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "permissions kept";
    EXPECT_EQ(entries(dir.path()), QStringList{"Brief.jpg"}) << "no temporary file left";

    {
        FileSizeLimit limit(100);
        EXPECT_THROW(replaceFile(path, std::vector<std::uint8_t>(5000, 'x')), platform::FileAccessError);
    }
    EXPECT_EQ(readAll(path), "neu");
    EXPECT_EQ(entries(dir.path()), QStringList{"Brief.jpg"});

    // A producer that fails halfway leaves nothing either.
    EXPECT_THROW(replaceFile(path,
                             [](const platform::ByteSink &sink) {
                                 sink(reinterpret_cast<const std::uint8_t *>("xy"), 2);
                                 throw std::runtime_error("kaputt");
                             }),
                 std::runtime_error);
    EXPECT_EQ(readAll(path), "neu");
    EXPECT_EQ(entries(dir.path()), QStringList{"Brief.jpg"});

    EXPECT_THROW(replaceFile(dir.filePath("fehlt/x.jpg"), std::vector<std::uint8_t>{1}), platform::FileAccessError);
}

TEST(NewDocument, IsWrittenAtQuality20ThroughATemporaryBitmap)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    platform::Picture pic;
    pic.setBitmap(gradient(64, 48));

    EXPECT_EQ(writeNewDocument(pic, folder, "Brief"), "Brief.jpg");
    EXPECT_EQ(entries(dir.path()), QStringList{"Brief.jpg"});
    const auto jpg = bytesOf(folder + "Brief.jpg");
    EXPECT_EQ(platform::jpegQuantTable(jpg.data(), jpg.size()), platform::jpegDefaultQuantTable(20));
    EXPECT_EQ(platform::decodeJpeg(jpg.data(), jpg.size()).size(), QSize(64, 48));

    // Nothing shown and no bitmap file: nothing written.
    EXPECT_EQ(writeNewDocument(platform::Picture(), folder, "Leer"), QString());
    EXPECT_EQ(entries(dir.path()), QStringList{"Brief.jpg"});
    // Nor when a folder has the bitmap file's name: it is no file to convert.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Ordner.bmp"));
    EXPECT_EQ(writeNewDocument(platform::Picture(), folder, "Ordner"), QString());
    EXPECT_EQ(entries(dir.path()), (QStringList{"Brief.jpg", "Ordner.bmp"}));
}

TEST(NewDocument, AFailedJpegWriteKeepsTheEarlierDocument)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    platform::Picture pic;
    pic.setBitmap(gradient(64, 48));
    ASSERT_EQ(writeNewDocument(pic, folder, "Brief"), "Brief.jpg");
    const QByteArray earlier = readAll(folder + "Brief.jpg");

    // A write that fails (as on a full disk) stops the save before any JPEG
    // data is written; the earlier document stays as it was.
    pic.setBitmap(gradient(48, 64));
    {
        FileSizeLimit limit(1000);
        EXPECT_THROW(writeNewDocument(pic, folder, "Brief"), platform::FileAccessError);
    }
    EXPECT_EQ(readAll(folder + "Brief.jpg"), earlier);

    // A folder named like the document cannot be replaced: the rename fails.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Akte.jpg"));
    EXPECT_THROW(writeNewDocument(pic, folder, "Akte"), platform::FileAccessError);
    EXPECT_TRUE(QFileInfo(folder + "Akte.jpg").isDir());
    EXPECT_TRUE(QFile::exists(folder + "Akte.bmp")) << "the temporary bitmap stays after a failure";
    EXPECT_EQ(readAll(folder + "Brief.jpg"), earlier);
    for (const QString &e : entries(dir.path()))
        EXPECT_FALSE(e.endsWith(".tmp")) << e.toStdString();
}

TEST(NewDocument, AnExistingBitmapDocumentOfTheSameNameIsNeverLost)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    platform::Picture old;
    old.setBitmap(gradient(30, 20));
    old.saveBitmapFile(folder + "Rechnung.bmp");
    const QByteArray oldBytes = readAll(folder + "Rechnung.bmp");
    touchFile(folder + "Rechnung~1.bmp"); // a name already taken

    platform::Picture scan;
    scan.setBitmap(gradient(64, 48));
    EXPECT_EQ(writeNewDocument(scan, folder, "Rechnung"), "Rechnung.jpg");
    EXPECT_EQ(readAll(folder + "Rechnung.bmp"), oldBytes);
    EXPECT_EQ(entries(dir.path()), (QStringList{"Rechnung.bmp", "Rechnung.jpg", "Rechnung~1.bmp"}));
    const auto jpg = bytesOf(folder + "Rechnung.jpg");
    EXPECT_EQ(platform::decodeJpeg(jpg.data(), jpg.size()).size(), QSize(64, 48));

    // A link under the bitmap file's name that points nowhere is kept, and
    // nothing is written where it points.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.filePath("fehlt.bmp"), folder + "Link.bmp"));
    EXPECT_EQ(writeNewDocument(scan, folder, "Link"), "Link.jpg");
    EXPECT_TRUE(QFileInfo(folder + "Link.bmp").isSymLink());
    EXPECT_TRUE(entries(elsewhere.path()).isEmpty());
    QFile::remove(folder + "Link.bmp");
    QFile::remove(folder + "Link.jpg");

    // With nothing shown, an existing bitmap document is converted as before.
    EXPECT_EQ(writeNewDocument(platform::Picture(), folder, "Rechnung"), "Rechnung.jpg");
    EXPECT_EQ(entries(dir.path()), (QStringList{"Rechnung.jpg", "Rechnung~1.bmp"}));
}

TEST(Overwrite, KeepsUnchangedJpegBytesAndWritesBitmapsForBmpNames)
{
    QTemporaryDir dir;
    const QString jpgPath = dir.filePath("Brief.jpg");
    const auto original = platform::encodeJpeg(gradient(40, 30), 55);
    replaceFile(jpgPath, original);

    platform::Picture opened;
    opened.loadFromFile(jpgPath);
    overwriteDocument(opened, jpgPath);
    EXPECT_EQ(bytesOf(jpgPath), original);

    platform::Picture scanned;
    scanned.setBitmap(gradient(40, 30));
    overwriteDocument(scanned, jpgPath);
    const auto q90 = bytesOf(jpgPath);
    EXPECT_EQ(platform::jpegQuantTable(q90.data(), q90.size()), platform::jpegDefaultQuantTable(90));

    const QString bmpPath = dir.filePath("Scan.BMP");
    overwriteDocument(scanned, bmpPath);
    platform::Picture back;
    back.loadFromFile(bmpPath);
    EXPECT_EQ(back.kind(), platform::Picture::Kind::Bitmap);
    EXPECT_EQ(back.image(), scanned.image());
}
