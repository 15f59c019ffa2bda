// The pages the test source scans: their size, pixel type and content, and
// the formula that gives every pixel, so that a test can compute what a
// transfer must deliver.  No Qt, no TWAIN: usable by the source and by
// the tests alike.
#pragma once

#include <array>
#include <cstdint>

namespace testsource {

enum class PixelKind { Rgb, Gray, Bw };
enum class Fill { Gradient, Solid, Checker };

struct PageSpec {
    int width = 64;
    int height = 48;
    PixelKind kind = PixelKind::Rgb;
    Fill fill = Fill::Gradient;
    // Solid: red, green, blue (RGB); grey level in [0] (GRAY); 0 black or
    // 1 white in [0] (BW).
    std::array<std::uint8_t, 3> value{};
    // Checker: side of a square in pixels (at least 1).
    int cell = 8;
};

// Bits per pixel of a page: 24 (RGB), 8 (GRAY), 1 (BW).
inline int BitsPerPixel(PixelKind kind)
{
    return kind == PixelKind::Rgb ? 24 : kind == PixelKind::Gray ? 8 : 1;
}

// The colour of pixel (x, y), top row 0, of the page at |index| (0 for the
// first page of an acquisition) as red, green, blue; grey and
// black-and-white pages have three equal channels (BW: 0 or 255).
//
//   Gradient  RGB:  red (3x + 40i) mod 256, green 5y mod 256,
//                   blue (x + 2y) mod 256
//             GRAY: (x + 3y + 40i) mod 256
//             BW:   white where (x div 4 + y div 4 + i) is odd
//   Solid     the page's value
//   Checker   white where (x div cell + y div cell) is odd, black elsewhere
inline std::array<std::uint8_t, 3> PixelAt(const PageSpec &page, int index, int x, int y)
{
    auto b = [](long v) { return static_cast<std::uint8_t>(((v % 256) + 256) % 256); };
    switch (page.fill) {
    case Fill::Solid:
        if (page.kind == PixelKind::Rgb)
            return page.value;
        if (page.kind == PixelKind::Gray)
            return {page.value[0], page.value[0], page.value[0]};
        return page.value[0] ? std::array<std::uint8_t, 3>{255, 255, 255} : std::array<std::uint8_t, 3>{0, 0, 0};
    case Fill::Checker: {
        const int cell = page.cell > 0 ? page.cell : 1;
        const std::uint8_t v = ((x / cell + y / cell) % 2) ? 255 : 0;
        return {v, v, v};
    }
    case Fill::Gradient:
    default:
        switch (page.kind) {
        case PixelKind::Rgb:
            return {b(3L * x + 40L * index), b(5L * y), b(long(x) + 2L * y)};
        case PixelKind::Gray: {
            const std::uint8_t v = b(long(x) + 3L * y + 40L * index);
            return {v, v, v};
        }
        case PixelKind::Bw:
        default: {
            const std::uint8_t v = ((x / 4 + y / 4 + index) % 2) ? 255 : 0;
            return {v, v, v};
        }
        }
    }
}

} // namespace testsource
