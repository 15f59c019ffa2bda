// Turning pictures by 90 degrees clockwise.
//
// The pixel at (column x, row y) of the result is the pixel at (column y,
// row H - 1 - x) of the source, rows counted from the top: the left column
// of the source, read from bottom to top, becomes the top row.  All four
// bytes of each 32-bit pixel are copied.
#pragma once

#include <QImage>

namespace quillora {

// Returns |source| turned clockwise, H wide and W high, with 32 bits per
// pixel.  A source of another depth is first drawn into a 32-bit image.
// A null source gives a null image.  Throws std::runtime_error when the
// memory for the result cannot be had.
QImage rotatedClockwise(const QImage &source);

// The same into |target|, whose memory is used again when it already has
// the turned size and depth (and is not |source| itself).
void rotateClockwiseInto(const QImage &source, QImage &target);

// Turns |image| clockwise in place; it ends up with 32 bits per pixel.  On
// failure it throws and |image| is left as it was.
void rotateClockwiseInPlace(QImage &image);

} // namespace quillora
