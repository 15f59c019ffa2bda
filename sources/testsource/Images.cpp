#include "sources/testsource/Images.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace testsource {
namespace {

void put16(Bytes &b, std::size_t at, std::uint16_t v)
{
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

void put32(Bytes &b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

// A TIFF written into memory through libtiff's client procedures.
struct MemoryFile {
    Bytes data;
    toff_t pos = 0;
};

tsize_t memRead(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryFile *>(h);
    if (m->pos >= m->data.size() || size <= 0)
        return 0;
    const std::size_t n = std::min<std::size_t>(std::size_t(size), m->data.size() - m->pos);
    std::memcpy(buf, m->data.data() + m->pos, n);
    m->pos += n;
    return tsize_t(n);
}

tsize_t memWrite(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryFile *>(h);
    if (size <= 0)
        return 0;
    const std::size_t end = std::size_t(m->pos) + std::size_t(size);
    if (end > m->data.size())
        m->data.resize(end);
    std::memcpy(m->data.data() + m->pos, buf, std::size_t(size));
    m->pos = end;
    return size;
}

toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto *m = static_cast<MemoryFile *>(h);
    std::int64_t base = 0;
    if (whence == SEEK_CUR)
        base = std::int64_t(m->pos);
    else if (whence == SEEK_END)
        base = std::int64_t(m->data.size());
    const std::int64_t target = base + std::int64_t(off);
    if (target < 0)
        return toff_t(-1);
    m->pos = toff_t(target);
    return m->pos;
}

int memClose(thandle_t)
{
    return 0;
}

toff_t memSize(thandle_t h)
{
    return static_cast<MemoryFile *>(h)->data.size();
}

int memMap(thandle_t, tdata_t *, toff_t *)
{
    return 0;
}

void memUnmap(thandle_t, tdata_t, toff_t) {}

} // namespace

std::size_t PackedRowBytes(const PageSpec &page)
{
    return (std::size_t(BitsPerPixel(page.kind)) * std::size_t(page.width) + 7) / 8;
}

std::size_t PaddedRowBytes(const PageSpec &page)
{
    return (std::size_t(BitsPerPixel(page.kind)) * std::size_t(page.width) + 31) / 32 * 4;
}

void WriteRow(const PageSpec &page, int index, int y, bool bgr, std::uint8_t *out)
{
    switch (page.kind) {
    case PixelKind::Rgb:
        for (int x = 0; x < page.width; ++x) {
            const auto c = PixelAt(page, index, x, y);
            out[3 * x] = bgr ? c[2] : c[0];
            out[3 * x + 1] = c[1];
            out[3 * x + 2] = bgr ? c[0] : c[2];
        }
        break;
    case PixelKind::Gray:
        for (int x = 0; x < page.width; ++x)
            out[x] = PixelAt(page, index, x, y)[0];
        break;
    case PixelKind::Bw:
        std::memset(out, 0, PackedRowBytes(page));
        for (int x = 0; x < page.width; ++x) {
            if (PixelAt(page, index, x, y)[0])
                out[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
        break;
    }
}

Bytes PackedDib(const PageSpec &page, int index, double dpi)
{
    const std::size_t colours = page.kind == PixelKind::Rgb ? 0 : page.kind == PixelKind::Gray ? 256 : 2;
    const std::size_t stride = PaddedRowBytes(page);
    const std::size_t header = 40 + colours * 4;
    Bytes dib(header + stride * std::size_t(page.height), 0);
    put32(dib, 0, 40);
    put32(dib, 4, std::uint32_t(page.width));
    put32(dib, 8, std::uint32_t(page.height));
    put16(dib, 12, 1);
    put16(dib, 14, std::uint16_t(BitsPerPixel(page.kind)));
    put32(dib, 16, 0);
    put32(dib, 20, std::uint32_t(stride * std::size_t(page.height)));
    const auto ppm = std::uint32_t(std::lround(dpi / 0.0254));
    put32(dib, 24, ppm);
    put32(dib, 28, ppm);
    put32(dib, 32, std::uint32_t(colours));
    for (std::size_t i = 0; i < colours; ++i) {
        const std::uint8_t v = colours == 2 ? std::uint8_t(i ? 255 : 0) : std::uint8_t(i);
        dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = v;
    }
    for (int y = 0; y < page.height; ++y)
        WriteRow(page, index, y, true, dib.data() + header + stride * std::size_t(page.height - 1 - y));
    return dib;
}

Bytes BmpFile(const PageSpec &page, int index, double dpi)
{
    const Bytes dib = PackedDib(page, index, dpi);
    const std::size_t colours = page.kind == PixelKind::Rgb ? 0 : page.kind == PixelKind::Gray ? 256 : 2;
    Bytes file(14 + dib.size(), 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, std::uint32_t(file.size()));
    put32(file, 10, std::uint32_t(14 + 40 + colours * 4));
    std::copy(dib.begin(), dib.end(), file.begin() + 14);
    return file;
}

Bytes TiffFile(const PageSpec &page, int index, double dpi, bool tiles, int block)
{
    MemoryFile mem;
    TIFF *tif = TIFFClientOpen("page.tif", "w", &mem, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
    if (!tif)
        return {};
    const bool rgb = page.kind == PixelKind::Rgb;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(page.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(page.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(page.kind == PixelKind::Bw ? 1 : 8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(rgb ? 3 : 1));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    const std::size_t rowBytes = PackedRowBytes(page);
    Bytes row(rowBytes + 4);
    bool ok = true;
    if (!tiles) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(std::max(1, block)));
        for (int y = 0; ok && y < page.height; ++y) {
            WriteRow(page, index, y, false, row.data());
            ok = TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) == 1;
        }
    } else {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, std::uint32_t(block));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, std::uint32_t(block));
        const std::size_t bitsPerPixel = std::size_t(BitsPerPixel(page.kind));
        const std::size_t tileRowBytes = (bitsPerPixel * std::size_t(block) + 7) / 8;
        Bytes tile(tileRowBytes * std::size_t(block));
        for (int ty = 0; ok && ty < page.height; ty += block) {
            for (int tx = 0; ok && tx < page.width; tx += block) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(page.height, ty + block); ++y) {
                    WriteRow(page, index, y, false, row.data());
                    std::uint8_t *dst = tile.data() + tileRowBytes * std::size_t(y - ty);
                    const int columns = std::min(block, page.width - tx);
                    if (page.kind == PixelKind::Bw) {
                        for (int x = 0; x < columns; ++x) {
                            const int sx = tx + x;
                            if (row[std::size_t(sx / 8)] & (0x80 >> (sx % 8)))
                                dst[x / 8] |= std::uint8_t(0x80 >> (x % 8));
                        }
                    } else {
                        const std::size_t bpp = bitsPerPixel / 8;
                        std::memcpy(dst, row.data() + std::size_t(tx) * bpp, std::size_t(columns) * bpp);
                    }
                }
                ok = TIFFWriteTile(tif, tile.data(), std::uint32_t(tx), std::uint32_t(ty), 0, 0) >= 0;
            }
        }
    }
    ok = ok && TIFFWriteDirectory(tif) == 1;
    TIFFClose(tif);
    if (!ok)
        return {};
    return mem.data;
}

} // namespace testsource
