#include "platform/PixelRows.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#define QUILLORA_X86 1
#endif

namespace platform {

const CpuFeatures &Cpu()
{
    static const CpuFeatures features = [] {
        CpuFeatures f;
#ifdef QUILLORA_X86
        __builtin_cpu_init();
        f.ssse3 = __builtin_cpu_supports("ssse3");
#endif
        return f;
    }();
    return features;
}

std::size_t StreamingThreshold()
{
    static const std::size_t threshold = [] {
        constexpr std::size_t kFloor = std::size_t(8) << 20;
        const long llc = ::sysconf(_SC_LEVEL3_CACHE_SIZE);
        return llc > 0 ? std::max(kFloor, std::size_t(llc) / 4 * 3) : kFloor;
    }();
    return threshold;
}

namespace {

// ---------------------------------------------------------------------------
// 32-bit rows to 24-bit rows

void bgrxToBgrPlain(const std::uint8_t *s, std::uint8_t *d, std::size_t pixels)
{
    if (pixels == 0)
        return;
    // Four bytes stored per pixel, the fourth overwritten by the next; the
    // last pixel takes exactly three.
    for (std::size_t x = 0; x + 1 < pixels; ++x, s += 4, d += 3)
        std::memcpy(d, s, 4);
    std::memcpy(d, s, 3);
}

#ifdef QUILLORA_X86
// Sixteen pixels per step: each 16-byte load of four pixels is packed to 12
// bytes by a byte shuffle, and four of those are joined into three stores.
__attribute__((target("ssse3"))) void bgrxToBgrSsse3(const std::uint8_t *s, std::uint8_t *d, std::size_t pixels)
{
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    std::size_t x = 0;
    for (; x + 16 <= pixels; x += 16, s += 64, d += 48) {
        const __m128i p0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s)), pack);
        const __m128i p1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 16)), pack);
        const __m128i p2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 32)), pack);
        const __m128i p3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 48)), pack);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16),
                         _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 32),
                         _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
    }
    bgrxToBgrPlain(s, d, pixels - x);
}
#endif

// ---------------------------------------------------------------------------
// Red and blue exchanged

// Exchanges red and blue of |pixels| pixels, four at a time as three 32-bit
// words, the rest one by one.  Safe in place: every group is read before it
// is written.
void swapRedBlueWords(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels)
{
    std::size_t i = 0;
    for (; i + 4 <= pixels; i += 4, src += 12, dst += 12) {
        std::uint32_t a, b, c; // R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + 4, 4);
        std::memcpy(&c, src + 8, 4);
        const std::uint32_t na = ((a >> 16) & 0xFFu) | (a & 0xFF00u) | ((a & 0xFFu) << 16) | (((b >> 8) & 0xFFu) << 24);
        const std::uint32_t nb = (b & 0xFFu) | ((a >> 24) << 8) | ((c & 0xFFu) << 16) | (b & 0xFF000000u);
        const std::uint32_t nc = ((b >> 16) & 0xFFu) | ((c >> 24) << 8) | (c & 0xFF0000u) | (((c >> 8) & 0xFFu) << 24);
        std::memcpy(dst, &na, 4);
        std::memcpy(dst + 4, &nb, 4);
        std::memcpy(dst + 8, &nc, 4);
    }
    for (; i < pixels; ++i, src += 3, dst += 3) {
        const std::uint8_t r = src[0];
        dst[1] = src[1];
        dst[0] = src[2];
        dst[2] = r;
    }
}

#ifdef QUILLORA_X86
// Sixteen pixels (48 bytes, three 16-byte words) per step, each output word
// gathered from the input words it needs with byte shuffles.  Every step
// reads its 48 bytes before it writes them, and no step reads what an
// earlier one wrote, so it works in place as well.  With |Stream| the output
// words go past the caches; the pixels before the first 16-byte boundary of
// |dst| are reordered one by one, so that every streamed word is aligned.
template <bool Stream>
__attribute__((target("ssse3"))) void swapRedBlueSsse3(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels)
{
    std::size_t i = 0;
    if (Stream) {
        while (i < pixels && (reinterpret_cast<std::uintptr_t>(dst + 3 * i) & 15u) != 0)
            ++i;
        swapRedBlueWords(dst, src, i);
    }
    constexpr char Z = -128; // a shuffle index giving a zero byte
    const __m128i m00 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, Z);
    const __m128i m01 = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 1);
    const __m128i m10 = _mm_setr_epi8(Z, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
    const __m128i m11 = _mm_setr_epi8(0, Z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, Z, 15);
    const __m128i m12 = _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, Z);
    const __m128i m21 = _mm_setr_epi8(14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
    const __m128i m22 = _mm_setr_epi8(Z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    for (; i + 16 <= pixels; i += 16) {
        const std::uint8_t *s = src + 3 * i;
        std::uint8_t *d = dst + 3 * i;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 32));
        const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01));
        const __m128i o1 =
            _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)), _mm_shuffle_epi8(c, m12));
        const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22));
        if (Stream) {
            _mm_stream_si128(reinterpret_cast<__m128i *>(d), o0);
            _mm_stream_si128(reinterpret_cast<__m128i *>(d + 16), o1);
            _mm_stream_si128(reinterpret_cast<__m128i *>(d + 32), o2);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d), o0);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16), o1);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 32), o2);
        }
    }
    if (Stream)
        _mm_sfence();
    swapRedBlueWords(dst + 3 * i, src + 3 * i, pixels - i);
}

#endif

} // namespace

void CopyPixelBytes(std::uint8_t *dst, const std::uint8_t *src, std::size_t n, bool streaming)
{
#ifdef QUILLORA_X86
    const std::size_t head = (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15u)) & 15u;
    if (streaming && n >= head + 64) {
        std::memcpy(dst, src, head);
        dst += head;
        src += head;
        n -= head;
        for (; n >= 64; n -= 64, dst += 64, src += 64) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 32));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 48));
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst), a);
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst + 16), b);
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst + 32), c);
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst + 48), d);
        }
        for (; n >= 16; n -= 16, dst += 16, src += 16)
            _mm_stream_si128(reinterpret_cast<__m128i *>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i *>(src)));
    }
#else
    (void)streaming;
#endif
    std::memcpy(dst, src, n);
}

void EndStreaming()
{
#ifdef QUILLORA_X86
    _mm_sfence();
#endif
}

void CopySwapRedBluePortable(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels)
{
    swapRedBlueWords(dst, src, pixels);
}

bool CopySwapRedBlueShuffled(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels, bool streaming)
{
#ifdef QUILLORA_X86
    if (Cpu().ssse3) {
        if (streaming)
            swapRedBlueSsse3<true>(dst, src, pixels);
        else
            swapRedBlueSsse3<false>(dst, src, pixels);
        return true;
    }
#endif
    (void)dst;
    (void)src;
    (void)pixels;
    (void)streaming;
    return false;
}

void CopySwapRedBlue(std::uint8_t *dst, const std::uint8_t *src, std::size_t pixels, bool streaming)
{
    if (!CopySwapRedBlueShuffled(dst, src, pixels, streaming))
        swapRedBlueWords(dst, src, pixels);
}

// ---------------------------------------------------------------------------
// Turning by 90 degrees

namespace {

// Pictures are turned in square tiles of the target, so that the source
// rows read and the target rows written for a tile stay in the cache (and
// their pages in the address translation cache): 128 x 128 pixels, 64 KiB
// each way, measured best on both AMD and Intel processors of the last
// years.
constexpr int kTile = 128;

// The picture being turned.  Kernels take it by value so the compiler keeps
// its fields in registers across their stores.
struct Turn {
    const std::uint8_t *src;
    std::size_t srcStride;
    int width;  // of the source
    int height; // of the source
    std::uint8_t *dst;
    std::size_t dstStride;
};

inline const std::uint32_t *sourcePixel(const Turn &t, int row, int column)
{
    return reinterpret_cast<const std::uint32_t *>(t.src + t.srcStride * std::size_t(row)) + column;
}

inline std::uint32_t *targetPixel(const Turn &t, int row, int column)
{
    return reinterpret_cast<std::uint32_t *>(t.dst + t.dstStride * std::size_t(row)) + column;
}

// Target rows [y0, y1), columns [x0, x1), one pixel at a time.
void turnPlain(const Turn t, int y0, int y1, int x0, int x1)
{
    for (int y = y0; y < y1; ++y) {
        std::uint32_t *d = targetPixel(t, y, 0);
        for (int x = x0; x < x1; ++x)
            d[x] = *sourcePixel(t, t.height - 1 - x, y);
    }
}

// Walks the target in tiles, giving |Kernel::block| every whole
// |Kernel::n| x |Kernel::n| block and doing the ragged edges pixel by pixel.
template <class Kernel>
void turnTiled(const Turn t)
{
    constexpr int n = Kernel::n;
    const int targetRows = t.width;
    const int targetColumns = t.height;
    for (int y0 = 0; y0 < targetRows; y0 += kTile) {
        const int y1 = std::min(y0 + kTile, targetRows);
        const int yWhole = y0 + (y1 - y0) / n * n;
        for (int x0 = 0; x0 < targetColumns; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, targetColumns);
            const int xWhole = x0 + (x1 - x0) / n * n;
            for (int y = y0; y < yWhole; y += n)
                for (int x = x0; x < xWhole; x += n)
                    Kernel::block(t, y, x);
            turnPlain(t, y0, yWhole, xWhole, x1);
            turnPlain(t, yWhole, y1, x0, x1);
        }
    }
}

struct PortableKernel {
    static constexpr int n = 4;
    // Each source row gives four neighbouring pixels in one read.
    static void block(const Turn &t, int y, int x)
    {
        std::uint32_t *d0 = targetPixel(t, y, x);
        std::uint32_t *d1 = targetPixel(t, y + 1, x);
        std::uint32_t *d2 = targetPixel(t, y + 2, x);
        std::uint32_t *d3 = targetPixel(t, y + 3, x);
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t *s = sourcePixel(t, t.height - 1 - (x + k), y);
            d0[k] = s[0];
            d1[k] = s[1];
            d2[k] = s[2];
            d3[k] = s[3];
        }
    }
};

#ifdef QUILLORA_X86
// A 4 x 4 block: four source rows of four pixels, transposed in registers,
// become four target rows of four pixels.  SSE2 is part of every x86-64
// processor.
struct Sse2Kernel {
    static constexpr int n = 4;
    static void block(const Turn &t, int y, int x)
    {
        const int r = t.height - 1 - x;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sourcePixel(t, r, y)));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sourcePixel(t, r - 1, y)));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sourcePixel(t, r - 2, y)));
        const __m128i a3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sourcePixel(t, r - 3, y)));
        const __m128i t0 = _mm_unpacklo_epi32(a0, a1);
        const __m128i t1 = _mm_unpacklo_epi32(a2, a3);
        const __m128i t2 = _mm_unpackhi_epi32(a0, a1);
        const __m128i t3 = _mm_unpackhi_epi32(a2, a3);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(targetPixel(t, y, x)), _mm_unpacklo_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(targetPixel(t, y + 1, x)), _mm_unpackhi_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(targetPixel(t, y + 2, x)), _mm_unpacklo_epi64(t2, t3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(targetPixel(t, y + 3, x)), _mm_unpackhi_epi64(t2, t3));
    }
};

#endif

} // namespace

bool TurnClockwise32With(int path, const std::uint8_t *src, std::size_t srcStride, int width, int height,
                         std::uint8_t *dst, std::size_t dstStride)
{
    if (width <= 0 || height <= 0)
        return true;
    const Turn turn{src, srcStride, width, height, dst, dstStride};
    switch (path) {
    case 0:
        turnTiled<PortableKernel>(turn);
        return true;
#ifdef QUILLORA_X86
    case 1:
        turnTiled<Sse2Kernel>(turn);
        return true;
#endif
    default:
        return false;
    }
}

void TurnClockwise32(const std::uint8_t *src, std::size_t srcStride, int width, int height, std::uint8_t *dst,
                     std::size_t dstStride)
{
    if (!TurnClockwise32With(1, src, srcStride, width, height, dst, dstStride))
        TurnClockwise32With(0, src, srcStride, width, height, dst, dstStride);
}

void bgrxToBgr(const std::uint8_t *src, std::uint8_t *dst, std::size_t pixels)
{
#ifdef QUILLORA_X86
    if (Cpu().ssse3) {
        bgrxToBgrSsse3(src, dst, pixels);
        return;
    }
#endif
    bgrxToBgrPlain(src, dst, pixels);
}

} // namespace platform
