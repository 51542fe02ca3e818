#include "imaging/histogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/number_text.h"

namespace ulvarin {

Histogram ComputeHistogram(std::span<const double> values, DisplayRange range) {
    Histogram h;
    h.binWidth = (range.max - range.min) / kHistogramBins;
    if (h.binWidth == 0.0) h.binWidth = 1.0;

    constexpr double kLastBin = kHistogramBins - 1;
    for (const double v : values) {
        if (!(v >= range.min && v <= range.max)) continue;
        // Checked before the cast: v just below max can round to bin 512.
        const double q = (v - range.min) / h.binWidth;
        ++h.bins[q < kLastBin ? static_cast<size_t>(q) : kHistogramBins - 1];
    }

    const auto top = std::max_element(h.bins.begin(), h.bins.end());  // first of the highest
    h.peakBin = static_cast<int>(top - h.bins.begin());
    h.highest = std::max(*top, 0);
    const auto start =
        static_cast<int32_t>(std::min<size_t>(values.size(), std::numeric_limits<int32_t>::max()));
    h.lowest = std::min(*std::min_element(h.bins.begin(), h.bins.end()), start);
    h.peakValue = std::trunc(h.peakBin * h.binWidth + range.min);
    return h;
}

std::string FormatPeakLabel(const Histogram& histogram) {
    return FormatDouble("Peak=%.0f", histogram.peakValue);
}

BarRect HistogramBar(const Histogram& histogram, int bin, int boxWidth, int boxHeight) {
    const double xs = (boxWidth - 2) / static_cast<double>(kHistogramBins);
    const double ys =
        std::min((boxHeight - 2) / static_cast<double>(histogram.highest - histogram.lowest), 2.0);
    const int32_t count = histogram.bins[static_cast<size_t>(bin)];
    return {static_cast<int>(bin * xs + 1),
            static_cast<int>((boxHeight - 1) - (count - histogram.lowest) * ys),
            static_cast<int>((bin + 1) * xs + 2), boxHeight - 1};
}

}  // namespace ulvarin
