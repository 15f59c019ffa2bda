// Pixel memory for large pictures.
//
// A scanned page is tens of megabytes; taking that memory fresh from the
// system in 4 KB pages costs one fault per page, about as much as decoding
// the picture.  Large pictures therefore get memory that the system is asked
// to back with huge pages where it can.
#pragma once

#include <QImage>

namespace platform {

// A new, uninitialised image; null when the memory cannot be had.
QImage newImage(int width, int height, QImage::Format format);

} // namespace platform
