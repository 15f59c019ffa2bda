// Small images with distinct pixels for the picture tests.
#pragma once

#include <QImage>

#include <cstdint>
#include <cstdlib>

namespace picture_test {

// Every pixel different and all four bytes used: 0xAARRGGBB from position.
inline QImage patterned(int w, int h, QImage::Format format = QImage::Format_ARGB32)
{
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<std::uint32_t *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = (std::uint32_t(x * 7 + y * 13) & 0xFF) << 24 | std::uint32_t(x & 0xFF) << 16 |
                      std::uint32_t(y & 0xFF) << 8 | std::uint32_t((x * y) & 0xFF);
    }
    return format == QImage::Format_ARGB32 ? img : img.convertToFormat(format);
}

// A smooth picture that JPEG keeps close to the original.
inline QImage gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), 128));
    return img;
}

// Mean absolute difference per channel of two RGB images of one size.
inline double meanDifference(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace picture_test
