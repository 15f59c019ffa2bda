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

// Number of blocks allocated and not yet freed.
long GlobalLiveBlocks();

// While set, every GlobalAlloc first asks the hook with the requested size;
// a true answer makes that allocation fail.  Pass an empty function to clear.
void SetGlobalAllocFailureHook(std::function<bool(SIZE_T)> hook);

} // namespace platform
