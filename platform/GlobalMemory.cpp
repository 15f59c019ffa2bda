#include "platform/GlobalMemory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// Header in front of every block's data; the handle points at it.
struct alignas(16) BlockHeader {
    std::uint64_t magic;
    SIZE_T size;
    std::atomic<int> locks;
};

constexpr std::uint64_t kLiveMagic = 0x51474C4F42414C31ull; // "QGLOBAL1"
constexpr std::uint64_t kDeadMagic = 0x64656164626C6F63ull;

std::atomic<long> g_liveBlocks{0};
std::mutex g_hookMutex;
std::function<bool(SIZE_T)> g_failureHook;

BlockHeader *header(HGLOBAL h)
{
    auto *b = static_cast<BlockHeader *>(h);
    if (!b || b->magic != kLiveMagic)
        return nullptr;
    return b;
}

unsigned char *dataOf(BlockHeader *b)
{
    return reinterpret_cast<unsigned char *>(b) + sizeof(BlockHeader);
}

} // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (g_failureHook && g_failureHook(dwBytes))
            return nullptr;
    }
    if (dwBytes > SIZE_T(PTRDIFF_MAX) - sizeof(BlockHeader))
        return nullptr;
    void *raw = std::malloc(sizeof(BlockHeader) + dwBytes);
    if (!raw)
        return nullptr;
    auto *b = new (raw) BlockHeader;
    b->magic = kLiveMagic;
    b->size = dwBytes;
    b->locks.store(0);
    if (uFlags & GMEM_ZEROINIT)
        std::memset(dataOf(b), 0, dwBytes);
    g_liveBlocks.fetch_add(1);
    return b;
}

void *GlobalLock(HGLOBAL hMem)
{
    BlockHeader *b = header(hMem);
    if (!b)
        return nullptr;
    b->locks.fetch_add(1);
    return dataOf(b);
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    BlockHeader *b = header(hMem);
    if (!b)
        return FALSE;
    int expected = b->locks.load();
    while (expected > 0 && !b->locks.compare_exchange_weak(expected, expected - 1)) {
    }
    return expected > 1 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    if (!hMem)
        return nullptr;
    BlockHeader *b = header(hMem);
    if (!b)
        return hMem;
    b->magic = kDeadMagic;
    b->~BlockHeader();
    std::free(b);
    g_liveBlocks.fetch_sub(1);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL hMem)
{
    BlockHeader *b = header(hMem);
    return b ? b->size : 0;
}

namespace platform {

long GlobalLiveBlocks()
{
    return g_liveBlocks.load();
}

void SetGlobalAllocFailureHook(std::function<bool(SIZE_T)> hook)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_failureHook = std::move(hook);
}

} // namespace platform
