// The spectrum of back-side pulse heights: 4096 bins, its peak, the peak's full width at
// half maximum, and the layout of the spectrum box.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analog/plot_geometry.h"
#include "imaging/histogram.h"

namespace ulvarin {

constexpr int kSpectrumBins = 4096;
using Spectrum = std::array<int32_t, kSpectrumBins>;

struct SpectrumPeak {
    int bin = 0;        // the first bin holding the largest count
    int32_t value = 0;  // the largest count
    // Both half-maximum edges found: a bin on each side of the peak below value / 2
    // (integer division), the peak not in the first or last bin.
    bool fwhmFound = false;
    double leftEdge = 0.0;  // the edges, interpolated linearly between bins; 0 when not found
    double rightEdge = 0.0;
    double fwhm = 0.0;  // rightEdge - leftEdge when found, else 0 (a found width is above 0)
};

// The peak and its width at half height. Each edge lies between the last bin at or above
// half the peak count and the first one below it, interpolated linearly; a lone filled bin
// is thus one bin wide. Without a fall below half on both sides there is no width.
SpectrumPeak FindSpectrumPeak(const Spectrum& spectrum);

struct SpectrumPlot {
    bool drawn = false;  // false while no bin is above 0: the box stays empty
    SpectrumPeak peak;
    std::vector<BarRect> bars;  // bar j for bin j, filled green, standing on height - 1
    // Pulse count, peak bin, peak count and width, one per line near the right edge.
    std::array<PlotLabel, 4> labels;
};

// The spectrum box of width x height pixels; `fontHeight` is the height of a text line.
// Bars are scaled to the largest count, at most 5 pixels per count.
SpectrumPlot LayoutSpectrum(const Spectrum& spectrum, int32_t pulseCount, int width, int height,
                            int fontHeight);

}  // namespace ulvarin
