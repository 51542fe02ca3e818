#include "imaging/histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace ulvarin {
namespace {

using Values = std::vector<double>;

TEST(Histogram, BinsInsideTheRangeOnly) {
    const Histogram h =
        ComputeHistogram(Values{0, 0.99, 1, 255.5, 511.99, 512, 513, -0.1, NAN}, {0, 512});
    EXPECT_EQ(h.bins[0], 2);
    EXPECT_EQ(h.bins[1], 1);
    EXPECT_EQ(h.bins[255], 1);
    EXPECT_EQ(h.bins[511], 2);  // 511.99 and the upper limit; 513 is outside
    EXPECT_EQ(std::accumulate(h.bins.begin(), h.bins.end(), 0), 6);

    // (v - min) / width rounds up to 512 here; the count must stay in the last bin.
    const double max = 0.1 * 3;
    const Histogram edge = ComputeHistogram(Values{std::nextafter(max, 0.0)}, {0, max});
    EXPECT_EQ(edge.bins[511], 1);

    const Histogram empty = ComputeHistogram(Values{5, 5, 6}, {5, 5});  // width 1
    EXPECT_EQ(empty.bins[0], 2);
}

TEST(Histogram, PeakIsTheFirstHighestBin) {
    Values values{100, 150.2, 150.2, 150.4, 300, 300, 300};  // bins 0, 100, 400 at width 0.5
    Histogram h = ComputeHistogram(values, {100, 356});
    EXPECT_EQ(h.highest, 3);
    EXPECT_EQ(h.lowest, 0);
    EXPECT_EQ(h.peakBin, 100);
    EXPECT_EQ(FormatPeakLabel(h), "Peak=150");
    values.push_back(300);
    h = ComputeHistogram(values, {100, 356});
    EXPECT_EQ(h.peakBin, 400);
    EXPECT_EQ(FormatPeakLabel(h), "Peak=300");

    // All bins equal: no peak to draw.
    EXPECT_FALSE(ComputeHistogram(Values(50, 1.0), {10, 20}).hasPeak());
    Values everyBin;
    for (int i = 0; i < 512; ++i) everyBin.push_back(i + 0.5);
    EXPECT_FALSE(ComputeHistogram(everyBin, {0, 512}).hasPeak());
}

TEST(Histogram, BarGeometry) {
    Values values(300, 10.0);
    values.push_back(0.0);
    const Histogram h = ComputeHistogram(values, {0, 512});  // bin 10: 300, bin 0: 1
    // 1026 x 202 box: 2 pixels per bin across; (202 - 2) / 300 per count upwards.
    EXPECT_EQ(HistogramBar(h, 10, 1026, 202), (BarRect{21, 1, 24, 201}));
    EXPECT_EQ(HistogramBar(h, 0, 1026, 202), (BarRect{1, 200, 4, 201}));
    EXPECT_EQ(HistogramBar(h, 511, 1026, 202), (BarRect{1023, 201, 1026, 201}));
    EXPECT_EQ(HistogramBar(h, 10, 1026, 10000).top, 10000 - 1 - 600);  // at most 2 per count
}

}  // namespace
}  // namespace ulvarin
