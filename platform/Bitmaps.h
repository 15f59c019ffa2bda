// Bitmap handles.
//
// An HBITMAP names a bitmap held by this layer: either a device-dependent
// bitmap (an image in the display's terms, made from a packed DIB or from a
// QImage) or a DIB section (a device-independent bitmap whose pixel memory
// the caller writes directly, in the DIB's own row layout).  Handles are
// freed with DeleteObject; LiveBitmapCount lets tests see leaks.
//
// Records are the published Windows formats, little-endian.
#pragma once

#include "platform/PixelRows.h"
#include "platform/WinTypes.h"

#include <QImage>

#include <cstddef>

#pragma pack(push, 2)
struct BITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct RGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
#pragma pack(pop)

static_assert(sizeof(BITMAPCOREHEADER) == 12);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(RGBTRIPLE) == 3);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD CBM_INIT = 4;
constexpr UINT DIB_RGB_COLORS = 0;

// A bitmap's description.
struct BITMAP {
    LONG bmType = 0;
    LONG bmWidth = 0;
    LONG bmHeight = 0;
    LONG bmWidthBytes = 0; // bytes per row
    WORD bmPlanes = 0;
    WORD bmBitsPixel = 0;
    void *bmBits = nullptr; // pixel memory of a DIB section, null otherwise
};

// A DIB section's description: the bitmap and the header it was made from.
struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih{};
};

namespace platform {

// The layout of a packed DIB (header, colour table, pixels in one block), as
// found by InspectPackedDib.
struct PackedDibLayout {
    DWORD headerSize = 0;
    LONG width = 0;
    LONG height = 0; // negative: top-down
    WORD bitCount = 0;
    DWORD compression = BI_RGB;
    DWORD colorCount = 0;       // entries the header announces
    std::size_t colorBytes = 0; // size of the colour table (with bit masks)
    std::size_t pixelOffset = 0;
    std::size_t stride = 0;
    std::size_t pixelBytes = 0;
};

enum class DibCheck {
    Ok,
    Truncated,   // header, colour table or pixels exceed the block
    BadHeader,   // not a DIB header
    Unsupported, // a DIB, but no format this layer converts
};

// Checks that a packed DIB of |size| bytes is whole and describes it.
DibCheck InspectPackedDib(const void *dib, std::size_t size, PackedDibLayout *layout);

// Largest pixel memory a bitmap may have.
constexpr std::size_t kMaxBitmapBytes = std::size_t(1) << 30;

// CreateDIBSection without clearing the pixel memory: for a caller that
// writes every byte itself (or clears what it leaves) before the bitmap is
// read, so a large page is not written twice.
HBITMAP CreateUnclearedDIBSection(const BITMAPINFO *bmi, void **bits);

} // namespace platform

// A device-dependent bitmap from a packed DIB of |size| bytes (1, 4, 8, 16,
// 24 and 32 bits; core and info headers; bottom-up and top-down).  Null when
// the DIB is damaged or of a format not supported.
HBITMAP CreateBitmapFromPackedDib(const void *dib, std::size_t size);
// A device-dependent bitmap holding a copy of |image|; null for a null image.
HBITMAP CreateBitmapFromImage(const QImage &image);
// A DIB section after |bmi| (BI_RGB, 1, 4, 8, 16, 24 or 32 bits), its
// colour table taken from bmi->bmiColors (biClrUsed entries, or the full
// table for the bit count when 0; never more than 256).  The zero-filled
// pixel memory is returned in |bits|.  Null (and |bits| null) on failure.
HBITMAP CreateDIBSection(const BITMAPINFO *bmi, UINT usage, void **bits);
BOOL DeleteObject(HBITMAP bitmap);
// Fills the description; returns the bytes written, 0 for an unknown handle
// (a DIBSECTION is filled only for DIB sections).
int GetObject(HBITMAP bitmap, BITMAP *out);
int GetObject(HBITMAP bitmap, DIBSECTION *out);
// Copies colour-table entries of a DIB section; returns how many.
UINT GetDIBColorTable(HBITMAP bitmap, UINT start, UINT count, RGBQUAD *out);

namespace platform {

// The pixels of a bitmap as an image (null image for an unknown handle).
QImage BitmapToImage(HBITMAP bitmap);
bool IsBitmap(HBITMAP bitmap);
std::size_t LiveBitmapCount();

// A bitmap object: owns one bitmap handle and deletes it with itself.
class Bitmap {
public:
    Bitmap() = default;
    explicit Bitmap(HBITMAP handle) : handle_(handle) {}
    ~Bitmap();
    Bitmap(const Bitmap &) = delete;
    Bitmap &operator=(const Bitmap &) = delete;

    HBITMAP Handle() const { return handle_; }
    // Takes ownership of |handle|; the previous handle is deleted.
    void SetHandle(HBITMAP handle);
    // Gives up ownership and returns the handle.
    HBITMAP ReleaseHandle();
    bool Empty() const;
    int Width() const;
    int Height() const;
    QImage ToImage() const { return BitmapToImage(handle_); }

private:
    HBITMAP handle_ = nullptr;
};

} // namespace platform
