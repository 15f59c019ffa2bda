// Recorded pages: play-back at any size keeps pictures and text sharp,
// clips at the page edge; the file format reads back and refuses others.
#include "platform/Metafile.h"
#include "platform/Picture.h"
#include "support/FixedSystemMetrics.h"
#include "support/QtApp.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class MetafileTest : public ::testing::Test {
protected:
    MetafileTest() { testing_support::EnsureQtApplication(); }

    static QImage render(const platform::Metafile &page, QSize size)
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        page.play(p, QRectF(QPointF(0, 0), QSizeF(size)));
        return img;
    }

    // Width of the inked columns of |img|.
    static int inkWidth(const QImage &img)
    {
        int left = img.width(), right = -1;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qGray(img.pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return right < left ? 0 : right - left + 1;
    }

    testing_support::FixedSystemMetrics metrics;
    platform::ScopedService<platform::SystemMetricsService> use{metrics};
};

TEST_F(MetafileTest, APictureIsPlayedBackAtItsOwnResolution)
{
    // 1-pixel stripes, 800 wide, recorded into 100 page pixels: played back
    // 800 wide they are still single stripes, not a grey blur.
    QImage stripes(800, 10, QImage::Format_RGB32);
    for (int x = 0; x < 800; ++x)
        for (int y = 0; y < 10; ++y)
            stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    platform::Metafile page(100, 10);
    {
        platform::MetafileCanvas canvas(page);
        canvas.drawImage(QRect(0, 0, 100, 10), stripes);
    }
    const QImage big = render(page, QSize(800, 10));
    int black = 0, white = 0;
    for (int x = 100; x < 700; ++x) {
        const int g = qGray(big.pixel(x, 5));
        black += g < 40 ? 1 : 0;
        white += g > 215 ? 1 : 0;
    }
    EXPECT_GT(black, 250);
    EXPECT_GT(white, 250);
}

TEST_F(MetafileTest, TextKeepsItsSizeRelativeToThePage)
{
    platform::Metafile page(400, 100);
    {
        platform::MetafileCanvas canvas(page);
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(20); // 27 pixels at 96 per inch
        canvas.setFont(font);
        canvas.drawText(QPointF(10, 60), QStringLiteral("Quillora"));
    }
    const int small = inkWidth(render(page, QSize(400, 100)));
    const int large = inkWidth(render(page, QSize(1600, 400)));
    ASSERT_GT(small, 60);
    EXPECT_NEAR(large, 4 * small, small / 5);
}

TEST_F(MetafileTest, DrawingBeyondThePageIsClippedAtItsEdge)
{
    platform::Metafile page(100, 100);
    {
        platform::MetafileCanvas canvas(page);
        canvas.fillRect(QRect(-50, -50, 300, 300), Qt::black);
    }
    QImage img(300, 300, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    page.play(p, QRectF(100, 100, 100, 100));
    p.end();
    EXPECT_EQ(img.pixel(150, 150), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(95, 150), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(150, 205), qRgb(255, 255, 255));
    // The caller's painter is as it was.
    EXPECT_FALSE(p.isActive());
}

TEST_F(MetafileTest, FilesThatAreNoPictureAreRefused)
{
    QTemporaryDir dir;
    auto write = [&](const char *name, const QByteArray &bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    };
    // A Windows placeable metafile header, an empty file, a cut picture.
    const QString wmf = write("echt.wmf", QByteArray::fromHex("d7cdc69a0000000000000010a00f0000000000000000"));
    const QString empty = write("leer.wmf", QByteArray());
    platform::Metafile page(50, 50);
    {
        platform::MetafileCanvas canvas(page);
        canvas.drawLine(0, 0, 50, 50);
    }
    const QString good = dir.filePath(QStringLiteral("gut.wmf"));
    page.saveToFile(good);
    QFile g(good);
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    const QString cut = write("kaputt.wmf", g.readAll().left(20));
    for (const QString &path : {wmf, empty, cut})
        EXPECT_THROW(platform::Metafile::loadFromFile(path), platform::MetafileError) << path.toStdString();
    EXPECT_THROW(platform::Metafile::loadFromFile(dir.filePath(QStringLiteral("fehlt.wmf"))), platform::FileAccessError);
    EXPECT_NO_THROW(platform::Metafile::loadFromFile(good));
}

} // namespace
