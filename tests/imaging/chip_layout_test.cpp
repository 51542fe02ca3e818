#include "imaging/chip_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace ulvarin {
namespace {

constexpr uint32_t Pixel(uint32_t chip, uint32_t row, uint32_t column) {
    return chip * 65536 + row * 256 + column;
}

uint32_t At(uint32_t x, uint32_t y, int chips, ChipFamily family) {
    const ChipLayout layout{chips, family};
    return ImageIndexToPixel(y * GeometryFor(chips).width() + x, layout);
}

constexpr auto kMpx = ChipFamily::Medipix2;
constexpr auto kMxr = ChipFamily::Mxr;
constexpr auto kTpx = ChipFamily::Timepix;

TEST(ChipLayout, TileCorners) {
    EXPECT_EQ(At(255, 7, 1, kTpx), Pixel(0, 7, 255));

    EXPECT_EQ(At(0, 0, 2, kMpx), Pixel(1, 0, 0));
    EXPECT_EQ(At(256, 7, 2, kMxr), Pixel(1, 7, 0));

    // Three chips: one row, Medipix2 in reverse order.
    EXPECT_EQ(At(0, 0, 3, kMpx), Pixel(2, 0, 0));
    EXPECT_EQ(At(767, 255, 3, kMpx), Pixel(0, 255, 255));
    EXPECT_EQ(At(512, 3, 3, kTpx), Pixel(2, 3, 0));

    // Four chips: the lower two turned by 180 degrees.
    EXPECT_EQ(At(0, 0, 4, kMpx), Pixel(1, 0, 0));
    EXPECT_EQ(At(256, 0, 4, kMpx), Pixel(0, 0, 0));
    EXPECT_EQ(At(0, 256, 4, kMpx), Pixel(2, 255, 255));
    EXPECT_EQ(At(511, 511, 4, kMpx), Pixel(3, 0, 0));
    EXPECT_EQ(At(300, 400, 4, kMpx), Pixel(3, 111, 211));
    EXPECT_EQ(At(256, 0, 4, kMxr), Pixel(1, 0, 0));
    EXPECT_EQ(At(10, 300, 4, kMxr), Pixel(3, 211, 245));
    EXPECT_EQ(At(511, 511, 4, kTpx), Pixel(2, 0, 0));
}

// The image holds exactly the pixels in use, and each of them once.
TEST(ChipLayout, EveryPixelShownExactlyOnce) {
    for (int chips = 1; chips <= 4; ++chips) {
        for (ChipFamily family : {kMpx, kMxr, kTpx}) {
            const ChipLayout layout{chips, family};
            ASSERT_EQ(GeometryFor(chips).pixels(), layout.pixelsInUse());
            std::vector<int> seen(layout.pixelsInUse(), 0);
            for (uint32_t i = 0; i < GeometryFor(chips).pixels(); ++i) {
                const uint32_t p = ImageIndexToPixel(i, layout);
                ASSERT_LT(p, seen.size()) << chips << " chips, image index " << i;
                ASSERT_EQ(++seen[p], 1) << chips << " chips, pixel " << p;
            }
        }
    }
}

}  // namespace
}  // namespace ulvarin
