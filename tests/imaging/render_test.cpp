#include "imaging/image_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace ulvarin {
namespace {

constexpr uint32_t Grey(uint32_t level) { return 0xFF000000u | level << 16 | level << 8 | level; }

TEST(ImageRender, ColourEdgesOfTheRange) {
    const DisplayRange r{10, 20};
    EXPECT_EQ(PixelColour(10, r), Grey(0));
    EXPECT_EQ(PixelColour(20, r), Grey(255));
    EXPECT_EQ(PixelColour(15, r), Grey(127));  // 0.5 * 255 truncated
    EXPECT_EQ(PixelColour(std::nextafter(10.0, 0.0), r), kBelowRangeColour);
    EXPECT_EQ(PixelColour(std::nextafter(20.0, 30.0), r), kAboveRangeColour);
    EXPECT_EQ(PixelColour(-1.23456789e300, r), kBelowRangeColour);
    EXPECT_EQ(PixelColour(NAN, r), kBelowRangeColour);
    EXPECT_EQ(PixelColour(INFINITY, r), kAboveRangeColour);
    // Exact grey levels across a range that is not a power of two wide.
    const DisplayRange odd{0, 3};
    EXPECT_EQ(PixelColour(1, odd), Grey(85));
    EXPECT_EQ(PixelColour(2, odd), Grey(170));
    EXPECT_EQ(PixelColour(3, odd), Grey(255));
}

TEST(ImageRender, FourChipImageFollowsTheChipLayout) {
    const ChipLayout layout{4, ChipFamily::Medipix2};
    std::vector<double> result(kMaxPixels, 0.0);
    result[1 * 65536] = 2;                // chip 1 row 0 column 0: image top left
    result[0 * 65536 + 255] = 1;          // chip 0 row 0 column 255: image (511, 0)
    result[3 * 65536] = 3;                // chip 3 row 0 column 0: image (511, 511)
    std::vector<uint32_t> image(512 * 512, 0);
    ASSERT_TRUE(RenderImage(result, layout, {0, 2}, image));
    EXPECT_EQ(image[0], Grey(255));
    EXPECT_EQ(image[511], Grey(127));
    EXPECT_EQ(image[511 * 512 + 511], kAboveRangeColour);
    EXPECT_EQ(image[1], Grey(0));
    EXPECT_EQ(image[511 * 512 + 510], Grey(0));
}

TEST(ImageRender, RefusesBuffersTooSmallForTheImage) {
    const ChipLayout layout{3, ChipFamily::Mxr};
    std::vector<double> result(3 * 65536, 1.0);
    std::vector<uint32_t> image(768 * 256 - 1, 7);
    EXPECT_FALSE(RenderImage(result, layout, {0, 1}, image));
    EXPECT_EQ(image[0], 7u);
    std::vector<double> shortResult(2 * 65536, 1.0);
    image.resize(768 * 256);
    EXPECT_FALSE(RenderImage(shortResult, layout, {0, 1}, image));
    EXPECT_TRUE(RenderImage(result, layout, {0, 1}, image));
    EXPECT_EQ(image.back(), Grey(255));
    EXPECT_TRUE(RenderImage(result, {0, ChipFamily::Mxr}, {0, 1}, {}));  // no chip: nothing
}

}  // namespace
}  // namespace ulvarin
