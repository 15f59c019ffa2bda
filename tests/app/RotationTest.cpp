#include "app/Rotation.h"

#include "support/TestImages.h"

#include <gtest/gtest.h>

using namespace quillora;
using namespace picture_test;

namespace {

std::uint32_t at(const QImage &img, int x, int y)
{
    return reinterpret_cast<const std::uint32_t *>(img.constScanLine(y))[x];
}

} // namespace

TEST(Rotation, TurnsClockwise)
{
    // 3 x 2:  a b c      turned:  d a
    //         d e f               e b
    //                             f c
    QImage src(3, 2, QImage::Format_ARGB32);
    const std::uint32_t a = 0x01000001, b = 0x02000002, c = 0x03000003, d = 0x04000004, e = 0x05000005,
                        f = 0x06000006;
    const std::uint32_t rows[2][3] = {{a, b, c}, {d, e, f}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            reinterpret_cast<std::uint32_t *>(src.scanLine(y))[x] = rows[y][x];
    const QImage t = rotatedClockwise(src);
    ASSERT_EQ(t.size(), QSize(2, 3));
    const std::uint32_t expected[3][2] = {{d, a}, {e, b}, {f, c}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(at(t, x, y), expected[y][x]) << x << "," << y;

    // 2 x 1 (a, b) becomes 1 x 2 with a above b; 1 x 2 (a above b) becomes b, a.
    const QImage row = src.copy(0, 0, 2, 1);
    const QImage col = rotatedClockwise(row);
    ASSERT_EQ(col.size(), QSize(1, 2));
    EXPECT_EQ(at(col, 0, 0), a);
    EXPECT_EQ(at(col, 0, 1), b);
    const QImage back = rotatedClockwise(col);
    ASSERT_EQ(back.size(), QSize(2, 1));
    EXPECT_EQ(at(back, 0, 0), b);
    EXPECT_EQ(at(back, 1, 0), a);
}

TEST(Rotation, FourTurnsGiveTheOriginalPixels)
{
    // Sizes around the tile edge, and a 24-bit source that is turned as
    // 32 bits per pixel.
    for (QSize size : {QSize(1, 1), QSize(130, 67), QSize(64, 65)}) {
        const QImage original = patterned(size.width(), size.height());
        QImage img = original;
        for (int i = 0; i < 4; ++i)
            rotateClockwiseInPlace(img);
        EXPECT_EQ(img, original) << size.width() << "x" << size.height();
    }
    const QImage rgb24 = patterned(33, 17, QImage::Format_RGB888);
    QImage img = rgb24;
    rotateClockwiseInPlace(img);
    EXPECT_EQ(img.depth(), 32);
    EXPECT_EQ(img.size(), QSize(17, 33));
    for (int i = 0; i < 3; ++i)
        rotateClockwiseInPlace(img);
    EXPECT_EQ(img, rgb24.convertToFormat(QImage::Format_RGB32));

    QImage none;
    rotateClockwiseInPlace(none);
    EXPECT_TRUE(none.isNull());
}
