#include "platform/BmpFile.h"

#include "platform/ImageMemory.h"
#include "platform/Jpeg.h"
#include "platform/PixelRows.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

[[noreturn]] void fail(const std::string &what)
{
    throw BmpError("Ungültige Bitmap-Datei: " + what);
}

std::uint16_t rd16(const std::uint8_t *p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t rd32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

void wr16(std::uint8_t *p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void wr32(std::uint8_t *p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// One colour channel described by a bit mask: where it lies and how to
// widen it to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m)
    {
        if (!m)
            return;
        while (!((m >> shift) & 1u))
            ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u))
            ++bits;
    }

    std::uint32_t get(std::uint32_t v) const
    {
        if (!bits)
            return 0;
        std::uint32_t x = (v & mask) >> shift;
        if (bits >= 8)
            return x >> (bits - 8);
        // Replicate the high bits into the low ones: 5 bits 11111 -> 255.
        std::uint32_t r = 0;
        int have = 0;
        while (have < 8) {
            r = (r << bits) | x;
            have += bits;
        }
        return (r >> (have - 8)) & 0xFF;
    }
};

std::uint32_t rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // absolute
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<std::uint32_t> palette; // as 0xFFRRGGBB
    std::size_t pixelOffset = 0;
};

Header parseHeader(const std::uint8_t *data, std::size_t size)
{
    if (size < kFileHeaderSize + 4)
        fail("Die Datei ist zu kurz.");
    if (data[0] != 'B' || data[1] != 'M')
        fail("Die Kennung \"BM\" fehlt.");
    Header h;
    const std::uint32_t offBits = rd32(data + 10);
    const std::uint32_t infoSize = rd32(data + 14);
    const std::uint8_t *info = data + kFileHeaderSize;
    const std::size_t avail = size - kFileHeaderSize;
    std::size_t afterHeader = 0;
    std::size_t paletteEntrySize = 4;
    std::uint32_t colorsUsed = 0;

    if (infoSize == 12) {
        if (avail < 12)
            fail("Der Bildkopf ist unvollständig.");
        h.width = rd16(info + 4);
        h.height = rd16(info + 6);
        h.bpp = rd16(info + 10);
        paletteEntrySize = 3;
        afterHeader = kFileHeaderSize + 12;
    } else if (infoSize >= kInfoHeaderSize && infoSize <= 4096) {
        if (avail < infoSize)
            fail("Der Bildkopf ist unvollständig.");
        const auto w = std::int32_t(rd32(info + 4));
        const auto hh = std::int32_t(rd32(info + 8));
        h.width = w;
        h.topDown = hh < 0;
        h.height = hh < 0 ? -std::int64_t(hh) : std::int64_t(hh);
        h.bpp = rd16(info + 14);
        h.compression = rd32(info + 16);
        colorsUsed = rd32(info + 32);
        afterHeader = kFileHeaderSize + infoSize;
        if (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) {
            if (infoSize >= 52) {
                h.masks[0] = rd32(info + 40);
                h.masks[1] = rd32(info + 44);
                h.masks[2] = rd32(info + 48);
            } else {
                const std::size_t n = h.compression == BI_ALPHABITFIELDS ? 16 : 12;
                if (size < afterHeader + n)
                    fail("Die Farbmasken fehlen.");
                h.masks[0] = rd32(data + afterHeader);
                h.masks[1] = rd32(data + afterHeader + 4);
                h.masks[2] = rd32(data + afterHeader + 8);
                afterHeader += n;
            }
        }
    } else {
        fail("Unbekannte Größe des Bildkopfs (" + std::to_string(infoSize) + ").");
    }

    if (h.width <= 0 || h.height <= 0)
        fail("Breite oder Höhe ist nicht positiv.");
    if (std::uint64_t(h.width) * std::uint64_t(h.height) > maxImagePixels())
        fail("Das Bild ist zu groß.");

    switch (h.bpp) {
    case 1:
    case 4:
    case 8:
    case 24:
        break;
    case 16:
    case 32:
        if (infoSize == 12)
            fail("Farbtiefe " + std::to_string(h.bpp) + " im alten Bildkopf.");
        break;
    default:
        fail("Nicht unterstützte Farbtiefe " + std::to_string(h.bpp) + ".");
    }
    switch (h.compression) {
    case BI_RGB:
        break;
    case BI_RLE8:
        if (h.bpp != 8)
            fail("RLE8 verlangt 8 Bit je Bildpunkt.");
        break;
    case BI_RLE4:
        if (h.bpp != 4)
            fail("RLE4 verlangt 4 Bit je Bildpunkt.");
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        if (h.bpp != 16 && h.bpp != 32)
            fail("Farbmasken verlangen 16 oder 32 Bit je Bildpunkt.");
        break;
    default:
        fail("Nicht unterstützte Kompression " + std::to_string(h.compression) + ".");
    }
    if ((h.compression == BI_RLE8 || h.compression == BI_RLE4) && h.topDown)
        fail("Komprimierte Bitmaps können nicht von oben nach unten liegen.");

    if (h.bpp <= 8) {
        const std::uint32_t maxColors = 1u << h.bpp;
        std::uint32_t n = colorsUsed == 0 ? maxColors : std::min(colorsUsed, maxColors);
        // A palette that runs past the pixel data or the file is cut short;
        // indices beyond it give black.
        std::size_t limit = size;
        if (offBits > afterHeader && offBits <= size)
            limit = offBits;
        if (afterHeader > limit)
            fail("Die Farbtabelle fehlt.");
        n = std::uint32_t(std::min<std::size_t>(n, (limit - afterHeader) / paletteEntrySize));
        h.palette.assign(maxColors, 0xFF000000u);
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t *e = data + afterHeader + std::size_t(i) * paletteEntrySize;
            h.palette[i] = rgb(e[2], e[1], e[0]);
        }
        afterHeader += std::size_t(n) * paletteEntrySize;
    } else if (h.compression == BI_RGB) {
        if (h.bpp == 16) {
            h.masks[0] = 0x7C00;
            h.masks[1] = 0x03E0;
            h.masks[2] = 0x001F;
        } else if (h.bpp == 32) {
            h.masks[0] = 0x00FF0000;
            h.masks[1] = 0x0000FF00;
            h.masks[2] = 0x000000FF;
        }
    }

    if (offBits == 0) {
        h.pixelOffset = afterHeader;
    } else {
        if (offBits < kFileHeaderSize + std::min<std::uint32_t>(infoSize, 12))
            fail("Der Verweis auf die Bilddaten zeigt in den Dateikopf.");
        h.pixelOffset = offBits;
    }
    if (h.pixelOffset >= size)
        fail("Die Bilddaten fehlen.");
    return h;
}

void decodeRle(const Header &h, const std::uint8_t *p, std::size_t n, QImage &img)
{
    // Bottom-up only; pixels not set by the stream stay palette entry 0.
    const std::int64_t width = h.width;
    const std::int64_t height = h.height;
    img.fill(h.palette[0]);
    std::int64_t x = 0;
    std::int64_t y = 0; // counted from the bottom
    const bool four = h.compression == BI_RLE4;
    auto put = [&](unsigned index) {
        if (x < width && y < height) {
            auto *line = reinterpret_cast<std::uint32_t *>(img.scanLine(int(height - 1 - y)));
            line[x] = h.palette[index & (four ? 0x0F : 0xFF)];
        }
        ++x;
    };
    std::size_t i = 0;
    while (i + 1 < n && y < height) {
        const unsigned count = p[i];
        const unsigned value = p[i + 1];
        i += 2;
        if (count > 0) {
            for (unsigned k = 0; k < count && x < width; ++k)
                put(four ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta
            if (i + 1 >= n)
                return;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else { // absolute run of |value| pixels, padded to 16 bits
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            if (i + bytes > n)
                fail("Die komprimierten Bilddaten sind unvollständig.");
            for (unsigned k = 0; k < value; ++k) {
                const unsigned b = p[i + (four ? k / 2 : k)];
                put(four ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            i += bytes + (bytes & 1);
        }
    }
}

// Bytes per stored row, and the bytes the pixel data must hold: every row
// but the last in full, the last without its padding.
struct RowLayout {
    std::uint64_t stride;
    std::uint64_t needed;
};

RowLayout rowLayout(const Header &h)
{
    const std::uint64_t stride = ((std::uint64_t(h.width) * std::uint64_t(h.bpp) + 31) / 32) * 4;
    const std::uint64_t needed = stride * std::uint64_t(h.height - 1) + (std::uint64_t(h.width) * h.bpp + 7) / 8;
    return {stride, needed};
}

} // namespace

bool bmpBgrRows(const std::uint8_t *data, std::size_t size, BgrRows &rows)
{
    if (!data)
        size = 0;
    const Header h = parseHeader(data, size);
    if (h.bpp != 24 || h.compression != BI_RGB)
        return false;
    const RowLayout layout = rowLayout(h);
    if (layout.needed > size - h.pixelOffset)
        fail("Die Bilddaten sind unvollständig.");
    const std::uint8_t *pixels = data + h.pixelOffset;
    const auto stride = std::ptrdiff_t(layout.stride);
    rows.width = int(h.width);
    rows.height = int(h.height);
    rows.step = h.topDown ? stride : -stride;
    rows.first = h.topDown ? pixels : pixels + stride * std::ptrdiff_t(h.height - 1);
    return true;
}

QImage decodeBmp(const std::uint8_t *data, std::size_t size)
{
    if (!data)
        size = 0;
    const Header h = parseHeader(data, size);
    QImage img = newImage(int(h.width), int(h.height), QImage::Format_RGB32);
    if (img.isNull())
        throw BmpError("Nicht genügend Speicher für das Bild.");
    const std::uint8_t *pixels = data + h.pixelOffset;
    const std::size_t available = size - h.pixelOffset;

    if (h.compression == BI_RLE8 || h.compression == BI_RLE4) {
        decodeRle(h, pixels, available, img);
        return img;
    }

    const auto [stride, needed] = rowLayout(h);
    if (needed > available)
        fail("Die Bilddaten sind unvollständig.");

    const int width = int(h.width);
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]);
    const bool plain32 = h.bpp == 32 && h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 && h.masks[2] == 0xFF;
    for (std::int64_t row = 0; row < h.height; ++row) {
        const std::uint8_t *s = pixels + std::size_t(row) * stride;
        const std::int64_t targetRow = h.topDown ? row : h.height - 1 - row;
        auto *d = reinterpret_cast<std::uint32_t *>(img.scanLine(int(targetRow)));
        switch (h.bpp) {
        case 1:
            for (int x = 0; x < width; ++x)
                d[x] = h.palette[(s[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < width; ++x)
                d[x] = h.palette[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
            break;
        case 8:
            for (int x = 0; x < width; ++x)
                d[x] = h.palette[s[x]];
            break;
        case 16:
            for (int x = 0; x < width; ++x) {
                const std::uint32_t v = rd16(s + 2 * x);
                d[x] = rgb(red.get(v), green.get(v), blue.get(v));
            }
            break;
        case 24: {
            // Four bytes are read for each pixel but the last, whose fourth
            // byte may lie past the data.
            int x = 0;
            for (; x + 1 < width; ++x, s += 3) {
                std::uint32_t v;
                std::memcpy(&v, s, 4);
                d[x] = v | 0xFF000000u;
            }
            d[x] = 0xFF000000u | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
            break;
        }
        case 32:
            if (plain32) {
                for (int x = 0; x < width; ++x, s += 4)
                    d[x] = 0xFF000000u | (std::uint32_t(s[2]) << 16) | (std::uint32_t(s[1]) << 8) | s[0];
            } else {
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t v = rd32(s + 4 * x);
                    d[x] = rgb(red.get(v), green.get(v), blue.get(v));
                }
            }
            break;
        }
    }
    return img;
}

void writeBmp(const QImage &source, const ByteSink &sink)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        throw BmpError("Ein leeres Bild kann nicht als Bitmap gespeichert werden.");
    QImage image = source;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        throw BmpError("Nicht genügend Speicher für das Bild.");
    const std::uint64_t width = std::uint64_t(image.width());
    const std::uint64_t height = std::uint64_t(image.height());
    const std::uint64_t stride = (width * 3 + 3) & ~std::uint64_t(3);
    const std::uint64_t imageSize = stride * height;
    const std::uint64_t fileSize = kFileHeaderSize + kInfoHeaderSize + imageSize;
    if (fileSize > 0xFFFFFFFFull || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        throw BmpError("Das Bild ist für eine Bitmap-Datei zu groß.");

    std::array<std::uint8_t, kFileHeaderSize + kInfoHeaderSize> head{};
    head[0] = 'B';
    head[1] = 'M';
    wr32(&head[2], std::uint32_t(fileSize));
    wr32(&head[10], std::uint32_t(kFileHeaderSize + kInfoHeaderSize));
    std::uint8_t *info = &head[kFileHeaderSize];
    wr32(info, kInfoHeaderSize);
    wr32(info + 4, std::uint32_t(width));
    wr32(info + 8, std::uint32_t(height)); // positive: bottom-up
    wr16(info + 12, 1);
    wr16(info + 14, 24);
    wr32(info + 16, BI_RGB);
    wr32(info + 20, std::uint32_t(imageSize));
    wr32(info + 24, std::uint32_t(std::max(0, image.dotsPerMeterX())));
    wr32(info + 28, std::uint32_t(std::max(0, image.dotsPerMeterY())));
    sink(head.data(), head.size());

    // Rows go out in blocks of about 1 MB: small enough to stay in the
    // cache between being filled and being handed on, large enough that the
    // number of writes does not count.  The file holds the bottom row first;
    // each block is still filled by reading its picture rows top to bottom,
    // the order in which memory is read fastest.
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, (std::size_t(1) << 20) / stride);
    std::vector<std::uint8_t> block(std::size_t(stride) * std::min<std::size_t>(rowsPerBlock, height));
    const std::size_t padding = std::size_t(stride - width * 3);
    for (std::size_t end = std::size_t(height); end > 0;) {
        const std::size_t rows = std::min(rowsPerBlock, end);
        const std::size_t begin = end - rows;
        for (std::size_t row = begin; row < end; ++row) {
            // Picture row |end - 1| comes first in the block.
            std::uint8_t *d = block.data() + (end - 1 - row) * stride;
            bgrxToBgr(image.constScanLine(int(row)), d, std::size_t(width));
            std::memset(d + width * 3, 0, padding);
        }
        sink(block.data(), rows * std::size_t(stride));
        end = begin;
    }
}

std::vector<std::uint8_t> encodeBmp(const QImage &image)
{
    std::vector<std::uint8_t> out;
    writeBmp(image, [&out](const std::uint8_t *p, std::size_t n) { out.insert(out.end(), p, p + n); });
    return out;
}

} // namespace platform
