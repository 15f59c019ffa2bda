// TIFF files in native transfers: a TWAIN 2 source on Linux hands a TIFF
// file in the native handle where a Windows source hands a packed DIB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when |data| starts like a TIFF file ("II*\0" or "MM\0*").
bool IsTiffFile(const void *data, std::size_t size);

// The first image of a TIFF file as a packed DIB (BITMAPINFOHEADER, colour
// table, bottom-up rows padded to four bytes), decoded with libtiff from
// strips or tiles.  1-bit and 8-bit grey images (either photometric sense)
// keep their depth with a grey colour table; 8-bit RGB stays 24-bit; every
// other layout libtiff can read becomes 32-bit.  Empty when the file cannot
// be read or its picture would exceed the largest bitmap.
std::vector<std::uint8_t> TiffToPackedDib(const void *data, std::size_t size);
