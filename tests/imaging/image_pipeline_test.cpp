#include "imaging/image_pipeline.h"

#include <gtest/gtest.h>

#include <vector>

#include "imaging/image_render.h"

namespace ulvarin {
namespace {

// A two-chip MXR frame through the whole recomputation: the view feeds the range, the
// range the histogram and the colours, and masked pixels leave the statistics only.
TEST(ImagePipeline, FrameToColouredImage) {
    FrameStore store;
    ASSERT_TRUE(store.Open({2, ChipFamily::Mxr}));
    std::fill_n(store.raw().begin(), store.pixelsInUse(), uint16_t{10});
    store.raw()[65536] = 50;     // chip 1 row 0 column 0: image (256, 0)
    store.raw()[1] = 90;         // masked below: 0 in the view
    store.config()[1] = 0x1FFE;
    store.frameTime = 0.1;

    ViewSettings view{ResultView::MaskBit, false};
    NewFrame(store, view);
    DisplayRangeControls range;
    std::vector<uint32_t> image(512 * 256);
    const RecomputedImage out = RecomputeImage(store, view, range, image);

    ASSERT_TRUE(out.rendered);
    EXPECT_TRUE(out.rangeTextsChanged);
    EXPECT_EQ(range.range, (DisplayRange{0, 50}));
    EXPECT_EQ(range.maxText, "50");
    EXPECT_EQ(out.statistics.goodCount, 131071u);
    EXPECT_EQ(out.statistics.minimum, 10);
    EXPECT_EQ(out.histogram.peakBin, 102);  // 10 / (50 / 512), truncated
    EXPECT_EQ(out.histogram.bins[0], 1);    // the masked pixel, counted as 0
    EXPECT_EQ(image[256], 0xFFFFFFFFu);     // 50 is the upper limit: white
    EXPECT_EQ(image[1], 0xFF000000u);       // 0 is the lower limit: black
    EXPECT_EQ(image[0], PixelColour(10, range.range));
}

TEST(ImagePipeline, NothingWithoutAChip) {
    FrameStore store;
    ViewSettings view;
    DisplayRangeControls range;
    std::vector<uint32_t> image(65536, 7);
    const RecomputedImage out = RecomputeImage(store, view, range, image);
    EXPECT_FALSE(out.rendered);
    EXPECT_EQ(image[0], 7u);
    EXPECT_EQ(range.minText, "0");
}

}  // namespace
}  // namespace ulvarin
