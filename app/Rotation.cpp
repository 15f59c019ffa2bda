#include "app/Rotation.h"

#include "platform/ImageMemory.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quillora {

namespace {

bool is32Bit(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

// The turn itself, done in square tiles so that both the rows read and the
// rows written stay in the cache while a tile is worked on.
void turn(const QImage &src, QImage &dst)
{
    const int w = src.width();
    const int h = src.height();
    constexpr int kTile = 64;
    std::vector<const std::uint32_t *> rows(static_cast<std::size_t>(h));
    for (int r = 0; r < h; ++r)
        rows[std::size_t(r)] = reinterpret_cast<const std::uint32_t *>(src.constScanLine(r));
    const std::size_t dstStride = std::size_t(dst.bytesPerLine()) / 4;
    auto *dstBits = reinterpret_cast<std::uint32_t *>(dst.bits());

    for (int y0 = 0; y0 < w; y0 += kTile) {
        const int y1 = std::min(y0 + kTile, w);
        for (int x0 = 0; x0 < h; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, h);
            int y = y0;
            // Four target rows at once: each source row gives four
            // neighbouring pixels in one read.
            for (; y + 4 <= y1; y += 4) {
                std::uint32_t *d0 = dstBits + std::size_t(y) * dstStride;
                std::uint32_t *d1 = d0 + dstStride;
                std::uint32_t *d2 = d1 + dstStride;
                std::uint32_t *d3 = d2 + dstStride;
                for (int x = x0; x < x1; ++x) {
                    const std::uint32_t *s = rows[std::size_t(h - 1 - x)] + y;
                    d0[x] = s[0];
                    d1[x] = s[1];
                    d2[x] = s[2];
                    d3[x] = s[3];
                }
            }
            for (; y < y1; ++y) {
                std::uint32_t *d = dstBits + std::size_t(y) * dstStride;
                for (int x = x0; x < x1; ++x)
                    d[x] = rows[std::size_t(h - 1 - x)][y];
            }
        }
    }
}

} // namespace

void rotateClockwiseInto(const QImage &source, QImage &target)
{
    if (source.isNull()) {
        target = QImage();
        return;
    }
    // The 32-bit working copy; a 32-bit source is used as it is.
    const QImage src = is32Bit(source.format()) ? source : source.convertToFormat(QImage::Format_RGB32);
    const QSize turnedSize(src.height(), src.width());
    // A target of the right size and depth is filled where it lies.
    if (src.isNull() || target.size() != turnedSize || target.format() != src.format() ||
        target.constBits() == src.constBits()) {
        QImage fresh;
        if (!src.isNull())
            fresh = platform::newImage(turnedSize.width(), turnedSize.height(), src.format());
        if (fresh.isNull())
            throw std::runtime_error("Nicht genügend Speicher, um das Bild zu drehen.");
        target = std::move(fresh);
    }
    target.setDotsPerMeterX(src.dotsPerMeterY());
    target.setDotsPerMeterY(src.dotsPerMeterX());
    turn(src, target);
}

QImage rotatedClockwise(const QImage &source)
{
    QImage target;
    rotateClockwiseInto(source, target);
    return target;
}

void rotateClockwiseInPlace(QImage &image)
{
    if (image.isNull())
        return;
    image = rotatedClockwise(image);
}

} // namespace quillora
