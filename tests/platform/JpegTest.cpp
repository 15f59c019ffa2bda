#include "platform/Jpeg.h"

#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

using namespace platform;
using namespace picture_test;

namespace {

bool hasMarker(const std::vector<std::uint8_t> &d, std::uint8_t marker)
{
    for (std::size_t i = 0; i + 1 < d.size(); ++i)
        if (d[i] == 0xFF && d[i + 1] == marker)
            return true;
    return false;
}

// Encodes |w| x |h| samples of |components| channels with libjpeg itself, for
// colour spaces our encoder never writes.
std::vector<std::uint8_t> encodeRaw(int w, int h, int components, J_COLOR_SPACE space,
                                    const std::vector<std::uint8_t> &samples)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<unsigned char *>(&samples[c.next_scanline * std::size_t(w * components)]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

} // namespace

TEST(Jpeg, EncodesBaselineAndDecodesCloseToTheOriginal)
{
    const QImage original = gradient(37, 23); // not a multiple of the block size
    const auto bytes = encodeJpeg(original, 90);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_TRUE(hasMarker(bytes, 0xC0)) << "baseline frame";
    EXPECT_FALSE(hasMarker(bytes, 0xC2)) << "no progressive frame";
    const QImage decoded = decodeJpeg(bytes.data(), bytes.size());
    ASSERT_EQ(decoded.size(), original.size());
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    EXPECT_LT(meanDifference(decoded, original), 3.0);

    // Other input depths are encoded from their 24-bit colour form.
    const auto fromIndexed = encodeJpeg(original.convertToFormat(QImage::Format_Indexed8), 90);
    EXPECT_EQ(decodeJpeg(fromIndexed.data(), fromIndexed.size()).size(), original.size());
    EXPECT_THROW(encodeJpeg(QImage(), 90), JpegError);
}

TEST(Jpeg, QualityShowsInTheQuantisationTables)
{
    const QImage img = gradient(16, 16);
    const auto q20 = encodeJpeg(img, 20);
    const auto q90 = encodeJpeg(img, 90);
    const auto t20 = jpegQuantTable(q20.data(), q20.size());
    const auto t90 = jpegQuantTable(q90.data(), q90.size());
    ASSERT_EQ(t20.size(), 64u);
    ASSERT_EQ(t90.size(), 64u);
    // The standard luminance table starts 16, 11; libjpeg scales it by
    // 5000/q percent for q < 50 and by 200 - 2q percent above, rounding.
    EXPECT_EQ(t20[0], 40);
    EXPECT_EQ(t20[1], 28);
    EXPECT_EQ(t90[0], 3);
    EXPECT_EQ(t90[1], 2);
    EXPECT_EQ(t20, jpegDefaultQuantTable(20));
    EXPECT_EQ(t90, jpegDefaultQuantTable(90));
    EXPECT_EQ(jpegQuantTable(q20.data(), q20.size(), 1), jpegDefaultQuantTable(20, 1));
}

TEST(Jpeg, DecodesGreyAndAdobeCmykFiles)
{
    std::vector<std::uint8_t> grey(8 * 8);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = 200;
    const auto g = encodeRaw(8, 8, 1, JCS_GRAYSCALE, grey);
    const QImage gi = decodeJpeg(g.data(), g.size());
    ASSERT_EQ(gi.size(), QSize(8, 8));
    EXPECT_NEAR(qRed(gi.pixel(3, 3)), 200, 2);
    EXPECT_NEAR(qBlue(gi.pixel(3, 3)), 200, 2);

    // Adobe-style CMYK stores inverted values: 255 means no ink.  Left half
    // no ink (white), right half full cyan.
    std::vector<std::uint8_t> cmyk;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool cyan = x >= 8;
            cmyk.insert(cmyk.end(), {std::uint8_t(cyan ? 0 : 255), 255, 255, 255});
        }
    const auto c = encodeRaw(16, 16, 4, JCS_CMYK, cmyk);
    const QImage ci = decodeJpeg(c.data(), c.size());
    ASSERT_EQ(ci.size(), QSize(16, 16));
    EXPECT_GT(qRed(ci.pixel(2, 2)), 245);
    EXPECT_GT(qGreen(ci.pixel(2, 2)), 245);
    EXPECT_LT(qRed(ci.pixel(13, 2)), 10);
    EXPECT_GT(qGreen(ci.pixel(13, 2)), 245);
    EXPECT_GT(qBlue(ci.pixel(13, 2)), 245);
}

TEST(Jpeg, DamagedInputGivesTheLibrarysErrorAndNeverCrashes)
{
    try {
        const std::uint8_t text[] = "Dies ist kein Bild.";
        decodeJpeg(text, sizeof text);
        FAIL() << "no error";
    } catch (const JpegError &e) {
        EXPECT_NE(std::string(e.what()).find("Keine JPEG-Datei: beginnt mit 0x44 0x69"), std::string::npos) << e.what();
    }
    EXPECT_THROW(decodeJpeg(nullptr, 0), JpegError);

    const auto good = encodeJpeg(gradient(40, 30), 75);
    // Every prefix: an error or a picture of the stated size, nothing else.
    for (std::size_t n = 0; n < good.size(); ++n) {
        try {
            const QImage img = decodeJpeg(good.data(), n);
            EXPECT_EQ(img.size(), QSize(40, 30)) << n;
        } catch (const JpegError &) {
        }
    }
    // Single damaged bytes all through the file.
    for (std::size_t i = 2; i < good.size(); i += 3) {
        auto bad = good;
        bad[i] ^= 0x5A;
        try {
            decodeJpeg(bad.data(), bad.size());
        } catch (const JpegError &) {
        }
    }
}

TEST(Jpeg, RefusesPicturesAboveTheSizeLimit)
{
    const auto bytes = encodeJpeg(gradient(40, 30), 75);
    const std::size_t old = maxImagePixels();
    setMaxImagePixels(40 * 30 - 1);
    EXPECT_THROW(decodeJpeg(bytes.data(), bytes.size()), JpegError);
    setMaxImagePixels(40 * 30);
    EXPECT_NO_THROW(decodeJpeg(bytes.data(), bytes.size()));
    setMaxImagePixels(old);
}

// Large decoded pictures take over the memory of one freed before.  What
// that memory held must never show: a picture decoded into it equals, byte
// for byte, the same file decoded into new memory.
TEST(Jpeg, APictureInTheMemoryOfAFreedOneShowsNothingOfIt)
{
    const int w = 1600, h = 1400; // about 9 MB at 32 bits
    QImage light(w, h, QImage::Format_RGB32);
    light.fill(0xFFF0E0D0u);
    const auto lightJpeg = encodeJpeg(light, 75);
    // A file that ends early: the library fills the rows it lacks.
    auto whole = encodeJpeg(gradient(w, h), 75);
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 3));

    for (const std::vector<std::uint8_t> *file : {&cut, &lightJpeg}) {
        QImage earlier = decodeJpeg(lightJpeg.data(), lightJpeg.size());
        const QImage intoNewMemory = decodeJpeg(file->data(), file->size()); // earlier still held
        const uchar *earlierBits = earlier.constBits();
        // Dirty the earlier picture, alpha bytes included, then free it.
        std::memset(earlier.bits(), 0x5A, std::size_t(earlier.sizeInBytes()));
        earlier = QImage();
        const QImage intoFreedMemory = decodeJpeg(file->data(), file->size());
        ASSERT_EQ(intoFreedMemory.constBits(), earlierBits) << "the freed memory was not taken";
        ASSERT_EQ(intoFreedMemory.sizeInBytes(), intoNewMemory.sizeInBytes());
        EXPECT_EQ(std::memcmp(intoFreedMemory.constBits(), intoNewMemory.constBits(),
                              std::size_t(intoNewMemory.sizeInBytes())),
                  0);
    }
}
