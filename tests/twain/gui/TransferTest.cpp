// Moving images out of a source: the transfer loop's call order, native,
// memory and file transfers, and what a misbehaving source cannot do.
#include "TwainFixture.h"

#include <algorithm>
#include <stdexcept>

using testsupport::Bytes;
using testsupport::DsmAnswer;

namespace {

const std::vector<std::string> kEnd = {"MSG_DISABLEDS", "disabled 0"};

Bytes Grey8Dib(BYTE value)
{
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    return PackedDib(1, 1, 8, table, {value, 0, 0, 0});
}

TW_IMAGEINFO ImageInfo(int width, int height, int bits, TW_INT16 pixelType, double xRes = 300, double yRes = 300)
{
    TW_IMAGEINFO info{};
    info.ImageWidth = width;
    info.ImageLength = height;
    info.BitsPerPixel = TW_INT16(bits);
    info.PixelType = pixelType;
    info.XResolution = FloatToFix32(xRes);
    info.YResolution = FloatToFix32(yRes);
    return info;
}

TW_SETUPMEMXFER MemSetup(TW_UINT32 preferred)
{
    return TW_SETUPMEMXFER{preferred, preferred, preferred};
}

// An answer to DAT_IMAGEMEMXFER that writes |strip| and claims |claimed| bytes.
DsmAnswer Strip(TW_UINT16 rc, Bytes strip, TW_UINT32 claimed)
{
    DsmAnswer a;
    a.rc = rc;
    a.fill = [strip, claimed](TW_MEMREF p) {
        auto *x = static_cast<TW_IMAGEMEMXFER *>(p);
        std::memcpy(x->Memory.TheMem, strip.data(), std::min<std::size_t>(strip.size(), x->Memory.Length));
        x->BytesWritten = claimed;
    };
    return a;
}

} // namespace

// --- the transfer loop ------------------------------------------------------

TEST_F(TwainFixture, TwoNativeImagesAreDeliveredThenTheSourceIsDisabledAndTheManagerRebuilt)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 2;
    dsm->QueueNativeImage(Grey8Dib(10));
    dsm->QueueNativeImage(Grey8Dib(20));
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER",
                               "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER"},
                              kEnd,
                              {"complete 0"},
                              Rebuild()}));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(10, 10, 10));
    EXPECT_EQ(images[1].pixel(0, 0), qRgb(20, 20, 20));
    // Rebuilt: a fresh, not yet enumerated list, nothing open, native mode.
    EXPECT_FALSE(tw->HasEnumerated());
    EXPECT_EQ(tw->SourcesLoaded(), 0);
    EXPECT_TRUE(tw->SourceManagerLoaded());
    EXPECT_EQ(tw->TransferMode(), ttmNative);
    EXPECT_FALSE(tw->MessagesTimer()->Enabled());
}

TEST_F(TwainFixture, AHandlerThatCancelsKeepsItsImageAndDiscardsTheRest)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 2;
    dsm->QueueNativeImage(Grey8Dib(10));
    dsm->QueueNativeImage(Grey8Dib(20));
    cancelAfter = 1;
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER",
                               "PENDING/MSG_RESET"},
                              kEnd,
                              {"complete 0 canceled"},
                              Rebuild()}));
    EXPECT_EQ(images.size(), 1u);
    dsm->nativeImages.clear();
}

TEST_F(TwainFixture, CancelOnTheLastImageSendsNoReset)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 1;
    dsm->QueueNativeImage(Grey8Dib(10));
    cancelAfter = 1;
    Signal(MSG_XFERREADY);
    EXPECT_EQ(dsm->Count(MSG_RESET), 0);
    EXPECT_NE(std::find(dsm->journal.begin(), dsm->journal.end(), "complete 0 canceled"), dsm->journal.end());
}

TEST_F(TwainFixture, ASourceCancelEndsTheLoopWithoutEndXfer)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 2;
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_CANCEL);
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "cancel 0"},
                              kEnd,
                              {"complete 0 canceled"},
                              Rebuild()}));
    EXPECT_EQ(dsm->Count(MSG_ENDXFER), 0);
}

TEST_F(TwainFixture, AFailedTransferIsReportedAndTheNextImageFollows)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 2;
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_FAILURE, TWCC_OPERATIONERROR);
    dsm->QueueNativeImage(Grey8Dib(30));
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Journal(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "STATUS/MSG_GET", "error 0 1 5",
                                  "PENDING/MSG_ENDXFER", "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER"},
                                 kEnd,
                                 {"complete 0"},
                                 Rebuild()}));
    ASSERT_EQ(images.size(), 1u);
}

TEST_F(TwainFixture, AFailingResetIsTriedAgainAfterTheNextImage)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 3;
    for (BYTE v : {1, 2, 3})
        dsm->QueueNativeImage(Grey8Dib(v));
    cancelAfter = 1;
    dsm->ScriptOnce(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_FAILURE);
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER",
                               "PENDING/MSG_RESET", "NATIVE/MSG_GET", "acquire 0", "PENDING/MSG_ENDXFER",
                               "PENDING/MSG_RESET"},
                              kEnd,
                              {"complete 0 canceled"},
                              Rebuild()}));
    EXPECT_EQ(images.size(), 2u);
    dsm->nativeImages.clear();
}

TEST_F(TwainFixture, ACloseRequestCancelsCompletesDisablesAndRebuilds)
{
    Open({"A"});
    Enable(0);
    Signal(MSG_CLOSEDSREQ);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "cancel 0", "complete 0 canceled"}, kEnd, Rebuild()}));
    EXPECT_FALSE(tw->HasEnumerated());
    EXPECT_EQ(tw->SourcesLoaded(), 0);
}

TEST_F(TwainFixture, NothingTouchesTheFreedSourceAfterTheRebuild)
{
    // Two enabled sources: the first claims the message and is freed with the
    // whole list while the hook runs; the second is never offered it.
    Open({"A", "B"});
    Enable(0);
    Enable(1);
    dsm->QueueNativeImage(Grey8Dib(5));
    Signal(MSG_XFERREADY);
    EXPECT_EQ(dsm->Count(MSG_PROCESSEVENT), 1);
    // Both sources are closed by the rebuild, and the last call opens the manager.
    EXPECT_EQ(dsm->Count(MSG_CLOSEDS), 2);
    ASSERT_FALSE(dsm->calls.empty());
    EXPECT_EQ(dsm->calls.back().msg, MSG_OPENDSM);
    EXPECT_EQ(platform::ApplicationHookCount(), 1u); // reinstalled once
    // The next tick reaches nobody: nothing is open.
    dsm->ClearLog();
    SendMessage(tw->VirtualWindow(), WM_USER, 0, 0);
    EXPECT_TRUE(dsm->calls.empty());
}

TEST_F(TwainFixture, AnExceptionFromAHandlerLeavesTheLoopAtOnce)
{
    Open({"A"});
    TTwainSource *s = Enable(0);
    dsm->pending = 2;
    dsm->QueueNativeImage(Grey8Dib(1));
    dsm->QueueNativeImage(Grey8Dib(2));
    tw->OnTwainAcquire() = [this](TObject *, std::int32_t, platform::Bitmap *, bool &) {
        dsm->Note("acquire");
        throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(Signal(MSG_XFERREADY), std::runtime_error);
    EXPECT_EQ(Flow(), (std::vector<std::string>{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "acquire"}));
    // The source stays enabled and listed; the bitmap and the DIB are freed
    // (checked when the fixture ends).
    EXPECT_EQ(tw->Source(0), s);
    EXPECT_TRUE(s->Enabled());
    dsm->nativeImages.clear();
}

// --- native transfers -----------------------------------------------------

TEST_F(TwainFixture, NativePixelsAreFoundAfterHeaderAndColourTable)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 4;
    // 8 bits, biClrUsed 0: 256 colours, pixels at 40 + 1024.
    std::vector<RGBQUAD> full(256);
    for (int i = 0; i < 256; ++i)
        full[i] = RGBQUAD{BYTE(i), 0, BYTE(255 - i), 0};
    dsm->QueueNativeImage(PackedDib(2, 1, 8, full, {3, 250, 0, 0}));
    // biClrUsed 16: pixels at 40 + 64.
    std::vector<RGBQUAD> sixteen(full.begin(), full.begin() + 16);
    dsm->QueueNativeImage(PackedDib(2, 1, 8, sixteen, {15, 1, 0, 0}, 16));
    // 24 bits: no colour table at all.
    dsm->QueueNativeImage(PackedDib(1, 2, 24, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
    // A core header: 12 bytes and three-byte colour entries.
    Bytes core(12 + 2 * 3 + 4, 0);
    BITMAPCOREHEADER ch{12, 3, 1, 1, 1};
    std::memcpy(core.data(), &ch, 12);
    core[12 + 3] = 200; // entry 1: blue 200
    core[12 + 6] = 0xA0; // pixels 1, 0, 1
    dsm->QueueNativeImage(core);
    Signal(MSG_XFERREADY);
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(252, 0, 3));
    EXPECT_EQ(images[0].pixel(1, 0), qRgb(5, 0, 250));
    EXPECT_EQ(images[1].pixel(0, 0), qRgb(240, 0, 15));
    EXPECT_EQ(images[1].pixel(1, 0), qRgb(254, 0, 1));
    EXPECT_EQ(images[2].pixel(0, 0), qRgb(6, 5, 4)); // bottom-up: second row stored is the top
    EXPECT_EQ(images[2].pixel(0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(images[3].pixel(0, 0), qRgb(0, 0, 200));
    EXPECT_EQ(images[3].pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(images[3].pixel(2, 0), qRgb(0, 0, 200));
}

TEST_F(TwainFixture, NativeDibOfEveryDepthArrivesWithItsPixels)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 4;
    dsm->QueueNativeImage(PackedDib(9, 1, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, {0x80, 0x80, 0, 0}));
    std::vector<RGBQUAD> sixteen(16);
    for (int i = 0; i < 16; ++i)
        sixteen[i] = RGBQUAD{BYTE(i * 16), BYTE(i * 16), BYTE(i * 16), 0};
    dsm->QueueNativeImage(PackedDib(3, 1, 4, sixteen, {0x0F, 0x80, 0, 0}));
    dsm->QueueNativeImage(PackedDib(1, 1, 32, {}, {9, 8, 7, 0}));
    dsm->QueueNativeImage(PackedDib(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0}));
    Signal(MSG_XFERREADY);
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(images[0].pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(images[0].pixel(8, 0), qRgb(255, 255, 255)); // ninth pixel from the second byte
    EXPECT_EQ(images[1].pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(images[1].pixel(1, 0), qRgb(240, 240, 240));
    EXPECT_EQ(images[1].pixel(2, 0), qRgb(128, 128, 128));
    EXPECT_EQ(images[2].pixel(0, 0), qRgb(7, 8, 9));
    EXPECT_EQ(images[3].pixel(1, 0), qRgb(6, 5, 4));
}

TEST_F(TwainFixture, ANativeDibLargerThanItsBlockIsAFailedTransfer)
{
    Open({"A"});
    Enable(0);
    dsm->pending = 3;
    Bytes good = Grey8Dib(40);
    Bytes shortPixels = PackedDib(100, 100, 24, {}, Bytes(10, 0));     // pixels missing
    Bytes shortTable = Bytes(good.begin(), good.begin() + 40 + 500);    // colour table cut
    dsm->QueueNativeImage(shortPixels);
    dsm->QueueNativeImage(shortTable);
    dsm->QueueNativeImage(good);
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "NATIVE/MSG_GET", "error 0 1 0", "PENDING/MSG_ENDXFER",
                               "NATIVE/MSG_GET", "error 0 1 0", "PENDING/MSG_ENDXFER", "NATIVE/MSG_GET",
                               "acquire 0", "PENDING/MSG_ENDXFER"},
                              kEnd,
                              {"complete 0"},
                              Rebuild()}));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(40, 40, 40));
}

TEST(DibNumColorsTest, CountsByHeaderKind)
{
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    for (auto [bits, n] : {std::pair{1, 2}, {4, 16}, {8, 256}, {16, 0}, {24, 0}, {32, 0}}) {
        h.biBitCount = WORD(bits);
        EXPECT_EQ(DibNumColors(&h), n) << bits;
    }
    h.biClrUsed = 0x10012; // only the low 16 bits count
    EXPECT_EQ(DibNumColors(&h), 0x12);
    BITMAPCOREHEADER c{12, 1, 1, 1, 4};
    EXPECT_EQ(DibNumColors(&c), 16);
}

// --- memory transfers ------------------------------------------------------

TEST_F(TwainFixture, MemoryRowsAreReorderedWithoutTouchingFillBytes)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->imageInfo = ImageInfo(3, 2, 24, TWPT_RGB);
    dsm->setupMemXfer = MemSetup(5); // strips end in the middle of rows
    // Two rows of 12 bytes: nine colour bytes (R, G, B per pixel), three fill bytes.
    Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA1, 0xA2, 0xA3, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xB1, 0xB2, 0xB3};
    for (std::size_t i = 0; i < data.size(); i += 5)
        dsm->QueueStrip(Bytes(data.begin() + i, data.begin() + std::min(data.size(), i + 5)));
    std::vector<std::string> progress;
    tw->OnAcquireProgress() = [&](TObject *sender, std::int32_t, HBITMAP, std::int32_t cur, std::int32_t total) {
        EXPECT_EQ(sender, tw.get());
        progress.push_back(std::to_string(cur) + "/" + std::to_string(total));
    };
    Signal(MSG_XFERREADY);
    ASSERT_EQ(images.size(), 1u);
    // The first row received is the last row in memory.
    const Bytes expected = {13, 12, 11, 16, 15, 14, 19, 18, 17, 0xB1, 0xB2, 0xB3,
                            3,  2,  1,  6,  5,  4,  9,  8,  7,  0xA1, 0xA2, 0xA3};
    EXPECT_EQ(memory, expected);
    EXPECT_EQ(images[0].pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(images[0].pixel(2, 1), qRgb(17, 18, 19));
    EXPECT_EQ(progress, (std::vector<std::string>{"1/2", "2/2"}));
    EXPECT_EQ(dsm->Count(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET), 2);
}

TEST_F(TwainFixture, MemoryRgbRowsOfAnyWidthArriveInTheRightColours)
{
    // Widths around the four-pixel groups the reorder works in.
    for (int width : {1, 4, 5, 7, 8, 9}) {
        SCOPED_TRACE(width);
        images.clear();
        Open({"A"});
        Enable(0, ttmMemory);
        dsm->imageInfo = ImageInfo(width, 2, 24, TWPT_RGB);
        const int stride = ((24 * width + 31) / 32) * 4;
        dsm->setupMemXfer = MemSetup(TW_UINT32(stride * 2));
        Bytes data(std::size_t(stride) * 2, 0xEE);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    data[std::size_t(y * stride + 3 * x + c)] = BYTE(100 * y + 10 * x + c);
        dsm->QueueStrip(data);
        Signal(MSG_XFERREADY);
        ASSERT_EQ(images.size(), 1u);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(images[0].pixel(x, y), qRgb(100 * y + 10 * x, 100 * y + 10 * x + 1, 100 * y + 10 * x + 2))
                    << x << "," << y;
        // Fill bytes at the end of each row stay as the source sent them.
        for (int y = 0; y < 2; ++y)
            for (int i = 3 * width; i < stride; ++i)
                EXPECT_EQ(memory[std::size_t(y * stride + i)], 0xEE);
        tw.reset();
        dsm.reset();
    }
}

namespace {

// The rows a 24-bit RGB memory transfer of |width| x |height| must leave in
// the bitmap for |data| (rows in the order sent): last row first in memory,
// red and blue exchanged, fill bytes as sent.
Bytes ExpectedRgbMemory(const Bytes &data, int width, int height)
{
    const std::size_t stride = std::size_t(((24 * width + 31) / 32) * 4);
    Bytes out(data.size());
    for (int y = 0; y < height; ++y) {
        const BYTE *from = data.data() + stride * std::size_t(y);
        BYTE *to = out.data() + stride * std::size_t(height - 1 - y);
        std::memcpy(to, from, stride);
        for (int x = 0; x < width; ++x)
            std::swap(to[3 * x], to[3 * x + 2]);
    }
    return out;
}

} // namespace

// Rows of every width from 1 to 70 in strips that end anywhere in a row (and
// a page large enough to be written past the caches and kept for reuse): the
// bitmap holds exactly the reordered rows, fill bytes untouched.
TEST_F(TwainFixture, MemoryRgbStripsOfOddSizesGiveTheSameRowsAtEveryWidth)
{
    struct Case {
        int width, height;
        TW_UINT32 strip;
    };
    std::vector<Case> cases;
    for (int width = 1; width <= 70; ++width) {
        cases.push_back({width, 3, 7});
        cases.push_back({width, 5, TW_UINT32(((24 * width + 31) / 32) * 4 * 2 + 5)});
    }
    cases.push_back({1707, 1700, 65537}); // 8.7 MB, rows of 5121 colour bytes and 3 fill bytes
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " in strips of " << c.strip);
        images.clear();
        memory.clear();
        Open({"A"});
        Enable(0, ttmMemory);
        dsm->imageInfo = ImageInfo(c.width, c.height, 24, TWPT_RGB);
        dsm->setupMemXfer = MemSetup(c.strip);
        const std::size_t stride = std::size_t(((24 * c.width + 31) / 32) * 4);
        Bytes data(stride * std::size_t(c.height));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = BYTE(i * 131 + i / 251);
        for (std::size_t i = 0; i < data.size(); i += c.strip)
            dsm->QueueStrip(Bytes(data.begin() + std::ptrdiff_t(i),
                                  data.begin() + std::ptrdiff_t(std::min(data.size(), i + c.strip))));
        Signal(MSG_XFERREADY);
        ASSERT_EQ(images.size(), 1u);
        ASSERT_TRUE(memory == ExpectedRgbMemory(data, c.width, c.height));
        // Memory kept for a next page went back when the acquisition ended.
        EXPECT_EQ(platform::KeptBlockCount(), 0u);
        tw.reset();
        dsm.reset();
    }
}

TEST_F(TwainFixture, MemoryColourTablesFollowPixelTypeAndFlavour)
{
    struct Case {
        TW_INT16 type;
        int bits;
        int flavour; // -1: the flavour query fails
        bool palette;
        std::vector<RGBQUAD> expect; // first entries
        DWORD clrUsed;
    };
    const std::vector<Case> cases = {
        {TWPT_BW, 1, TWPF_VANILLA, false, {{255, 255, 255, 0}, {0, 0, 0, 0}}, 2},
        {TWPT_BW, 1, TWPF_CHOCOLATE, false, {{0, 0, 0, 0}, {255, 255, 255, 0}}, 2},
        {TWPT_BW, 1, -1, false, {{0, 0, 0, 0}, {255, 255, 255, 0}}, 2},
        {TWPT_GRAY, 8, -1, false, {{0, 0, 0, 0}, {1, 1, 1, 0}, {2, 2, 2, 0}}, 256},
        {TWPT_PALETTE, 8, -1, false, {{0, 0, 0, 0}, {1, 1, 1, 0}}, 256},  // DAT_PALETTE8 fails: grey ramp
        {TWPT_PALETTE, 8, -1, true, {{30, 20, 10, 0}, {31, 21, 11, 0}}, 256}, // 300 colours cut to 256
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " flavour " << c.flavour << " palette " << c.palette);
        images.clear();
        Open({"A"});
        Enable(0, ttmMemory);
        dsm->imageInfo = ImageInfo(8, 1, c.bits, c.type);
        dsm->setupMemXfer = MemSetup(64);
        if (c.flavour >= 0)
            dsm->ScriptCapability(ICAP_PIXELFLAVOR, TWON_ENUMERATION,
                                  testsupport::Enumeration16(TWTY_UINT16, {TW_UINT16(c.flavour)}, 0, 0));
        if (c.palette) {
            TW_PALETTE8 p{};
            p.NumColors = 300;
            for (int i = 0; i < 256; ++i)
                p.Colors[i] = TW_ELEMENT8{BYTE(i), BYTE(10 + i), BYTE(20 + i), BYTE(30 + i)};
            dsm->palette = p;
        }
        dsm->QueueStrip(Bytes(4, 0));
        Signal(MSG_XFERREADY);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(header.biClrUsed, c.clrUsed);
        ASSERT_GE(colors.size(), c.expect.size());
        for (std::size_t i = 0; i < c.expect.size(); ++i) {
            EXPECT_EQ(colors[i].rgbBlue, c.expect[i].rgbBlue) << i;
            EXPECT_EQ(colors[i].rgbGreen, c.expect[i].rgbGreen) << i;
            EXPECT_EQ(colors[i].rgbRed, c.expect[i].rgbRed) << i;
            EXPECT_EQ(colors[i].rgbReserved, 0) << i;
        }
        tw.reset();
        dsm.reset();
    }
}

TEST_F(TwainFixture, MemoryHeaderCarriesResolutionAndRoundedSize)
{
    struct Case {
        int unit; // -1: not readable
        double res;
        LONG ppm;
    };
    for (const Case &c : {Case{TWUN_INCHES, 300, 11811}, Case{TWUN_CENTIMETERS, 100, 10000},
                          Case{TWUN_PIXELS, 300, 0}, Case{-1, 300, 0}}) {
        SCOPED_TRACE(c.unit);
        images.clear();
        Open({"A"});
        Enable(0, ttmMemory);
        dsm->imageInfo = ImageInfo(1000, 1, 8, TWPT_GRAY, c.res, c.res);
        dsm->setupMemXfer = MemSetup(500);
        if (c.unit >= 0)
            dsm->ScriptCapability(ICAP_UNITS, TWON_ENUMERATION,
                                  testsupport::Enumeration16(TWTY_UINT16, {TW_UINT16(c.unit)}, 0, 0));
        dsm->QueueStrip(Bytes(500, 1));
        dsm->QueueStrip(Bytes(500, 2));
        Signal(MSG_XFERREADY);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(header.biXPelsPerMeter, c.ppm);
        EXPECT_EQ(header.biYPelsPerMeter, c.ppm);
        EXPECT_EQ(header.biSizeImage, 1500u); // 1000 bytes in blocks of 500, one block more
        EXPECT_EQ(header.biHeight, 1);
        tw.reset();
        dsm.reset();
    }
}

TEST_F(TwainFixture, MemoryBitmapIsDeletedWhenTheStripsEndBadly)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->pending = 2;
    dsm->imageInfo = ImageInfo(4, 4, 8, TWPT_GRAY);
    dsm->setupMemXfer = MemSetup(8);
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, Strip(TWRC_SUCCESS, Bytes(8, 7), 8));
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_FAILURE, TWCC_PAPERJAM);
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, Strip(TWRC_SUCCESS, Bytes(8, 7), 8));
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, TWRC_CANCEL);
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "IMAGEINFO/MSG_GET", "SETUPMEM/MSG_GET", "SETUPMEM/MSG_GET",
                               "MEMXFER/MSG_GET", "MEMXFER/MSG_GET", "error 0 1 20", "PENDING/MSG_ENDXFER",
                               "IMAGEINFO/MSG_GET", "SETUPMEM/MSG_GET", "SETUPMEM/MSG_GET", "MEMXFER/MSG_GET",
                               "MEMXFER/MSG_GET", "cancel 0"},
                              kEnd,
                              {"complete 0 canceled"},
                              Rebuild()}));
    EXPECT_TRUE(images.empty());
    // No bitmap is left behind (checked when the fixture ends).
}

TEST_F(TwainFixture, MemoryTransferWithoutAUsableBufferSizeFailsCleanly)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->pending = 3;
    dsm->imageInfo = ImageInfo(4, 4, 8, TWPT_GRAY);
    // Preferred size 0; then the first DAT_SETUPMEMXFER failing; then the
    // second one failing after the bitmap was made.
    dsm->ScriptOnce(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET,
                    DsmAnswer{TWRC_SUCCESS, std::nullopt, [](TW_MEMREF p) {
                                  *static_cast<TW_SETUPMEMXFER *>(p) = MemSetup(0);
                              }});
    dsm->ScriptOnce(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, TWRC_FAILURE, TWCC_LOWMEMORY);
    dsm->ScriptOnce(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET,
                    DsmAnswer{TWRC_SUCCESS, std::nullopt, [](TW_MEMREF p) {
                                  *static_cast<TW_SETUPMEMXFER *>(p) = MemSetup(16);
                              }});
    dsm->ScriptOnce(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, TWRC_FAILURE, TWCC_BUMMER);
    Signal(MSG_XFERREADY);
    std::vector<std::string> errors;
    for (const std::string &e : dsm->journal)
        if (e.rfind("error", 0) == 0)
            errors.push_back(e);
    EXPECT_EQ(errors, (std::vector<std::string>{"error 0 1 0", "error 0 1 2", "error 0 1 1"}));
    EXPECT_EQ(dsm->Count(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET), 0);
    EXPECT_TRUE(images.empty());
}

TEST_F(TwainFixture, MemoryStripsNeverOverrunBufferOrBitmap)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->imageInfo = ImageInfo(2, 2, 24, TWPT_RGB); // rows of 8 bytes, 16 in all
    dsm->setupMemXfer = MemSetup(12);
    // The source claims far more than the buffer holds, and sends more rows
    // than the image has.
    Bytes strip(12);
    for (int i = 0; i < 12; ++i)
        strip[i] = BYTE(i + 1);
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, Strip(TWRC_SUCCESS, strip, 1u << 30));
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, Strip(TWRC_XFERDONE, strip, 12));
    std::vector<int> progress;
    tw->OnAcquireProgress() = [&](TObject *, std::int32_t, HBITMAP, std::int32_t cur, std::int32_t) {
        progress.push_back(cur);
    };
    Signal(MSG_XFERREADY);
    ASSERT_EQ(images.size(), 1u);
    // Row 1 = bytes 1..8, row 2 = bytes 9..12 then 1..4; the rest is dropped.
    const Bytes expected = {11, 10, 9, 2, 1, 12, 3, 4, 3, 2, 1, 6, 5, 4, 7, 8};
    EXPECT_EQ(memory, expected);
    EXPECT_EQ(progress, (std::vector<int>{1, 2}));
}

TEST_F(TwainFixture, RowsASourceLeavesOutAreBlackEvenInMemoryOfAnEarlierPage)
{
    // Two pages of one acquisition, large enough for the first page's memory
    // to be handed to the second: the second ends after a row and a half.
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->pending = 2;
    constexpr int kWidth = 1024, kHeight = 1100;
    dsm->imageInfo = ImageInfo(kWidth, kHeight, 8, TWPT_GRAY);
    dsm->setupMemXfer = MemSetup(kWidth * kHeight);
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
                    Strip(TWRC_XFERDONE, Bytes(kWidth * kHeight, 0xFF), kWidth * kHeight));
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
                    Strip(TWRC_XFERDONE, Bytes(kWidth * 3 / 2, 0x40), kWidth * 3 / 2));
    Signal(MSG_XFERREADY);
    ASSERT_EQ(images.size(), 2u);
    ASSERT_EQ(memory.size(), std::size_t(kWidth) * kHeight);
    // Bottom-up: the delivered rows are the last ones in memory.
    const std::size_t delivered = kWidth * 3 / 2;
    const std::size_t top = std::size_t(kWidth) * (kHeight - 1);
    EXPECT_EQ(std::count(memory.begin() + top, memory.end(), 0x40), kWidth);
    EXPECT_EQ(std::count(memory.begin() + top - kWidth, memory.begin() + top, 0x40), kWidth / 2);
    EXPECT_EQ(std::size_t(std::count(memory.begin(), memory.end(), 0)), memory.size() - delivered);
}

TEST_F(TwainFixture, MemoryImagesThatCannotBeBuiltAreFailedTransfers)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->pending = 4;
    dsm->setupMemXfer = MemSetup(64);
    for (TW_IMAGEINFO info : {ImageInfo(0, 4, 8, TWPT_GRAY), ImageInfo(4, -4, 8, TWPT_GRAY),
                              ImageInfo(4, 4, 7, TWPT_GRAY), ImageInfo(0x7FFFFFFF, 0x7FFFFFFF, 32, TWPT_RGB)}) {
        dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, DsmAnswer{TWRC_SUCCESS, std::nullopt, [info](TW_MEMREF p) {
                                                                        *static_cast<TW_IMAGEINFO *>(p) = info;
                                                                    }});
    }
    Signal(MSG_XFERREADY);
    EXPECT_EQ(dsm->Count(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET), 0);
    EXPECT_EQ(std::count_if(dsm->journal.begin(), dsm->journal.end(),
                            [](const std::string &e) { return e.rfind("error 0 1", 0) == 0; }),
              4);
    EXPECT_TRUE(images.empty());
}

TEST_F(TwainFixture, ImageInfoFailingEndsThatImageAsAnError)
{
    Open({"A"});
    Enable(0, ttmMemory);
    dsm->setupMemXfer = MemSetup(64);
    dsm->ScriptOnce(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, TWRC_FAILURE, TWCC_BADVALUE);
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "IMAGEINFO/MSG_GET", "error 0 1 10", "PENDING/MSG_ENDXFER"},
                              kEnd,
                              {"complete 0"},
                              Rebuild()}));
}

// --- file transfers --------------------------------------------------------

TEST_F(TwainFixture, FileTransferIsSetUpBeforeAndReportedAfter)
{
    Open({"A"});
    TTwainSource *s = Enable(0, ttmFile);
    tw->OnSourceSetupFileXfer() = [&](TObject *sender, std::int32_t i) {
        EXPECT_EQ(sender, tw.get());
        dsm->Note("setup " + std::to_string(i));
        EXPECT_TRUE(tw->Source(i)->SetupFileTransfer(QStringLiteral("/tmp/scan-1.png"), tfPNG));
    };
    tw->OnSourceFileTransfer() = [&](TObject *sender, std::int32_t i, TW_STR255 &name, TTwainFormat format,
                                     bool &) {
        EXPECT_EQ(sender, s);
        dsm->Note(std::string("file ") + name + " " + std::to_string(int(format)));
    };
    Signal(MSG_XFERREADY);
    EXPECT_EQ(Flow(), Concat({{"MSG_PROCESSEVENT", "setup 0", "SETUPFILE/MSG_SET", "SETUPFILE/MSG_GET",
                               "FILEXFER/MSG_GET", "file /tmp/scan-1.png 7", "PENDING/MSG_ENDXFER"},
                              kEnd,
                              {"complete 0"},
                              Rebuild()}));
    const TW_SETUPFILEXFER sent = dsm->Last(MSG_SET)->DataAs<TW_SETUPFILEXFER>();
    EXPECT_EQ(sent.Format, TWFF_PNG);
}

TEST_F(TwainFixture, AFileNameFillingAllBytesReachesTheHandlerTerminated)
{
    Open({"A"});
    Enable(0, ttmFile);
    std::memset(dsm->setupFileXfer.FileName, 'x', sizeof dsm->setupFileXfer.FileName);
    dsm->setupFileXfer.Format = 77;
    std::size_t length = 0;
    TTwainFormat format = tfTIFF;
    tw->OnSourceFileTransfer() = [&](TObject *, std::int32_t, TW_STR255 &name, TTwainFormat f, bool &) {
        length = std::strlen(name);
        format = f;
    };
    Signal(MSG_XFERREADY);
    EXPECT_EQ(length, 255u);
    EXPECT_EQ(format, tfUnknown);
}

TEST_F(TwainFixture, SetupFileTransferNeedsAnOpenSource)
{
    Open({"A"});
    TTwainSource *s = tw->Source(0);
    dsm->ClearLog();
    EXPECT_FALSE(s->SetupFileTransfer(QStringLiteral("a.bmp"), tfBMP));
    EXPECT_TRUE(dsm->calls.empty());
    s->SetLoaded(true);
    EXPECT_TRUE(s->SetupFileTransfer(QStringLiteral("a.bmp"), tfUnknown));
    EXPECT_EQ(dsm->Last(MSG_SET)->DataAs<TW_SETUPFILEXFER>().Format, TWFF_TIFF);
    EXPECT_EQ(std::string(dsm->Last(MSG_SET)->DataAs<TW_SETUPFILEXFER>().FileName), "a.bmp");
}

TEST(TwainFormatTest, ReadBackFromTwainNumbers)
{
    EXPECT_EQ(TwainToTTwainFormat(0), tfTIFF);
    EXPECT_EQ(TwainToTTwainFormat(4), tfJPEG);
    EXPECT_EQ(TwainToTTwainFormat(9), tfEXIF);
    EXPECT_EQ(TwainToTTwainFormat(10), tfUnknown);
    EXPECT_EQ(TwainToTTwainFormat(0xFFFF), tfUnknown);
}
