#include "platform/GlobalMemory.h"

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUILLORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLORA_ASAN 1
#endif
#endif
#ifdef QUILLORA_ASAN
#include <sanitizer/asan_interface.h>
#define POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// Header in front of every block's data; the handle points at it.  The
// memory comes from platform::AllocateBlock.
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

// Reads the magic word of what |b| points at without touching memory that
// is not there: a source may hand over any number as a handle.  false when
// the address cannot be read.
bool readMagic(const BlockHeader *b, std::uint64_t &magic)
{
    iovec local{&magic, sizeof magic};
    iovec remote{const_cast<BlockHeader *>(b), sizeof magic};
    const ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(sizeof magic))
        return true;
    if (n < 0 && errno != EFAULT) {
        // The probe itself is not available (a restricted system): read
        // directly, as a handle from this process is the normal case.
        magic = b->magic;
        return true;
    }
    return false;
}

BlockHeader *header(HGLOBAL h)
{
    auto *b = static_cast<BlockHeader *>(h);
    if (!b || reinterpret_cast<std::uintptr_t>(b) % alignof(BlockHeader) != 0)
        return nullptr;
    std::uint64_t magic = 0;
    if (!readMagic(b, magic) || magic != kLiveMagic)
        return nullptr;
    return b;
}

unsigned char *dataOf(BlockHeader *b)
{
    return reinterpret_cast<unsigned char *>(b) + sizeof(BlockHeader);
}

// In front of every block from AllocateBlock: how much memory it has.
struct alignas(16) BlockPrefix {
    std::size_t capacity; // bytes usable after the prefix
    std::size_t bytes;    // bytes asked for
};

unsigned char *blockData(BlockPrefix *p)
{
    return reinterpret_cast<unsigned char *>(p) + sizeof(BlockPrefix);
}

// Large blocks freed and kept for reuse, the most recently freed last.  While
// kept, a block's memory is marked unusable for the address checker, so a
// use after FreeBlock is still caught; so are bytes beyond the size asked for.
// The list is never destroyed: a picture held by a static object may give
// its memory back while the program's statics are being torn down.  It has
// a fixed size, so that giving memory back never allocates.
struct Kept {
    std::mutex mutex;
    BlockPrefix *blocks[platform::kKeptBlockCount] = {};
    std::size_t count = 0;
};

Kept &kept()
{
    static Kept *const k = new Kept;
    return *k;
}

BlockPrefix *takeKept(std::size_t bytes)
{
    Kept &k = kept();
    std::lock_guard<std::mutex> lock(k.mutex);
    std::size_t best = k.count;
    for (std::size_t i = 0; i < k.count; ++i) {
        const std::size_t cap = k.blocks[i]->capacity;
        if (cap >= bytes && cap - bytes <= bytes / 4 && (best == k.count || cap < k.blocks[best]->capacity))
            best = i;
    }
    if (best == k.count)
        return nullptr;
    BlockPrefix *p = k.blocks[best];
    std::move(k.blocks + best + 1, k.blocks + k.count, k.blocks + best);
    --k.count;
    return p;
}

// Asks the system to back the whole 2 MiB pages inside a fresh large block
// with huge pages.  A scanned page's memory is written once from end to
// end; with 4 KiB pages every one of thousands of pages costs a fault of
// its own, which in a virtual machine takes longer than scanning the page.
void preferHugePages(void *raw, std::size_t bytes)
{
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (start + bytes) & ~(kHuge - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE); // only a hint
}

void freeRaw(BlockPrefix *p)
{
    UNPOISON(blockData(p), p->capacity);
    std::free(p);
}

} // namespace

namespace platform {

void *AllocateBlock(std::size_t bytes, bool zero)
{
    if (bytes > SIZE_T(PTRDIFF_MAX) - sizeof(BlockPrefix))
        return nullptr;
    BlockPrefix *p = bytes >= kKeptBlockMinimum ? takeKept(bytes) : nullptr;
    if (p) {
        UNPOISON(blockData(p), bytes);
        if (zero)
            std::memset(blockData(p), 0, bytes);
    } else {
        // Fresh memory: calloc need not clear what the system hands over clean.
        void *raw = zero ? std::calloc(1, sizeof(BlockPrefix) + bytes) : std::malloc(sizeof(BlockPrefix) + bytes);
        if (!raw)
            return nullptr;
        if (bytes >= kKeptBlockMinimum)
            preferHugePages(raw, sizeof(BlockPrefix) + bytes);
        p = new (raw) BlockPrefix{bytes, bytes};
    }
    p->bytes = bytes;
    POISON(blockData(p) + bytes, p->capacity - bytes);
    return blockData(p);
}

void FreeBlock(void *block)
{
    if (!block)
        return;
    auto *p = reinterpret_cast<BlockPrefix *>(static_cast<unsigned char *>(block) - sizeof(BlockPrefix));
    if (p->capacity < kKeptBlockMinimum || p->capacity > kKeptBlockMaximum) {
        freeRaw(p);
        return;
    }
    POISON(blockData(p), p->capacity);
    BlockPrefix *evicted = nullptr;
    {
        Kept &k = kept();
        std::lock_guard<std::mutex> lock(k.mutex);
        if (k.count == kKeptBlockCount) { // the oldest goes
            evicted = k.blocks[0];
            std::move(k.blocks + 1, k.blocks + k.count, k.blocks);
            --k.count;
        }
        k.blocks[k.count++] = p;
    }
    if (evicted)
        freeRaw(evicted);
}

void ReleaseKeptBlocks()
{
    BlockPrefix *blocks[kKeptBlockCount];
    std::size_t n = 0;
    {
        Kept &k = kept();
        std::lock_guard<std::mutex> lock(k.mutex);
        n = k.count;
        std::copy(k.blocks, k.blocks + n, blocks);
        k.count = 0;
    }
    for (std::size_t i = 0; i < n; ++i)
        freeRaw(blocks[i]);
}

std::size_t KeptBlockCount()
{
    Kept &k = kept();
    std::lock_guard<std::mutex> lock(k.mutex);
    return k.count;
}

} // namespace platform

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (g_failureHook && g_failureHook(dwBytes))
            return nullptr;
    }
    if (dwBytes > SIZE_T(PTRDIFF_MAX) - sizeof(BlockHeader))
        return nullptr;
    void *raw = platform::AllocateBlock(sizeof(BlockHeader) + dwBytes, (uFlags & GMEM_ZEROINIT) != 0);
    if (!raw)
        return nullptr;
    auto *b = new (raw) BlockHeader;
    b->magic = kLiveMagic;
    b->size = dwBytes;
    b->locks.store(0);
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
    platform::FreeBlock(b);
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
