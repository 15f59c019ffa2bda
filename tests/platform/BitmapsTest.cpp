// Bitmap handles from packed DIBs and DIB sections, the reorder of colour
// bytes, and the large blocks kept for the next page.
#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// A packed DIB with an info header: |rows| are given top row first and
// stored bottom-up (or top-down when |topDown|), each padded to 4 bytes.
std::vector<BYTE> infoDib(int width, int bits, const std::vector<std::vector<BYTE>> &rows,
                          const std::vector<RGBQUAD> &colors = {}, bool topDown = false, DWORD clrUsed = 0)
{
    const std::size_t stride = ((bits * width + 31) / 32) * 4;
    const int height = int(rows.size());
    std::vector<BYTE> dib(40 + colors.size() * 4 + stride * rows.size(), 0);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = topDown ? -height : height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biClrUsed = clrUsed;
    std::memcpy(dib.data(), &h, 40);
    if (!colors.empty())
        std::memcpy(dib.data() + 40, colors.data(), colors.size() * 4);
    BYTE *px = dib.data() + 40 + colors.size() * 4;
    for (int y = 0; y < height; ++y) {
        const int slot = topDown ? y : height - 1 - y;
        std::memcpy(px + stride * slot, rows[y].data(), std::min(stride, rows[y].size()));
    }
    return dib;
}

std::vector<RGBQUAD> ramp(int n)
{
    std::vector<RGBQUAD> c;
    for (int i = 0; i < n; ++i)
        c.push_back(RGBQUAD{BYTE(i * 3), BYTE(i * 2), BYTE(i), 0}); // blue, green, red
    return c;
}

struct Handle {
    HBITMAP h;
    explicit Handle(HBITMAP b) : h(b) {}
    ~Handle()
    {
        if (h)
            DeleteObject(h);
    }
};

} // namespace

TEST(PackedDib, EveryDepthArrivesWithItsPixels)
{
    const std::size_t before = platform::LiveBitmapCount();
    {
        // 1 bit: 0b10100000 -> pixels 1,0,1 ; colour 1 is white, 0 black.
        auto dib = infoDib(3, 1, {{0xA0}, {0x40}}, {{0, 0, 0, 0}, {255, 255, 255, 0}});
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        QImage img = platform::BitmapToImage(b.h);
        EXPECT_EQ(img.pixel(0, 0), qRgb(255, 255, 255));
        EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 0));
        EXPECT_EQ(img.pixel(2, 0), qRgb(255, 255, 255));
        EXPECT_EQ(img.pixel(1, 1), qRgb(255, 255, 255)); // second row 0b010
    }
    {
        auto dib = infoDib(3, 4, {{0x1F, 0x20}}, ramp(16));
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        QImage img = platform::BitmapToImage(b.h);
        EXPECT_EQ(img.pixel(0, 0), qRgb(1, 2, 3));
        EXPECT_EQ(img.pixel(1, 0), qRgb(15, 30, 45));
        EXPECT_EQ(img.pixel(2, 0), qRgb(2, 4, 6));
    }
    {
        auto dib = infoDib(2, 8, {{7, 80}, {0, 1}}, ramp(256));
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        QImage img = platform::BitmapToImage(b.h);
        EXPECT_EQ(img.pixel(0, 0), qRgb(7, 14, 21));
        EXPECT_EQ(img.pixel(1, 0), qRgb(80, 160, 240));
        EXPECT_EQ(img.pixel(1, 1), qRgb(1, 2, 3));
    }
    {
        // 24 bit: bytes are blue, green, red.
        auto dib = infoDib(2, 24, {{1, 2, 3, 4, 5, 6}, {9, 8, 7, 0, 0, 0}});
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        QImage img = platform::BitmapToImage(b.h);
        EXPECT_EQ(img.pixel(0, 0), qRgb(3, 2, 1));
        EXPECT_EQ(img.pixel(1, 0), qRgb(6, 5, 4));
        EXPECT_EQ(img.pixel(0, 1), qRgb(7, 8, 9));
    }
    {
        auto dib = infoDib(1, 32, {{10, 20, 30, 0}}, {}, /*topDown=*/true);
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        EXPECT_EQ(platform::BitmapToImage(b.h).pixel(0, 0), qRgb(30, 20, 10));
    }
    {
        // 16 bit 5-6-5: the three masks after a 40-byte header come before
        // the pixels, which start 12 bytes later.
        auto dib = infoDib(2, 16, {{0x00, 0xF8, 0x1F, 0x00}}, {{0x00, 0xF8, 0, 0}, {0xE0, 0x07, 0, 0}, {0x1F, 0, 0, 0}});
        const DWORD comp = BI_BITFIELDS;
        std::memcpy(dib.data() + 16, &comp, 4);
        Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
        ASSERT_TRUE(b.h);
        QImage img = platform::BitmapToImage(b.h);
        EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 255));
    }
    EXPECT_EQ(platform::LiveBitmapCount(), before);
}

TEST(PackedDib, TopDownAndBottomUpGiveTheSamePicture)
{
    const std::vector<std::vector<BYTE>> rows = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    auto up = infoDib(1, 24, rows);
    auto down = infoDib(1, 24, rows, {}, true);
    Handle a(CreateBitmapFromPackedDib(up.data(), up.size()));
    Handle b(CreateBitmapFromPackedDib(down.data(), down.size()));
    ASSERT_TRUE(a.h && b.h);
    EXPECT_EQ(platform::BitmapToImage(a.h), platform::BitmapToImage(b.h));
    EXPECT_EQ(platform::BitmapToImage(a.h).pixel(0, 0), qRgb(1, 1, 1));
}

TEST(PackedDib, CoreHeaderUsesThreeByteColours)
{
    // 2 x 1, 8 bits, 256 RGBTRIPLE entries.
    std::vector<BYTE> dib(12 + 256 * 3 + 4, 0);
    BITMAPCOREHEADER h{12, 2, 1, 1, 8};
    std::memcpy(dib.data(), &h, 12);
    dib[12 + 5 * 3 + 0] = 50;  // blue of entry 5
    dib[12 + 5 * 3 + 2] = 200; // red of entry 5
    dib[12 + 768] = 5;
    dib[12 + 769] = 0;
    Handle b(CreateBitmapFromPackedDib(dib.data(), dib.size()));
    ASSERT_TRUE(b.h);
    QImage img = platform::BitmapToImage(b.h);
    EXPECT_EQ(img.pixel(0, 0), qRgb(200, 0, 50));
    EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 0));
}

TEST(PackedDib, DamagedBlocksAreRejectedBeforeReading)
{
    auto dib = infoDib(4, 8, {{1, 2, 3, 4}, {5, 6, 7, 8}}, ramp(256));
    platform::PackedDibLayout l;
    ASSERT_EQ(platform::InspectPackedDib(dib.data(), dib.size(), &l), platform::DibCheck::Ok);
    EXPECT_EQ(l.pixelOffset, 40u + 1024u);
    // One byte short of the pixels, of the colour table, of the header.
    EXPECT_EQ(platform::InspectPackedDib(dib.data(), dib.size() - 1, &l), platform::DibCheck::Truncated);
    EXPECT_EQ(platform::InspectPackedDib(dib.data(), 40 + 1023, &l), platform::DibCheck::Truncated);
    EXPECT_EQ(platform::InspectPackedDib(dib.data(), 39, &l), platform::DibCheck::Truncated);
    EXPECT_EQ(CreateBitmapFromPackedDib(dib.data(), dib.size() - 1), nullptr);

    // A huge height must not wrap around into a "fitting" size.
    auto tall = dib;
    const LONG big = 0x7FFFFFFF;
    std::memcpy(tall.data() + 8, &big, 4);
    EXPECT_EQ(platform::InspectPackedDib(tall.data(), tall.size(), &l), platform::DibCheck::Truncated);

    auto odd = dib;
    const DWORD size = 20;
    std::memcpy(odd.data(), &size, 4);
    EXPECT_EQ(platform::InspectPackedDib(odd.data(), odd.size(), &l), platform::DibCheck::BadHeader);

    auto rle = dib;
    const DWORD comp = BI_RLE8;
    std::memcpy(rle.data() + 16, &comp, 4);
    EXPECT_EQ(platform::InspectPackedDib(rle.data(), rle.size(), &l), platform::DibCheck::Unsupported);
    EXPECT_EQ(CreateBitmapFromPackedDib(rle.data(), rle.size()), nullptr);

    // Bit masks belong in bytes 40 to 51 of a longer header; a 44-byte header
    // ends before them, and the block ends right after its one pixel row.
    std::vector<BYTE> shortMasks(44 + 4, 0);
    BITMAPINFOHEADER h{};
    h.biSize = 44;
    h.biWidth = 1;
    h.biHeight = 1;
    h.biPlanes = 1;
    h.biBitCount = 16;
    h.biCompression = BI_BITFIELDS;
    std::memcpy(shortMasks.data(), &h, 40);
    EXPECT_EQ(platform::InspectPackedDib(shortMasks.data(), shortMasks.size(), &l), platform::DibCheck::Unsupported);
    EXPECT_EQ(CreateBitmapFromPackedDib(shortMasks.data(), shortMasks.size()), nullptr);
}

TEST(PackedDib, ColourCountAboveTableSizeIsSafe)
{
    // biClrUsed 300 for an 8-bit image: the table is 300 entries long, only
    // 256 are used; a 1-bit image with a one-entry table reads index 1 as black.
    auto dib = infoDib(1, 8, {{255}}, ramp(300), false, 300);
    Handle a(CreateBitmapFromPackedDib(dib.data(), dib.size()));
    ASSERT_TRUE(a.h);
    EXPECT_EQ(platform::BitmapToImage(a.h).pixel(0, 0), qRgb(255, 510 & 0xFF, 765 & 0xFF));

    auto mono = infoDib(2, 1, {{0x40}}, {{9, 9, 9, 0}}, false, 1);
    Handle b(CreateBitmapFromPackedDib(mono.data(), mono.size()));
    ASSERT_TRUE(b.h);
    EXPECT_EQ(platform::BitmapToImage(b.h).pixel(0, 0), qRgb(9, 9, 9));
    EXPECT_EQ(platform::BitmapToImage(b.h).pixel(1, 0), qRgb(0, 0, 0));
}

TEST(DibSection, PixelMemoryIsTheBottomUpRowLayout)
{
    std::vector<BYTE> info(40 + 1024, 0);
    auto *bmi = reinterpret_cast<BITMAPINFO *>(info.data());
    bmi->bmiHeader.biSize = 40;
    bmi->bmiHeader.biWidth = 3;
    bmi->bmiHeader.biHeight = 2;
    bmi->bmiHeader.biPlanes = 1;
    bmi->bmiHeader.biBitCount = 24;
    bmi->bmiHeader.biSizeImage = 1500;
    void *bits = nullptr;
    Handle b(CreateDIBSection(bmi, DIB_RGB_COLORS, &bits));
    ASSERT_TRUE(b.h);
    ASSERT_TRUE(bits);
    DIBSECTION ds;
    ASSERT_TRUE(GetObject(b.h, &ds));
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 12);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBmih.biSizeImage, 1500u);
    auto *p = static_cast<BYTE *>(bits);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(p[i], 0) << i; // zero-filled
    p[12 + 0] = 10; // first pixel of the second row in memory = top row
    p[12 + 2] = 30;
    QImage img = platform::BitmapToImage(b.h);
    EXPECT_EQ(img.pixel(0, 0), qRgb(30, 0, 10));
    EXPECT_EQ(img.pixel(0, 1), qRgb(0, 0, 0));

    // Colour tables never exceed 256 entries and what the depth can index.
    bmi->bmiHeader.biBitCount = 1;
    bmi->bmiHeader.biClrUsed = 256;
    Handle mono(CreateDIBSection(bmi, DIB_RGB_COLORS, &bits));
    ASSERT_TRUE(mono.h);
    RGBQUAD table[256];
    EXPECT_EQ(GetDIBColorTable(mono.h, 0, 256, table), 2u);
}

TEST(DibSection, ImpossibleFormatsGiveNoBitmap)
{
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = 40;
    bmi.bmiHeader.biWidth = 10;
    bmi.bmiHeader.biHeight = 10;
    bmi.bmiHeader.biPlanes = 1;
    void *bits = reinterpret_cast<void *>(1);
    for (WORD bad : {0, 2, 7, 48, 64}) {
        bmi.bmiHeader.biBitCount = bad;
        EXPECT_EQ(CreateDIBSection(&bmi, DIB_RGB_COLORS, &bits), nullptr) << bad;
        EXPECT_EQ(bits, nullptr);
    }
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biWidth = 0;
    EXPECT_EQ(CreateDIBSection(&bmi, DIB_RGB_COLORS, &bits), nullptr);
    bmi.bmiHeader.biWidth = 100000;
    bmi.bmiHeader.biHeight = 100000; // 30 GB
    EXPECT_EQ(CreateDIBSection(&bmi, DIB_RGB_COLORS, &bits), nullptr);
}

TEST(BitmapObject, OwnsAndReleasesItsHandle)
{
    const std::size_t before = platform::LiveBitmapCount();
    QImage img(4, 3, QImage::Format_RGB32);
    img.fill(Qt::red);
    HBITMAP h = CreateBitmapFromImage(img);
    {
        platform::Bitmap b(h);
        EXPECT_EQ(b.Width(), 4);
        EXPECT_EQ(b.Height(), 3);
        EXPECT_EQ(platform::LiveBitmapCount(), before + 1);
        b.SetHandle(CreateBitmapFromImage(img)); // old one deleted
        EXPECT_FALSE(platform::IsBitmap(h));
        EXPECT_EQ(platform::LiveBitmapCount(), before + 1);
    }
    EXPECT_EQ(platform::LiveBitmapCount(), before);
    EXPECT_FALSE(DeleteObject(h));
}

// --- red/blue reorder of 3-byte pixels -----------------------------------------

namespace {

// What every way of reordering must give: each pixel's first and third byte
// exchanged.
std::vector<BYTE> reordered(const std::vector<BYTE> &in)
{
    std::vector<BYTE> out(in);
    for (std::size_t i = 0; i + 2 < out.size(); i += 3)
        std::swap(out[i], out[i + 2]);
    return out;
}

enum class Way { Portable, Shuffled, ShuffledStreaming, Chosen };

bool run(Way way, BYTE *dst, const BYTE *src, std::size_t pixels)
{
    switch (way) {
    case Way::Portable:
        platform::CopySwapRedBluePortable(dst, src, pixels);
        return true;
    case Way::Shuffled:
        return platform::CopySwapRedBlueShuffled(dst, src, pixels, false);
    case Way::ShuffledStreaming:
        return platform::CopySwapRedBlueShuffled(dst, src, pixels, true);
    case Way::Chosen:
        platform::CopySwapRedBlue(dst, src, pixels, pixels % 2 == 0);
        return true;
    }
    return false;
}

} // namespace

// Every width from 1 to 70 pixels, at every alignment of the target within 16
// bytes, copying and in place: the right bytes, and not one byte written (or,
// under the address checker, read) outside the run.
TEST(SwapRedBlue, EveryWayGivesTheSameBytesAndStaysInsideTheRun)
{
    for (Way way : {Way::Portable, Way::Shuffled, Way::ShuffledStreaming, Way::Chosen}) {
        for (std::size_t pixels = 1; pixels <= 70; ++pixels) {
            for (std::size_t offset = 0; offset < 16; ++offset) {
                SCOPED_TRACE(testing::Message() << "way " << int(way) << ", " << pixels << " pixels, offset " << offset);
                const std::size_t n = 3 * pixels;
                // Source exactly as long as the run, so a read past it is caught.
                std::vector<BYTE> src(n);
                for (std::size_t i = 0; i < n; ++i)
                    src[i] = BYTE(i * 37 + pixels);
                const std::vector<BYTE> want = reordered(src);

                std::vector<BYTE> target(n + 32, 0xC5);
                if (!run(way, target.data() + offset, src.data(), pixels))
                    GTEST_SKIP() << "no byte shuffles on this processor";
                for (std::size_t i = 0; i < offset; ++i)
                    ASSERT_EQ(target[i], 0xC5) << "before the run, byte " << i;
                ASSERT_TRUE(std::equal(want.begin(), want.end(), target.begin() + std::ptrdiff_t(offset)));
                for (std::size_t i = offset + n; i < target.size(); ++i)
                    ASSERT_EQ(target[i], 0xC5) << "after the run, byte " << i;

                std::vector<BYTE> inPlace(src);
                run(way, inPlace.data(), inPlace.data(), pixels);
                ASSERT_EQ(inPlace, want) << "in place";
            }
        }
    }
}

// --- large blocks kept for the next page ----------------------------------------

namespace {

// Every kept block given back before and after each test.
struct KeptBlocks : testing::Test {
    void SetUp() override { platform::ReleaseKeptBlocks(); }
    void TearDown() override { platform::ReleaseKeptBlocks(); }
};

constexpr std::size_t kLarge = platform::kKeptBlockMinimum + 4096;

std::vector<BYTE> large24Dib(int width, int height, BYTE seed)
{
    std::vector<std::vector<BYTE>> rows(std::size_t(height), std::vector<BYTE>(std::size_t(width) * 3 + 3));
    for (int y = 0; y < height; ++y)
        for (std::size_t i = 0; i < rows[std::size_t(y)].size(); ++i)
            rows[std::size_t(y)][i] = BYTE(seed + i * 7 + std::size_t(y));
    return infoDib(width, 24, rows);
}

} // namespace

TEST_F(KeptBlocks, GlobalBlocksComeBackWithTheRightSizeAndCleared)
{
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, kLarge);
    ASSERT_TRUE(a);
    std::memset(GlobalLock(a), 0xAB, kLarge);
    GlobalUnlock(a);
    EXPECT_EQ(GlobalFree(a), nullptr);
    EXPECT_EQ(platform::KeptBlockCount(), 1u);

    // A little smaller: the kept block serves it, with the size asked for and
    // no byte of the earlier contents.
    HGLOBAL b = GlobalAlloc(GHND, kLarge - 1000);
    ASSERT_TRUE(b);
    EXPECT_EQ(platform::KeptBlockCount(), 0u);
    EXPECT_EQ(GlobalSize(b), kLarge - 1000);
    const auto *p = static_cast<const BYTE *>(GlobalLock(b));
    EXPECT_TRUE(std::all_of(p, p + kLarge - 1000, [](BYTE v) { return v == 0; }));
    GlobalUnlock(b);
    GlobalFree(b);

    // Far smaller or larger requests do not take it; small blocks are not kept.
    HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE, 100);
    HGLOBAL half = GlobalAlloc(GMEM_MOVEABLE, kLarge / 2 + 10);
    HGLOBAL bigger = GlobalAlloc(GMEM_MOVEABLE, kLarge + 64);
    EXPECT_EQ(platform::KeptBlockCount(), 1u);
    GlobalFree(small);
    GlobalFree(half);
    GlobalFree(bigger);
    // At most the allowed number stay; the rest go back at once.
    EXPECT_EQ(platform::KeptBlockCount(), platform::kKeptBlockCount);
    platform::ReleaseKeptBlocks();
    EXPECT_EQ(platform::KeptBlockCount(), 0u);
}

TEST_F(KeptBlocks, ADibSectionOnReusedMemoryStartsZeroFilled)
{
    std::vector<BYTE> info(40, 0);
    auto *bmi = reinterpret_cast<BITMAPINFO *>(info.data());
    bmi->bmiHeader.biSize = 40;
    bmi->bmiHeader.biWidth = 1000;
    bmi->bmiHeader.biHeight = 400; // 1.2 MB
    bmi->bmiHeader.biPlanes = 1;
    bmi->bmiHeader.biBitCount = 24;
    const std::size_t bytes = 3000 * 400;
    for (int round = 0; round < 2; ++round) {
        void *bits = nullptr;
        HBITMAP h = CreateDIBSection(bmi, DIB_RGB_COLORS, &bits);
        ASSERT_TRUE(h);
        auto *p = static_cast<BYTE *>(bits);
        EXPECT_TRUE(std::all_of(p, p + bytes, [](BYTE v) { return v == 0; })) << "round " << round;
        std::memset(p, 0x5A, bytes);
        DeleteObject(h);
        EXPECT_EQ(platform::KeptBlockCount(), 1u);
    }
}

// A picture taken from a bitmap keeps its pixels after the bitmap is deleted,
// while later pages are decoded: its memory is not handed out again until the
// last copy of it goes.  Line padding on reused memory is cleared.
TEST_F(KeptBlocks, APictureOutlivingItsBitmapKeepsItsMemory)
{
    const int width = 699, height = 600; // lines of 2097 bytes in 2100
    const std::vector<BYTE> first = large24Dib(width, height, 1);
    HBITMAP h = CreateBitmapFromPackedDib(first.data(), first.size());
    ASSERT_TRUE(h);
    QImage kept = platform::BitmapToImage(h);
    const QImage reference = kept.copy();
    DeleteObject(h);
    EXPECT_EQ(platform::KeptBlockCount(), 0u);

    const std::vector<BYTE> second = large24Dib(width, height, 99);
    HBITMAP h2 = CreateBitmapFromPackedDib(second.data(), second.size());
    ASSERT_TRUE(h2);
    EXPECT_EQ(kept, reference);
    DeleteObject(h2); // its memory is kept now

    kept = QImage(); // the first picture's memory too
    EXPECT_EQ(platform::KeptBlockCount(), 2u);
    const std::vector<BYTE> third = large24Dib(width, height, 200);
    HBITMAP h3 = CreateBitmapFromPackedDib(third.data(), third.size());
    ASSERT_TRUE(h3);
    EXPECT_EQ(platform::KeptBlockCount(), 1u);
    const QImage img = platform::BitmapToImage(h3);
    for (int y = 0; y < height; ++y) {
        const uchar *line = img.constScanLine(y);
        ASSERT_EQ(line[3 * width], 0) << y;
        ASSERT_EQ(line[3 * width + 2], 0) << y;
    }
    // The top line is the first row given: blue, green, red at bytes 15..17.
    EXPECT_EQ(img.pixel(5, 0), qRgb(BYTE(200 + 17 * 7), BYTE(200 + 16 * 7), BYTE(200 + 15 * 7)));
    DeleteObject(h3);
}

#if defined(__SANITIZE_ADDRESS__)
#define TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEST_UNDER_ASAN 1
#endif
#endif

#ifdef TEST_UNDER_ASAN
// Keeping blocks must not hide faults from the address checker: a kept block
// is unusable until handed out again, and so are the bytes beyond the size
// asked for.
TEST_F(KeptBlocks, TheAddressCheckerStillSeesUseAfterFreeAndOverruns)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto *p = static_cast<volatile BYTE *>(platform::AllocateBlock(kLarge, false));
            platform::FreeBlock(const_cast<BYTE *>(p));
            p[100] = 1;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            void *big = platform::AllocateBlock(kLarge, false);
            platform::FreeBlock(big);
            auto *p = static_cast<volatile BYTE *>(platform::AllocateBlock(kLarge - 1000, false));
            p[kLarge - 1000] = 1;
        },
        "use-after-poison");
}
#endif
