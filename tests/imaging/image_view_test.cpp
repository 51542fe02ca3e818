// Zoom and pan of the image: what is drawn at a box pixel is the pixel named there, zooming
// keeps the pixel under the pointer, panning keeps the image in view; statistics of a region
// and the colour maps.
#include "imaging/image_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "imaging/colour_map.h"
#include "imaging/image_colouring.h"
#include "imaging/image_statistics.h"

namespace ulvarin {
namespace {

// An image whose colour at each position is its own index, so a picture tells which pixel
// each box pixel shows.
std::vector<uint32_t> IndexImage(uint32_t width, uint32_t height) {
    std::vector<uint32_t> image(static_cast<size_t>(width) * height);
    for (uint32_t i = 0; i < image.size(); ++i) image[i] = i;
    return image;
}

// Every box pixel of the picture shows the pixel ImagePixelAt names there.
void ExpectPictureMatchesNaming(const ViewTransform& t, const ViewArea& area) {
    const std::vector<uint32_t> image = IndexImage(area.imageWidth, area.imageHeight);
    constexpr uint32_t kNone = 0xFFFFFFFF;
    std::vector<uint32_t> picture(static_cast<size_t>(area.boxWidth) * area.boxHeight);
    ASSERT_TRUE(RenderView(t, area, image, kNone, picture));
    int mismatches = 0;
    for (int y = 0; y < area.boxHeight; ++y) {
        for (int x = 0; x < area.boxWidth; ++x) {
            const std::optional<ImagePoint> at = ImagePixelAt(t, x, y);
            const uint32_t expected = at ? at->y * area.imageWidth + at->x : kNone;
            mismatches += picture[static_cast<size_t>(y) * area.boxWidth + x] != expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ImageView, UnzoomedItIsTheFittedPlacementPixelForPixel) {
    const ChipLayout quad{4, ChipFamily::Timepix};
    for (const ViewArea area : {ViewArea{445, 398, 512, 512}, ViewArea{1024, 1030, 512, 512},
                                ViewArea{700, 333, 512, 512}}) {
        const ViewTransform t = TransformFor({}, area);
        const Placement p = PlaceImage(area.boxWidth, area.boxHeight, 512, 512);
        for (int y = 0; y < area.boxHeight; y += 3) {
            for (int x = 0; x < area.boxWidth; ++x) {
                const auto fitted = PixelAtPoint(p, x, y, quad);
                const auto viewed = PixelAtPoint(t, x, y, quad);
                ASSERT_EQ(fitted.has_value(), viewed.has_value()) << x << "," << y;
                if (fitted) {
                    ASSERT_EQ(fitted->pixel, viewed->pixel) << x << "," << y;
                }
            }
        }
        ExpectPictureMatchesNaming(t, area);
    }
}

TEST(ImageView, ZoomingKeepsThePixelUnderThePointerAndThePictureAgrees) {
    std::mt19937 random(7);
    const ViewArea area{445, 398, 512, 512};
    ImageZoom zoom;
    int kept = 0;
    for (int step = 0; step < 400; ++step) {
        std::uniform_int_distribution<int> x(0, area.boxWidth - 1), y(0, area.boxHeight - 1);
        const int px = x(random), py = y(random);
        // Mostly in, sometimes out, sometimes by fractions of a notch as touch pads send.
        const double factor =
            step % 5 == 4 ? 1 / 1.7 : std::pow(kWheelZoomStep, 1 + step % 3 / 8.0);
        const ViewTransform before = TransformFor(zoom, area);
        const std::optional<ImagePoint> under = ImagePixelAt(before, px, py);
        const ImageZoom next = ZoomAt(zoom, area, px, py, factor);
        if (under && next.zoomed() && next.factor != zoom.factor) {
            EXPECT_EQ(ImagePixelAt(TransformFor(next, area), px, py), under)
                << "step " << step << " at " << px << "," << py << " factor " << next.factor;
            ++kept;
        }
        zoom = next;
        if (step % 50 == 0) ExpectPictureMatchesNaming(TransformFor(zoom, area), area);
    }
    EXPECT_GT(kept, 100);
    // The zoom stops at 64 box pixels per image pixel.
    for (int i = 0; i < 100; ++i) zoom = ZoomAt(zoom, area, 200, 200, 2.0);
    EXPECT_NEAR(TransformFor(zoom, area).width / 512, kMaxBoxPixelsPerImagePixel, 1e-9);
    ExpectPictureMatchesNaming(TransformFor(zoom, area), area);
    // Back below 1 it is the fitted image again, whatever the pan.
    for (int i = 0; i < 100; ++i) zoom = ZoomAt(zoom, area, 10, 390, 0.5);
    EXPECT_FALSE(zoom.zoomed());
}

TEST(ImageView, TheWheelBesideTheImageKeepsItsNearestEdgeInPlace) {
    // A quad letterboxed in a wide box: the pointer left of the image.
    const ViewArea area{700, 400, 512, 512};
    const ViewTransform fit = TransformFor({}, area);
    ASSERT_GT(fit.left, 100);
    const ImageZoom zoom = ZoomAt({}, area, 20, 200, 2.0);
    const ViewTransform zoomed = TransformFor(zoom, area);
    EXPECT_NEAR(zoomed.left, fit.left, 1e-3);
    EXPECT_NEAR(zoomed.width, 2 * fit.width, 1e-9);
}

TEST(ImageView, PanningMovesAZoomedImageButNeverOutOfTheBox) {
    const ViewArea area{400, 400, 512, 512};
    EXPECT_EQ(PanBy({}, area, 50, 50).factor, 1.0) << "a fitted image does not move";
    ImageZoom zoom = ZoomAt({}, area, 200, 200, 4.0);  // 1600 box pixels across
    const ViewTransform centred = TransformFor(zoom, area);
    const ImageZoom moved = PanBy(zoom, area, 100, -30);
    const ViewTransform after = TransformFor(moved, area);
    EXPECT_NEAR(after.left - centred.left, 100, 1e-9);
    EXPECT_NEAR(after.top - centred.top, -30, 1e-9);
    // Dragged far: the image's edge stops at the box's edge; the box stays covered.
    const ViewTransform far = TransformFor(PanBy(zoom, area, 5000, -5000), area);
    EXPECT_NEAR(far.left, 0, 1e-9);
    EXPECT_NEAR(far.top + far.height, 400, 1e-9);
    ExpectPictureMatchesNaming(far, area);
    // A region's outline covers exactly the box pixels that show its pixels.
    const BoxRect box = BoxRectOf(far, {10, 500, 12, 511});
    EXPECT_EQ(ImagePixelAt(far, box.left, box.top), (ImagePoint{10, 500}));
    EXPECT_EQ(ImagePixelAt(far, box.right, box.bottom), (ImagePoint{12, 511}));
    EXPECT_EQ(ImagePixelAt(far, box.left - 1, box.top), (ImagePoint{9, 500}));
    EXPECT_FALSE(ImagePixelAt(far, box.right, box.bottom + 1));
    // Beside the image the nearest edge pixel is taken, as a region drawn past the edge needs.
    EXPECT_EQ(NearestImagePixel(far, -40, 900), (ImagePoint{0, 511}));
}

// Chip 3 of a Timepix quad lies turned in the lower left quarter: image position (x, y)
// there shows its column 255 - x, row 511 - y.
TEST(RegionStatistics, CoverThePixelsShownInTheRectangleAndOnlyGoodOnes) {
    const ChipLayout quad{4, ChipFamily::Timepix};
    std::vector<double> values(quad.pixelsInUse());
    std::vector<uint16_t> config(quad.pixelsInUse(), MaskBit(quad.family));
    const auto pixel = [](int chip, int column, int row) {
        return static_cast<size_t>(chip) * kChipPixels + row * kTileSide + column;
    };
    for (int chip = 0; chip < 4; ++chip)
        for (int row = 0; row < kTileSide; ++row)
            for (int column = 0; column < kTileSide; ++column)
                values[pixel(chip, column, row)] = chip * 1000 + column + row * 0.5;
    config[pixel(3, 255 - 10, 511 - 300)] = 0;  // image (10, 300), masked
    values[pixel(3, 255 - 10, 511 - 300)] = 1e9;

    const ImageRect rect{8, 298, 11, 301};  // 4 x 4 pixels of chip 3
    double sum = 0, squares = 0;
    int count = 0;
    for (uint32_t y = rect.top; y <= rect.bottom; ++y) {
        for (uint32_t x = rect.left; x <= rect.right; ++x) {
            if (x == 10 && y == 300) continue;
            const double v = 3000 + (255 - x) + (511 - y) * 0.5;
            sum += v;
            squares += v * v;
            ++count;
        }
    }
    const ImageStatistics s = ComputeRegionStatistics(values, config, quad, rect);
    EXPECT_EQ(s.goodCount, 15u);
    EXPECT_DOUBLE_EQ(s.sum, sum);
    EXPECT_DOUBLE_EQ(s.average, sum / count);
    EXPECT_NEAR(s.standardDeviation, std::sqrt(squares / count - (sum / count) * (sum / count)),
                1e-6);
    // Over all four chips: the whole image's statistics (summed in another order).
    const ImageStatistics whole = ComputeImageStatistics(values, config, quad.family);
    const ImageStatistics all = ComputeRegionStatistics(values, config, quad, {0, 0, 511, 511});
    EXPECT_EQ(all.goodCount, whole.goodCount);
    EXPECT_DOUBLE_EQ(all.sum, whole.sum);
    EXPECT_NEAR(all.standardDeviation, whole.standardDeviation, 1e-9);
    // Clipped to the image; nothing at all without the arrays of the chips.
    EXPECT_EQ(ComputeRegionStatistics(values, config, quad, {500, 500, 900, 900}).goodCount, 144u);
    EXPECT_EQ(ComputeRegionStatistics({}, {}, quad, rect).goodCount, 0u);
}

TEST(ColourMaps, OnlyTheDefaultMarksValuesBeyondTheRange) {
    const DisplayRange r{10, 20};
    // The three-band map is the default: as PixelColour has always coloured.
    for (double v : {5.0, 10.0, 12.5, 19.9, 20.0, 25.0, std::nan("")})
        EXPECT_EQ(Colourer(r, {})(v), PixelColour(v, r)) << v;
    const Colourer grey(r, {ColourMap::Grey, false});
    EXPECT_EQ(grey(5), 0xFF000000u);
    EXPECT_EQ(grey(25), 0xFFFFFFFFu);
    const ColourTable& viridis = TableOf(ColourMap::Viridis);
    const Colourer perceptual(r, {ColourMap::Viridis, false});
    EXPECT_EQ(perceptual(5), viridis.levels.front());
    EXPECT_EQ(perceptual(25), viridis.levels.back());
    // Viridis runs from dark violet to light yellow, growing lighter at every step.
    const auto channel = [](uint32_t c, int shift) { return (c >> shift) & 0xFF; };
    const auto luma = [&](uint32_t c) {
        return 0.299 * channel(c, 16) + 0.587 * channel(c, 8) + 0.114 * channel(c, 0);
    };
    EXPECT_GT(channel(viridis.levels.front(), 0), channel(viridis.levels.front(), 8));
    EXPECT_GT(channel(viridis.levels.back(), 16), 200u);
    EXPECT_LT(channel(viridis.levels.back(), 0), 80u);
    for (int level = 8; level < 256; level += 8)
        EXPECT_GT(luma(viridis.levels[level]), luma(viridis.levels[level - 8])) << level;
}

TEST(ColourMaps, TheLogScaleSpreadsLowValuesAndKeepsTheLimits) {
    const DisplayRange r{0, 1000};
    EXPECT_EQ(RangeFraction(0, r, true), 0.0);
    EXPECT_DOUBLE_EQ(RangeFraction(1000, r, true), 1.0);
    EXPECT_GT(RangeFraction(10, r, true), 0.3);  // a tenth of a percent of the range
    EXPECT_LT(RangeFraction(-1, r, true), 0.0);
    EXPECT_GT(RangeFraction(1001, r, true), 1.0);
    // A negative lower limit is the start of the scale as well.
    EXPECT_EQ(RangeFraction(-50, {-50, 50}, true), 0.0);
    // Rendered: beyond the range stays blue and red; low counts are no longer black.
    const ChipLayout one{1, ChipFamily::Timepix};
    std::vector<double> values(kChipPixels, 10.0);
    values[0] = -1;
    values[1] = 2000;
    std::vector<uint32_t> image(kChipPixels);
    ASSERT_TRUE(RenderImage(values, one, r, image, {ColourMap::ThreeBand, true}));
    EXPECT_EQ(image[0], kBelowRangeColour);
    EXPECT_EQ(image[1], kAboveRangeColour);
    EXPECT_GT(image[2] & 0xFF, 80u);
    ASSERT_TRUE(RenderImage(values, one, r, image));
    EXPECT_EQ(image[2] & 0xFF, 2u);
}

}  // namespace
}  // namespace ulvarin
