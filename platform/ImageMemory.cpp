#include "platform/ImageMemory.h"

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

namespace platform {

namespace {

constexpr std::size_t kLargeImageBytes = std::size_t(8) << 20;

struct Mapping {
    void *address;
    std::size_t length;
};

void releaseMapping(void *info)
{
    auto *m = static_cast<Mapping *>(info);
    ::munmap(m->address, m->length);
    delete m;
}

} // namespace

QImage newImage(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const std::size_t bytesPerLine = ((std::size_t(width) * std::size_t(depth) + 31) / 32) * 4;
    if (bytesPerLine > std::size_t(INT32_MAX))
        return QImage();
    const std::size_t length = bytesPerLine * std::size_t(height);
    if (length / std::size_t(height) != bytesPerLine || length < kLargeImageBytes ||
        format == QImage::Format_Indexed8 || depth < 8) {
        try {
            return QImage(width, height, format);
        } catch (...) {
            return QImage();
        }
    }
    void *address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return QImage();
#ifdef MADV_HUGEPAGE
    ::madvise(address, length, MADV_HUGEPAGE);
#endif
    Mapping *mapping = nullptr;
    try {
        mapping = new Mapping{address, length};
        QImage image(static_cast<uchar *>(address), width, height, qsizetype(bytesPerLine), format, releaseMapping,
                     mapping);
        if (image.isNull()) {
            releaseMapping(mapping);
            return QImage();
        }
        return image;
    } catch (...) {
        if (mapping)
            releaseMapping(mapping);
        else
            ::munmap(address, length);
        return QImage();
    }
}

} // namespace platform
