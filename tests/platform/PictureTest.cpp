#include "platform/BmpFile.h"
#include "platform/FileDialogs.h"
#include "platform/Jpeg.h"
#include "platform/Picture.h"
#include "support/ScriptedFileDialog.h"

#include "support/TestImages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;
using namespace picture_test;

namespace {

void writeBytes(const QString &path, const std::vector<std::uint8_t> &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
}

} // namespace

TEST(Picture, AnOpenedJpegKeepsItsBytesUntilItsPixelsChange)
{
    QTemporaryDir dir;
    const auto original = encodeJpeg(gradient(30, 20), 55);
    writeBytes(dir.filePath("Brief.JPG"), original); // extension in any letter case

    Picture pic;
    pic.loadFromFile(dir.filePath("Brief.JPG"));
    EXPECT_EQ(pic.kind(), Picture::Kind::Jpeg);
    EXPECT_EQ(pic.image().size(), QSize(30, 20));
    EXPECT_EQ(pic.jpegBytes(90), original);

    Picture copy = pic;
    copy.editImage().setPixel(0, 0, qRgb(1, 2, 3));
    EXPECT_FALSE(copy.hasJpegData());
    EXPECT_NE(copy.jpegBytes(90), original);
    EXPECT_EQ(pic.jpegBytes(90), original) << "the copy's change leaves the original alone";

    Picture turned = pic;
    turned.setJpegImage(gradient(20, 30));
    EXPECT_EQ(turned.kind(), Picture::Kind::Jpeg);
    EXPECT_FALSE(turned.hasJpegData());
    const auto encoded = turned.jpegBytes(90);
    EXPECT_EQ(jpegQuantTable(encoded.data(), encoded.size()), jpegDefaultQuantTable(90));
}

TEST(Picture, LoadingChoosesTheDecoderByExtensionAndFailsWithoutChange)
{
    QTemporaryDir dir;
    writeBytes(dir.filePath("a.Bmp"), encodeBmp(patterned(3, 2, QImage::Format_RGB32)));
    writeBytes(dir.filePath("jpeg-named.bmp"), encodeJpeg(gradient(8, 8), 75));
    writeBytes(dir.filePath("broken.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00});
    writeBytes(dir.filePath("b.png"), encodeBmp(patterned(3, 2)));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Ordner.jpg"));

    Picture pic;
    pic.loadFromFile(dir.filePath("a.Bmp"));
    EXPECT_EQ(pic.kind(), Picture::Kind::Bitmap);
    EXPECT_EQ(pic.image().size(), QSize(3, 2));
    const QImage before = pic.image();

    EXPECT_THROW(pic.loadFromFile(dir.filePath("jpeg-named.bmp")), BmpError);
    EXPECT_THROW(pic.loadFromFile(dir.filePath("broken.jpg")), JpegError);
    EXPECT_THROW(pic.loadFromFile(dir.filePath("b.png")), PictureFormatError);
    EXPECT_THROW(pic.loadFromFile(dir.filePath("fehlt.jpg")), FileAccessError);
    EXPECT_THROW(pic.loadFromFile(dir.filePath("Ordner.jpg")), FileAccessError);
    EXPECT_EQ(pic.kind(), Picture::Kind::Bitmap);
    EXPECT_EQ(pic.image(), before);
}

TEST(Picture, SavesBitmapFilesAndReportsFailuresInGerman)
{
    QTemporaryDir dir;
    Picture pic;
    pic.setBitmap(patterned(5, 4, QImage::Format_RGB32));
    pic.saveBitmapFile(dir.filePath("x.bmp"));
    Picture back;
    back.loadFromFile(dir.filePath("x.bmp"));
    EXPECT_EQ(back.image(), pic.image().convertToFormat(QImage::Format_RGB32));

    try {
        pic.saveBitmapFile(dir.filePath("kein/Ordner.bmp"));
        FAIL();
    } catch (const FileAccessError &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("Die Datei \"%1\" kann nicht erstellt werden. Die Datei oder das Verzeichnis ist "
                                 "nicht vorhanden.")
                      .arg(dir.filePath("kein/Ordner.bmp")));
    }
}

TEST(OpenDialog, OffersTheNameChosenLastAndKeepsItOnCancel)
{
    testing_support::ScopedFileDialog dialog;
    OpenDialog open;
    dialog->choose("/daten/Belege/Brief");
    dialog->cancel();
    dialog->choose("/daten/Rechnung.jpg");

    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, "/daten/Belege/Brief");
    EXPECT_FALSE(open.Execute());
    EXPECT_EQ(open.FileName, "/daten/Belege/Brief");
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(dialog->offered(), QStringList({"", "/daten/Belege/Brief", "/daten/Belege/Brief"}));
}
