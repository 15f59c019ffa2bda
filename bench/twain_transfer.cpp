// Moving one A4 page at 300 dpi in colour (2480 x 3508 pixels, 24 bits,
// 26 MB of pixel rows) out of a source: a memory transfer in 64 KiB strips
// and a native transfer, each next to a plain copy of the same bytes.
//
// The source in this program answers at once and does no work of its own:
// it leaves the strip buffer as it is (so the strip is in the cache, as one
// a source has just filled would be) and hands over DIBs prepared outside
// the timed part, so the figures are the library's own cost (building the
// bitmap, copying rows, reordering colours, converting, freeing).
//
// Each iteration is one page of a long acquisition: memory of the previous
// page's bitmap and DIB block is kept for the next one, as it is in the
// program until the acquisition ends (the transfer loop gives it back then;
// this program calls the transfer steps directly and gives it back after
// each benchmark).  So the transfers write into memory that was used before,
// and the fair comparison is BM_PlainCopyOfThePage: memcpy of the 26 MB into
// the same, already used destination every time.  BM_PlainCopyIntoNewMemory
// takes the destination with new[] for every copy; glibc hands the same
// heap memory back after the first copy, so it is no fresher than the first.
// BM_PlainCopyIntoFreshPages maps new pages from the system for every copy
// (what every page cost when large blocks went back to the system) and is
// shown for reference only.
#include "support/ManualTimerService.h"
#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "twain/OstraTwainGui.h"

#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 2480;
constexpr int kHeight = 3508;
constexpr int kStride = ((24 * kWidth + 31) / 32) * 4;
constexpr std::size_t kPageBytes = std::size_t(kStride) * kHeight;
constexpr TW_UINT32 kStrip = 64 * 1024;

std::size_t g_left = 0; // bytes of the page the source still has to deliver

TW_UINT16 fastSource(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_PARENT:
        case DAT_USERINTERFACE:
            return TWRC_SUCCESS;
        case DAT_IDENTITY:
            if (msg == MSG_GETFIRST) {
                std::strcpy(static_cast<TW_IDENTITY *>(data)->ProductName, "Bench");
                static_cast<TW_IDENTITY *>(data)->Id = 1;
                return TWRC_SUCCESS;
            }
            return msg == MSG_GETNEXT ? TWRC_ENDOFLIST : TWRC_SUCCESS;
        case DAT_SETUPMEMXFER:
            *static_cast<TW_SETUPMEMXFER *>(data) = TW_SETUPMEMXFER{kStrip, kStrip, kStrip};
            return TWRC_SUCCESS;
        case DAT_STATUS:
            static_cast<TW_STATUS *>(data)->ConditionCode = TWCC_CAPUNSUPPORTED;
            return TWRC_SUCCESS;
        default:
            return TWRC_FAILURE;
        }
    }
    switch (dat) {
    case DAT_IMAGEINFO: {
        TW_IMAGEINFO info{};
        info.ImageWidth = kWidth;
        info.ImageLength = kHeight;
        info.BitsPerPixel = 24;
        info.SamplesPerPixel = 3;
        info.PixelType = TWPT_RGB;
        info.XResolution.Whole = 300;
        info.YResolution.Whole = 300;
        *static_cast<TW_IMAGEINFO *>(data) = info;
        g_left = kPageBytes;
        return TWRC_SUCCESS;
    }
    case DAT_IMAGEMEMXFER: {
        auto *x = static_cast<TW_IMAGEMEMXFER *>(data);
        const std::size_t n = std::min<std::size_t>(g_left, kStrip);
        x->BytesWritten = TW_UINT32(n);
        g_left -= n;
        return g_left ? TWRC_SUCCESS : TWRC_XFERDONE;
    }
    default:
        return TWRC_FAILURE;
    }
}

class BenchTwain : public TOstraTwain {
public:
    BenchTwain()
    {
        fTwainProc = &fastSource;
        fLibraryLoaded = true;
        LoadSourceManager();
    }
};

struct Page {
    std::vector<BYTE> dib;
    Page()
    {
        dib.resize(sizeof(BITMAPINFOHEADER) + kPageBytes);
        BITMAPINFOHEADER h{};
        h.biSize = sizeof h;
        h.biWidth = kWidth;
        h.biHeight = kHeight;
        h.biPlanes = 1;
        h.biBitCount = 24;
        std::memcpy(dib.data(), &h, sizeof h);
        for (std::size_t i = sizeof h; i < dib.size(); ++i)
            dib[i] = BYTE(i * 7);
    }
};

void BM_PlainCopyOfThePage(benchmark::State &state)
{
    std::vector<BYTE> from(kPageBytes, 1);
    std::vector<BYTE> to(kPageBytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kPageBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPageBytes));
}

// The same copy into memory taken with new[] for every page (see the top).
void BM_PlainCopyIntoNewMemory(benchmark::State &state)
{
    std::vector<BYTE> from(kPageBytes, 1);
    for (auto _ : state) {
        std::unique_ptr<BYTE[]> to(new BYTE[kPageBytes]);
        std::memcpy(to.get(), from.data(), kPageBytes);
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPageBytes));
}

// The same copy into pages just mapped from the system, unmapped after.
void BM_PlainCopyIntoFreshPages(benchmark::State &state)
{
    std::vector<BYTE> from(kPageBytes, 1);
    for (auto _ : state) {
        void *to = mmap(nullptr, kPageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (to == MAP_FAILED) {
            state.SkipWithError("no memory");
            break;
        }
        std::memcpy(to, from.data(), kPageBytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        munmap(to, kPageBytes);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPageBytes));
}

void BM_MemoryTransferOfThePage(benchmark::State &state)
{
    static testing_support::ManualTimerService clock;
    BenchTwain tw;
    TTwainSource *source = tw.Source(0);
    source->SetLoaded(true);
    for (auto _ : state) {
        HBITMAP bitmap = nullptr;
        TW_INT16 pixelType = 0;
        if (source->PrepareMemXfer(bitmap, pixelType) != TWRC_SUCCESS ||
            source->TransferImageMemory(bitmap, pixelType) != TWRC_XFERDONE) {
            state.SkipWithError("transfer failed");
            break;
        }
        DeleteObject(bitmap);
    }
    platform::ReleaseKeptBlocks();
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPageBytes));
}

void BM_NativeTransferOfThePage(benchmark::State &state)
{
    static testing_support::ManualTimerService clock;
    static const Page page;
    BenchTwain tw;
    TTwainSource *source = tw.Source(0);
    source->SetLoaded(true);
    bool delivered = false;
    tw.OnTwainAcquire() = [&](TObject *, std::int32_t, platform::Bitmap *image, bool &) {
        delivered = image->Handle() != nullptr;
    };
    for (auto _ : state) {
        state.PauseTiming();
        // What the source hands over: a movable block holding the packed DIB.
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, page.dib.size());
        std::memcpy(GlobalLock(h), page.dib.data(), page.dib.size());
        GlobalUnlock(h);
        state.ResumeTiming();
        bool cancel = false;
        delivered = false;
        if (!source->ReadNative(h, cancel) || !delivered) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    platform::ReleaseKeptBlocks();
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPageBytes));
}

} // namespace

BENCHMARK(BM_PlainCopyOfThePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyIntoNewMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyIntoFreshPages)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryTransferOfThePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NativeTransferOfThePage)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
