// SANE frames into pages, and pages into the forms of the transfer modes.
#include "sources/sane/Page.h"

#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

using namespace sane_source;

namespace {

SANE_Parameters params(SANE_Frame format, int depth, int width, int lines, bool last = true, int padBytes = 0)
{
    SANE_Parameters p{};
    p.format = format;
    p.last_frame = last ? SANE_TRUE : SANE_FALSE;
    p.depth = depth;
    p.pixels_per_line = width;
    p.lines = lines;
    const int samples = format == SANE_FRAME_RGB ? 3 : 1;
    p.bytes_per_line = (width * samples * depth + 7) / 8 + padBytes;
    return p;
}

// Feeds |data| in pieces of |piece| bytes (0: all at once).
void feed(PageBuilder &b, const std::vector<std::uint8_t> &data, std::size_t piece)
{
    if (piece == 0)
        piece = data.size();
    for (std::size_t at = 0; at < data.size(); at += piece)
        b.addData(data.data() + at, std::min(piece, data.size() - at));
}

// Pixel (x, y) of a page as red, green, blue.
std::array<int, 3> pixel(const Page &page, int x, int y)
{
    const std::uint8_t *row = page.row(y);
    switch (page.kind()) {
    case PixelKind::BlackWhite: {
        const int v = (row[x / 8] & (0x80 >> (x % 8))) ? 0 : 255; // a set bit is black
        return {v, v, v};
    }
    case PixelKind::Gray:
        return {row[x], row[x], row[x]};
    case PixelKind::Rgb:
        return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    }
    return {};
}

struct FrameCase {
    std::string name;
    SANE_Frame format;
    int depth;
    PixelKind kind;
    // The sample bytes of a 5 x 3 picture, row by row, and the expected
    // red, green, blue of pixel (x, y).
    std::function<std::vector<std::uint8_t>(int width, int height, int bytesPerLine)> make;
    std::function<std::array<int, 3>(int x, int y)> expect;
};

std::uint8_t value(int x, int y) { return std::uint8_t(17 * x + 40 * y + 3); }

std::vector<FrameCase> frameCases()
{
    return {
        {"Gray8", SANE_FRAME_GRAY, 8, PixelKind::Gray,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0xEE);
             for (int y = 0; y < h; ++y)
                 for (int x = 0; x < w; ++x)
                     d[std::size_t(y * bpl + x)] = value(x, y);
             return d;
         },
         [](int x, int y) { return std::array<int, 3>{value(x, y), value(x, y), value(x, y)}; }},
        // 16-bit samples in the host's order: the high byte is kept.
        {"Gray16", SANE_FRAME_GRAY, 16, PixelKind::Gray,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0xEE);
             for (int y = 0; y < h; ++y)
                 for (int x = 0; x < w; ++x) {
                     const std::uint16_t s = std::uint16_t(value(x, y) << 8 | 0x5A);
                     std::memcpy(&d[std::size_t(y * bpl + 2 * x)], &s, 2);
                 }
             return d;
         },
         [](int x, int y) { return std::array<int, 3>{value(x, y), value(x, y), value(x, y)}; }},
        // Line art: a set bit is black; the bits past the width are not.
        {"Lineart", SANE_FRAME_GRAY, 1, PixelKind::BlackWhite,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0);
             for (int y = 0; y < h; ++y) {
                 for (int x = 0; x < w; ++x)
                     if ((x + y) % 2)
                         d[std::size_t(y * bpl + x / 8)] |= std::uint8_t(0x80 >> (x % 8));
                 d[std::size_t(y * bpl + (w - 1) / 8)] |= std::uint8_t(0xFF >> (w % 8)); // junk past the width
             }
             return d;
         },
         [](int x, int y) {
             const int v = (x + y) % 2 ? 0 : 255;
             return std::array<int, 3>{v, v, v};
         }},
        {"Rgb8", SANE_FRAME_RGB, 8, PixelKind::Rgb,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0xEE);
             for (int y = 0; y < h; ++y)
                 for (int x = 0; x < w; ++x)
                     for (int c = 0; c < 3; ++c)
                         d[std::size_t(y * bpl + 3 * x + c)] = std::uint8_t(value(x, y) + 50 * c);
             return d;
         },
         [](int x, int y) {
             return std::array<int, 3>{value(x, y), std::uint8_t(value(x, y) + 50), std::uint8_t(value(x, y) + 100)};
         }},
        {"Rgb16", SANE_FRAME_RGB, 16, PixelKind::Rgb,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0xEE);
             for (int y = 0; y < h; ++y)
                 for (int x = 0; x < w; ++x)
                     for (int c = 0; c < 3; ++c) {
                         const std::uint16_t s = std::uint16_t(std::uint8_t(value(x, y) + 50 * c) << 8 | 0x11);
                         std::memcpy(&d[std::size_t(y * bpl + 6 * x + 2 * c)], &s, 2);
                     }
             return d;
         },
         [](int x, int y) {
             return std::array<int, 3>{value(x, y), std::uint8_t(value(x, y) + 50), std::uint8_t(value(x, y) + 100)};
         }},
        // Colour at one bit per sample: red, green, blue bits in a row; a
        // set bit is full intensity.
        {"Rgb1", SANE_FRAME_RGB, 1, PixelKind::Rgb,
         [](int w, int h, int bpl) {
             std::vector<std::uint8_t> d(std::size_t(bpl * h), 0);
             for (int y = 0; y < h; ++y)
                 for (int x = 0; x < w; ++x)
                     for (int c = 0; c < 3; ++c)
                         if ((x + y + c) % 3 == 0) {
                             const int bit = 3 * x + c;
                             d[std::size_t(y * bpl + bit / 8)] |= std::uint8_t(0x80 >> (bit % 8));
                         }
             return d;
         },
         [](int x, int y) {
             std::array<int, 3> v{};
             for (int c = 0; c < 3; ++c)
                 v[std::size_t(c)] = (x + y + c) % 3 == 0 ? 255 : 0;
             return v;
         }},
    };
}

void PrintTo(const FrameCase &c, std::ostream *os) { *os << c.name; }

class FrameFormats : public ::testing::TestWithParam<FrameCase> {};

// Every format, whole rows and odd pieces, rows with trailing pad bytes
// (pixels lost at the end of a line), and an unknown height.
TEST_P(FrameFormats, BecomeTheDibTheProgramExpects)
{
    const FrameCase &c = GetParam();
    const int w = 13, h = 4;
    for (int pad : {0, 3}) {
        for (bool knownHeight : {true, false}) {
            for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7)}) {
                SCOPED_TRACE(::testing::Message() << "pad " << pad << " known " << knownHeight << " piece " << piece);
                const SANE_Parameters p = params(c.format, c.depth, w, knownHeight ? h : -1, true, pad);
                PageBuilder b;
                QString error;
                ASSERT_TRUE(b.beginFrame(p, &error)) << error.toStdString();
                feed(b, c.make(w, h, p.bytes_per_line), piece);
                EXPECT_TRUE(b.endFrame());
                Page page = b.takePage(300, 150);
                ASSERT_TRUE(page.valid());
                EXPECT_EQ(page.kind(), c.kind);
                EXPECT_EQ(page.width(), w);
                EXPECT_EQ(page.height(), h);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        ASSERT_EQ(pixel(page, x, y), c.expect(x, y)) << "at " << x << "," << y;
                // The header describes the block, bottom-up, with the resolution.
                const auto *hdr = static_cast<const BITMAPINFOHEADER *>(GlobalLock(page.dib()));
                EXPECT_EQ(hdr->biWidth, w);
                EXPECT_EQ(hdr->biHeight, h);
                EXPECT_EQ(hdr->biBitCount, page.bitsPerPixel());
                EXPECT_EQ(hdr->biSizeImage, page.stride() * std::size_t(h));
                EXPECT_EQ(hdr->biXPelsPerMeter, 11811);
                EXPECT_EQ(hdr->biYPelsPerMeter, 5906);
                EXPECT_LE(dibHeaderBytes(c.kind) + page.stride() * std::size_t(h), GlobalSize(page.dib()));
                GlobalUnlock(page.dib());
                // Row padding is zero, so the pages of two scans compare equal.
                if (c.kind != PixelKind::BlackWhite) {
                    const std::size_t used = std::size_t(w) * (c.kind == PixelKind::Rgb ? 3 : 1);
                    for (int y = 0; y < h; ++y)
                        for (std::size_t i = used; i < page.stride(); ++i)
                            ASSERT_EQ(page.row(y)[i], 0);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sane, FrameFormats, ::testing::ValuesIn(frameCases()),
                         [](const auto &info) { return info.param.name; });

// A three-pass scanner sends red, green and blue as separate frames, in
// any order, with or without a known height.
TEST(PageBuilder, AssemblesTheThreeFramesOfAThreePassScan)
{
    const int w = 6, h = 3;
    const std::vector<std::vector<SANE_Frame>> orders = {{SANE_FRAME_RED, SANE_FRAME_GREEN, SANE_FRAME_BLUE},
                                                         {SANE_FRAME_BLUE, SANE_FRAME_RED, SANE_FRAME_GREEN}};
    for (const auto &order : orders) {
        for (int lines : {h, -1}) {
            PageBuilder b;
            for (std::size_t f = 0; f < order.size(); ++f) {
                const SANE_Parameters p = params(order[f], 8, w, lines, f + 1 == order.size());
                ASSERT_TRUE(b.beginFrame(p, nullptr));
                const int c = order[f] == SANE_FRAME_RED ? 0 : order[f] == SANE_FRAME_GREEN ? 1 : 2;
                std::vector<std::uint8_t> d(std::size_t(w * h));
                for (int i = 0; i < w * h; ++i)
                    d[std::size_t(i)] = std::uint8_t(i * 10 + c);
                feed(b, d, 5);
                EXPECT_EQ(b.endFrame(), f + 1 == order.size());
            }
            Page page = b.takePage(100, 100);
            ASSERT_TRUE(page.valid());
            EXPECT_EQ(page.kind(), PixelKind::Rgb);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int i = y * w + x;
                    EXPECT_EQ(pixel(page, x, y), (std::array<int, 3>{i * 10, i * 10 + 1, i * 10 + 2}));
                }
        }
    }
}

// What a device sends beyond or short of its announcement never reaches
// outside the page.
TEST(PageBuilder, HoldsToTheAnnouncedShape)
{
    const int w = 4;
    {   // More rows than announced: the rest is ignored.
        PageBuilder b;
        ASSERT_TRUE(b.beginFrame(params(SANE_FRAME_GRAY, 8, w, 2), nullptr));
        std::vector<std::uint8_t> d(std::size_t(w * 5));
        std::iota(d.begin(), d.end(), 0);
        feed(b, d, 3);
        b.endFrame();
        Page page = b.takePage(0, 0);
        ASSERT_EQ(page.height(), 2);
        EXPECT_EQ(pixel(page, 3, 1)[0], 7);
    }
    {   // Fewer rows than announced: the page ends with the last whole row.
        PageBuilder b;
        ASSERT_TRUE(b.beginFrame(params(SANE_FRAME_GRAY, 8, w, 10), nullptr));
        std::vector<std::uint8_t> d(std::size_t(w * 3 + 2));
        std::iota(d.begin(), d.end(), 0);
        feed(b, d, 0);
        b.endFrame();
        Page page = b.takePage(0, 0);
        ASSERT_EQ(page.height(), 3);
        const auto *hdr = static_cast<const BITMAPINFOHEADER *>(GlobalLock(page.dib()));
        EXPECT_EQ(hdr->biHeight, 3);
        GlobalUnlock(page.dib());
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(pixel(page, 0, y)[0], 4 * y);
    }
    {   // No row at all: no page.
        PageBuilder b;
        ASSERT_TRUE(b.beginFrame(params(SANE_FRAME_GRAY, 8, w, -1), nullptr));
        std::uint8_t two[2] = {1, 2};
        b.addData(two, 2);
        b.endFrame();
        EXPECT_FALSE(b.takePage(0, 0).valid());
    }
}

TEST(PageBuilder, RefusesFramesItCannotTake)
{
    struct Bad {
        const char *what;
        SANE_Parameters p;
        bool afterGray;
    };
    SANE_Parameters shortLine = params(SANE_FRAME_RGB, 8, 10, 5);
    shortLine.bytes_per_line = 29;
    SANE_Parameters depth4 = params(SANE_FRAME_GRAY, 4, 10, 5);
    SANE_Parameters zeroWidth = params(SANE_FRAME_GRAY, 8, 0, 5);
    SANE_Parameters unknownFormat = params(SANE_FRAME_GRAY, 8, 10, 5);
    unknownFormat.format = SANE_Frame(7);
    SANE_Parameters hugePage = params(SANE_FRAME_RGB, 8, 60000, 60000);
    const std::vector<Bad> cases = {
        {"line shorter than its pixels", shortLine, false},
        {"depth 4", depth4, false},
        {"zero width", zeroWidth, false},
        {"unknown format", unknownFormat, false},
        {"page beyond memory", hugePage, false},
        {"colour frame after a gray page", params(SANE_FRAME_RED, 8, 10, 5), true},
    };
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.what);
        PageBuilder b;
        if (c.afterGray) {
            ASSERT_TRUE(b.beginFrame(params(SANE_FRAME_GRAY, 8, 10, 5, false), nullptr));
            b.endFrame();
        }
        QString error;
        EXPECT_FALSE(b.beginFrame(c.p, &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

Page makePage(PixelKind kind, int w, int h, const std::function<std::uint8_t(int x, int y, int c)> &sample)
{
    PageBuilder b;
    const SANE_Frame f = kind == PixelKind::Rgb ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
    const SANE_Parameters p = params(f, kind == PixelKind::BlackWhite ? 1 : 8, w, h);
    b.beginFrame(p, nullptr);
    std::vector<std::uint8_t> d(std::size_t(p.bytes_per_line * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (kind == PixelKind::BlackWhite) {
                if (sample(x, y, 0))
                    d[std::size_t(y * p.bytes_per_line + x / 8)] |= std::uint8_t(0x80 >> (x % 8));
            } else {
                for (int c = 0; c < (kind == PixelKind::Rgb ? 3 : 1); ++c)
                    d[std::size_t(y * p.bytes_per_line + x * (kind == PixelKind::Rgb ? 3 : 1) + c)] = sample(x, y, c);
            }
        }
    b.addData(d.data(), d.size());
    b.endFrame();
    return b.takePage(200, 200);
}

// Memory strips are top-down, red-green-blue, with the pixel flavour the
// application asked for.
TEST(PageForms, MemoryRowsFollowOrderAndFlavour)
{
    Page rgb = makePage(PixelKind::Rgb, 5, 3, [](int x, int y, int c) { return std::uint8_t(x * 30 + y * 7 + c); });
    std::vector<std::uint8_t> strip(rgb.stride() * 2);
    copyMemoryRows(rgb, 1, 2, false, strip.data());
    EXPECT_EQ(strip[0], 7);          // row 1, pixel 0, red
    EXPECT_EQ(strip[3 * 4 + 2], 129); // row 1, pixel 4, blue
    EXPECT_EQ(strip[rgb.stride()], 14);

    Page gray = makePage(PixelKind::Gray, 3, 2, [](int x, int y, int) { return std::uint8_t(x + 10 * y); });
    std::vector<std::uint8_t> g(gray.stride());
    copyMemoryRows(gray, 1, 1, false, g.data());
    EXPECT_EQ(std::vector<int>(g.begin(), g.begin() + 3), (std::vector<int>{10, 11, 12}));
    copyMemoryRows(gray, 1, 1, true, g.data());
    EXPECT_EQ(std::vector<int>(g.begin(), g.begin() + 3), (std::vector<int>{245, 244, 243}));

    // Line art: chocolate has 0 for black, vanilla 0 for white; bits past
    // the width stay clear either way.
    Page bw = makePage(PixelKind::BlackWhite, 10, 1, [](int x, int, int) { return std::uint8_t(x < 3); });
    std::vector<std::uint8_t> b(bw.stride());
    copyMemoryRows(bw, 0, 1, true, b.data());
    EXPECT_EQ(b[0], 0xE0);
    EXPECT_EQ(b[1], 0x00);
    copyMemoryRows(bw, 0, 1, false, b.data());
    EXPECT_EQ(b[0], 0x1F);
    EXPECT_EQ(b[1], 0xC0);
}

TEST(PageForms, BmpAndTiffFilesHoldThePicture)
{
    Page rgb = makePage(PixelKind::Rgb, 7, 5, [](int x, int y, int c) { return std::uint8_t(x * 30 + y * 7 + c * 3); });
    const std::vector<std::uint8_t> bmp = encodeBmpFile(rgb);
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    const QImage fromBmp = QImage::fromData(bmp.data(), int(bmp.size()), "BMP");
    ASSERT_FALSE(fromBmp.isNull());
    EXPECT_EQ(fromBmp.pixel(6, 4), qRgb(6 * 30 + 28, 6 * 30 + 28 + 3, 6 * 30 + 28 + 6));

    for (PixelKind kind : {PixelKind::Rgb, PixelKind::Gray, PixelKind::BlackWhite}) {
        Page page = makePage(kind, 9, 4, [](int x, int y, int c) {
            return std::uint8_t((x + y) % 2 ? 200 + c : 20 + c);
        });
        const std::vector<std::uint8_t> tiff = encodeTiff(page);
        ASSERT_FALSE(tiff.empty());
        // Read back with libtiff as a reader of the file would.
        char path[] = "/tmp/quillora-tiff-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, tiff.data(), tiff.size()), ssize_t(tiff.size()));
        close(fd);
        TIFF *t = TIFFOpen(path, "r");
        ASSERT_NE(t, nullptr);
        std::uint32_t w = 0, h = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        EXPECT_EQ(w, 9u);
        EXPECT_EQ(h, 4u);
        std::vector<std::uint32_t> raster(w * h);
        ASSERT_EQ(TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 0), 1);
        TIFFClose(t);
        unlink(path);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x) {
                const std::uint32_t px = raster[std::size_t(y) * w + std::size_t(x)];
                const auto expected = pixel(page, x, y);
                ASSERT_EQ(int(TIFFGetR(px)), expected[0]) << int(kind) << " at " << x << "," << y;
                ASSERT_EQ(int(TIFFGetB(px)), expected[2]);
            }
    }
}

} // namespace
