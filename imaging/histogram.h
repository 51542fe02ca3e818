// The 512-bin histogram of a view inside the display range, its peak, and the geometry of
// its bars in the histogram box.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "imaging/display_range.h"

namespace ulvarin {

constexpr int kHistogramBins = 512;

struct Histogram {
    std::array<int32_t, kHistogramBins> bins{};
    double binWidth = 1.0;   // (max - min) / 512, or 1 for an empty range
    int32_t highest = 0;     // largest bin count
    int32_t lowest = 0;      // smallest bin count
    int peakBin = 0;         // first bin holding `highest`
    double peakValue = 0.0;  // lower edge of the peak bin, truncated toward zero

    // Bars and the peak label are drawn only when the bins differ.
    bool hasPeak() const { return highest != lowest; }
};

// Counts every value v with range.min <= v <= range.max (masked pixels included) in bin
// trunc((v - min) / binWidth); v = max goes into the last bin, as does any value that
// rounding would put past it. `lowest` starts from values.size().
Histogram ComputeHistogram(std::span<const double> values, DisplayRange range);

// "Peak=%d" with the peak value.
std::string FormatPeakLabel(const Histogram& histogram);

struct BarRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const BarRect&) const = default;
};

// The filled rectangle of bin `bin` (0 to 511) in a box of boxWidth x boxHeight pixels:
// 512 bars across the box inside a one-pixel margin, heights scaled from `lowest` to
// `highest` by at most 2 pixels per count, standing on the line boxHeight - 1.
// Requires histogram.hasPeak().
BarRect HistogramBar(const Histogram& histogram, int bin, int boxWidth, int boxHeight);

}  // namespace ulvarin
