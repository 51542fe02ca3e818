#include "imaging/image_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "imaging/median.h"

namespace ulvarin {
namespace {

constexpr uint16_t kGood = 0x1FFF;
constexpr uint16_t kMaskedMpx = 0x37FF;  // Medipix2 word with bit 11 cleared

TEST(ImageStatistics, MaskedPixelsNeverCount) {
    const std::vector<double> values{2, 4, 1e9, -1e9, 4, 6};
    const std::vector<uint16_t> config{kGood, kGood, kMaskedMpx, kMaskedMpx, kGood, kGood};
    const ImageStatistics s = ComputeImageStatistics(values, config, ChipFamily::Medipix2);
    EXPECT_EQ(s.goodCount, 4u);
    EXPECT_EQ(s.positiveCount, 4u);
    EXPECT_EQ(s.minimum, 2);
    EXPECT_EQ(s.maximum, 6);
    EXPECT_EQ(s.sum, 16);
    EXPECT_EQ(s.average, 4);
    EXPECT_DOUBLE_EQ(s.standardDeviation, std::sqrt(2.0));  // population form: / n, not n - 1
    // The same words are all good on MXR (bit 0 set in both).
    EXPECT_EQ(ComputeImageStatistics(values, config, ChipFamily::Mxr).goodCount, 6u);
}

TEST(ImageStatistics, ConstantAndEmptyImages) {
    const std::vector<double> sevens(100, 7.0);
    const std::vector<uint16_t> good(100, kGood);
    ImageStatistics s = ComputeImageStatistics(sevens, good, ChipFamily::Timepix);
    EXPECT_EQ(s.minimum, 7);
    EXPECT_EQ(s.maximum, 7);
    EXPECT_EQ(s.average, 7);
    EXPECT_EQ(s.standardDeviation, 0);

    const std::vector<uint16_t> masked(100, 0x1F7F);
    s = ComputeImageStatistics(sevens, masked, ChipFamily::Timepix);
    const StatisticsLabels labels = FormatStatisticsLabels(s, 0);
    EXPECT_EQ(labels.range, "20000000-0");
    EXPECT_EQ(labels.sum, "0");
    EXPECT_EQ(labels.average, "0");
    EXPECT_EQ(labels.standardDeviation, "0");
    EXPECT_EQ(labels.time, "0 s");
}

TEST(ImageStatistics, RangeIsTheTrueRangeBeyondTheEmptyDefaults) {
    // Integrated counts above 20000000, or negative values, are reported as they are.
    const std::vector<uint16_t> good(2, kGood);
    ImageStatistics s = ComputeImageStatistics(std::vector<double>{3e7, 5e7}, good, ChipFamily::Mxr);
    EXPECT_EQ(s.minimum, 3e7);
    s = ComputeImageStatistics(std::vector<double>{-8, -3}, good, ChipFamily::Mxr);
    EXPECT_EQ(s.maximum, -3);
    EXPECT_EQ(s.positiveCount, 0u);
}

TEST(ImageStatistics, LabelTexts) {
    ImageStatistics s;
    s.minimum = 0;
    s.maximum = 1234;
    s.sum = 123456789012.5;
    s.average = 2.0 / 3.0;
    s.standardDeviation = 1234567891;
    const StatisticsLabels labels = FormatStatisticsLabels(s, 1.5);
    EXPECT_EQ(labels.range, "0-1234");
    EXPECT_EQ(labels.sum, "123456789012.5");
    EXPECT_EQ(labels.average, "0.66666667");
    EXPECT_EQ(labels.standardDeviation, "1.2345679e+09");
    EXPECT_EQ(labels.median, "<click>");
    EXPECT_EQ(labels.time, "1.5 s");
    EXPECT_EQ(FormatMedianLabel(3.25), "3.25");
}

TEST(Median, ElementHalfwayUpTheOrder) {
    EXPECT_EQ(MedianOf(std::vector<double>{5, 1, 4, 2, 3}), 3);
    EXPECT_EQ(MedianOf(std::vector<double>{4, 3, 2, 1}), 3);  // the upper middle
    EXPECT_EQ(MedianOf(std::vector<double>{-7}), -7);
    EXPECT_EQ(MedianOf({}), 0);
    EXPECT_EQ(MedianOf(std::vector<double>{2, 2, 1, 2, 1, 1}), 2);
    // Negative values, zeros of both signs and the bad-pixel marker keep their order.
    EXPECT_EQ(MedianOf(std::vector<double>{-1.23456789e300, -2.5, -0.0, 0.0, 1e-300, 3, -1}), 0);
    EXPECT_EQ(MedianOf(std::vector<double>{-3, -1.5, -2, -1e-310, -5}), -2);
    EXPECT_EQ(MedianOf(std::vector<double>{INFINITY, -INFINITY, 1}), 1);
    // Not-a-number values order last.
    EXPECT_EQ(MedianOf(std::vector<double>{NAN, 1, NAN, 2, 3}), 3);
    EXPECT_TRUE(std::isnan(MedianOf(std::vector<double>{NAN, NAN, 1})));
}

TEST(Median, MatchesAFullSortOnFrameSizedData) {
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> counts(0, 40);  // many ties, like real frames
    std::normal_distribution<double> spread(1.0, 0.3);  // flat-field factors: one bucket
    for (size_t n : {size_t{65536}, size_t{262143}}) {
        std::vector<double> ties(n);
        std::vector<double> factors(n);
        for (double& v : ties) v = counts(gen);
        for (double& v : factors) v = spread(gen);
        for (std::vector<double>* values : {&ties, &factors}) {
            std::vector<double> sorted = *values;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(MedianOf(*values), sorted[n / 2]) << n;
        }
    }
}

}  // namespace
}  // namespace ulvarin
