// Where the image is drawn in its box and which pixel lies under a point of the box.
#include "imaging/image_placement.h"

#include <gtest/gtest.h>

#include <limits>

#include "imaging/display_range.h"
#include "imaging/image_view.h"

namespace ulvarin {
namespace {

TEST(ImagePlacement, KeepsPixelsSquareAndSnapsToWholeZooms) {
    // Three chips in a square box: letterboxed, three times as wide as high.
    Placement p = PlaceImage(500, 500, 768, 256);
    EXPECT_EQ(p.width, 500);
    EXPECT_EQ(p.height, 167);
    EXPECT_EQ(p.top, (500 - 167) / 2);
    // Room for 1.1 x: drawn at exactly 1 x, centred.
    p = PlaceImage(563, 600, 512, 512);
    EXPECT_EQ(p.zoom, 1.0);
    EXPECT_EQ(p.width, 512);
    EXPECT_EQ(p.left, 25);
    // Room for 1.5 x: a whole zoom would waste a third, so the image fills the box.
    p = PlaceImage(768, 800, 512, 512);
    EXPECT_EQ(p.width, 768);
    // Room for 2.1 x: exactly 2 x.
    EXPECT_EQ(PlaceImage(2000, 1100, 512, 512).zoom, 2.0);
    // Nothing to draw in an empty box or for an empty image.
    EXPECT_EQ(PlaceImage(0, 300, 256, 256).width, 0);
    EXPECT_EQ(PlaceImage(300, 300, 0, 256).width, 0);
}

TEST(ImagePlacement, PointsMapToTheChipPixelTheyShow) {
    const ChipLayout quad{4, ChipFamily::Timepix};
    const Placement p = PlaceImage(1024, 1024, 512, 512);  // 2 x
    ASSERT_EQ(p.zoom, 2.0);
    // Upper left quadrant of an MXR/Timepix quad is chip 0, upright.
    std::optional<PointedPixel> at = PixelAtPoint(p, 2 * 10 + 1, 2 * 20, quad);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->chip(), 0);
    EXPECT_EQ(at->column(), 10);
    EXPECT_EQ(at->row(), 20);
    // The lower left quadrant is chip 3, turned by 180 degrees.
    at = PixelAtPoint(p, 0, 1023, quad);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->chip(), 3);
    EXPECT_EQ(at->column(), 255);
    EXPECT_EQ(at->row(), 0);
    EXPECT_EQ(DescribePixel(*at, 17.5), "chip 4  column 255  row 0  value 17.5");
    // Outside the drawn image, or without chips, nothing is pointed at.
    const Placement boxed = PlaceImage(800, 300, 768, 256);
    EXPECT_FALSE(PixelAtPoint(boxed, 400, boxed.top - 1, {3, ChipFamily::Medipix2}));
    EXPECT_TRUE(PixelAtPoint(boxed, boxed.left + boxed.width - 1, boxed.top + boxed.height - 1,
                             {3, ChipFamily::Medipix2}));
    EXPECT_FALSE(PixelAtPoint(p, 10, 10, {0, ChipFamily::Medipix2}));
}

TEST(ImagePlacement, RangeBoxStepsFollowTheRangesOrderOfMagnitude) {
    EXPECT_EQ(LimitStep({0, 299}), 10.0);
    EXPECT_EQ(LimitStep({100, 105}), 0.1);
    EXPECT_EQ(LimitStep({0.98, 1.02}), 0.001);
    EXPECT_EQ(LimitStep({5, 5}), 1.0);
    EXPECT_EQ(LimitStep({0, std::numeric_limits<double>::infinity()}), 1.0);
}

}  // namespace
}  // namespace ulvarin
