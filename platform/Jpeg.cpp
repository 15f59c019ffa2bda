#include "platform/Jpeg.h"

#include "platform/ImageMemory.h"
#include "platform/PixelRows.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include <jpeglib.h>
#include <jerror.h>
#include <sys/mman.h>

// libjpeg reports fatal errors through error_exit, which must not return.
// We leave it with longjmp.  Every function that calls setjmp below is plain
// C in spirit: it owns no object with a destructor, keeps everything it may
// need after the jump in the state record it was given (not in locals), and
// frees what the library or it allocated before returning.  The C++ callers
// turn the outcome into objects and exceptions afterwards.

namespace platform {

namespace {

std::size_t g_maxPixels = std::size_t(200) * 1000 * 1000;

constexpr char kTooLargeText[] = "Das Bild ist zu groß oder leer.";
constexpr char kNoMemoryText[] = "Nicht genügend Speicher für das Bild.";
constexpr char kUnreadableText[] = "Die JPEG-Datei kann nicht gelesen werden.";
constexpr char kNotWrittenText[] = "Das Bild kann nicht als JPEG gespeichert werden.";
constexpr char kEmptyImageText[] = "Ein leeres Bild kann nicht als JPEG gespeichert werden.";

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// The library's messages that damaged or unusual files cause, in German;
// the parameters are the library's own (msg_parm.i).
struct GermanMessage {
    int code;
    const char *format;
};

constexpr GermanMessage kGermanMessages[] = {
    {JERR_NO_SOI, "Keine JPEG-Datei: beginnt mit 0x%02x 0x%02x"},
    {JERR_INPUT_EMPTY, "Die JPEG-Datei ist leer."},
    {JERR_INPUT_EOF, "Die JPEG-Datei endet vorzeitig."},
    {JERR_BAD_PRECISION, "Nicht unterstützte Genauigkeit der JPEG-Daten: %d"},
    {JERR_IMAGE_TOO_BIG, "Die größte unterstützte Bildabmessung ist %u Pixel."},
    {JERR_EMPTY_IMAGE, "Leeres JPEG-Bild."},
    {JERR_SOF_UNSUPPORTED, "Nicht unterstütztes JPEG-Verfahren: SOF-Typ 0x%02x"},
    {JERR_BAD_HUFF_TABLE, "Ungültige Huffman-Tabelle in der JPEG-Datei."},
    {JERR_NO_HUFF_TABLE, "Die Huffman-Tabelle 0x%02x ist nicht definiert."},
    {JERR_NO_QUANT_TABLE, "Die Quantisierungstabelle 0x%02x ist nicht definiert."},
    {JERR_BAD_COMPONENT_ID, "Ungültige Komponentennummer %d im Scan-Kopf."},
    {JERR_BAD_LENGTH, "Ungültige Länge eines Markers in der JPEG-Datei."},
    {JERR_SOI_DUPLICATE, "Ungültiger Aufbau der JPEG-Datei: zwei SOI-Marker."},
    {JERR_SOF_DUPLICATE, "Ungültiger Aufbau der JPEG-Datei: zwei SOF-Marker."},
    {JERR_SOS_NO_SOF, "Ungültiger Aufbau der JPEG-Datei: SOS vor SOF."},
    {JERR_SOF_NO_SOS, "Ungültiger Aufbau der JPEG-Datei: SOS-Marker fehlt."},
    {JERR_EOI_EXPECTED, "Mehr als ein Scan war nicht erwartet."},
    {JERR_OUT_OF_MEMORY, "Nicht genügend Speicher für das Bild."},
    {JERR_BAD_PROGRESSION, "Ungültige Parameter der progressiven JPEG-Datei: Ss=%d Se=%d Ah=%d Al=%d"},
    {JERR_COMPONENT_COUNT, "Zu viele Farbkomponenten: %d, höchstens %d"},
    {JERR_UNKNOWN_MARKER, "Nicht unterstützter Marker-Typ 0x%02x"},
    {JERR_BAD_SAMPLING, "Ungültige Abtastfaktoren in der JPEG-Datei."},
    {JERR_ARITH_NOTIMPL, "Arithmetische Kodierung wird nicht unterstützt."},
    {JERR_BAD_DCT_COEF, "DCT-Koeffizient außerhalb des gültigen Bereichs."},
    {JERR_BAD_DCTSIZE, "IDCT-Blockgröße %d wird nicht unterstützt."},
    {JERR_WIDTH_OVERFLOW, "Das Bild ist zu breit."},
    {JERR_CONVERSION_NOTIMPL, "Nicht unterstützte Farbumwandlung."},
    {JERR_NOTIMPL, "Die angeforderten Eigenschaften sind unvereinbar."},
    {JERR_TOO_LITTLE_DATA, "Die JPEG-Datei enthält zu wenige Bildzeilen."},
};

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    err->message[0] = '\0';
    const int code = cinfo->err->msg_code;
    const int *p = cinfo->err->msg_parm.i;
    const char *format = nullptr;
    for (const GermanMessage &m : kGermanMessages)
        if (m.code == code)
            format = m.format;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (format)
        std::snprintf(err->message, sizeof err->message, format, p[0], p[1], p[2], p[3]);
    else
        std::snprintf(err->message, sizeof err->message,
                      "Die JPEG-Datei ist beschädigt oder wird nicht unterstützt (Fehler %d).", code);
#pragma GCC diagnostic pop
    std::longjmp(err->jump, 1);
}

// Warnings (for example a file that ends early) are not fatal; the library
// goes on with what it has.  Nothing is printed.
extern "C" void onJpegMessage(j_common_ptr) {}

// Progressive files may hold any number of scans, each costing a pass over
// the whole coefficient buffer; a damaged file can make that endless.
constexpr int kMaxScans = 1000;

extern "C" void onJpegProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "Zu viele Durchgänge in der progressiven JPEG-Datei.");
        std::longjmp(err->jump, 1);
    }
}

// Output into one growing malloc'd block that the encoder's state owns, so
// the error path can free it whatever the library did before failing.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    unsigned char *buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;
};

extern "C" void destInit(j_compress_ptr cinfo)
{
    auto *d = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    if (!d->buffer) {
        d->capacity = std::size_t(1) << 16;
        d->buffer = static_cast<unsigned char *>(std::malloc(d->capacity));
        if (!d->buffer)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    }
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->capacity;
}

extern "C" boolean destEmpty(j_compress_ptr cinfo)
{
    auto *d = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    const std::size_t used = d->capacity;
    auto *grown = static_cast<unsigned char *>(std::realloc(d->buffer, d->capacity * 2));
    if (!grown)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
    d->buffer = grown;
    d->capacity *= 2;
    d->pub.next_output_byte = d->buffer + used;
    d->pub.free_in_buffer = d->capacity - used;
    return TRUE;
}

extern "C" void destTerm(j_compress_ptr cinfo)
{
    auto *d = reinterpret_cast<MemoryDestination *>(cinfo->dest);
    d->size = d->capacity - d->pub.free_in_buffer;
}

void setupErrors(ErrorManager &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.output_message = onJpegMessage;
    err.message[0] = '\0';
}

// ---- decoding ----------------------------------------------------------

struct DecodeState {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    const unsigned char *data = nullptr;
    unsigned long size = 0;
    std::size_t maxPixels = 0;
    // Called once the size is known; returns the first byte of the
    // destination rows (32 bits per pixel) and their stride, or null when
    // no memory could be had.  Must not throw.
    unsigned char *(*allocate)(void *ctx, int w, int h, std::size_t *stride) = nullptr;
    void *ctx = nullptr;
    jpeg_progress_mgr progress;
    unsigned char *cmykRow = nullptr; // malloc'd, CMYK input only
    bool tooLarge = false;
    bool noMemory = false;
};

// Returns true on success.  |st.err.message| holds the library's text on
// failure.
bool decodeRaw(DecodeState &st)
{
    jpeg_decompress_struct *cinfo = &st.cinfo;
    cinfo->err = &st.err.pub;
    setupErrors(st.err);
    if (setjmp(st.err.jump)) {
        std::free(st.cmykRow);
        st.cmykRow = nullptr;
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    st.progress.progress_monitor = onJpegProgress;
    cinfo->progress = &st.progress;
    jpeg_mem_src(cinfo, st.data, st.size);
    jpeg_read_header(cinfo, TRUE);

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(cinfo);
    const std::size_t w = cinfo->output_width;
    const std::size_t h = cinfo->output_height;
    if (w == 0 || h == 0 || w > 65535 || h > 65535 || w * h > st.maxPixels) {
        st.tooLarge = true;
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    std::size_t stride = 0;
    unsigned char *first = st.allocate(st.ctx, int(w), int(h), &stride);
    if (!first) {
        st.noMemory = true;
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    if (cmyk) {
        st.cmykRow = static_cast<unsigned char *>(std::malloc(w * 4));
        if (!st.cmykRow) {
            st.noMemory = true;
            jpeg_destroy_decompress(cinfo);
            return false;
        }
    }
    jpeg_start_decompress(cinfo);
    // Adobe writes CMYK inverted; libjpeg passes the values through.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < cinfo->output_height) {
        unsigned char *dst = first + std::size_t(cinfo->output_scanline) * stride;
        if (!cmyk) {
            JSAMPROW row = dst;
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
                break;
            continue;
        }
        JSAMPROW row = st.cmykRow;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            break;
        const unsigned char *s = st.cmykRow;
        for (std::size_t x = 0; x < w; ++x, s += 4, dst += 4) {
            unsigned c = s[0], m = s[1], y = s[2], k = s[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            // Now c, m, y, k are "amount of white" per channel.
            dst[0] = static_cast<unsigned char>(y * k / 255);
            dst[1] = static_cast<unsigned char>(m * k / 255);
            dst[2] = static_cast<unsigned char>(c * k / 255);
            dst[3] = 0xFF;
        }
    }
    // Fails (JERR_TOO_LITTLE_DATA) unless every row was written, so a
    // picture handed out never shows what its memory held before.
    jpeg_finish_decompress(cinfo);
    std::free(st.cmykRow);
    st.cmykRow = nullptr;
    jpeg_destroy_decompress(cinfo);
    return true;
}

// ---- encoding ----------------------------------------------------------

struct EncodeState {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    // Row y of the picture starts at first + y * step: 32-bit pixels in
    // blue-green-red-x order, or 24-bit blue-green-red pixels (bgr24).
    const unsigned char *first = nullptr;
    std::ptrdiff_t step = 0;
    bool bgr24 = false;
    int width = 0;
    int height = 0;
    int quality = 75;
    unsigned char *row = nullptr; // malloc'd 24-bit row (32-bit input only)
    MemoryDestination dest;       // its buffer is malloc'd, freed by the caller
    bool noMemory = false;
};

// Rows handed to the library per call when they are used where they lie.
constexpr int kRowsPerWrite = 16;

bool encodeRaw(EncodeState &st)
{
    jpeg_compress_struct *cinfo = &st.cinfo;
    cinfo->err = &st.err.pub;
    setupErrors(st.err);
    if (setjmp(st.err.jump)) {
        std::free(st.row);
        st.row = nullptr;
        jpeg_destroy_compress(cinfo);
        std::free(st.dest.buffer);
        st.dest.buffer = nullptr;
        return false;
    }
    jpeg_create_compress(cinfo);
#ifdef JCS_EXTENSIONS
    const bool convert = !st.bgr24;
#else
    const bool convert = true;
#endif
    if (convert) {
        st.row = static_cast<unsigned char *>(std::malloc(std::size_t(st.width) * 3));
        if (!st.row) {
            st.noMemory = true;
            jpeg_destroy_compress(cinfo);
            return false;
        }
    }
    st.dest.capacity = std::max<std::size_t>(std::size_t(1) << 16, std::size_t(st.width) * std::size_t(st.height) / 8);
    st.dest.buffer = static_cast<unsigned char *>(std::malloc(st.dest.capacity));
    if (!st.dest.buffer) {
        st.noMemory = true;
        std::free(st.row);
        st.row = nullptr;
        jpeg_destroy_compress(cinfo);
        return false;
    }
    st.dest.pub.init_destination = destInit;
    st.dest.pub.empty_output_buffer = destEmpty;
    st.dest.pub.term_destination = destTerm;
    cinfo->dest = &st.dest.pub;
    cinfo->image_width = JDIMENSION(st.width);
    cinfo->image_height = JDIMENSION(st.height);
    cinfo->input_components = 3;
#ifdef JCS_EXTENSIONS
    cinfo->in_color_space = JCS_EXT_BGR;
#else
    cinfo->in_color_space = JCS_RGB;
#endif
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, st.quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    if (!convert) {
        // The rows are already what the library takes; it only reads them.
        JSAMPROW rows[kRowsPerWrite];
        while (cinfo->next_scanline < cinfo->image_height) {
            const JDIMENSION y = cinfo->next_scanline;
            const JDIMENSION n = std::min<JDIMENSION>(kRowsPerWrite, cinfo->image_height - y);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = const_cast<JSAMPROW>(st.first + std::ptrdiff_t(y + i) * st.step);
            jpeg_write_scanlines(cinfo, rows, n);
        }
    }
    while (cinfo->next_scanline < cinfo->image_height) {
        const unsigned char *s = st.first + std::ptrdiff_t(cinfo->next_scanline) * st.step;
#ifdef JCS_EXTENSIONS
        // 32-bit input to 24-bit rows in the memory order of the pixels
        // (blue, green, red).
        bgrxToBgr(s, st.row, std::size_t(st.width));
#else
        unsigned char *d = st.row;
        const int size = st.bgr24 ? 3 : 4;
        for (int x = 0; x < st.width; ++x, s += size, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
#endif
        JSAMPROW r = st.row;
        jpeg_write_scanlines(cinfo, &r, 1);
    }
    jpeg_finish_compress(cinfo);
    std::free(st.row);
    st.row = nullptr;
    jpeg_destroy_compress(cinfo);
    return true;
}

// ---- quantisation tables -------------------------------------------------

struct QuantState {
    jpeg_decompress_struct dcinfo;
    jpeg_compress_struct ccinfo;
    ErrorManager err;
    const unsigned char *data = nullptr;
    unsigned long size = 0;
    int quality = 0;
    int table = 0;
    unsigned short values[DCTSIZE2] = {};
    bool found = false;
};

bool readQuantRaw(QuantState &st)
{
    jpeg_decompress_struct *cinfo = &st.dcinfo;
    cinfo->err = &st.err.pub;
    setupErrors(st.err);
    if (setjmp(st.err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, st.data, st.size);
    jpeg_read_header(cinfo, TRUE);
    if (st.table >= 0 && st.table < NUM_QUANT_TBLS && cinfo->quant_tbl_ptrs[st.table]) {
        for (int i = 0; i < DCTSIZE2; ++i)
            st.values[i] = cinfo->quant_tbl_ptrs[st.table]->quantval[i];
        st.found = true;
    }
    jpeg_destroy_decompress(cinfo);
    return true;
}

bool defaultQuantRaw(QuantState &st)
{
    jpeg_compress_struct *cinfo = &st.ccinfo;
    cinfo->err = &st.err.pub;
    setupErrors(st.err);
    if (setjmp(st.err.jump)) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    cinfo->in_color_space = JCS_RGB;
    cinfo->input_components = 3;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, st.quality, TRUE);
    if (st.table >= 0 && st.table < NUM_QUANT_TBLS && cinfo->quant_tbl_ptrs[st.table]) {
        for (int i = 0; i < DCTSIZE2; ++i)
            st.values[i] = cinfo->quant_tbl_ptrs[st.table]->quantval[i];
        st.found = true;
    }
    jpeg_destroy_compress(cinfo);
    return true;
}

// ---- memory of decoded pictures -----------------------------------------
//
// Documents are opened one after another, mostly of one size.  Memory fresh
// from the system is handed out zeroed page by page, which for a scanned page
// costs about a fifth of decoding it.  So the memory of the last large
// decoded picture to be freed is kept and given to the next picture of
// about its size.  The decoder writes every pixel of the pictures it makes,
// so nothing of the earlier picture shows.

constexpr std::size_t kLargePictureBytes = std::size_t(8) << 20;
// Memory above this is given back at once rather than kept.
constexpr std::size_t kMaxKeptBytes = std::size_t(256) << 20;

struct Block {
    void *address;
    std::size_t length;
};

std::mutex g_spareMutex;
Block g_spare{nullptr, 0};

void releaseBlock(void *info)
{
    auto *block = static_cast<Block *>(info);
    Block old{nullptr, 0};
    if (block->length <= kMaxKeptBytes) {
        const std::lock_guard<std::mutex> lock(g_spareMutex);
        old = g_spare;
        g_spare = *block;
    } else {
        old = *block;
    }
    if (old.address)
        ::munmap(old.address, old.length);
    delete block;
}

// The kept memory when it fits |length| without wasting more than a quarter,
// else new memory; null when none can be had.
Block takeBlock(std::size_t length)
{
    {
        const std::lock_guard<std::mutex> lock(g_spareMutex);
        if (g_spare.address && g_spare.length >= length && g_spare.length - length <= length / 4) {
            const Block kept = g_spare;
            g_spare = Block{nullptr, 0};
            return kept;
        }
    }
    void *address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return Block{nullptr, 0};
#ifdef MADV_HUGEPAGE
    ::madvise(address, length, MADV_HUGEPAGE);
#endif
    return Block{address, length};
}

// A picture of w x h pixels at 32 bits, its memory not cleared.  A failed
// allocation gives a null image; nothing here throws.
QImage decodedPicture(int w, int h)
{
    const std::size_t bytesPerLine = std::size_t(w) * 4;
    const std::size_t length = bytesPerLine * std::size_t(h);
    if (length < kLargePictureBytes)
        return newImage(w, h, QImage::Format_RGB32);
    auto *block = new (std::nothrow) Block(takeBlock(length));
    if (!block)
        return QImage();
    if (!block->address) {
        delete block;
        return QImage();
    }
    QImage image;
    try {
        image = QImage(static_cast<uchar *>(block->address), w, h, qsizetype(bytesPerLine), QImage::Format_RGB32,
                       releaseBlock, block);
    } catch (...) {
    }
    if (image.isNull())
        releaseBlock(block);
    return image;
}

unsigned char *allocateImage(void *ctx, int w, int h, std::size_t *stride)
{
    auto *img = static_cast<QImage *>(ctx);
    *img = decodedPicture(w, h);
    if (img->isNull())
        return nullptr;
    *stride = std::size_t(img->bytesPerLine());
    return img->bits();
}

} // namespace

std::size_t maxImagePixels()
{
    return g_maxPixels;
}

void setMaxImagePixels(std::size_t pixels)
{
    g_maxPixels = pixels;
}

QImage decodeJpeg(const std::uint8_t *data, std::size_t size)
{
    if (!data || size == 0)
        throw JpegError("Die JPEG-Datei ist leer.");
    QImage image;
    auto st = std::make_unique<DecodeState>();
    st->data = data;
    st->size = static_cast<unsigned long>(size);
    st->maxPixels = g_maxPixels;
    st->allocate = allocateImage;
    st->ctx = &image;
    if (!decodeRaw(*st)) {
        if (st->tooLarge)
            throw JpegError(kTooLargeText);
        if (st->noMemory)
            throw JpegError(kNoMemoryText);
        throw JpegError(st->err.message[0] ? st->err.message : kUnreadableText);
    }
    return image;
}

namespace {

std::vector<std::uint8_t> encode(EncodeState &st)
{
    if (!encodeRaw(st)) {
        if (st.noMemory)
            throw JpegError(kNoMemoryText);
        throw JpegError(st.err.message[0] ? st.err.message : kNotWrittenText);
    }
    std::unique_ptr<unsigned char, decltype(&std::free)> buffer(st.dest.buffer, &std::free);
    st.dest.buffer = nullptr;
    return std::vector<std::uint8_t>(buffer.get(), buffer.get() + st.dest.size);
}

} // namespace

std::vector<std::uint8_t> encodeJpeg(const QImage &source, int quality)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        throw JpegError(kEmptyImageText);
    QImage image = source;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        throw JpegError(kNoMemoryText);
    auto st = std::make_unique<EncodeState>();
    st->first = image.constBits();
    st->step = std::ptrdiff_t(image.bytesPerLine());
    st->width = image.width();
    st->height = image.height();
    st->quality = std::clamp(quality, 1, 100);
    return encode(*st);
}

std::vector<std::uint8_t> encodeJpegBgrRows(const std::uint8_t *first, std::ptrdiff_t step, int width, int height,
                                            int quality)
{
    if (!first || width <= 0 || height <= 0)
        throw JpegError(kEmptyImageText);
    auto st = std::make_unique<EncodeState>();
    st->first = first;
    st->step = step;
    st->bgr24 = true;
    st->width = width;
    st->height = height;
    st->quality = std::clamp(quality, 1, 100);
    return encode(*st);
}

std::vector<std::uint16_t> jpegQuantTable(const std::uint8_t *data, std::size_t size, int table)
{
    if (!data || size == 0)
        return {};
    auto st = std::make_unique<QuantState>();
    st->data = data;
    st->size = static_cast<unsigned long>(size);
    st->table = table;
    if (!readQuantRaw(*st) || !st->found)
        return {};
    return std::vector<std::uint16_t>(st->values, st->values + DCTSIZE2);
}

std::vector<std::uint16_t> jpegDefaultQuantTable(int quality, int table)
{
    auto st = std::make_unique<QuantState>();
    st->quality = std::clamp(quality, 1, 100);
    st->table = table;
    if (!defaultQuantRaw(*st) || !st->found)
        return {};
    return std::vector<std::uint16_t>(st->values, st->values + DCTSIZE2);
}

} // namespace platform
