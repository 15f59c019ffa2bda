// The hot pixel loops, in one place: converting rows between the layouts
// the pictures, files and sources use, copying large images past the
// caches, and turning a 32-bit picture by 90 degrees.  Where the processor
// offers them (one check, Cpu()), byte shuffles and SIMD transposes are
// used; every function has a portable path that gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// What the processor offers the fast paths, asked once.
struct CpuFeatures {
    bool ssse3 = false;
};
const CpuFeatures &Cpu();

// Copies |pixels| 32-bit pixels (blue, green, red, unused byte) from |src|
// to |dst| as 24-bit pixels (blue, green, red), dropping the fourth byte.
// Reads exactly 4 * pixels bytes and writes exactly 3 * pixels bytes.
void bgrxToBgr(const std::uint8_t *src, std::uint8_t *dst, std::size_t pixels);

// Copies |pixels| 3-byte pixels from |src| to |dst|, exchanging the first and
// third byte of each (RGB order to the BGR order of 24-bit bitmaps and back).
// |dst| and |src| are either the same place or do not overlap.  Exactly
// 3 * |pixels| bytes are read and written.  With |streaming| the result is
// written past the caches where the processor can (for large images that
// are not read again soon).
void CopySwapRedBlue(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels, bool streaming = false);
// Copies |n| bytes into pixel memory; with |streaming| the 16-byte aligned
// middle part goes past the caches.  Nothing outside [dst, dst + n) is
// written.  After streamed copies, EndStreaming orders them before
// everything stored later.
void CopyPixelBytes(std::uint8_t *dst, const std::uint8_t *src, std::size_t n, bool streaming);
void EndStreaming();
// The image size from which writing past the caches pays: only an image
// that would not stay in the last-level cache anyway (three quarters of it,
// the share the C library's own copies keep cached), and never below 8 MiB.
// Streaming a smaller image would make every later read of it, and the
// copy itself on processors with a large cache, go to main memory.
std::size_t StreamingThreshold();
// The two ways CopySwapRedBlue works, for tests: the portable one, and the
// shuffling one, which returns false (and does nothing) on a processor
// without it.
void CopySwapRedBluePortable(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels);
bool CopySwapRedBlueShuffled(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels, bool streaming = false);

// Turns a picture of |width| x |height| 32-bit pixels by 90 degrees
// clockwise: |dst| (|height| x |width| pixels) gets at row y, column x the
// source pixel of row height - 1 - x, column y.  Strides are in bytes;
// |src| and |dst| must not overlap.
void TurnClockwise32(const std::uint8_t *src, std::size_t srcStride, int width, int height, std::uint8_t *dst,
                     std::size_t dstStride);
// The ways TurnClockwise32 works, for tests and benchmarks: 0 portable,
// 1 SSE2 4 x 4 blocks transposed in registers (every x86-64 processor).
// False when the processor lacks the path (nothing is written then).
bool TurnClockwise32With(int path, const std::uint8_t *src, std::size_t srcStride, int width, int height,
                         std::uint8_t *dst, std::size_t dstStride);

} // namespace platform
