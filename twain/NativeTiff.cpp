#include "twain/NativeTiff.h"

#include "platform/Bitmaps.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Reading a TIFF from memory through libtiff's client procedures.
struct Reader {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;
};

tsize_t readProc(thandle_t h, tdata_t buf, tsize_t n)
{
    auto *r = static_cast<Reader *>(h);
    if (n <= 0 || r->pos >= r->size)
        return 0;
    const std::size_t count = std::min<std::size_t>(std::size_t(n), r->size - r->pos);
    std::memcpy(buf, r->data + r->pos, count);
    r->pos += count;
    return tsize_t(count);
}

tsize_t writeProc(thandle_t, tdata_t, tsize_t)
{
    return 0;
}

toff_t seekProc(thandle_t h, toff_t off, int whence)
{
    auto *r = static_cast<Reader *>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = r->pos;
    else if (whence == SEEK_END)
        base = r->size;
    const std::uint64_t target = base + off;
    if (target < base)
        return toff_t(-1);
    r->pos = std::size_t(std::min<std::uint64_t>(target, SIZE_MAX));
    return toff_t(r->pos);
}

int closeProc(thandle_t)
{
    return 0;
}

toff_t sizeProc(thandle_t h)
{
    return static_cast<Reader *>(h)->size;
}

int mapProc(thandle_t, tdata_t *, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff reports damaged files on stderr unless told otherwise.
void quietHandler(const char *, const char *, va_list) {}

struct TiffCloser {
    void operator()(TIFF *t) const { TIFFClose(t); }
};

void put16(std::uint8_t *p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

// An empty packed DIB of the given layout; |rows| points at its first
// (bottom) row.
std::vector<std::uint8_t> makeDib(std::uint32_t width, std::uint32_t height, int bits, int colours,
                                  std::size_t &stride, std::size_t &pixelsAt)
{
    stride = (std::size_t(bits) * width + 31) / 32 * 4;
    const std::size_t pixels = stride * height;
    if (pixels > platform::kMaxBitmapBytes)
        return {};
    pixelsAt = 40 + std::size_t(colours) * 4;
    std::vector<std::uint8_t> dib(pixelsAt + pixels, 0);
    put32(dib.data(), 40);
    put32(dib.data() + 4, width);
    put32(dib.data() + 8, height);
    put16(dib.data() + 12, 1);
    put16(dib.data() + 14, std::uint16_t(bits));
    put32(dib.data() + 20, std::uint32_t(pixels));
    put32(dib.data() + 32, std::uint32_t(colours));
    return dib;
}

} // namespace

bool IsTiffFile(const void *data, std::size_t size)
{
    if (!data || size < 8)
        return false;
    const auto *b = static_cast<const std::uint8_t *>(data);
    return (b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42);
}

std::vector<std::uint8_t> TiffToPackedDib(const void *data, std::size_t size)
{
    if (!IsTiffFile(data, size))
        return {};
    TIFFSetErrorHandler(quietHandler);
    TIFFSetWarningHandler(quietHandler);
    Reader reader{static_cast<const std::uint8_t *>(data), size};
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpen("native", "rm", &reader, readProc, writeProc, seekProc,
                                                         closeProc, sizeProc, mapProc, unmapProc));
    if (!tif)
        return {};
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return {};
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = PHOTOMETRIC_MINISWHITE;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF / 32 || height > 0x7FFFFFFF)
        return {};

    const bool grey = samples == 1 && (bits == 1 || bits == 8) &&
                      (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE);
    const bool rgb = samples == 3 && bits == 8 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG;
    std::size_t stride = 0, pixelsAt = 0;

    if (!grey && !rgb) {
        // Anything else libtiff understands, as 32-bit colour.
        std::vector<std::uint8_t> dib = makeDib(width, height, 32, 0, stride, pixelsAt);
        if (dib.empty())
            return {};
        std::vector<std::uint32_t> raster(std::size_t(width) * height);
        if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_BOTLEFT, 0))
            return {};
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint8_t *row = dib.data() + pixelsAt + stride * y; // bottom-up, as the raster
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint32_t p = raster[std::size_t(y) * width + x];
                row[4 * x] = std::uint8_t(TIFFGetB(p));
                row[4 * x + 1] = std::uint8_t(TIFFGetG(p));
                row[4 * x + 2] = std::uint8_t(TIFFGetR(p));
                row[4 * x + 3] = 0;
            }
        }
        return dib;
    }

    const int dibBits = rgb ? 24 : bits;
    const int colours = rgb ? 0 : (bits == 1 ? 2 : 256);
    std::vector<std::uint8_t> dib = makeDib(width, height, dibBits, colours, stride, pixelsAt);
    if (dib.empty())
        return {};
    // Grey table in the file's sense: MINISWHITE counts from white.
    const bool inverted = photometric == PHOTOMETRIC_MINISWHITE;
    for (int i = 0; i < colours; ++i) {
        int v = colours == 2 ? (i ? 255 : 0) : i;
        if (inverted)
            v = 255 - v;
        dib[40 + 4 * std::size_t(i)] = dib[41 + 4 * std::size_t(i)] = dib[42 + 4 * std::size_t(i)] = std::uint8_t(v);
    }
    const std::size_t rowBytes = (std::size_t(dibBits) * width + 7) / 8;
    // One top-down row of the file into the bottom-up DIB.
    auto store = [&](std::uint32_t y, const std::uint8_t *src, std::size_t bytes) {
        std::uint8_t *dst = dib.data() + pixelsAt + stride * std::size_t(height - 1 - y);
        bytes = std::min(bytes, rowBytes);
        if (rgb) {
            for (std::size_t x = 0; 3 * x + 2 < bytes; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else {
            std::memcpy(dst, src, bytes);
        }
    };

    if (TIFFIsTiled(tif.get())) {
        std::uint32_t tw = 0, th = 0;
        if (!TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &th) ||
            tw == 0 || th == 0)
            return {};
        const tmsize_t tileSize = TIFFTileSize(tif.get());
        const std::size_t tileRow = (std::size_t(dibBits) * tw + 7) / 8;
        if (tileSize <= 0 || std::size_t(tileSize) < tileRow * th)
            return {};
        std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileSize));
        for (std::uint32_t ty = 0; ty < height; ty += th) {
            for (std::uint32_t tx = 0; tx < width; tx += tw) {
                if (TIFFReadTile(tif.get(), tile.data(), tx, ty, 0, 0) < 0)
                    return {};
                const std::uint32_t columns = std::min(tw, width - tx);
                for (std::uint32_t y = ty; y < std::min(height, ty + th); ++y) {
                    const std::uint8_t *src = tile.data() + tileRow * (y - ty);
                    std::uint8_t *dst = dib.data() + pixelsAt + stride * std::size_t(height - 1 - y);
                    if (dibBits == 1) {
                        for (std::uint32_t x = 0; x < columns; ++x) {
                            const std::uint32_t dx = tx + x;
                            if (src[x / 8] & (0x80 >> (x % 8)))
                                dst[dx / 8] |= std::uint8_t(0x80 >> (dx % 8));
                        }
                    } else if (rgb) {
                        for (std::uint32_t x = 0; x < columns; ++x) {
                            std::uint8_t *d = dst + 3 * std::size_t(tx + x);
                            d[0] = src[3 * x + 2];
                            d[1] = src[3 * x + 1];
                            d[2] = src[3 * x];
                        }
                    } else {
                        std::memcpy(dst + tx, src, columns);
                    }
                }
            }
        }
        return dib;
    }

    const tmsize_t scanline = TIFFScanlineSize(tif.get());
    if (scanline <= 0 || std::size_t(scanline) < rowBytes)
        return {};
    std::vector<std::uint8_t> row(static_cast<std::size_t>(scanline));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0)
            return {};
        store(y, row.data(), rowBytes);
    }
    return dib;
}
