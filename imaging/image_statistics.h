// Statistics of the good pixels of a view, and the texts of the statistics labels.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/chip_layout.h"

namespace ulvarin {

// Minimum and maximum shown when no pixel is good.
constexpr double kEmptyMinimum = 20000000.0;
constexpr double kEmptyMaximum = 0.0;

struct ImageStatistics {
    double minimum = kEmptyMinimum;  // smallest good value
    double maximum = kEmptyMaximum;  // largest good value
    double sum = 0.0;
    double average = 0.0;            // sum / goodCount; 0 without good pixels
    double standardDeviation = 0.0;  // sqrt(sum of (average - value)^2 / goodCount); 0 if none
    uint32_t goodCount = 0;          // pixels whose mask bit is set
    uint32_t positiveCount = 0;      // good pixels with a value > 0
};

// Statistics over the good pixels only: pixel p counts when its configuration word
// config[p] has the family's mask bit set, whatever values[p] holds. Covers the pixels
// present in both spans. Without good pixels every field keeps its default.
ImageStatistics ComputeImageStatistics(std::span<const double> values,
                                       std::span<const uint16_t> config, ChipFamily family);

// ComputeImageStatistics over the pixels the layout's image shows inside `rect` (clipped to
// the image): the same good pixels only, the same sums. `values` and `config` are indexed by
// pixel and cover the layout's pixels in use; otherwise, as without a chip, nothing counts.
ImageStatistics ComputeRegionStatistics(std::span<const double> values,
                                        std::span<const uint16_t> config, const ChipLayout& layout,
                                        const ImageRect& rect);

// Shown in the median label until the median is asked for.
inline constexpr char kMedianPrompt[] = "<click>";

// Numbers are written by ReadableNumber: whole counts in full, others with six or seven
// significant digits.
struct StatisticsLabels {
    std::string range;  // "min-max", e.g. "0-1234"
    std::string sum;
    std::string average;
    std::string standardDeviation;
    std::string median;  // kMedianPrompt: every recomputation clears the median
    std::string time;    // integrated time, "%.8g s"
};

StatisticsLabels FormatStatisticsLabels(const ImageStatistics& stats, double integratedTime);

// The median label once computed (ReadableNumber).
std::string FormatMedianLabel(double median);

}  // namespace ulvarin
