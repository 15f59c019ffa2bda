// JPEG encoding and decoding through libjpeg.
//
// Decoding gives a 32-bit image (QImage::Format_RGB32); encoding takes any
// image, feeds it to the library as 24-bit RGB and writes a baseline JPEG
// with the library's default parameters apart from the quality.  Every
// failure of the library becomes a JpegError carrying the library's own
// message text; damaged input never reads or writes outside a buffer.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes a complete JPEG file held in memory.  Throws JpegError when the
// data cannot be decoded (the message is libjpeg's text) or when the image
// is larger than maxImagePixels().
QImage decodeJpeg(const std::uint8_t *data, std::size_t size);

// Encodes |image| at |quality| (1..100, clamped).  Throws JpegError on
// failure and for an empty image.
std::vector<std::uint8_t> encodeJpeg(const QImage &image, int quality);

// Encodes 24-bit pixels (blue, green, red bytes) used where they lie: row y
// (from the top) of |width| pixels starts at first + y * step; a negative
// step walks a bottom-up picture.  The same JPEG as encodeJpeg gives for
// these pixels.  Throws JpegError.
std::vector<std::uint8_t> encodeJpegBgrRows(const std::uint8_t *first, std::ptrdiff_t step, int width, int height,
                                            int quality);

// Reads the luminance quantisation table (table 0, natural order) of a JPEG
// file.  Empty when the file has none or cannot be parsed.  Used to tell at
// which quality a file was written.
std::vector<std::uint16_t> jpegQuantTable(const std::uint8_t *data, std::size_t size, int table = 0);

// The table libjpeg's defaults use for |quality| (baseline), for comparison
// with jpegQuantTable().
std::vector<std::uint16_t> jpegDefaultQuantTable(int quality, int table = 0);

// Upper bound for width * height of a decoded picture (JPEG or bitmap), so
// that a few damaged header bytes cannot ask for gigabytes.  The default
// allows far more than a large page scanned at 600 dpi.
std::size_t maxImagePixels();
void setMaxImagePixels(std::size_t pixels);

} // namespace platform
