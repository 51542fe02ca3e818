#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "imaging/image_recompute.h"
#include "imaging/image_colouring.h"

namespace ulvarin {
namespace {

constexpr uint32_t Grey(uint32_t level) {
    return 0xFF000000u | level << 16 | level << 8 | level;
}

TEST(ImageRender, ColourEdgesOfTheRange) {
    const DisplayRange r{10, 20};
    EXPECT_EQ(PixelColour(10, r), Grey(0));
    EXPECT_EQ(PixelColour(20, r), Grey(255));
    EXPECT_EQ(PixelColour(15, r), Grey(127));
    EXPECT_EQ(PixelColour(std::nextafter(10.0, 0.0), r), kBelowRangeColour);
    EXPECT_EQ(PixelColour(std::nextafter(20.0, 30.0), r), kAboveRangeColour);
    EXPECT_EQ(PixelColour(NAN, r), kBelowRangeColour);
    // Exact levels where the range is not a power of two wide.
    EXPECT_EQ(PixelColour(1, {0, 3}), Grey(85));
    EXPECT_EQ(PixelColour(2, {0, 3}), Grey(170));
}

// The colour bar's numbers: the value drawn at a fraction of the scale is the one that
// RangeFraction puts there, on both scales, also for ranges that start below or above 0.
TEST(ImageRender, RangeValueAtInvertsRangeFraction) {
    const DisplayRange ranges[] = {{0, 1}, {0, 5800}, {10, 20}, {-3, 7}, {0.97, 1.04}, {4e6, 9e6}};
    for (const DisplayRange r : ranges) {
        for (const bool log : {false, true}) {
            EXPECT_EQ(RangeValueAt(0, r, log), r.min);
            EXPECT_NEAR(RangeValueAt(1, r, log), r.max, 1e-9 * std::abs(r.max));
            for (const double f : {0.1, 0.5, 0.9})
                EXPECT_NEAR(RangeFraction(RangeValueAt(f, r, log), r, log), f, 1e-9)
                    << r.min << ".." << r.max << (log ? " log" : "");
        }
    }
    // The middle of a log scale of counts lies far below the middle of the range.
    EXPECT_NEAR(RangeValueAt(0.5, {0, 9999}, true), 99, 1e-9);
    EXPECT_EQ(RangeValueAt(0.5, {0, 5800}, false), 2900);
}

TEST(ImageRender, RefusesBuffersTooSmall) {
    const ChipLayout layout{3, ChipFamily::Mxr};
    std::vector<double> result(3 * 65536, 1.0);
    std::vector<uint32_t> image(768 * 256 - 1, 7);
    EXPECT_FALSE(RenderImage(result, layout, {0, 1}, image));
    EXPECT_EQ(image[0], 7u);
    image.resize(768 * 256);
    EXPECT_FALSE(RenderImage(std::span(result).first(2 * 65536), layout, {0, 1}, image));
    EXPECT_TRUE(RenderImage(result, layout, {0, 1}, image));
    EXPECT_EQ(image.back(), Grey(255));
}

// A two-chip Medipix2 frame through the whole recomputation: the view feeds the range,
// the range the histogram and the colours, laid out as the chips are.
TEST(ImageRender, FrameToColouredImage) {
    FrameStore store;
    ASSERT_TRUE(store.Open({2, ChipFamily::Medipix2}));
    std::fill_n(store.raw().begin(), store.pixelsInUse(), uint16_t{10});
    store.raw()[65536] = 50;  // chip 1 row 0 column 0: image top left
    store.raw()[1] = 90;      // chip 0 row 0 column 1, masked: 0 in the view
    store.config()[1] = 0x37FF;
    ViewSettings view{ResultView::MaskBit, false, false};
    NewFrame(store, view);  // back to "Result"
    DisplayRangeControls range;
    std::vector<uint32_t> image(512 * 256);
    const RecomputedImage out = RecomputeImage(store, view, range, image);

    ASSERT_TRUE(out.rendered);
    EXPECT_EQ(range.maxText, "50");
    EXPECT_EQ(out.statistics.goodCount, 131071u);
    EXPECT_EQ(out.histogram.peakBin, 102);  // 10 / (50 / 512), truncated
    EXPECT_EQ(image[0], Grey(255));
    EXPECT_EQ(image[257], Grey(0));
    EXPECT_EQ(image[256], PixelColour(10, range.range));
}

}  // namespace
}  // namespace ulvarin
