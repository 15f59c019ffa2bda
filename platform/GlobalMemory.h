// Movable global memory: the blocks that cross the TWAIN boundary.
//
// A block is handed around by its HGLOBAL.  The program, the Data Source
// Manager and every data source may allocate, lock, unlock and free any
// block, whoever allocated it: a handle describes itself (its header lies in
// front of the data and is allocated from the process's C heap), so it does
// not matter which copy of this code touches it.
//
// Semantics follow the Windows functions of the same names:
//  - GlobalAlloc returns 0 when the memory cannot be had; GMEM_ZEROINIT fills
//    the block with zero bytes.  A block of 0 bytes is valid and locks to a
//    non-null address.
//  - GlobalLock returns the block's address (stable for the block's life) and
//    counts the lock; GlobalUnlock returns TRUE while locks remain.
//  - GlobalFree returns 0 on success and the handle when it is not a block.
//  - GlobalSize returns the size asked for at allocation, 0 for no block.
//
// Blocks of a megabyte and more (a scanned page, its pixels) are kept for a
// while when freed: the next block of about the same size takes the same
// memory instead of new pages from the system, which the system would have
// to fault in and clear page by page again for every scanned page.  See
// platform::AllocateBlock.
//
// For tests: GlobalLiveBlocks() counts the blocks allocated and not yet freed
// by this copy of the code, and a failure hook makes allocations fail on
// demand.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <functional>

using SIZE_T = std::size_t;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
void *GlobalLock(HGLOBAL hMem);
BOOL GlobalUnlock(HGLOBAL hMem);
HGLOBAL GlobalFree(HGLOBAL hMem);
SIZE_T GlobalSize(HGLOBAL hMem);

namespace platform {

// Plain memory for large data such as pixel rows, 16-byte aligned, from the
// C heap; null when it cannot be had.  |zero| fills it with zero bytes.
// Blocks from kKeptBlockMinimum bytes on are kept when freed (at most
// kKeptBlockCount of them, none above kKeptBlockMaximum) and handed out again
// for a request that fits them without wasting more than a quarter; freeing
// is FreeBlock, from any thread.  The global blocks above use the same.
void *AllocateBlock(std::size_t bytes, bool zero);
void FreeBlock(void *block);
// Gives every kept block back to the C heap (done when an acquisition ends,
// so that memory is not held between scans).
void ReleaseKeptBlocks();
// Number of blocks kept for reuse.
std::size_t KeptBlockCount();

constexpr std::size_t kKeptBlockMinimum = std::size_t(1) << 20;
constexpr std::size_t kKeptBlockMaximum = std::size_t(256) << 20;
constexpr std::size_t kKeptBlockCount = 2;

// Number of blocks allocated and not yet freed.
long GlobalLiveBlocks();

// While set, every GlobalAlloc first asks the hook with the requested size;
// a true answer makes that allocation fail.  Pass an empty function to clear.
void SetGlobalAllocFailureHook(std::function<bool(SIZE_T)> hook);

} // namespace platform
