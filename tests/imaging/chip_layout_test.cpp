#include "imaging/chip_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace ulvarin {
namespace {

constexpr uint32_t Pixel(uint32_t chip, uint32_t row, uint32_t column) {
    return chip * 65536 + row * 256 + column;
}

uint32_t At(uint32_t x, uint32_t y, const ChipLayout& layout) {
    return ImageIndexToPixel(y * GeometryFor(layout.chipCount).width() + x, layout);
}

TEST(ChipLayout, FamilyAndMaskBitFollowTheFlags) {
    EXPECT_EQ(FamilyFromFlags(false, false), ChipFamily::Medipix2);
    EXPECT_EQ(FamilyFromFlags(true, false), ChipFamily::Mxr);
    EXPECT_EQ(FamilyFromFlags(true, true), ChipFamily::Timepix);
    // Only bit 11 / 0 / 7 decides; the other bits of the word do not.
    EXPECT_TRUE(IsGoodPixel(0x0800, ChipFamily::Medipix2));
    EXPECT_FALSE(IsGoodPixel(0xF7FF, ChipFamily::Medipix2));
    EXPECT_TRUE(IsGoodPixel(0x0001, ChipFamily::Mxr));
    EXPECT_FALSE(IsGoodPixel(0xFFFE, ChipFamily::Mxr));
    EXPECT_TRUE(IsGoodPixel(0x0080, ChipFamily::Timepix));
    EXPECT_FALSE(IsGoodPixel(0xFF7F, ChipFamily::Timepix));
}

TEST(ChipLayout, GeometryHoldsEveryChipOnce) {
    EXPECT_EQ(GeometryFor(0).pixels(), 65536u);
    for (int chips = 1; chips <= 4; ++chips) {
        EXPECT_EQ(GeometryFor(chips).pixels(), static_cast<uint32_t>(chips) * 65536) << chips;
    }
    EXPECT_EQ(GeometryFor(2).width(), 512u);
    EXPECT_EQ(GeometryFor(2).height(), 256u);
    EXPECT_EQ(GeometryFor(3).width(), 768u);
    EXPECT_EQ(GeometryFor(4).width(), 512u);
    EXPECT_EQ(GeometryFor(4).height(), 512u);
}

TEST(ChipLayout, OneChipImageIndexIsPixelIndex) {
    for (ChipFamily family : {ChipFamily::Medipix2, ChipFamily::Timepix}) {
        const ChipLayout layout{1, family};
        for (uint32_t i : {0u, 1u, 255u, 256u, 40000u, 65535u}) {
            EXPECT_EQ(ImageIndexToPixel(i, layout), i);
        }
    }
}

TEST(ChipLayout, FourChipTileCorners) {
    const ChipLayout mpx{4, ChipFamily::Medipix2};
    EXPECT_EQ(At(0, 0, mpx), Pixel(1, 0, 0));
    EXPECT_EQ(At(255, 255, mpx), Pixel(1, 255, 255));
    EXPECT_EQ(At(256, 0, mpx), Pixel(0, 0, 0));
    EXPECT_EQ(At(511, 255, mpx), Pixel(0, 255, 255));
    // Lower chips are turned by 180 degrees.
    EXPECT_EQ(At(0, 256, mpx), Pixel(2, 255, 255));
    EXPECT_EQ(At(255, 511, mpx), Pixel(2, 0, 0));
    EXPECT_EQ(At(256, 256, mpx), Pixel(3, 255, 255));
    EXPECT_EQ(At(511, 511, mpx), Pixel(3, 0, 0));
    EXPECT_EQ(At(300, 400, mpx), Pixel(3, 511 - 400, 511 - 300));

    for (ChipFamily family : {ChipFamily::Mxr, ChipFamily::Timepix}) {
        const ChipLayout mxr{4, family};
        EXPECT_EQ(At(0, 0, mxr), Pixel(0, 0, 0));
        EXPECT_EQ(At(256, 0, mxr), Pixel(1, 0, 0));
        EXPECT_EQ(At(0, 256, mxr), Pixel(3, 255, 255));
        EXPECT_EQ(At(511, 511, mxr), Pixel(2, 0, 0));
        EXPECT_EQ(At(10, 300, mxr), Pixel(3, 511 - 300, 255 - 10));
    }
}

TEST(ChipLayout, TwoAndThreeChipRows) {
    const ChipLayout mpx2{2, ChipFamily::Medipix2};
    EXPECT_EQ(At(0, 0, mpx2), Pixel(1, 0, 0));
    EXPECT_EQ(At(511, 255, mpx2), Pixel(0, 255, 255));
    const ChipLayout mxr2{2, ChipFamily::Mxr};
    EXPECT_EQ(At(0, 0, mxr2), Pixel(0, 0, 0));
    EXPECT_EQ(At(256, 7, mxr2), Pixel(1, 7, 0));

    const ChipLayout mpx3{3, ChipFamily::Medipix2};
    EXPECT_EQ(At(0, 0, mpx3), Pixel(2, 0, 0));
    EXPECT_EQ(At(256, 0, mpx3), Pixel(1, 0, 0));
    EXPECT_EQ(At(767, 255, mpx3), Pixel(0, 255, 255));
    const ChipLayout tpx3{3, ChipFamily::Timepix};
    EXPECT_EQ(At(0, 0, tpx3), Pixel(0, 0, 0));
    EXPECT_EQ(At(512, 3, tpx3), Pixel(2, 3, 0));
    EXPECT_EQ(At(767, 255, tpx3), Pixel(2, 255, 255));
}

// Every image position shows a pixel in use, and every pixel in use is shown exactly once.
TEST(ChipLayout, EveryPixelShownExactlyOnce) {
    for (int chips = 1; chips <= 4; ++chips) {
        for (ChipFamily family : {ChipFamily::Medipix2, ChipFamily::Mxr, ChipFamily::Timepix}) {
            const ChipLayout layout{chips, family};
            std::vector<int> seen(layout.pixelsInUse(), 0);
            const uint32_t positions = GeometryFor(chips).pixels();
            for (uint32_t i = 0; i < positions; ++i) {
                const uint32_t p = ImageIndexToPixel(i, layout);
                ASSERT_LT(p, seen.size()) << chips << " chips, image index " << i;
                ++seen[p];
            }
            for (uint32_t p = 0; p < seen.size(); ++p) {
                ASSERT_EQ(seen[p], 1) << chips << " chips, pixel " << p;
            }
        }
    }
}

}  // namespace
}  // namespace ulvarin
