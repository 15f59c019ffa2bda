// The document workflow's hot paths on a colour A4 page at 300 dpi
// (2480 x 3508 pixels), each beside the plain work it is measured against,
// all in the same run:
//  - turning by 90 degrees (BM_Rotate, BM_RotateWarm) vs. a plain copy of
//    the same bytes into a new picture / into memory already in use
//    (BM_PlainCopy, BM_PlainCopyWarm);
//  - saving a new document (BM_NewSave: bitmap file written, read back,
//    JPEG at quality 20 written through a flushed temporary file renamed
//    into place, bitmap file deleted) vs. the JPEG encoding alone:
//    BM_JpegEncode20 is this program's encoder on the 32-bit picture (its
//    24-bit row conversion included), BM_LibjpegEncode20 is libjpeg alone on
//    the same pixels already held as 24-bit rows, into its own memory
//    destination (the stricter of the two);
//  - opening a JPEG document (BM_OpenDocument: the file read, decoded into
//    a new 32-bit picture, the picture freed) vs. libjpeg alone decoding the
//    same file from memory with its defaults into a new 24-bit buffer
//    (BM_LibjpegDecode).  Both loops free their output before the next
//    round: malloc hands libjpeg's buffer back from the heap, and the
//    decoder keeps the freed picture's memory, so neither pays for fresh
//    pages after the first round.  BM_OpenDocumentWhileShown opens with the
//    previous document still held, as the main window does.
#include "app/DocumentSave.h"
#include "app/Rotation.h"
#include "platform/Jpeg.h"
#include "platform/Picture.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 2480;
constexpr int kHeight = 3508;

// A scanned page: light paper with a little noise, a coloured band and
// dark text-like strokes.
const QImage &page()
{
    static const QImage img = [] {
        QImage p(kWidth, kHeight, QImage::Format_RGB32);
        std::uint32_t seed = 12345;
        for (int y = 0; y < kHeight; ++y) {
            auto *line = reinterpret_cast<std::uint32_t *>(p.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1103515245u + 12345u;
                const int noise = int((seed >> 16) & 7);
                int r = 240 + noise, g = 238 + noise, b = 230 + noise;
                if (y > 200 && y < 500) {
                    r = 40 + x % 200;
                    g = 90;
                    b = 160 + y % 90;
                }
                if (y > 600 && (y / 40) % 2 == 0 && (x / 9) % 7 < 5 && ((x * 7 + y * 3) % 13) < 6)
                    r = g = b = 30 + noise;
                line[x] = 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
            }
        }
        return p;
    }();
    return img;
}

QTemporaryDir &workDir()
{
    static QTemporaryDir dir;
    return dir;
}

const QString &pageJpegPath()
{
    static const QString path = [] {
        const QString p = workDir().filePath("Seite.jpg");
        quillora::replaceFile(p, platform::encodeJpeg(page(), 20));
        return p;
    }();
    return path;
}

void BM_Rotate(benchmark::State &state)
{
    const QImage &src = page();
    for (auto _ : state) {
        QImage turned = quillora::rotatedClockwise(src);
        benchmark::DoNotOptimize(turned.constBits());
    }
    state.SetBytesProcessed(state.iterations() * src.sizeInBytes());
}
BENCHMARK(BM_Rotate)->Unit(benchmark::kMillisecond);

// The turn alone, into a picture whose memory is already in use.
void BM_RotateWarm(benchmark::State &state)
{
    const QImage &src = page();
    QImage target = quillora::rotatedClockwise(src);
    for (auto _ : state) {
        quillora::rotateClockwiseInto(src, target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetBytesProcessed(state.iterations() * src.sizeInBytes());
}
BENCHMARK(BM_RotateWarm)->Unit(benchmark::kMillisecond);

// A new image of the same size filled by one copy: what turning would
// cost if it were free of the change of direction.
void BM_PlainCopy(benchmark::State &state)
{
    const QImage &src = page();
    for (auto _ : state) {
        QImage copy(src.width(), src.height(), src.format());
        std::memcpy(copy.bits(), src.constBits(), std::size_t(src.sizeInBytes()));
        benchmark::DoNotOptimize(copy.constBits());
    }
    state.SetBytesProcessed(state.iterations() * src.sizeInBytes());
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

// The copy alone, into memory already touched.
void BM_PlainCopyWarm(benchmark::State &state)
{
    const QImage &src = page();
    std::vector<std::uint8_t> dst(std::size_t(src.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(dst.data(), src.constBits(), dst.size());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(state.iterations() * src.sizeInBytes());
}
BENCHMARK(BM_PlainCopyWarm)->Unit(benchmark::kMillisecond);

void BM_NewSave(benchmark::State &state)
{
    platform::Picture pic;
    pic.setBitmap(page());
    const QString folder = workDir().path() + "/";
    for (auto _ : state) {
        const QString name = quillora::writeNewDocument(pic, folder, "Neu");
        benchmark::DoNotOptimize(name.size());
    }
}
BENCHMARK(BM_NewSave)->Unit(benchmark::kMillisecond);

void BM_JpegEncode20(benchmark::State &state)
{
    for (auto _ : state) {
        auto bytes = platform::encodeJpeg(page(), 20);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_JpegEncode20)->Unit(benchmark::kMillisecond);

// libjpeg alone at quality 20 with its defaults, from the same pixels held
// as 24-bit blue-green-red rows.
void BM_LibjpegEncode20(benchmark::State &state)
{
    const QImage &src = page();
    std::vector<std::uint8_t> rows(std::size_t(kWidth) * 3 * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t *s = src.constScanLine(y);
        std::uint8_t *d = rows.data() + std::size_t(y) * kWidth * 3;
        for (int x = 0; x < kWidth; ++x, s += 4, d += 3)
            std::memcpy(d, s, 3);
    }
    for (auto _ : state) {
        unsigned char *out = nullptr;
        unsigned long size = 0;
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = kWidth;
        c.image_height = kHeight;
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 20, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row = rows.data() + std::size_t(c.next_scanline) * kWidth * 3;
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}
BENCHMARK(BM_LibjpegEncode20)->Unit(benchmark::kMillisecond);

void BM_OpenDocument(benchmark::State &state)
{
    const QString path = pageJpegPath();
    for (auto _ : state) {
        platform::Picture pic;
        pic.loadFromFile(path);
        benchmark::DoNotOptimize(pic.image().constBits());
    }
}
BENCHMARK(BM_OpenDocument)->Unit(benchmark::kMillisecond);

// As the main window does it: the next document is opened while the one
// shown is still held, and replaces it afterwards.
void BM_OpenDocumentWhileShown(benchmark::State &state)
{
    const QString path = pageJpegPath();
    platform::Picture shown;
    shown.loadFromFile(path);
    for (auto _ : state) {
        platform::Picture pic;
        pic.loadFromFile(path);
        benchmark::DoNotOptimize(pic.image().constBits());
        shown = pic;
    }
}
BENCHMARK(BM_OpenDocumentWhileShown)->Unit(benchmark::kMillisecond);

// libjpeg decoding the same file from memory with its defaults (24-bit RGB
// out), into a buffer for the whole picture.
void BM_LibjpegDecode(benchmark::State &state)
{
    const std::vector<std::uint8_t> bytes = platform::readWholeFile(pageJpegPath());
    for (auto _ : state) {
        // A new picture each time, as opening a document makes one.
        std::unique_ptr<unsigned char[]> out;
        jpeg_decompress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_decompress(&c);
        jpeg_mem_src(&c, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&c, TRUE);
        jpeg_start_decompress(&c);
        const std::size_t stride = std::size_t(c.output_width) * std::size_t(c.output_components);
        out.reset(new unsigned char[stride * c.output_height]);
        while (c.output_scanline < c.output_height) {
            JSAMPROW row = out.get() + stride * c.output_scanline;
            jpeg_read_scanlines(&c, &row, 1);
        }
        jpeg_finish_decompress(&c);
        jpeg_destroy_decompress(&c);
        benchmark::DoNotOptimize(out.get());
    }
}
BENCHMARK(BM_LibjpegDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
