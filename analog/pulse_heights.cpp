#include "analog/pulse_heights.h"

#include <algorithm>
#include <cstdio>

namespace ulvarin {
namespace {

constexpr int kLastBin = kSpectrumBins - 1;
constexpr double kMaxPixelsPerCount = 5.0;

// Walks from the peak towards `dir` (+1 or -1) to where the counts first drop below half the
// peak and places the edge between that bin and the one before it. Differences are taken in
// double so that large counts cannot overflow.
bool FindEdge(const Spectrum& s, const SpectrumPeak& peak, int dir, double& edge) {
    const int32_t half = peak.value / 2;
    const double halfValue = 0.5 * peak.value;
    for (int k = peak.bin; k + dir >= 0 && k + dir <= kLastBin; k += dir) {
        const auto here = static_cast<double>(s[static_cast<size_t>(k)]);
        const int32_t next = s[static_cast<size_t>(k + dir)];
        if (next < half) {
            edge = k + dir * (here - halfValue) / (here - next);
            return true;
        }
    }
    return false;
}

std::string Format(const char* format, auto value) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

SpectrumPeak FindSpectrumPeak(const Spectrum& spectrum) {
    SpectrumPeak peak;
    const auto top = std::max_element(spectrum.begin(), spectrum.end());  // first of the largest
    peak.bin = static_cast<int>(top - spectrum.begin());
    peak.value = *top;
    if (peak.bin <= 0 || peak.bin >= kLastBin) return peak;
    double left = 0;
    double right = 0;
    if (FindEdge(spectrum, peak, -1, left) && FindEdge(spectrum, peak, +1, right)) {
        peak.fwhmFound = true;
        peak.leftEdge = left;
        peak.rightEdge = right;
        peak.fwhm = right - left;
    }
    return peak;
}

SpectrumPlot LayoutSpectrum(const Spectrum& spectrum, int32_t pulseCount, int width, int height,
                            int fontHeight) {
    SpectrumPlot plot;
    plot.peak = FindSpectrumPeak(spectrum);
    if (plot.peak.value <= 0) return plot;
    plot.drawn = true;

    const double xs = (width - 2) / static_cast<double>(kSpectrumBins);
    const double ys =
        std::min((height - 2) / static_cast<double>(plot.peak.value), kMaxPixelsPerCount);
    plot.bars.reserve(kSpectrumBins);
    for (int j = 0; j < kSpectrumBins; ++j) {
        const double count = spectrum[static_cast<size_t>(j)];
        plot.bars.push_back({ToPixel(j * xs + 1), ToPixel((height - 1) - count * ys),
                             ToPixel((j + 1) * xs + 1.9999), height - 1});
    }

    const int x = width - 70;
    const int f = fontHeight;
    plot.labels = {PlotLabel{x, 5, Format("Sum=%d", pulseCount)},
                   PlotLabel{x, f + 6, Format("Peak=%d", plot.peak.bin)},
                   PlotLabel{x, 2 * f + 7, Format("Val=%d", plot.peak.value)},
                   PlotLabel{x, 3 * f + 7, Format("FWHM=%.6g", plot.peak.fwhm)}};
    return plot;
}

}  // namespace ulvarin
