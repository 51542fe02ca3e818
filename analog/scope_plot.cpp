#include "analog/scope_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/number_text.h"

namespace ulvarin {
namespace {

constexpr double kVoltsPerCode = 2.5 / 4096;
constexpr double kHeightPerVolt = 0.4;  // the box is 2.5 V high
constexpr double kMinWindow = 2.0;
constexpr double kMaxWindow = 20.0;
constexpr int kVoltageLines = 24;
constexpr int kPixelsPerTimeLine = 50;
// Beyond this many steps from 0 the step no longer resolves the axis.
constexpr double kMaxExactSteps = 9007199254740992.0;  // 2^53

PlotGrid VoltageGrid(int width, int height) {
    PlotGrid grid;
    for (int i = 1; i <= kVoltageLines; ++i) {
        const int y = ToPixel(height * i * 0.04);
        grid.lines.push_back({{0, y}, {width, y}});
        if (i % 2 == 0) continue;
        const std::string text = FormatDouble("%g", (kVoltageLines + 1 - i) * 0.1);
        grid.labels.push_back({5, y - 6, text});
        grid.labels.push_back({width - 20, y - 6, text});
    }
    return grid;
}

// Lines at the multiples of a round step inside the window, from the right end leftwards.
// Works in double with a whole-number step index, so clock times (about 1.7e9 s) neither
// overflow nor drift.
PlotGrid TimeGrid(ScopeTimeWindow window, double xs, int width, int height) {
    PlotGrid grid;
    // About one line per 50 pixels, but never more than half the line limit however wide.
    const int divisions = std::min(width / kPixelsPerTimeLine, kMaxGridLines / 2);
    const double u = NiceStep(window.right - window.left, divisions);
    const double first = std::trunc(window.right / u);
    if (!(std::fabs(first) < kMaxExactSteps)) return grid;
    for (int i = 0; i < kMaxGridLines; ++i) {
        const double a = (first - i) * u;
        if (!(a > window.left)) break;
        const int x = ToPixel((a - window.left) * xs);
        grid.lines.push_back({{x, 0}, {x, height}});
        const std::string text = FormatDouble("%g", std::fmod(a, 1000.0));
        grid.labels.push_back({x, 5, text, TextAnchor::Centre});
        grid.labels.push_back({x, height - 17, text, TextAnchor::Centre});
    }
    return grid;
}

std::string AverageLabel(int channel, double volts, int points) {
    const char* format = points < 20 ? "ADC%d %.4g" : points < 100 ? "ADC%d %.5g" : "ADC%d %.6g";
    char text[64];
    std::snprintf(text, sizeof text, format, channel, volts + 0.0);
    return text;
}

ScopeCurve Curve(const ScopeRing& ring, int channel, ScopeTimeWindow window, double xs,
                 int height) {
    ScopeCurve curve{channel, ChannelColour(channel), {}, {}};
    double sum = 0;
    int counted = 0;
    PlotPoint last;
    for (int j = 0; j < ring.Count(); ++j) {
        const ScopeSample sample = ring.NewestFirst(j);
        const double volts = sample.code * kVoltsPerCode;
        last = {ToPixel((sample.time - window.left) * xs),
                ToPixel(height - volts * kHeightPerVolt * height)};
        sum += volts;
        ++counted;
        if (last.x < 0) break;
        curve.points.push_back(last);
    }
    const double average = counted > 0 ? sum / counted : 0.0;
    curve.label = {std::max(last.x, 0), last.y - 6, AverageLabel(channel, average, counted)};
    return curve;
}

}  // namespace

ScopeTimeWindow ScopeWindow(const ScopeRing& channel0, bool monitoring, double now) {
    const bool any = channel0.Count() > 0;
    double right = monitoring ? now : any ? channel0.NewestFirst(0).time : kMinWindow;
    if (!std::isfinite(right)) right = kMinWindow;
    double left = any ? channel0.NewestFirst(channel0.Count() - 1).time : right - kMinWindow;
    if (!std::isfinite(left)) left = right - kMinWindow;
    if (!(right - left >= kMinWindow)) left = right - kMinWindow;
    if (right - left > kMaxWindow) left = right - kMaxWindow;
    return {left, right};
}

ScopePlot LayoutScopeMonitor(const ScopeMonitor& scope, int width, int height, bool monitoring,
                             double now) {
    ScopePlot plot;
    plot.voltageGrid = VoltageGrid(width, height);
    const ScopeRing& channel0 = scope.rings[0];
    plot.window = ScopeWindow(channel0, monitoring, now);
    const double span = plot.window.right - plot.window.left;
    // At clock times near the double range the 2-second width can round away: no axis then.
    if (!(span > 0) || !std::isfinite(span)) return plot;
    const double xs = width / span;
    plot.timeGrid = TimeGrid(plot.window, xs, width, height);
    if (channel0.Count() == 0) return plot;
    for (int c = 0; c < kAdcChannels; ++c) {
        const ScopeRing& ring = scope.rings[static_cast<size_t>(c)];
        if (!scope.channelEnabled[static_cast<size_t>(c)] || ring.Count() == 0) continue;
        plot.curves.push_back(Curve(ring, c, plot.window, xs, height));
    }
    return plot;
}

}  // namespace ulvarin
