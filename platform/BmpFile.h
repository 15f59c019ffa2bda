// Windows bitmap files (.bmp).
//
// Reading accepts the core (12-byte) header and the info headers of 40 bytes
// and more, bottom-up and top-down rows, 1, 4 and 8 bits with a palette
// (uncompressed or run-length encoded), 16 and 32 bits with or without bit
// masks, and 24 bits.  Every size, offset and count in the headers is checked
// against the data before it is used; a damaged file gives a BmpError.
// Writing produces an uncompressed 24-bit bottom-up file with a 40-byte
// info header.
#pragma once

#include "platform/FileAccess.h"
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace platform {

class BmpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes a whole bitmap file held in memory into a 32-bit image
// (QImage::Format_RGB32).  Throws BmpError.
QImage decodeBmp(const std::uint8_t *data, std::size_t size);

// The pixel rows of an uncompressed 24-bit bitmap file held in memory,
// seen where they lie: row y of the picture (counted from the top) starts at
// first + y * step, with blue, green and red bytes per pixel.
struct BgrRows {
    const std::uint8_t *first = nullptr;
    std::ptrdiff_t step = 0;
    int width = 0;
    int height = 0;
};

// Fills |rows| and returns true when |data| is an uncompressed 24-bit
// bitmap file whose rows all lie within the data; returns false for every
// other kind of bitmap file (decodeBmp reads those).  Throws BmpError for a
// damaged file, exactly where decodeBmp would.
bool bmpBgrRows(const std::uint8_t *data, std::size_t size, BgrRows &rows);

// Writes |image| as a 24-bit bitmap file, handing the bytes to |sink| in
// order, in pieces of at most a few megabytes.  Throws BmpError for an empty
// image or one too large for the format; exceptions of |sink| pass through.
void writeBmp(const QImage &image, const ByteSink &sink);

// The same into memory.
std::vector<std::uint8_t> encodeBmp(const QImage &image);

} // namespace platform
