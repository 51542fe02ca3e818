#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "imaging/image_statistics.h"
#include "imaging/median.h"

namespace ulvarin {
namespace {

using Values = std::vector<double>;
using Words = std::vector<uint16_t>;
constexpr uint16_t kGood = 0x1FFF;
constexpr uint16_t kMaskedMpx = 0x37FF;  // Medipix2 word with bit 11 cleared

TEST(ImageStatistics, MaskedPixelsNeverCount) {
    const Values values{2, 4, 1e9, -1e9, 4, 6};
    const Words config{kGood, kGood, kMaskedMpx, kMaskedMpx, kGood, kGood};
    const ImageStatistics s = ComputeImageStatistics(values, config, ChipFamily::Medipix2);
    EXPECT_EQ(s.goodCount, 4u);
    EXPECT_EQ(s.minimum, 2);
    EXPECT_EQ(s.maximum, 6);
    EXPECT_EQ(s.sum, 16);
    EXPECT_EQ(s.average, 4);
    EXPECT_DOUBLE_EQ(s.standardDeviation, std::sqrt(2.0));  // divided by n, not n - 1
    // The same words are all good on MXR (bit 0 set in both).
    EXPECT_EQ(ComputeImageStatistics(values, config, ChipFamily::Mxr).goodCount, 6u);
}

TEST(ImageStatistics, ConstantFullyMaskedAndOutlyingImages) {
    const Values sevens(100, 7.0);
    ImageStatistics s = ComputeImageStatistics(sevens, Words(100, kGood), ChipFamily::Timepix);
    EXPECT_EQ(FormatStatisticsLabels(s, 0).range, "7-7");
    EXPECT_EQ(s.standardDeviation, 0);

    s = ComputeImageStatistics(sevens, Words(100, 0x1F7F), ChipFamily::Timepix);
    const StatisticsLabels labels = FormatStatisticsLabels(s, 1.5);
    EXPECT_EQ(labels.range, "20000000-0");
    EXPECT_EQ(labels.average, "0");
    EXPECT_EQ(labels.standardDeviation, "0");
    EXPECT_EQ(labels.time, "1.5 s");

    // The true range, also past the empty defaults: long integrations pass 20000000,
    // loaded files may hold negative counts.
    s = ComputeImageStatistics(Values{3e7, 5e7}, Words(2, kGood), ChipFamily::Mxr);
    EXPECT_EQ(FormatStatisticsLabels(s, 0).range, "30000000-50000000");
    s = ComputeImageStatistics(Values{-8, -3}, Words(2, kGood), ChipFamily::Mxr);
    EXPECT_EQ(FormatStatisticsLabels(s, 0).range, "-8--3");
}

TEST(Median, ElementHalfwayUpTheOrder) {
    EXPECT_EQ(MedianOf(Values{5, 1, 4, 2, 3}), 3);
    EXPECT_EQ(MedianOf(Values{4, 3, 2, 1}), 3);  // the upper middle
    EXPECT_EQ(MedianOf({}), 0);
    // Negative values, zeros and the bad-pixel marker keep their order.
    EXPECT_EQ(MedianOf(Values{-1.23456789e300, -2.5, -0.0, 0.0, 1e-300, 3, -1}), 0);
    EXPECT_EQ(MedianOf(Values{-3, -1.5, -2, -1e-310, -5}), -2);
    // Not-a-number values order last.
    EXPECT_EQ(MedianOf(Values{NAN, 1, NAN, 2, 3}), 3);
    EXPECT_TRUE(std::isnan(MedianOf(Values{NAN, NAN, 1})));
}

TEST(Median, MatchesAFullSortOnFrameSizedData) {
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> counts(0, 40);   // many ties, like real frames
    std::normal_distribution<double> spread(1.0, 0.3);  // flat-field factors: few buckets
    Values ties(262143);
    Values factors(262144);
    for (double& v : ties) v = counts(gen);
    for (double& v : factors) v = spread(gen);
    for (Values values : {ties, factors}) {
        const double median = MedianOf(values);
        std::sort(values.begin(), values.end());
        EXPECT_EQ(median, values[values.size() / 2]);
    }
}

}  // namespace
}  // namespace ulvarin
