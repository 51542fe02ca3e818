// The spectrum of back-side pulse heights: 4096 bins, its peak, the peak's full width at
// half maximum, and the layout of the spectrum box.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/histogram.h"
#include "imaging/plot_geometry.h"

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

// One bin holding 10 at 1000 and nothing else: peak 1000, value 10, edges 999.5 and 1000.5,
// FWHM 1. A peak whose counts do not fall below half on one side has no FWHM.
SpectrumPeak FindSpectrumPeak(const Spectrum& spectrum);

struct SpectrumPlot {
    bool drawn = false;  // false while no bin is above 0: the box stays empty
    SpectrumPeak peak;
    std::vector<BarRect> bars;  // bar j for bin j, filled green, standing on height - 1
    // Red on black, 70 pixels left of the right edge: "Sum=%d" with the pulse count,
    // "Peak=%d", "Val=%d", "FWHM=%.6g", one below the other.
    std::array<PlotLabel, 4> labels;
};

// The spectrum box of width x height pixels; `fontHeight` is the height of a text line.
// Bars are scaled to the largest count, at most 5 pixels per count.
SpectrumPlot LayoutSpectrum(const Spectrum& spectrum, int32_t pulseCount, int width, int height,
                            int fontHeight);

}  // namespace ulvarin
