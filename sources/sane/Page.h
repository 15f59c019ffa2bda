// A scanned page and the conversion of SANE frames into it.
//
// A page is held as a packed DIB in a movable global block (40-byte info
// header, colour table, bottom-up rows padded to four bytes), the form a
// native transfer hands over as it is.  Three kinds exist:
//   black and white: 1 bit per pixel, colour table white, black (a set bit is
//                    black, as in SANE's line-art frames);
//   gray:            8 bits per pixel, colour table of 256 grey levels;
//   colour:          24 bits per pixel, blue, green, red.
// Deeper samples (16 bits) keep their high byte.  The memory, file and TIFF
// forms of the other transfer modes are made from the DIB.
#pragma once

#include "platform/WinTypes.h"

#include <sane/sane.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sane_source {

enum class PixelKind { BlackWhite, Gray, Rgb };

// Owns one packed DIB block.  Move-only; frees the block when destroyed.
class Page {
public:
    Page() = default;
    Page(HGLOBAL dib, PixelKind kind, int width, int height);
    ~Page();
    Page(Page &&other) noexcept;
    Page &operator=(Page &&other) noexcept;
    Page(const Page &) = delete;
    Page &operator=(const Page &) = delete;

    bool valid() const { return dib_ != nullptr; }
    PixelKind kind() const { return kind_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int bitsPerPixel() const;
    // Bytes per DIB row, padded to four bytes.
    std::size_t stride() const;
    // Resolution in dots per inch, as the device scanned it.
    double xDpi = 0;
    double yDpi = 0;

    // The DIB block; stays owned by the page.
    HGLOBAL dib() const { return dib_; }
    // Gives the block away (a native transfer); the page is empty after it.
    HGLOBAL release();

    // Row |y| of the picture, counted from the top, in DIB layout.  The page
    // must be valid and 0 <= y < height.  Locks nothing: the block stays
    // locked for the page's life.
    const std::uint8_t *row(int y) const;

    // Writes the DIB's pixels per metre from xDpi and yDpi.
    void stampResolution();

private:
    void reset();

    HGLOBAL dib_ = nullptr;
    std::uint8_t *bits_ = nullptr; // first byte of the pixel rows (locked)
    PixelKind kind_ = PixelKind::Gray;
    int width_ = 0;
    int height_ = 0;
};

// Bytes per DIB row of |width| pixels of |kind|.
std::size_t dibStride(PixelKind kind, int width);
// Size of the header and colour table in front of the rows.
std::size_t dibHeaderBytes(PixelKind kind);

// Builds a page from the frames sane_read delivers.  Feed it the parameters
// of each frame (after sane_start), then the frame's bytes in any pieces,
// then endFrame; after the last frame, take the page.  Rows are converted as
// soon as they are complete, straight into the DIB when the height is known
// in advance.  Every length and count from the device is checked: bytes
// beyond the announced rows are ignored, a frame that ends early leaves the
// page shorter (or, for later frames of a three-pass scan, those rows blank).
class PageBuilder {
public:
    PageBuilder() = default;
    ~PageBuilder();
    PageBuilder(const PageBuilder &) = delete;
    PageBuilder &operator=(const PageBuilder &) = delete;

    // Starts a frame.  False (with |error| set) for a frame this source
    // cannot take: unknown format or depth, a frame that does not match the
    // first one of a three-pass scan, a page too large for memory.
    bool beginFrame(const SANE_Parameters &params, QString *error);
    void addData(const std::uint8_t *data, std::size_t length);
    // Ends the current frame; true when it was the last one of the page.
    bool endFrame();

    // Bytes of all frames expected so far (0 while the height is unknown).
    std::uint64_t expectedBytes() const { return expectedBytes_; }
    std::uint64_t receivedBytes() const { return receivedBytes_; }
    // Rows the current frame has completed.
    int rowsDone() const { return rowsDone_; }

    // The finished page.  Returns an empty page when no row arrived.
    Page takePage(double xDpi, double yDpi);

private:
    bool ensureRow(int y);
    std::uint8_t *targetRow(int y);
    void convertRow(const std::uint8_t *src, std::uint8_t *dst) const;
    void freeStorage();

    // First frame's shape.
    bool started_ = false;
    PixelKind kind_ = PixelKind::Gray;
    int width_ = 0;
    int height_ = -1; // -1: not known before the end
    std::size_t stride_ = 0;

    // Current frame.
    SANE_Parameters frame_{};
    int channel_ = -1; // 0 blue, 1 green, 2 red for a single-colour frame
    std::size_t srcRowBytes_ = 0; // pixel bytes of a source row (<= bytes_per_line)
    std::vector<std::uint8_t> partial_;
    std::size_t partialFill_ = 0;
    int rowsDone_ = 0;
    int frameRowLimit_ = 0; // rows the current frame may write
    int frames_ = 0;
    std::vector<char> channelsSeen_ = std::vector<char>(3, 0);
    bool lastFrame_ = false;

    // Storage: the DIB block (known height) or growing top-down rows.
    HGLOBAL dib_ = nullptr;
    std::uint8_t *dibBits_ = nullptr;
    std::vector<std::uint8_t> grow_;
    int rowsStored_ = 0; // rows written by the first frame (height of the page)

    std::uint64_t expectedBytes_ = 0;
    std::uint64_t receivedBytes_ = 0;
};

// Top-down strips for a memory transfer: rows of stride() bytes; colour rows
// red, green, blue; |vanilla| turns black-and-white and gray rows so that 0
// is white.  Copies |rows| rows starting at |firstRow| into |dst|.
void copyMemoryRows(const Page &page, int firstRow, int rows, bool vanilla, std::uint8_t *dst);

// The page as a Windows bitmap file.
std::vector<std::uint8_t> encodeBmpFile(const Page &page);
// The page as a baseline TIFF file (one strip per row group, no
// compression; line art with 0 as white).  Empty on failure.
std::vector<std::uint8_t> encodeTiff(const Page &page);

} // namespace sane_source
