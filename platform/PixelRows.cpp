#include "platform/PixelRows.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLORA_PIXELROWS_SSSE3 1
#endif

namespace platform {

namespace {

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

#ifdef QUILLORA_PIXELROWS_SSSE3
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

bool hasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

} // namespace

void bgrxToBgr(const std::uint8_t *src, std::uint8_t *dst, std::size_t pixels)
{
#ifdef QUILLORA_PIXELROWS_SSSE3
    if (hasSsse3()) {
        bgrxToBgrSsse3(src, dst, pixels);
        return;
    }
#endif
    bgrxToBgrPlain(src, dst, pixels);
}

} // namespace platform
