// Feeds arbitrary bytes to picture loading: the JPEG decoder and the
// Windows bitmap reader, as a document named ".jpg" or ".bmp" would get them.
#include "platform/BmpFile.h"
#include "platform/Jpeg.h"
#include "platform/Picture.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Small pictures only, so that a few header bytes cannot ask for more
    // memory than the fuzzer allows.
    platform::setMaxImagePixels(std::size_t(4) << 20);
    try {
        platform::Picture picture;
        picture.setJpegData(std::vector<std::uint8_t>(data, data + size));
        // A decoded picture must be whole and writable again.
        if (picture.image().width() <= 0 || picture.image().height() <= 0)
            __builtin_trap();
    } catch (const platform::JpegError &) {
    }
    try {
        const QImage image = platform::decodeBmp(data, size);
        if (image.isNull())
            __builtin_trap();
        if (image.width() * image.height() <= 4096)
            (void)platform::encodeBmp(image);
    } catch (const platform::BmpError &) {
    }
    return 0;
}
