// Hands the text layer's cache reader damaged cache files.  Whatever it
// accepts must lie inside the picture and come back unchanged when written
// and read again.
//
// Input: the bytes of a cache file, read for a picture of 1000 x 500.
#include "preview/TextLayer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QSize picture(1000, 500);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto words = DecodeTextCache(bytes, picture);
    if (!words)
        return 0;
    for (const platform::RecognizedWord &w : *words)
        if (!QRect(QPoint(0, 0), picture).contains(w.box) || w.text.isEmpty())
            std::abort();
    if (DecodeTextCache(EncodeTextCache(picture, *words), picture) != words)
        std::abort();
    return 0;
}
