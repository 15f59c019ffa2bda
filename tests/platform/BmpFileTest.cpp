#include "platform/BmpFile.h"
#include "platform/Jpeg.h"
#include "platform/PixelRows.h"

#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform;
using namespace picture_test;

namespace {

void put16(std::vector<std::uint8_t> &v, std::size_t at, std::uint32_t x)
{
    v[at] = std::uint8_t(x);
    v[at + 1] = std::uint8_t(x >> 8);
}

void put32(std::vector<std::uint8_t> &v, std::size_t at, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + std::size_t(i)] = std::uint8_t(x >> (8 * i));
}

// A bitmap file with a 40-byte info header (or a 12-byte core header),
// the given palette entries (0xRRGGBB), masks and raw pixel rows.
std::vector<std::uint8_t> bmp(int w, int h, int bpp, std::uint32_t compression, std::vector<std::uint32_t> palette,
                              const std::vector<std::uint8_t> &pixels, std::vector<std::uint32_t> masks = {},
                              bool core = false)
{
    const std::size_t info = core ? 12 : 40;
    const std::size_t entry = core ? 3 : 4;
    const std::size_t offset = 14 + info + masks.size() * 4 + palette.size() * entry;
    std::vector<std::uint8_t> f(offset, 0);
    f[0] = 'B';
    f[1] = 'M';
    put32(f, 10, std::uint32_t(offset));
    put32(f, 14, std::uint32_t(info));
    if (core) {
        put16(f, 18, std::uint32_t(w));
        put16(f, 20, std::uint32_t(h));
        put16(f, 22, 1);
        put16(f, 24, std::uint32_t(bpp));
    } else {
        put32(f, 18, std::uint32_t(w));
        put32(f, 22, std::uint32_t(h));
        put16(f, 26, 1);
        put16(f, 28, std::uint32_t(bpp));
        put32(f, 30, compression);
        put32(f, 46, std::uint32_t(palette.size()));
    }
    std::size_t at = 14 + info;
    for (auto m : masks) {
        put32(f, at, m);
        at += 4;
    }
    for (auto c : palette) {
        f[at] = std::uint8_t(c);
        f[at + 1] = std::uint8_t(c >> 8);
        f[at + 2] = std::uint8_t(c >> 16);
        at += entry;
    }
    f.insert(f.end(), pixels.begin(), pixels.end());
    put32(f, 2, std::uint32_t(f.size()));
    return f;
}

QRgb px(const QImage &img, int x, int y)
{
    return img.pixel(x, y) & 0xFFFFFF;
}

} // namespace

// Bitmap files and JPEG encoding take 32-bit rows to 24 bits in steps of
// sixteen pixels and then one by one; every width must come out whole, with
// nothing read or written past the rows (the buffers are exactly sized).
TEST(BmpFile, RowsOfEveryWidthConvertTo24Bits)
{
    for (std::size_t w = 0; w <= 70; ++w) {
        std::vector<std::uint8_t> src(4 * w), dst(3 * w);
        for (std::size_t i = 0; i < src.size(); ++i)
            src[i] = std::uint8_t(i * 37 + 11);
        bgrxToBgr(src.data(), dst.data(), w);
        for (std::size_t x = 0; x < w; ++x)
            for (std::size_t c = 0; c < 3; ++c)
                ASSERT_EQ(dst[3 * x + c], src[4 * x + c]) << "width " << w << " pixel " << x;
    }
}

TEST(BmpFile, WritesA24BitFileThatReadsBackExactly)
{
    for (int w : {1, 2, 3, 5, 8, 17, 35}) {
        const QImage original = patterned(w, 3, QImage::Format_RGB32);
        const auto bytes = encodeBmp(original);
        const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
        ASSERT_EQ(bytes.size(), 54 + stride * 3) << w;
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[28], 24);                 // bits per pixel
        EXPECT_EQ(bytes[10], 54);                 // pixel data offset
        EXPECT_EQ(std::int8_t(bytes[25]), 0);     // positive height: bottom-up
        const QImage back = decodeBmp(bytes.data(), bytes.size());
        ASSERT_EQ(back.size(), original.size());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(px(back, x, y), px(original, x, y)) << w << " " << x << "," << y;
    }
    // Several blocks of rows (about 1 MB each), the last one partly filled.
    const QImage large = patterned(3001, 301, QImage::Format_RGB32);
    const auto file = encodeBmp(large);
    EXPECT_EQ(decodeBmp(file.data(), file.size()), large);
    EXPECT_THROW(encodeBmp(QImage()), BmpError);
}

// A new document is encoded straight from the rows of its 24-bit bitmap
// file; that must give the very file that decoding the bitmap first gives.
TEST(BmpFile, TwentyFourBitRowsEncodeLikeTheDecodedPicture)
{
    for (int w : {1, 3, 6, 17}) {
        for (bool topDown : {false, true}) {
            const QImage picture = gradient(w, 9);
            auto file = encodeBmp(picture);
            if (topDown) {
                // The same rows stored top row first.
                const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
                std::vector<std::uint8_t> flipped(file.begin(), file.begin() + 54);
                for (int y = 8; y >= 0; --y)
                    flipped.insert(flipped.end(), file.begin() + 54 + std::ptrdiff_t(stride) * y,
                                   file.begin() + 54 + std::ptrdiff_t(stride) * (y + 1));
                put32(flipped, 22, std::uint32_t(-9));
                file = flipped;
            }
            // The last stored row without its padding is complete.
            const std::size_t pad = (4 - std::size_t(w) * 3 % 4) % 4;
            file.resize(file.size() - pad);

            BgrRows rows;
            ASSERT_TRUE(bmpBgrRows(file.data(), file.size(), rows)) << w << topDown;
            EXPECT_EQ(rows.width, w);
            EXPECT_EQ(rows.height, 9);
            EXPECT_EQ(encodeJpegBgrRows(rows.first, rows.step, rows.width, rows.height, 20),
                      encodeJpeg(decodeBmp(file.data(), file.size()), 20))
                << w << " " << topDown;
        }
    }
    // Other depths are left to the decoder.
    auto eight = bmp(1, 1, 8, 0, {0x010203}, {0, 0, 0, 0});
    BgrRows rows;
    EXPECT_FALSE(bmpBgrRows(eight.data(), eight.size(), rows));
    EXPECT_THROW(encodeJpegBgrRows(nullptr, 3, 1, 1, 20), JpegError);
}

TEST(BmpFile, ReadsPalettesMasksTopDownAndCoreHeaders)
{
    // 1 bit, 3 x 2, bottom row first: bottom 1,0,1 / top 0,1,0.
    auto one = bmp(3, 2, 1, 0, {0x000000, 0xFFFFFF}, {0xA0, 0, 0, 0, 0x40, 0, 0, 0});
    QImage img = decodeBmp(one.data(), one.size());
    EXPECT_EQ(px(img, 0, 1), 0xFFFFFFu);
    EXPECT_EQ(px(img, 1, 1), 0u);
    EXPECT_EQ(px(img, 1, 0), 0xFFFFFFu);

    // 4 bits with a palette shorter than 16 entries: index 5 is black.
    auto four = bmp(2, 1, 4, 0, {0x112233, 0x445566}, {0x15, 0, 0, 0});
    img = decodeBmp(four.data(), four.size());
    EXPECT_EQ(px(img, 0, 0), 0x445566u);
    EXPECT_EQ(px(img, 1, 0), 0u);

    // 8 bits, top-down (negative height).
    auto eight = bmp(1, 2, 8, 0, {0x010203, 0x0A0B0C}, {1, 0, 0, 0, 0, 0, 0, 0});
    put32(eight, 22, std::uint32_t(-2));
    img = decodeBmp(eight.data(), eight.size());
    EXPECT_EQ(px(img, 0, 0), 0x0A0B0Cu);
    EXPECT_EQ(px(img, 0, 1), 0x010203u);

    // 16 bits: 5-5-5 by default, 5-6-5 with masks.
    auto rgb555 = bmp(1, 1, 16, 0, {}, {0x00, 0x7C, 0, 0}); // pure red
    EXPECT_EQ(px(decodeBmp(rgb555.data(), rgb555.size()), 0, 0), 0xFF0000u);
    auto rgb565 = bmp(1, 1, 16, 3, {}, {0xE0, 0x07, 0, 0}, {0xF800, 0x07E0, 0x001F}); // pure green
    EXPECT_EQ(px(decodeBmp(rgb565.data(), rgb565.size()), 0, 0), 0x00FF00u);

    // 32 bits with masks in another order.
    auto bgr = bmp(1, 1, 32, 3, {}, {0x11, 0x22, 0x33, 0x00}, {0x000000FF, 0x0000FF00, 0x00FF0000});
    EXPECT_EQ(px(decodeBmp(bgr.data(), bgr.size()), 0, 0), 0x112233u);

    // Core header, 24 bits.
    auto core = bmp(1, 1, 24, 0, {}, {0x30, 0x20, 0x10, 0}, {}, true);
    EXPECT_EQ(px(decodeBmp(core.data(), core.size()), 0, 0), 0x102030u);
}

TEST(BmpFile, ReadsRunLengthEncodedFiles)
{
    // RLE8, 4 x 2: bottom row a run of 3 x index 1 then one absolute... use
    // absolute 3 pixels (1,0,1) padded, end of line, delta to (1, top row)
    // then run 2 x index 1, end of bitmap.
    const std::vector<std::uint8_t> rle8 = {0, 3, 1, 0, 1, 0, 0, 0, 0, 2, 1, 0, 2, 1, 0, 1};
    auto f = bmp(4, 2, 8, 1, {0x000000, 0xFF0000}, rle8);
    const QImage img = decodeBmp(f.data(), f.size());
    EXPECT_EQ(px(img, 0, 1), 0xFF0000u);
    EXPECT_EQ(px(img, 1, 1), 0u);
    EXPECT_EQ(px(img, 2, 1), 0xFF0000u);
    EXPECT_EQ(px(img, 0, 0), 0u);
    EXPECT_EQ(px(img, 1, 0), 0xFF0000u);
    EXPECT_EQ(px(img, 2, 0), 0xFF0000u);
    EXPECT_EQ(px(img, 3, 0), 0u);

    // RLE4: a run of 4 alternating 1,2 on a 3-wide image stops at the edge.
    auto f4 = bmp(3, 1, 4, 2, {0, 0x0000FF, 0x00FF00}, {4, 0x12, 0, 1});
    const QImage img4 = decodeBmp(f4.data(), f4.size());
    EXPECT_EQ(px(img4, 0, 0), 0x0000FFu);
    EXPECT_EQ(px(img4, 1, 0), 0x00FF00u);
    EXPECT_EQ(px(img4, 2, 0), 0x0000FFu);
}

TEST(BmpFile, DamagedHeadersGiveAClearError)
{
    const auto good = encodeBmp(patterned(4, 3, QImage::Format_RGB32));
    auto damaged = [&](auto change) {
        auto f = good;
        change(f);
        return f;
    };
    const std::vector<std::vector<std::uint8_t>> cases = {
        damaged([](auto &f) { f[0] = 'X'; }),                        // no signature
        damaged([](auto &f) { put32(f, 14, 33); }),                  // odd header size
        damaged([](auto &f) { put32(f, 14, 0xFFFFFFF0u); }),         // huge header size
        damaged([](auto &f) { put32(f, 18, 0); }),                   // width 0
        damaged([](auto &f) { put32(f, 18, std::uint32_t(-4)); }),   // negative width
        damaged([](auto &f) { put32(f, 22, 0); }),                   // height 0
        damaged([](auto &f) { put32(f, 22, 0x80000000u); }),         // most negative height
        damaged([](auto &f) { put32(f, 18, 0x7FFFFFFF); put32(f, 22, 0x7FFFFFFF); }), // overflow
        damaged([](auto &f) { put32(f, 22, 4); }),                   // one row more than stored
        damaged([](auto &f) { put16(f, 28, 7); }),                   // no such depth
        damaged([](auto &f) { put16(f, 28, 0); }),
        damaged([](auto &f) { put32(f, 30, 4); }),                   // embedded JPEG
        damaged([](auto &f) { put32(f, 30, 1); }),                   // RLE8 with 24 bits
        damaged([](auto &f) { put32(f, 30, 3); }),                   // masks with 24 bits
        damaged([](auto &f) { put32(f, 10, 0x7FFFFFFF); }),          // pixel data beyond the end
        damaged([](auto &f) { put32(f, 10, 3); }),                   // pixel data in the header
    };
    BgrRows rows;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        try {
            decodeBmp(cases[i].data(), cases[i].size());
            ADD_FAILURE() << "case " << i << " accepted";
        } catch (const BmpError &e) {
            EXPECT_NE(std::string(e.what()).find("Ungültige Bitmap-Datei"), std::string::npos) << e.what();
        }
        // The row view refuses what the decoder refuses.
        EXPECT_THROW(bmpBgrRows(cases[i].data(), cases[i].size(), rows), BmpError) << "case " << i;
    }
    // Every prefix is refused or read, never read past.
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_THROW(decodeBmp(good.data(), n), BmpError) << n;
        EXPECT_THROW(bmpBgrRows(good.data(), n, rows), BmpError) << n;
    }

    // A palette that claims more colours than the file holds.
    auto pal = bmp(2, 1, 8, 0, {0x111111}, {0, 0, 0, 0});
    put32(pal, 46, 0xFFFFFFFFu);
    EXPECT_NO_THROW(decodeBmp(pal.data(), pal.size()));
    // A picture too large for the limit.
    const std::size_t old = maxImagePixels();
    setMaxImagePixels(11);
    EXPECT_THROW(decodeBmp(good.data(), good.size()), BmpError);
    setMaxImagePixels(old);
}
