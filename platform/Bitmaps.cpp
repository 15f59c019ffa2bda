#include "platform/Bitmaps.h"

#include "platform/GlobalMemory.h"
#include "platform/HandleTable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>


namespace platform {
namespace {

std::uint32_t readU32(const BYTE *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t readU16(const BYTE *p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

bool supportedFormat(WORD bitCount, DWORD compression)
{
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
        return compression == BI_RGB;
    case 16:
    case 32:
        return compression == BI_RGB || compression == BI_BITFIELDS;
    default:
        return false;
    }
}

std::size_t strideFor(WORD bitCount, LONG width)
{
    return ((std::size_t(bitCount) * std::size_t(width) + 31) / 32) * 4;
}

// Pixel format of a DIB to decode.
struct DibFormat {
    LONG width = 0;
    LONG rows = 0;
    bool bottomUp = true;
    WORD bitCount = 0;
    DWORD compression = BI_RGB;
    std::uint32_t masks[3] = {0, 0, 0}; // red, green, blue for BI_BITFIELDS
    std::vector<QRgb> palette;          // always 256 entries for <= 8 bits
};

int maskShift(std::uint32_t mask)
{
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

int maskBits(std::uint32_t mask)
{
    mask >>= maskShift(mask);
    int n = 0;
    while (mask & 1) {
        mask >>= 1;
        ++n;
    }
    return n;
}

int scaleChannel(std::uint32_t value, std::uint32_t mask)
{
    if (!mask)
        return 0;
    const int shift = maskShift(mask);
    const int bits = maskBits(mask);
    const std::uint32_t v = (value & mask) >> shift;
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return int(v >> (bits - 8));
    const std::uint32_t max = (1u << bits) - 1;
    return int((v * 255 + max / 2) / max);
}

void freeImageMemory(void *block)
{
    platform::FreeBlock(block);
}

// A new image of |w| x |h| pixels for decode to fill.  A large one takes its
// memory from AllocateBlock, so that page after page of a scan reuses the
// same memory; the image gives it back when its last copy goes.  The bytes
// after the pixels of each line are cleared (reused memory holds an earlier
// picture).
QImage newImage(int w, int h, QImage::Format format)
{
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const std::size_t line = ((std::size_t(depth) * std::size_t(w) + 31) / 32) * 4;
    const std::size_t used = (std::size_t(depth) * std::size_t(w) + 7) / 8;
    if (w <= 0 || h <= 0 || line > std::size_t(std::numeric_limits<qsizetype>::max()) / std::size_t(h) ||
        line * std::size_t(h) < platform::kKeptBlockMinimum)
        return QImage(w, h, format);
    auto *bits = static_cast<uchar *>(platform::AllocateBlock(line * std::size_t(h), false));
    if (!bits)
        return QImage();
    for (int y = 0; y < h; ++y)
        std::memset(bits + line * std::size_t(y) + used, 0, line - used);
    QImage img(bits, w, h, qsizetype(line), format, freeImageMemory, bits);
    if (img.isNull())
        platform::FreeBlock(bits);
    return img;
}

// Converts pixel rows to an image.  |pixels| holds |rows| rows of |stride|
// bytes; the caller has checked that they lie inside its memory.
QImage decode(const BYTE *pixels, std::size_t stride, const DibFormat &f)
{
    const int w = f.width;
    const int h = f.rows;
    auto srcRow = [&](int y) { return pixels + stride * std::size_t(f.bottomUp ? h - 1 - y : y); };
    QImage img;
    switch (f.bitCount) {
    case 1: {
        img = newImage(w, h, QImage::Format_Mono);
        if (img.isNull())
            return img;
        img.setColorTable(QList<QRgb>(f.palette.begin(), f.palette.begin() + 2));
        const std::size_t n = std::min<std::size_t>(std::size_t(img.bytesPerLine()), stride);
        for (int y = 0; y < h; ++y)
            std::memcpy(img.scanLine(y), srcRow(y), n);
        break;
    }
    case 4: {
        img = newImage(w, h, QImage::Format_Indexed8);
        if (img.isNull())
            return img;
        img.setColorTable(QList<QRgb>(f.palette.begin(), f.palette.begin() + 16));
        for (int y = 0; y < h; ++y) {
            const BYTE *s = srcRow(y);
            uchar *d = img.scanLine(y);
            for (int x = 0; x < w; ++x)
                d[x] = (x & 1) ? (s[x / 2] & 0x0F) : (s[x / 2] >> 4);
        }
        break;
    }
    case 8: {
        img = newImage(w, h, QImage::Format_Indexed8);
        if (img.isNull())
            return img;
        img.setColorTable(QList<QRgb>(f.palette.begin(), f.palette.end()));
        for (int y = 0; y < h; ++y)
            std::memcpy(img.scanLine(y), srcRow(y), std::size_t(w));
        break;
    }
    case 16:
        if (f.compression == BI_RGB) {
            img = newImage(w, h, QImage::Format_RGB555);
            if (img.isNull())
                return img;
            for (int y = 0; y < h; ++y) {
                const BYTE *s = srcRow(y);
                auto *d = reinterpret_cast<std::uint16_t *>(img.scanLine(y));
                for (int x = 0; x < w; ++x)
                    d[x] = std::uint16_t(readU16(s + 2 * x) & 0x7FFF);
            }
            break;
        }
        [[fallthrough]];
    case 32:
        if (f.compression == BI_BITFIELDS) {
            img = newImage(w, h, QImage::Format_RGB32);
            if (img.isNull())
                return img;
            const int bpp = f.bitCount / 8;
            for (int y = 0; y < h; ++y) {
                const BYTE *s = srcRow(y);
                auto *d = reinterpret_cast<QRgb *>(img.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t v = bpp == 2 ? readU16(s + 2 * x) : readU32(s + 4 * x);
                    d[x] = qRgb(scaleChannel(v, f.masks[0]), scaleChannel(v, f.masks[1]), scaleChannel(v, f.masks[2]));
                }
            }
        } else {
            img = newImage(w, h, QImage::Format_RGB32);
            if (img.isNull())
                return img;
            for (int y = 0; y < h; ++y) {
                const BYTE *s = srcRow(y);
                auto *d = reinterpret_cast<QRgb *>(img.scanLine(y));
                for (int x = 0; x < w; ++x)
                    d[x] = 0xFF000000u | readU32(s + 4 * x);
            }
        }
        break;
    case 24: {
        img = newImage(w, h, QImage::Format_BGR888);
        if (img.isNull())
            return img;
        const std::size_t n = std::size_t(w) * 3;
        const bool streaming = n * std::size_t(h) >= platform::StreamingThreshold();
        uchar *const bits = img.bits();
        const std::size_t line = std::size_t(img.bytesPerLine());
        // In the source's row order, which reads memory front to back.
        for (int r = 0; r < h; ++r) {
            const int y = f.bottomUp ? h - 1 - r : r;
            platform::CopyPixelBytes(bits + line * std::size_t(y), pixels + stride * std::size_t(r), n, streaming);
        }
        if (streaming)
            platform::EndStreaming();
        break;
    }
    default:
        break;
    }
    return img;
}

struct BitmapObject {
    bool dibSection = false;
    QImage image; // device-dependent bitmap
    // DIB section
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colors;
    BYTE *bits = nullptr;
    std::size_t stride = 0;

    ~BitmapObject() { platform::FreeBlock(bits); }
};

using BitmapTable = HandleTable<HBITMAP, std::unique_ptr<BitmapObject>>;

BitmapTable &bitmaps()
{
    static BitmapTable table(0x2000);
    return table;
}

HBITMAP addBitmap(std::unique_ptr<BitmapObject> obj)
{
    return bitmaps().Add(std::move(obj));
}

BitmapObject *findBitmap(HBITMAP h)
{
    return bitmaps().Object(h);
}

std::vector<QRgb> paletteFromQuads(const BYTE *table, std::size_t entries, std::size_t entrySize)
{
    std::vector<QRgb> pal(256, qRgb(0, 0, 0));
    entries = std::min<std::size_t>(entries, 256);
    for (std::size_t i = 0; i < entries; ++i) {
        const BYTE *e = table + i * entrySize;
        pal[i] = qRgb(e[2], e[1], e[0]);
    }
    return pal;
}

} // namespace

DibCheck InspectPackedDib(const void *dib, std::size_t size, PackedDibLayout *layout)
{
    PackedDibLayout l;
    const BYTE *p = static_cast<const BYTE *>(dib);
    if (!p || size < 4)
        return DibCheck::Truncated;
    l.headerSize = readU32(p);
    std::size_t entrySize = 4;
    if (l.headerSize == sizeof(BITMAPCOREHEADER)) {
        if (size < l.headerSize)
            return DibCheck::Truncated;
        l.width = readU16(p + 4);
        l.height = readU16(p + 6);
        l.bitCount = readU16(p + 10);
        l.compression = BI_RGB;
        l.colorCount = (l.bitCount == 1 || l.bitCount == 4 || l.bitCount == 8) ? (1u << l.bitCount) : 0;
        entrySize = 3;
    } else if (l.headerSize >= sizeof(BITMAPINFOHEADER) && l.headerSize <= 124) {
        if (size < l.headerSize)
            return DibCheck::Truncated;
        l.width = LONG(readU32(p + 4));
        l.height = LONG(readU32(p + 8));
        l.bitCount = readU16(p + 14);
        l.compression = readU32(p + 16);
        const DWORD clrUsed = readU32(p + 32) & 0xFFFF;
        if (clrUsed)
            l.colorCount = clrUsed;
        else
            l.colorCount = (l.bitCount == 1 || l.bitCount == 4 || l.bitCount == 8) ? (1u << l.bitCount) : 0;
    } else {
        return DibCheck::BadHeader;
    }
    l.colorBytes = std::size_t(l.colorCount) * entrySize;
    // A plain info header is followed by the three bit masks of BI_BITFIELDS.
    if (l.compression == BI_BITFIELDS && l.headerSize == sizeof(BITMAPINFOHEADER))
        l.colorBytes += 12;
    if (layout)
        *layout = l;
    // Longer headers carry the three masks in bytes 40 to 51: a header that
    // ends before them has none to read.
    const bool masksMissing = l.compression == BI_BITFIELDS && l.headerSize > sizeof(BITMAPINFOHEADER) &&
                              l.headerSize < sizeof(BITMAPINFOHEADER) + 12;
    if (!supportedFormat(l.bitCount, l.compression) || masksMissing || l.width <= 0 || l.height == 0 ||
        l.height == LONG(0x80000000))
        return DibCheck::Unsupported;
    l.pixelOffset = std::size_t(l.headerSize) + l.colorBytes;
    if (l.pixelOffset > size)
        return DibCheck::Truncated;
    l.stride = strideFor(l.bitCount, l.width);
    const std::size_t rows = std::size_t(l.height < 0 ? -std::int64_t(l.height) : l.height);
    if (rows > (size - l.pixelOffset) / l.stride)
        return DibCheck::Truncated;
    l.pixelBytes = l.stride * rows;
    if (layout)
        *layout = l;
    return DibCheck::Ok;
}

QImage BitmapToImage(HBITMAP bitmap)
{
    BitmapObject *o = findBitmap(bitmap);
    if (!o)
        return QImage();
    if (!o->dibSection)
        return o->image;
    DibFormat f;
    f.width = o->header.biWidth;
    f.rows = o->header.biHeight < 0 ? -o->header.biHeight : o->header.biHeight;
    f.bottomUp = o->header.biHeight > 0;
    f.bitCount = o->header.biBitCount;
    f.compression = BI_RGB;
    f.palette = paletteFromQuads(reinterpret_cast<const BYTE *>(o->colors.data()), o->colors.size(), 4);
    return decode(o->bits, o->stride, f);
}

bool IsBitmap(HBITMAP bitmap)
{
    return findBitmap(bitmap) != nullptr;
}

std::size_t LiveBitmapCount()
{
    return bitmaps().Size();
}

Bitmap::~Bitmap()
{
    if (handle_)
        ::DeleteObject(handle_);
}

void Bitmap::SetHandle(HBITMAP handle)
{
    if (handle == handle_)
        return;
    if (handle_)
        ::DeleteObject(handle_);
    handle_ = handle;
}

HBITMAP Bitmap::ReleaseHandle()
{
    HBITMAP h = handle_;
    handle_ = nullptr;
    return h;
}

bool Bitmap::Empty() const
{
    return !IsBitmap(handle_);
}

int Bitmap::Width() const
{
    BITMAP bm;
    return ::GetObject(handle_, &bm) ? bm.bmWidth : 0;
}

int Bitmap::Height() const
{
    BITMAP bm;
    return ::GetObject(handle_, &bm) ? bm.bmHeight : 0;
}

} // namespace platform

HBITMAP CreateBitmapFromPackedDib(const void *dib, std::size_t size)
{
    using namespace platform;
    PackedDibLayout l;
    if (InspectPackedDib(dib, size, &l) != DibCheck::Ok)
        return nullptr;
    if (l.pixelBytes > kMaxBitmapBytes)
        return nullptr;
    const BYTE *p = static_cast<const BYTE *>(dib);
    DibFormat f;
    f.width = l.width;
    f.rows = l.height < 0 ? -l.height : l.height;
    f.bottomUp = l.height > 0;
    f.bitCount = l.bitCount;
    f.compression = l.compression;
    const bool core = l.headerSize == sizeof(BITMAPCOREHEADER);
    std::size_t tableOffset = l.headerSize;
    if (l.compression == BI_BITFIELDS) {
        // Masks follow a plain info header; later headers carry them inside.
        const BYTE *m = p + (l.headerSize == sizeof(BITMAPINFOHEADER) ? l.headerSize : 40);
        for (int i = 0; i < 3; ++i)
            f.masks[i] = readU32(m + 4 * i);
        if (l.headerSize == sizeof(BITMAPINFOHEADER))
            tableOffset += 12;
    }
    f.palette = paletteFromQuads(p + tableOffset, l.colorCount, core ? 3 : 4);
    QImage img = decode(p + l.pixelOffset, l.stride, f);
    if (img.isNull())
        return nullptr;
    auto obj = std::make_unique<BitmapObject>();
    obj->image = std::move(img);
    return addBitmap(std::move(obj));
}

HBITMAP CreateBitmapFromImage(const QImage &image)
{
    if (image.isNull())
        return nullptr;
    auto obj = std::make_unique<platform::BitmapObject>();
    obj->image = image;
    return platform::addBitmap(std::move(obj));
}

namespace {

HBITMAP createDibSection(const BITMAPINFO *bmi, UINT usage, void **bits, bool clear)
{
    using namespace platform;
    if (bits)
        *bits = nullptr;
    if (!bmi || usage != DIB_RGB_COLORS)
        return nullptr;
    const BITMAPINFOHEADER &h = bmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB)
        return nullptr;
    if (!supportedFormat(h.biBitCount, BI_RGB) || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == LONG(0x80000000))
        return nullptr;
    const std::size_t stride = strideFor(h.biBitCount, h.biWidth);
    const std::size_t rows = std::size_t(h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight);
    if (rows > kMaxBitmapBytes / stride)
        return nullptr;
    const std::size_t bytes = stride * rows;
    auto obj = std::make_unique<BitmapObject>();
    obj->dibSection = true;
    obj->header = h;
    obj->stride = stride;
    std::size_t entries = 0;
    if (h.biBitCount <= 8)
        entries = h.biClrUsed ? std::min<std::size_t>(h.biClrUsed, std::size_t(1) << h.biBitCount)
                              : std::size_t(1) << h.biBitCount;
    else
        entries = std::min<std::size_t>(h.biClrUsed, 256);
    obj->colors.assign(bmi->bmiColors, bmi->bmiColors + entries);
    obj->bits = static_cast<BYTE *>(AllocateBlock(bytes, clear));
    if (!obj->bits)
        return nullptr;
    if (bits)
        *bits = obj->bits;
    return addBitmap(std::move(obj));
}

} // namespace

HBITMAP CreateDIBSection(const BITMAPINFO *bmi, UINT usage, void **bits)
{
    return createDibSection(bmi, usage, bits, true);
}

HBITMAP platform::CreateUnclearedDIBSection(const BITMAPINFO *bmi, void **bits)
{
    return createDibSection(bmi, DIB_RGB_COLORS, bits, false);
}

BOOL DeleteObject(HBITMAP bitmap)
{
    return platform::bitmaps().Erase(bitmap) ? TRUE : FALSE;
}

int GetObject(HBITMAP bitmap, BITMAP *out)
{
    platform::BitmapObject *o = platform::findBitmap(bitmap);
    if (!o || !out)
        return 0;
    BITMAP bm;
    bm.bmPlanes = 1;
    if (o->dibSection) {
        bm.bmWidth = o->header.biWidth;
        bm.bmHeight = o->header.biHeight < 0 ? -o->header.biHeight : o->header.biHeight;
        bm.bmWidthBytes = LONG(o->stride);
        bm.bmBitsPixel = o->header.biBitCount;
        bm.bmBits = o->bits;
    } else {
        bm.bmWidth = o->image.width();
        bm.bmHeight = o->image.height();
        bm.bmWidthBytes = LONG(o->image.bytesPerLine());
        bm.bmBitsPixel = WORD(o->image.depth());
    }
    *out = bm;
    return int(sizeof(BITMAP));
}

int GetObject(HBITMAP bitmap, DIBSECTION *out)
{
    platform::BitmapObject *o = platform::findBitmap(bitmap);
    if (!o || !out || !o->dibSection)
        return 0;
    GetObject(bitmap, &out->dsBm);
    out->dsBmih = o->header;
    return int(sizeof(DIBSECTION));
}

UINT GetDIBColorTable(HBITMAP bitmap, UINT start, UINT count, RGBQUAD *out)
{
    platform::BitmapObject *o = platform::findBitmap(bitmap);
    if (!o || !o->dibSection || !out || start >= o->colors.size())
        return 0;
    const UINT n = std::min<UINT>(count, UINT(o->colors.size()) - start);
    std::copy(o->colors.begin() + start, o->colors.begin() + start + n, out);
    return n;
}
