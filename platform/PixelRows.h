// Conversions of pixel rows between the layouts the pictures and the files
// use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Copies |pixels| 32-bit pixels (blue, green, red, unused byte) from |src|
// to |dst| as 24-bit pixels (blue, green, red), dropping the fourth byte.
// Reads exactly 4 * pixels bytes and writes exactly 3 * pixels bytes.
void bgrxToBgr(const std::uint8_t *src, std::uint8_t *dst, std::size_t pixels);

} // namespace platform
