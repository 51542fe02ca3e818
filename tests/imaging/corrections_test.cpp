#include "imaging/corrections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "imaging/result_view.h"
#include "tests/support/plain_interpolation.h"

namespace ulvarin {
namespace {

constexpr ChipLayout kOneChip{1, ChipFamily::Medipix2};
constexpr uint16_t kMasked = MaskClearingWord(ChipFamily::Medipix2);

FrameStore StoreWith(const ChipLayout& layout, double value) {
    FrameStore store;
    store.Open(layout);
    std::fill_n(store.result().begin(), store.pixelsInUse(), value);
    return store;
}

// Image position (x, y) of a one-chip store, where image and pixel index coincide.
double& At(FrameStore& store, int x, int y) {
    return store.result()[y * 256 + x];
}
void Mask(FrameStore& store, int x, int y) {
    store.config()[y * 256 + x] = kMasked;
}

TEST(FlatField, FactorsAreTheMedianOverTheShownValue) {
    FrameStore store = StoreWith(kOneChip, 100);
    At(store, 3, 0) = 50;
    At(store, 4, 0) = 0;
    CaptureFlatField(store);
    const std::span<const double> f = store.flatField();
    EXPECT_EQ(f[0], 1.0);
    EXPECT_EQ(f[65535], 1.0);
    EXPECT_EQ(f[3], 2.0);
    EXPECT_EQ(f[4], 0.0);
    EXPECT_EQ(store.result()[3], 50);  // the view is left as it was
}

TEST(FlatField, UnfilledMaskedPixelsCountAsZero) {
    // A fully masked "Result" keeps the marker everywhere; the factors are those of the
    // same view without interpolation (all 0), not marker / marker = 1.
    FrameStore store = StoreWith(kOneChip, 7);
    std::fill_n(store.config().begin(), 65536, kMasked);
    ASSERT_FALSE(InterpolateBadPixels(store));
    CaptureFlatField(store);
    EXPECT_EQ(std::count(store.flatField().begin(), store.flatField().begin() + 65536, 0.0), 65536);
}

TEST(MaskPixels, ClearsTheFamilysMaskBitAndBits14And15) {
    const std::pair<ChipFamily, uint16_t> cases[] = {
        {ChipFamily::Medipix2, 0x37FF}, {ChipFamily::Mxr, 0x3FFE}, {ChipFamily::Timepix, 0x3F7F}};
    for (const auto& [family, word] : cases) {
        FrameStore store = StoreWith({2, family}, 0);
        std::fill_n(store.config().begin(), store.pixelsInUse(), uint16_t{0xFFFF});
        store.result()[70000] = 3;
        EXPECT_EQ(MaskPixels(store, MaskRule::Nonzero), 1u);
        EXPECT_EQ(store.config()[70000], word);
        EXPECT_EQ(store.config()[69999], 0xFFFF);
    }
}

TEST(MaskPixels, MasksAccumulateAndRangeLimitsAreKept) {
    FrameStore store = StoreWith(kOneChip, 0);
    store.result()[1] = 5;
    EXPECT_EQ(MaskPixels(store, MaskRule::Nonzero), 1u);
    store.result()[1] = 0;
    store.result()[2] = -1;
    EXPECT_EQ(MaskPixels(store, MaskRule::Nonzero), 1u);
    EXPECT_FALSE(IsGoodPixel(store.config()[1], kOneChip.family));
    EXPECT_FALSE(IsGoodPixel(store.config()[2], kOneChip.family));

    FrameStore range = StoreWith(kOneChip, 15);
    const double values[] = {9, 10, 20, 21, std::numeric_limits<double>::quiet_NaN()};
    std::copy(std::begin(values), std::end(values), range.result().begin());
    EXPECT_EQ(MaskPixels(range, MaskRule::OutsideRange, 10, 20), 3u);
    const bool masked[] = {true, false, false, true, true};
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(IsGoodPixel(range.config()[p], kOneChip.family), !masked[p]) << p;
    }
}

// What the message line of a mask action counts: pixels newly masked, not those a second
// press finds masked already; shares of the pixels in use of every chip.
TEST(MaskPixels, TheCountsOfTheMessageLine) {
    FrameStore store = StoreWith({4, ChipFamily::Timepix}, 0);
    EXPECT_EQ(MaskedPixelCount(store), 0u);
    for (uint32_t p : {7u, 65536u + 9, 3 * 65536u + 65535}) store.result()[p] = 2;
    store.config()[200000] = MaskClearingWord(ChipFamily::Timepix);  // masked before
    store.config()[270000] = MaskClearingWord(ChipFamily::Timepix);  // beyond the chips in use
    EXPECT_EQ(MaskedPixelCount(store), 1u);
    MaskPixels(store, MaskRule::Nonzero);
    EXPECT_EQ(MaskedPixelCount(store), 4u);
    MaskPixels(store, MaskRule::Nonzero);
    EXPECT_EQ(MaskedPixelCount(store), 4u) << "a second press masks nothing new";

    struct Case {
        uint32_t masked, inAll, inUse;
        const char* line;
    };
    const Case cases[] = {
        {1234, 1300, 262144,
         "Mask outer pixels: 1234 pixel(s) masked (0.471 %), 1300 (0.496 %) "
         "masked in all"},
        {0, 0, 65536, "Mask outer pixels: 0 pixel(s) masked (0 %), 0 (0 %) masked in all"},
        {65536, 65536, 65536,
         "Mask outer pixels: 65536 pixel(s) masked (100 %), 65536 (100 %) masked in all"},
        {1, 1, 262144,
         "Mask outer pixels: 1 pixel(s) masked (0.000381 %), 1 (0.000381 %) masked in all"},
        {0, 0, 0, "Mask outer pixels: 0 pixel(s) masked (0 %), 0 (0 %) masked in all"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaskedPixelsLine("Mask outer pixels", c.masked, c.inAll, c.inUse), c.line);
}

TEST(Interpolate, WithoutMaskNothingChanges) {
    FrameStore store = StoreWith({4, ChipFamily::Timepix}, 0);
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-5, 5);
    for (uint32_t p = 0; p < store.pixelsInUse(); ++p) store.result()[p] = dist(gen);
    store.result()[9] = kBadPixelMarker;  // a good pixel is left alone whatever it holds
    const std::vector<double> before(store.result().begin(), store.result().end());
    EXPECT_TRUE(InterpolateBadPixels(store));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), store.result().begin()));

    FrameStore none;  // no chip in use
    EXPECT_TRUE(InterpolateBadPixels(none));
}

TEST(Interpolate, BlockFillsCornersFirstReadingEachPassFromItsStart) {
    // A 3 x 3 block whose only nonzero neighbour is diagonal to its top left corner. Pass 1
    // fills the corners (5 of 9 good); pass 2 the edge middles (5 of 9) and the centre (4 of
    // 9, its corners only: the middles are not yet good at the start of the pass).
    FrameStore store = StoreWith(kOneChip, 0);
    At(store, 9, 9) = 8;
    for (int y = 10; y <= 12; ++y) {
        for (int x = 10; x <= 12; ++x) Mask(store, x, y);
    }
    EXPECT_TRUE(InterpolateBadPixels(store));
    const double diagonal = 1 / std::sqrt(2.0);
    const double corner = 8 * diagonal / (2 + 3 * diagonal);
    EXPECT_DOUBLE_EQ(At(store, 10, 10), corner);
    EXPECT_EQ(At(store, 12, 10), 0);
    EXPECT_DOUBLE_EQ(At(store, 11, 10), corner / (3 + 2 * diagonal));
    EXPECT_DOUBLE_EQ(At(store, 11, 11), corner / 4);
}

TEST(Interpolate, WindowsClippedAtCornersAndEdgesAndStallLeavesMarker) {
    // Everything masked but a few pixels: the corner (2 of 4 good), the edge pixel (3 of 6)
    // and the inner pixel (4 of 9) fill in pass 1, then nothing more can be filled.
    FrameStore store = StoreWith(kOneChip, 0);
    std::fill_n(store.config().begin(), 65536, kMasked);
    const int good[][2] = {{1, 0},   {0, 1},   {4, 0},   {6, 0},  {5, 1},
                           {10, 10}, {12, 10}, {10, 12}, {12, 12}};
    double value = 1;
    for (const auto& g : good) {
        store.config()[g[1] * 256 + g[0]] = kInitialPixelWord;
        At(store, g[0], g[1]) = value *= 2;
    }
    EXPECT_FALSE(InterpolateBadPixels(store));
    EXPECT_DOUBLE_EQ(At(store, 0, 0), (2 + 4) / 2.0);
    EXPECT_DOUBLE_EQ(At(store, 5, 0), (8 + 16 + 32) / 3.0);
    EXPECT_DOUBLE_EQ(At(store, 11, 11), (64 + 128 + 256 + 512) / 4.0);
    const auto filled = std::count_if(store.result().begin(), store.result().begin() + 65536,
                                      [](double v) { return v != kBadPixelMarker; });
    EXPECT_EQ(filled, 9 + 3);
}

TEST(Interpolate, RadiusBelowOneFillsNothingAndHugeRadiusIsSafe) {
    for (const int radius : {0, -1, -1000}) {
        FrameStore store = StoreWith(kOneChip, 10);
        Mask(store, 5, 5);
        EXPECT_FALSE(InterpolateBadPixels(store, radius));
        EXPECT_EQ(At(store, 5, 5), kBadPixelMarker);  // not 0 / 0
    }
    FrameStore store = StoreWith(kOneChip, 10);
    Mask(store, 0, 0);
    EXPECT_TRUE(InterpolateBadPixels(store, std::numeric_limits<int>::max()));
    EXPECT_NEAR(At(store, 0, 0), 10, 1e-9);  // the average over the whole image
}

TEST(Interpolate, StaysWithinTheChipsInUse) {
    // Three chips in use: the fourth chip's entries are never read as neighbours nor written,
    // even when its configuration says masked.
    FrameStore store = StoreWith({3, ChipFamily::Mxr}, 4);
    const uint16_t masked = MaskClearingWord(ChipFamily::Mxr);
    std::fill(store.config().begin() + 3 * 65536, store.config().end(), masked);
    std::fill(store.result().begin() + 3 * 65536, store.result().end(), 1e9);
    for (const uint32_t p : {0u, 65535u, 65536u + 255u, 2u * 65536u + 256u * 255u}) {
        store.config()[p] = masked;
    }
    EXPECT_TRUE(InterpolateBadPixels(store));
    EXPECT_EQ(std::count(store.result().begin(), store.result().begin() + 3 * 65536, 4.0),
              3 * 65536);
    EXPECT_TRUE(std::all_of(store.result().begin() + 3 * 65536, store.result().end(),
                            [](double v) { return v == 1e9; }));
}

// Random masks with blocks at corners, edges and tile borders, on every layout; dense
// masks that take many passes too. The fast walk must give the plain scan's values bit for
// bit.
TEST(Interpolate, SameAsPlainScanOnRandomMasks) {
    struct Case {
        int chips;
        ChipFamily family;
        double density;
        int radius;
    };
    std::vector<Case> cases = {{1, ChipFamily::Medipix2, 0.9, 1},
                               {1, ChipFamily::Timepix, 0.9, 2},
                               {3, ChipFamily::Medipix2, 0.85, 1}};
    for (const int chips : {1, 2, 3, 4}) {
        cases.push_back({chips, ChipFamily::Medipix2, 0.02, 1});
        cases.push_back({chips, ChipFamily::Timepix, 0.02, 1});
        cases.push_back({chips, chips % 2 ? ChipFamily::Medipix2 : ChipFamily::Mxr, 0.3, 2});
    }
    std::mt19937 gen(7);
    for (const Case& c : cases) {
        FrameStore fast = StoreWith({c.chips, c.family}, 0);
        const uint32_t n = fast.pixelsInUse();
        const uint16_t masked = MaskClearingWord(c.family);
        std::uniform_real_distribution<double> value(0, 1000);
        std::bernoulli_distribution isMasked(c.density);
        for (uint32_t p = 0; p < n; ++p) {
            fast.result()[p] = value(gen);
            if (isMasked(gen)) fast.config()[p] = masked;
        }
        const int w = static_cast<int>(fast.geometry().width());
        const int h = static_cast<int>(fast.geometry().height());
        const auto block = [&](int x0, int y0, int bw, int bh) {
            for (int y = y0; y < y0 + bh; ++y) {
                for (int x = x0; x < std::min(w, x0 + bw); ++x) {
                    fast.config()[ImageIndexToPixel(y * w + x, fast.layout())] = masked;
                }
            }
        };
        block(0, 0, 4, 5);
        block(w - 6, h - 3, 6, 3);
        block(w - 2, 40, 2, 7);
        block(254, 100, 5, 9);  // across the border of two tiles
        block(30, h - 16, 16, 16);

        FrameStore plain = fast;
        EXPECT_EQ(InterpolateBadPixels(fast, c.radius), PlainInterpolate(plain, c.radius));
        EXPECT_EQ(std::memcmp(fast.result().data(), plain.result().data(), n * sizeof(double)), 0)
            << c.chips << " chips, density " << c.density << ", radius " << c.radius;
    }
}

TEST(Interpolate, ResultViewFillsOnlyWhenSwitchedOn) {
    FrameStore store;
    store.Open(kOneChip);
    std::fill_n(store.counts().begin(), 65536, 6);
    store.config()[300] = kMasked;
    ComputeResultView(store, {ResultView::Result, false, false});
    EXPECT_EQ(store.result()[300], 0.0);
    const ImageStatistics stats = ComputeResultView(store, {ResultView::Result, false, true});
    EXPECT_DOUBLE_EQ(store.result()[300], 6.0);
    EXPECT_EQ(stats.goodCount, 65535u);
    ComputeResultView(store, {ResultView::MaskBit, false, true});
    EXPECT_EQ(store.result()[300], 0.0);
}

}  // namespace
}  // namespace ulvarin
