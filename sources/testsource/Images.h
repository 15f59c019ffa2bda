// The test source's pages as bytes: rows for memory transfers, packed DIBs
// for native transfers of a TWAIN 1.x source, TIFF files for native
// transfers of a TWAIN 2 source, and the files of file transfers.
#pragma once

#include "sources/testsource/Pattern.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace testsource {

using Bytes = std::vector<std::uint8_t>;

// Bytes of one packed row (bits per pixel times width, rounded up to a
// whole byte): RGB as red, green, blue, or blue, green, red when |bgr|;
// BW pixels most significant bit first, 1 for white.
std::size_t PackedRowBytes(const PageSpec &page);
// Bytes of one row padded to a multiple of four (DIB and memory transfers).
std::size_t PaddedRowBytes(const PageSpec &page);
void WriteRow(const PageSpec &page, int index, int y, bool bgr, std::uint8_t *out);

// A packed DIB: BITMAPINFOHEADER, colour table (BW: black, white; GRAY:
// 256 grey levels), bottom-up rows.  Resolution in dots per inch.
Bytes PackedDib(const PageSpec &page, int index, double dpi);
// A Windows bitmap file: the file header and the packed DIB.
Bytes BmpFile(const PageSpec &page, int index, double dpi);
// A TIFF file (no compression; MINISBLACK for GRAY and BW, RGB for colour)
// in strips of |block| rows or tiles of |block| x |block| pixels.  Empty
// when libtiff fails.
Bytes TiffFile(const PageSpec &page, int index, double dpi, bool tiles, int block);

} // namespace testsource
