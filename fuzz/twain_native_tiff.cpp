// A TIFF in a native transfer, as a TWAIN 2 source hands it: whatever the
// bytes, the decoder must neither read nor write outside what it owns, and
// what it returns must be a packed DIB the bitmap layer accepts.
#include "platform/Bitmaps.h"
#include "twain/NativeTiff.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<std::uint8_t> dib = TiffToPackedDib(data, size);
    if (!dib.empty()) {
        platform::PackedDibLayout layout;
        if (platform::InspectPackedDib(dib.data(), dib.size(), &layout) != platform::DibCheck::Ok)
            __builtin_trap();
    }
    return 0;
}
