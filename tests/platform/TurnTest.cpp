#include "platform/PixelRows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

// Every way of turning gives, for sizes around the block and tile edges and
// with padded rows, exactly the pixel the definition names, and writes
// nothing outside the target's rows.
class TurnPaths : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(TurnPaths, EveryPixelLandsWhereTheTurnPutsItAndNothingElseIsWritten)
{
    const auto [path, width, height] = GetParam();
    const std::size_t srcStride = std::size_t(width) * 4 + 12; // padded rows
    const std::size_t dstStride = std::size_t(height) * 4 + 20;
    std::vector<std::uint8_t> src(srcStride * std::size_t(height));
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const std::uint32_t v = std::uint32_t(r) << 16 | std::uint32_t(c);
            std::memcpy(&src[srcStride * std::size_t(r) + std::size_t(c) * 4], &v, 4);
        }
    constexpr std::uint8_t kUntouched = 0xA5;
    std::vector<std::uint8_t> dst(dstStride * std::size_t(width), kUntouched);

    ASSERT_TRUE(platform::TurnClockwise32With(path, src.data(), srcStride, width, height, dst.data(), dstStride));

    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < height; ++x) {
            std::uint32_t got = 0;
            std::memcpy(&got, &dst[dstStride * std::size_t(y) + std::size_t(x) * 4], 4);
            const std::uint32_t want = std::uint32_t(height - 1 - x) << 16 | std::uint32_t(y);
            ASSERT_EQ(got, want) << "target row " << y << ", column " << x;
        }
        for (std::size_t b = std::size_t(height) * 4; b < dstStride; ++b)
            ASSERT_EQ(dst[dstStride * std::size_t(y) + b], kUntouched) << "padding of row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(SizesAroundBlocksAndTiles, TurnPaths,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(1, 7, 8, 129),
                                            ::testing::Values(1, 5, 128, 131)));

TEST(TurnPaths, UnknownPathWritesNothing)
{
    std::uint32_t src = 7, dst = 9;
    EXPECT_FALSE(platform::TurnClockwise32With(99, reinterpret_cast<std::uint8_t *>(&src), 4, 1, 1,
                                               reinterpret_cast<std::uint8_t *>(&dst), 4));
    EXPECT_EQ(dst, 9u);
}

} // namespace
