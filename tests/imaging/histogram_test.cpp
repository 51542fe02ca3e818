#include "imaging/histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace ulvarin {
namespace {

TEST(Histogram, BinsInsideTheRangeOnly) {
    // Range 0..512: bin width 1.
    const std::vector<double> values{0, 0.99, 1, 255.5, 511.99, 512, 513, -0.1, NAN};
    const Histogram h = ComputeHistogram(values, {0, 512});
    EXPECT_EQ(h.binWidth, 1.0);
    EXPECT_EQ(h.bins[0], 2);
    EXPECT_EQ(h.bins[1], 1);
    EXPECT_EQ(h.bins[255], 1);
    EXPECT_EQ(h.bins[511], 2);  // 511.99 and the upper limit 512; 513 is outside
    int total = 0;
    for (int32_t b : h.bins) total += b;
    EXPECT_EQ(total, 6);
}

TEST(Histogram, ValueJustBelowTheUpperLimitStaysInTheLastBin) {
    // (v - min) / width rounds up to 512 here; the count must not land past the bins.
    const double max = 0.1 * 3;
    const double v = std::nextafter(max, 0.0);
    const Histogram h = ComputeHistogram(std::vector<double>{v, max}, {0, max});
    EXPECT_EQ(h.bins[511], 2);
}

TEST(Histogram, PeakIsTheFirstHighestBinAndItsLowerEdge) {
    // Range 100..356: width 0.5.
    std::vector<double> values{100, 150.2, 150.2, 150.4, 300, 300, 300};
    Histogram h = ComputeHistogram(values, {100, 356});
    EXPECT_EQ(h.binWidth, 0.5);
    EXPECT_EQ(h.highest, 3);
    EXPECT_EQ(h.lowest, 0);
    EXPECT_EQ(h.peakBin, 100);     // 150.2 and 150.4 fall in bin 100; 300 in bin 400
    EXPECT_EQ(h.peakValue, 150);  // trunc(100 * 0.5 + 100)
    EXPECT_EQ(FormatPeakLabel(h), "Peak=150");
    EXPECT_TRUE(h.hasPeak());

    values.push_back(300);  // now bin 400 is the only highest
    h = ComputeHistogram(values, {100, 356});
    EXPECT_EQ(h.peakBin, 400);
    EXPECT_EQ(h.peakValue, 300);
}

TEST(Histogram, NoPeakWhenAllBinsAreEqual) {
    const Histogram above = ComputeHistogram(std::vector<double>(50, 1.0), {10, 20});
    EXPECT_FALSE(above.hasPeak());
    EXPECT_EQ(above.highest, 0);
    EXPECT_EQ(above.lowest, 0);
    // One value per bin.
    std::vector<double> everyBin;
    for (int i = 0; i < 512; ++i) everyBin.push_back(i + 0.5);
    EXPECT_FALSE(ComputeHistogram(everyBin, {0, 512}).hasPeak());
}

TEST(Histogram, EmptyRangeUsesWidthOne) {
    const Histogram h = ComputeHistogram(std::vector<double>{5, 5, 6}, {5, 5});
    EXPECT_EQ(h.binWidth, 1.0);
    EXPECT_EQ(h.bins[0], 2);
    EXPECT_EQ(h.peakValue, 5);
}

TEST(Histogram, BarGeometry) {
    std::vector<double> values(300, 10.0);
    values.push_back(0.0);
    const Histogram h = ComputeHistogram(values, {0, 512});  // bin 10: 300, bin 0: 1
    ASSERT_TRUE(h.hasPeak());
    // 1026 x 202 box: 2 pixels per bin across; (202 - 2) / 300 per count upwards.
    EXPECT_EQ(HistogramBar(h, 10, 1026, 202), (BarRect{21, 1, 24, 201}));
    EXPECT_EQ(HistogramBar(h, 0, 1026, 202), (BarRect{1, 200, 4, 201}));
    EXPECT_EQ(HistogramBar(h, 511, 1026, 202), (BarRect{1023, 201, 1026, 201}));
    // Tall boxes scale by at most 2 pixels per count.
    EXPECT_EQ(HistogramBar(h, 10, 1026, 10000).top, 10000 - 1 - 600);
}

}  // namespace
}  // namespace ulvarin
