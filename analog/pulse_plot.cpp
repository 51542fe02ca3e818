#include "analog/pulse_plot.h"

#include <algorithm>
#include <cmath>

#include "analog/scope_ring.h"
#include "base/number_text.h"

namespace ulvarin {
namespace {

constexpr int kMargin = 5;
constexpr int kGridDivisions = 8;
constexpr double kMaxLevel = 1e15;
constexpr double kMaxExactSteps = 9007199254740992.0;  // 2^53

// A sample as the view counts it: truncated toward zero. Scan curves (sums of counts) can
// exceed 16 bits, so no 16-bit wrap: the value is only held to a range doubles keep exact.
double Level(double sample) {
    if (std::isnan(sample)) return 0;
    return std::trunc(std::clamp(sample, -kMaxLevel, kMaxLevel));
}

int NewestSlot(const PulseStore& store) {
    return store.HistoryIndex().value_or(kHistorySlots);
}

int SlotOfAge(const PulseStore& store, int age) {
    return ((NewestSlot(store) - age) % kHistorySlots + kHistorySlots) % kHistorySlots;
}

Rgb AgedColour(int channel, int age, bool scan) {
    Rgb colour = ChannelColour(channel);
    if (age == 0) return colour;
    const double k = scan ? 3.0 : 2.0 + 0.2 * age;
    for (uint8_t* part : {&colour.red, &colour.green, &colour.blue})
        *part = static_cast<uint8_t>(*part / k);
    return colour;
}

// The first multiple of `u` above `from` and its successors while below `limit`, as at most
// kMaxGridLines values; stepping a whole-number index keeps them exact multiples.
std::vector<double> GridValues(double from, double limit, double u) {
    std::vector<double> values;
    const double first = std::ceil(from / u) + 1;
    if (!(std::fabs(first) < kMaxExactSteps)) return values;
    for (int i = 0; i < kMaxGridLines; ++i) {
        const double a = (first + i) * u;
        if (!(limit > a)) break;
        values.push_back(a);
    }
    return values;
}

struct Geometry {
    int width = 0;
    int height = 0;
    double xs = 0;
    double ys = 0;
    double origin = 0;

    PlotPoint At(int j, double level) const {
        return {ToPixel(kMargin + j * xs), ToPixel((height - kMargin) - (level - origin) * ys)};
    }
};

std::vector<PlotLine> Frame(int w, int h) {
    const PlotPoint topLeft{kMargin, kMargin};
    const PlotPoint bottomLeft{kMargin, h - kMargin};
    const PlotPoint bottomRight{w - kMargin, h - kMargin};
    const PlotPoint topRight{w - kMargin, kMargin};
    return {{topLeft, bottomLeft},
            {bottomLeft, bottomRight},
            {bottomRight, topRight},
            {topRight, topLeft}};
}

// Vertical lines in units of the scanned value; none without a scan step.
void AddScanGrid(PlotGrid& grid, const Geometry& g, int samples, const ScanAxis& scan,
                 bool holdsScan) {
    if (scan.step == 0) return;
    const double span = samples * scan.step;
    const double x0 = holdsScan ? scan.start : 0.0;
    for (const double a : GridValues(x0, x0 + span, NiceStep(span, kGridDivisions))) {
        const int x = ToPixel((a - x0) / scan.step * g.xs + kMargin);
        grid.lines.push_back({{x, kMargin}, {x, g.height - kMargin}});
        const std::string text = FormatDouble("%g", a);
        grid.labels.push_back({x, 6, text, TextAnchor::Centre});
        grid.labels.push_back({x, g.height - 18, text, TextAnchor::Centre});
    }
}

void AddLevelGrid(PlotGrid& grid, const Geometry& g, double vmax) {
    for (const double a : GridValues(g.origin, vmax, NiceStep(vmax - g.origin, kGridDivisions))) {
        const int y = ToPixel((g.height - kMargin) - (a - g.origin) * g.ys);
        grid.lines.push_back({{kMargin, y}, {g.width - kMargin, y}});
        const std::string text = FormatDouble("%g", a);
        grid.labels.push_back({7, y - 6, text, TextAnchor::Left});
        grid.labels.push_back({g.width - 7, y - 6, text, TextAnchor::Right});
    }
}

void AddExtremeLabels(std::vector<ColouredLabel>& labels, std::span<const double> samples,
                      const Geometry& g, Rgb colour, int fontHeight) {
    size_t low = 0;
    size_t high = 0;
    for (size_t j = 1; j < samples.size(); ++j) {
        if (Level(samples[j]) < Level(samples[low])) low = j;
        if (Level(samples[j]) > Level(samples[high])) high = j;
    }
    const double lowLevel = Level(samples[low]);
    const double highLevel = Level(samples[high]);
    const PlotPoint lowAt = g.At(static_cast<int>(low), lowLevel);
    const PlotPoint highAt = g.At(static_cast<int>(high), highLevel);
    labels.push_back({{lowAt.x, lowAt.y, FormatDouble("%.0f", lowLevel)}, colour});
    labels.push_back({{highAt.x, highAt.y - fontHeight, FormatDouble("%.0f", highLevel)}, colour});
}

}  // namespace

PulseScale ComputePulseScale(const PulseStore& store) {
    PulseScale scale;
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (int slot = 0; slot < kHistorySlots; ++slot) {
        const PulseRecord& record = store.HistorySlot(slot);
        const int longest = record.LongestCount();
        scale.samples = std::max(scale.samples, longest);
        if (longest == 0) {  // an empty slot counts as a value of 0
            low = std::min(low, 0.0);
            high = std::max(high, 0.0);
        }
        for (int c = 0; c < kPulseChannels; ++c) {
            for (const double sample : record.Samples(c)) {
                low = std::min(low, Level(sample));
                high = std::max(high, Level(sample));
            }
        }
    }
    scale.vmin = low;
    scale.vmax = high;
    return scale;
}

PulsePlot LayoutPulseView(const PulseStore& store, const ScanAxis& scan, int width, int height,
                          int fontHeight) {
    PulsePlot plot;
    PulseScale& s = plot.scale;
    s = ComputePulseScale(store);
    if (!(s.vmin < s.vmax) || s.samples <= 0) return plot;
    plot.drawn = true;
    const bool curvesSitHigh = (s.vmax + s.vmin) / (2 * (s.vmax - s.vmin)) >= 1;
    s.origin = curvesSitHigh || s.vmin < 0 ? s.vmin : 0.0;
    const Geometry g{width, height, (width - 2.0 * kMargin) / s.samples,
                     (height - 2.0 * kMargin) / (s.vmax - s.origin), s.origin};

    plot.frame = Frame(width, height);
    const bool holdsScan = store.HistoryHoldsScan();
    AddScanGrid(plot.grid, g, s.samples, scan, holdsScan);
    AddLevelGrid(plot.grid, g, s.vmax);

    for (int age = kHistorySlots - 1; age >= 0; --age) {
        const PulseRecord& record = store.HistorySlot(SlotOfAge(store, age));
        for (int c = 0; c < kPulseChannels; ++c) {
            const std::span<const double> samples = record.Samples(c);
            if (samples.empty()) continue;
            PulseCurve curve{c, age, AgedColour(c, age, holdsScan), {}};
            curve.points.reserve(samples.size());
            for (size_t j = 0; j < samples.size(); ++j)
                curve.points.push_back(g.At(static_cast<int>(j), Level(samples[j])));
            plot.curves.push_back(std::move(curve));
            if (age != 0) continue;
            AddExtremeLabels(plot.labels, samples, g, ChannelColour(c), fontHeight);
            if (holdsScan)
                plot.labels.push_back({{7, 7 + 14 * c, ScanCurveName(c)}, ChannelColour(c)});
        }
    }
    return plot;
}

}  // namespace ulvarin
