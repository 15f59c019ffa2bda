#include "sources/sane/Page.h"

#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"

#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace sane_source {

namespace {

// The largest page this source takes: far beyond any A3 page at 1200 dpi in
// colour (about 700 MB), small enough that every offset fits a DIB's fields.
constexpr std::uint64_t kMaxPageBytes = std::uint64_t(1) << 31;
constexpr int kMaxWidth = 1 << 20;

// Offset of the high byte of a 16-bit sample in the device's byte order
// (SANE delivers 16-bit samples in the host's order).
constexpr std::size_t kHighByte = std::endian::native == std::endian::little ? 1 : 0;

LONG pelsPerMetre(double dpi)
{
    if (!(dpi > 0) || dpi > 1e6)
        return 0;
    return LONG(std::lround(dpi / 0.0254));
}

void writeHeader(std::uint8_t *block, PixelKind kind, int width, int height)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(kind == PixelKind::BlackWhite ? 1 : kind == PixelKind::Gray ? 8 : 24);
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(dibStride(kind, width) * std::size_t(height));
    h.biClrUsed = kind == PixelKind::BlackWhite ? 2 : kind == PixelKind::Gray ? 256 : 0;
    std::memcpy(block, &h, sizeof h);
    auto *table = block + sizeof h;
    if (kind == PixelKind::BlackWhite) {
        const std::uint8_t bw[8] = {255, 255, 255, 0, 0, 0, 0, 0}; // white, black
        std::memcpy(table, bw, sizeof bw);
    } else if (kind == PixelKind::Gray) {
        for (int i = 0; i < 256; ++i) {
            table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = std::uint8_t(i);
            table[4 * i + 3] = 0;
        }
    }
}

std::size_t pixelBytes(PixelKind kind, int width)
{
    switch (kind) {
    case PixelKind::BlackWhite:
        return (std::size_t(width) + 7) / 8;
    case PixelKind::Gray:
        return std::size_t(width);
    case PixelKind::Rgb:
        return std::size_t(width) * 3;
    }
    return 0;
}

// Mask of the valid bits in the last byte of a line-art row.
std::uint8_t lastByteMask(int width)
{
    const int rest = width % 8;
    return rest == 0 ? 0xFF : std::uint8_t(0xFF << (8 - rest));
}

} // namespace

std::size_t dibStride(PixelKind kind, int width)
{
    const std::size_t bits = std::size_t(width) * (kind == PixelKind::BlackWhite ? 1 : kind == PixelKind::Gray ? 8 : 24);
    return (bits + 31) / 32 * 4;
}

std::size_t dibHeaderBytes(PixelKind kind)
{
    return sizeof(BITMAPINFOHEADER) + (kind == PixelKind::BlackWhite ? 8 : kind == PixelKind::Gray ? 1024 : 0);
}

// ---------------------------------------------------------------------------
// Page

Page::Page(HGLOBAL dib, PixelKind kind, int width, int height)
    : dib_(dib), kind_(kind), width_(width), height_(height)
{
    if (dib_)
        bits_ = static_cast<std::uint8_t *>(GlobalLock(dib_)) + dibHeaderBytes(kind_);
}

Page::~Page() { reset(); }

Page::Page(Page &&other) noexcept
    : xDpi(other.xDpi), yDpi(other.yDpi), dib_(std::exchange(other.dib_, nullptr)),
      bits_(std::exchange(other.bits_, nullptr)), kind_(other.kind_), width_(other.width_), height_(other.height_)
{
}

Page &Page::operator=(Page &&other) noexcept
{
    if (this != &other) {
        reset();
        xDpi = other.xDpi;
        yDpi = other.yDpi;
        dib_ = std::exchange(other.dib_, nullptr);
        bits_ = std::exchange(other.bits_, nullptr);
        kind_ = other.kind_;
        width_ = other.width_;
        height_ = other.height_;
    }
    return *this;
}

void Page::reset()
{
    if (dib_) {
        GlobalUnlock(dib_);
        GlobalFree(dib_);
    }
    dib_ = nullptr;
    bits_ = nullptr;
}

int Page::bitsPerPixel() const { return kind_ == PixelKind::BlackWhite ? 1 : kind_ == PixelKind::Gray ? 8 : 24; }

std::size_t Page::stride() const { return dibStride(kind_, width_); }

HGLOBAL Page::release()
{
    if (!dib_)
        return nullptr;
    stampResolution();
    GlobalUnlock(dib_);
    bits_ = nullptr;
    return std::exchange(dib_, nullptr);
}

const std::uint8_t *Page::row(int y) const { return bits_ + std::size_t(height_ - 1 - y) * stride(); }

void Page::stampResolution()
{
    if (!dib_)
        return;
    auto *h = reinterpret_cast<BITMAPINFOHEADER *>(bits_ - dibHeaderBytes(kind_));
    h->biXPelsPerMeter = pelsPerMetre(xDpi);
    h->biYPelsPerMeter = pelsPerMetre(yDpi);
}

// ---------------------------------------------------------------------------
// PageBuilder

PageBuilder::~PageBuilder() { freeStorage(); }

void PageBuilder::freeStorage()
{
    if (dib_) {
        GlobalUnlock(dib_);
        GlobalFree(dib_);
    }
    dib_ = nullptr;
    dibBits_ = nullptr;
    grow_.clear();
    grow_.shrink_to_fit();
}

bool PageBuilder::beginFrame(const SANE_Parameters &p, QString *error)
{
    auto fail = [&](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (lastFrame_)
        return fail(QStringLiteral("Der Scanner hat nach dem letzten Teilbild ein weiteres geschickt."));
    const bool single = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
    if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !single)
        return fail(QStringLiteral("Der Scanner liefert ein Bildformat, das nicht unterstützt wird."));
    if (p.depth != 1 && p.depth != 8 && p.depth != 16)
        return fail(QStringLiteral("Der Scanner liefert eine Farbtiefe von %1 Bit, die nicht unterstützt wird.")
                        .arg(p.depth));
    if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxWidth)
        return fail(QStringLiteral("Der Scanner meldet eine ungültige Bildbreite."));
    const std::uint64_t samples = p.format == SANE_FRAME_RGB ? 3 : 1;
    const std::uint64_t needed = (std::uint64_t(p.pixels_per_line) * samples * std::uint64_t(p.depth) + 7) / 8;
    if (p.bytes_per_line <= 0 || std::uint64_t(p.bytes_per_line) < needed || p.bytes_per_line > (1 << 26))
        return fail(QStringLiteral("Der Scanner meldet eine ungültige Zeilenlänge."));

    if (!started_) {
        kind_ = p.format == SANE_FRAME_GRAY ? (p.depth == 1 ? PixelKind::BlackWhite : PixelKind::Gray) : PixelKind::Rgb;
        width_ = p.pixels_per_line;
        stride_ = dibStride(kind_, width_);
        height_ = p.lines > 0 ? p.lines : -1;
        if (height_ > 0) {
            const std::uint64_t bytes = std::uint64_t(stride_) * std::uint64_t(height_) + dibHeaderBytes(kind_);
            if (bytes > kMaxPageBytes)
                return fail(QStringLiteral("Die Seite ist zu groß für den Arbeitsspeicher."));
            // A single-colour frame leaves the other channels to later frames;
            // rows they never reach stay black instead of undefined.
            dib_ = GlobalAlloc(single ? GHND : GMEM_MOVEABLE, std::size_t(bytes));
            if (!dib_)
                return fail(QStringLiteral("Für die Seite ist nicht genug Arbeitsspeicher frei."));
            auto *block = static_cast<std::uint8_t *>(GlobalLock(dib_));
            writeHeader(block, kind_, width_, height_);
            dibBits_ = block + dibHeaderBytes(kind_);
        }
        started_ = true;
        frameRowLimit_ = height_ > 0 ? height_ : std::numeric_limits<int>::max();
    } else {
        // Only the separate colour frames of a three-pass scan follow a first
        // frame, and they must have the first one's width.
        if (!single || channel_ < 0 || p.pixels_per_line != width_)
            return fail(QStringLiteral("Die Teilbilder des Scanners passen nicht zueinander."));
        frameRowLimit_ = rowsStored_;
    }
    frame_ = p;
    channel_ = p.format == SANE_FRAME_RED ? 2 : p.format == SANE_FRAME_GREEN ? 1 : p.format == SANE_FRAME_BLUE ? 0 : -1;
    if (channel_ >= 0)
        channelsSeen_[std::size_t(channel_)] = 1;
    srcRowBytes_ = std::size_t(needed);
    partial_.assign(std::size_t(p.bytes_per_line), 0);
    partialFill_ = 0;
    rowsDone_ = 0;
    lastFrame_ = p.last_frame != 0;
    if (p.lines > 0) {
        expectedBytes_ += std::uint64_t(p.bytes_per_line) * std::uint64_t(p.lines);
        // A three-pass scan announces one colour at a time; count the others.
        if (frames_ == 0 && single && !lastFrame_)
            expectedBytes_ += 2 * std::uint64_t(p.bytes_per_line) * std::uint64_t(p.lines);
    }
    return true;
}

bool PageBuilder::ensureRow(int y)
{
    if (y >= frameRowLimit_)
        return false;
    if (dib_)
        return true;
    if (frames_ > 0)
        return y < rowsStored_;
    const std::size_t need = (std::size_t(y) + 1) * stride_;
    if (need > grow_.size()) {
        if (need + dibHeaderBytes(kind_) > kMaxPageBytes)
            return false;
        try {
            if (need > grow_.capacity())
                grow_.reserve(std::max(need, grow_.capacity() * 2));
            grow_.resize(need);
        } catch (const std::bad_alloc &) {
            return false;
        }
    }
    return true;
}

std::uint8_t *PageBuilder::targetRow(int y)
{
    if (dib_)
        return dibBits_ + std::size_t(height_ - 1 - y) * stride_;
    return grow_.data() + std::size_t(y) * stride_;
}

void PageBuilder::convertRow(const std::uint8_t *src, std::uint8_t *dst) const
{
    const int w = width_;
    if (channel_ >= 0) {
        std::uint8_t *d = dst + channel_;
        if (frame_.depth == 8) {
            for (int i = 0; i < w; ++i)
                d[3 * i] = src[i];
        } else if (frame_.depth == 16) {
            for (int i = 0; i < w; ++i)
                d[3 * i] = src[2 * i + kHighByte];
        } else {
            for (int i = 0; i < w; ++i)
                d[3 * i] = (src[i / 8] & (0x80 >> (i % 8))) ? 255 : 0;
        }
        return;
    }
    const std::size_t used = pixelBytes(kind_, w);
    if (kind_ == PixelKind::BlackWhite) {
        std::memcpy(dst, src, used);
        dst[used - 1] &= lastByteMask(w);
    } else if (kind_ == PixelKind::Gray) {
        if (frame_.depth == 8) {
            std::memcpy(dst, src, used);
        } else {
            for (int i = 0; i < w; ++i)
                dst[i] = src[2 * i + kHighByte];
        }
    } else if (frame_.depth == 8) {
        for (int i = 0; i < w; ++i) {
            dst[3 * i] = src[3 * i + 2];
            dst[3 * i + 1] = src[3 * i + 1];
            dst[3 * i + 2] = src[3 * i];
        }
    } else if (frame_.depth == 16) {
        for (int i = 0; i < w; ++i) {
            dst[3 * i] = src[6 * i + 4 + kHighByte];
            dst[3 * i + 1] = src[6 * i + 2 + kHighByte];
            dst[3 * i + 2] = src[6 * i + kHighByte];
        }
    } else {
        // One bit per sample, red, green, blue one after the other; a set
        // bit is full intensity.
        for (int i = 0; i < w; ++i) {
            for (int c = 0; c < 3; ++c) {
                const int bit = 3 * i + c;
                dst[3 * i + 2 - c] = (src[bit / 8] & (0x80 >> (bit % 8))) ? 255 : 0;
            }
        }
    }
    if (used < stride_)
        std::memset(dst + used, 0, stride_ - used);
}

void PageBuilder::addData(const std::uint8_t *data, std::size_t length)
{
    if (!started_ || !data)
        return;
    receivedBytes_ += length;
    const std::size_t bpl = partial_.size();
    auto takeRow = [&](const std::uint8_t *src) {
        const int y = rowsDone_;
        if (ensureRow(y))
            convertRow(src, targetRow(y));
        if (rowsDone_ < std::numeric_limits<int>::max())
            ++rowsDone_;
    };
    while (length > 0) {
        if (partialFill_ == 0 && length >= bpl) {
            takeRow(data);
            data += bpl;
            length -= bpl;
            continue;
        }
        const std::size_t take = std::min(bpl - partialFill_, length);
        std::memcpy(partial_.data() + partialFill_, data, take);
        partialFill_ += take;
        data += take;
        length -= take;
        if (partialFill_ == bpl) {
            takeRow(partial_.data());
            partialFill_ = 0;
        }
    }
}

bool PageBuilder::endFrame()
{
    if (!started_)
        return true;
    if (frames_ == 0) {
        int stored = rowsDone_;
        if (height_ > 0)
            stored = std::min(stored, height_);
        else
            stored = int(std::min<std::size_t>(std::size_t(stored), stride_ ? grow_.size() / stride_ : 0));
        rowsStored_ = stored;
    }
    ++frames_;
    partialFill_ = 0;
    return lastFrame_;
}

Page PageBuilder::takePage(double xDpi, double yDpi)
{
    Page page;
    if (!started_ || frames_ == 0 || rowsStored_ <= 0) {
        freeStorage();
        return page;
    }
    const int rows = rowsStored_;
    HGLOBAL block = nullptr;
    if (dib_) {
        if (rows < height_) {
            // The frame ended early: its rows lie at the end of the bottom-up
            // block; move them to the front and shorten the header.
            std::memmove(dibBits_, dibBits_ + std::size_t(height_ - rows) * stride_, std::size_t(rows) * stride_);
            writeHeader(dibBits_ - dibHeaderBytes(kind_), kind_, width_, rows);
        }
        GlobalUnlock(dib_);
        block = std::exchange(dib_, nullptr);
        dibBits_ = nullptr;
    } else {
        block = GlobalAlloc(GMEM_MOVEABLE, dibHeaderBytes(kind_) + std::size_t(rows) * stride_);
        if (!block) {
            freeStorage();
            return page;
        }
        auto *p = static_cast<std::uint8_t *>(GlobalLock(block));
        writeHeader(p, kind_, width_, rows);
        std::uint8_t *bits = p + dibHeaderBytes(kind_);
        for (int y = 0; y < rows; ++y)
            std::memcpy(bits + std::size_t(rows - 1 - y) * stride_, grow_.data() + std::size_t(y) * stride_, stride_);
        GlobalUnlock(block);
        freeStorage();
    }
    page = Page(block, kind_, width_, rows);
    page.xDpi = xDpi;
    page.yDpi = yDpi;
    page.stampResolution();
    return page;
}

// ---------------------------------------------------------------------------
// Other forms of a page

void copyMemoryRows(const Page &page, int firstRow, int rows, bool vanilla, std::uint8_t *dst)
{
    const std::size_t stride = page.stride();
    const int w = page.width();
    const std::size_t used = pixelBytes(page.kind(), w);
    for (int r = 0; r < rows; ++r, dst += stride) {
        const std::uint8_t *src = page.row(firstRow + r);
        switch (page.kind()) {
        case PixelKind::BlackWhite:
            // In the page a set bit is black; chocolate wants 0 for black.
            if (vanilla) {
                std::memcpy(dst, src, stride);
            } else {
                for (std::size_t i = 0; i < used; ++i)
                    dst[i] = std::uint8_t(~src[i]);
                dst[used - 1] &= lastByteMask(w);
                std::memset(dst + used, 0, stride - used);
            }
            break;
        case PixelKind::Gray:
            if (vanilla) {
                for (std::size_t i = 0; i < used; ++i)
                    dst[i] = std::uint8_t(255 - src[i]);
                std::memset(dst + used, 0, stride - used);
            } else {
                std::memcpy(dst, src, stride);
            }
            break;
        case PixelKind::Rgb:
            for (int i = 0; i < w; ++i) {
                dst[3 * i] = src[3 * i + 2];
                dst[3 * i + 1] = src[3 * i + 1];
                dst[3 * i + 2] = src[3 * i];
            }
            std::memset(dst + used, 0, stride - used);
            break;
        }
    }
}

std::vector<std::uint8_t> encodeBmpFile(const Page &page)
{
    std::vector<std::uint8_t> out;
    if (!page.valid())
        return out;
    const std::size_t header = dibHeaderBytes(page.kind());
    const std::size_t pixels = page.stride() * std::size_t(page.height());
    const std::size_t total = 14 + header + pixels;
    if (total > std::numeric_limits<std::uint32_t>::max())
        return out;
    out.resize(total);
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        out[at] = std::uint8_t(v);
        out[at + 1] = std::uint8_t(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    put16(0, 0x4D42); // "BM"
    put32(2, std::uint32_t(total));
    put32(10, std::uint32_t(14 + header));
    const auto *block = static_cast<const std::uint8_t *>(GlobalLock(page.dib()));
    std::memcpy(out.data() + 14, block, header);
    GlobalUnlock(page.dib());
    // The rows: the page's own bottom-up order is the file's.
    std::memcpy(out.data() + 14 + header, page.row(page.height() - 1), pixels);
    return out;
}

namespace {

struct MemoryTiff {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};

tsize_t tiffRead(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryTiff *>(h);
    if (size <= 0 || m->pos >= m->bytes.size())
        return 0;
    const std::size_t n = std::min(std::size_t(size), m->bytes.size() - m->pos);
    std::memcpy(buf, m->bytes.data() + m->pos, n);
    m->pos += n;
    return tsize_t(n);
}

tsize_t tiffWrite(thandle_t h, tdata_t buf, tsize_t size)
{
    auto *m = static_cast<MemoryTiff *>(h);
    if (size < 0)
        return -1;
    const std::size_t end = m->pos + std::size_t(size);
    if (end > m->bytes.size())
        m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->pos, buf, std::size_t(size));
    m->pos = end;
    return size;
}

toff_t tiffSeek(thandle_t h, toff_t off, int whence)
{
    auto *m = static_cast<MemoryTiff *>(h);
    std::uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->bytes.size() : 0;
    const std::uint64_t target = base + off;
    if (target > kMaxPageBytes * 2)
        return toff_t(-1);
    m->pos = std::size_t(target);
    return target;
}

int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t h) { return static_cast<MemoryTiff *>(h)->bytes.size(); }
int tiffMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void tiffUnmap(thandle_t, tdata_t, toff_t) {}

} // namespace

std::vector<std::uint8_t> encodeTiff(const Page &page)
{
    if (!page.valid())
        return {};
    MemoryTiff mem;
    mem.bytes.reserve(page.stride() * std::size_t(page.height()) + 4096);
    TIFF *tif = TIFFClientOpen("page", "w", &mem, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                               tiffUnmap);
    if (!tif)
        return {};
    const int w = page.width();
    const int h = page.height();
    const PixelKind kind = page.kind();
    const std::size_t rowBytes = pixelBytes(kind, w);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, kind == PixelKind::BlackWhite ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, kind == PixelKind::Rgb ? 3 : 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 kind == PixelKind::BlackWhite ? PHOTOMETRIC_MINISWHITE
                 : kind == PixelKind::Gray     ? PHOTOMETRIC_MINISBLACK
                                               : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    const std::uint32_t rowsPerStrip = std::uint32_t(std::max<std::size_t>(1, (256 * 1024) / std::max<std::size_t>(rowBytes, 1)));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (page.xDpi > 0 && page.yDpi > 0) {
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(page.xDpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(page.yDpi));
    }
    std::vector<std::uint8_t> line(rowBytes);
    bool ok = true;
    for (int y = 0; y < h && ok; ++y) {
        const std::uint8_t *src = page.row(y);
        if (kind == PixelKind::Rgb) {
            for (int i = 0; i < w; ++i) {
                line[3 * std::size_t(i)] = src[3 * i + 2];
                line[3 * std::size_t(i) + 1] = src[3 * i + 1];
                line[3 * std::size_t(i) + 2] = src[3 * i];
            }
        } else {
            std::memcpy(line.data(), src, rowBytes);
        }
        ok = TIFFWriteScanline(tif, line.data(), std::uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
    if (!ok)
        return {};
    return std::move(mem.bytes);
}

} // namespace sane_source
