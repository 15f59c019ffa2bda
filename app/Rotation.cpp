#include "app/Rotation.h"

#include "platform/ImageMemory.h"
#include "platform/PixelRows.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace quillora {

namespace {

bool is32Bit(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
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
    platform::TurnClockwise32(src.constBits(), std::size_t(src.bytesPerLine()), src.width(), src.height(), target.bits(),
                              std::size_t(target.bytesPerLine()));
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
