// Layouts of the scope monitor, the pulse view and the spectrum, and their shared grid step.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "analog/plot_geometry.h"
#include "analog/pulse_heights.h"
#include "analog/pulse_plot.h"
#include "analog/scope_plot.h"

namespace ulvarin {
namespace {

std::vector<std::string> Texts(const std::vector<PlotLabel>& labels) {
    std::vector<std::string> texts;
    for (const PlotLabel& label : labels) texts.push_back(label.text);
    return texts;
}

void PushAll(ScopeMonitor& scope, double time, uint16_t code0) {
    std::array<uint16_t, kAdcChannels> codes{};
    for (int c = 0; c < kAdcChannels; ++c) codes[static_cast<size_t>(c)] = code0 + c;
    scope.PushReading(codes, time);
}

TEST(NiceStep, RoundStepsAndSoundAnswersForDegenerateSpans) {
    EXPECT_EQ(NiceStep(7, 8), 1);
    EXPECT_EQ(NiceStep(30, 8), 5);
    EXPECT_EQ(NiceStep(2500, 8), 500);
    EXPECT_EQ(NiceStep(-2500, 8), 500);
    EXPECT_EQ(NiceStep(0, 5), 1);
    EXPECT_EQ(NiceStep(19, 0), 10);    // n = 2
    EXPECT_EQ(NiceStep(1.6, 8), 0.2);  // the exact decimal, not 0.2 in single precision

    // Every step is 1, 2, 2.5 or 5 times a power of ten, from 1 to 2.5 times |span| / n.
    for (double span = 1e-30; span < 1e30; span *= 1.37) {
        const double step = NiceStep(span, 8);
        const double ratio = step / (span / 8);
        EXPECT_GE(ratio, 1 - 1e-6) << span;
        EXPECT_LE(ratio, 2.5 + 1e-6) << span;
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                    std::fabs(mantissa - 2.5) < 1e-9 || std::fabs(mantissa - 5) < 1e-9)
            << span << " -> " << step;
    }

    // Spans whose magnitude single precision cannot hold, and non-finite ones, end too.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(NiceStep(inf, 8), 1);
    EXPECT_EQ(NiceStep(-inf, 8), 1);
    EXPECT_EQ(NiceStep(std::nan(""), 8), 1);
    for (const double span : {1e-46, 1e-40, 1e-300, 5e-324, 1e39, 1e300, 1.7e308}) {
        const double step = NiceStep(span, 8);
        EXPECT_TRUE(step > 0 && std::isfinite(step)) << span;
    }
    EXPECT_GE(NiceStep(1e-40, 8), 1e-40 / 8);
    EXPECT_LE(NiceStep(1e-40, 8), 1e-40);
}

TEST(ScopeMonitor, WindowGridsAndCurves) {
    ScopeMonitor scope;
    // No reading yet: the voltage grid and a window of 0 to 2 s.
    ScopePlot plot = LayoutScopeMonitor(scope, 400, 250, false, 1234.5);
    EXPECT_EQ(plot.window, (ScopeTimeWindow{0, 2}));
    ASSERT_EQ(plot.voltageGrid.lines.size(), 24u);
    EXPECT_EQ(plot.voltageGrid.lines[0], (PlotLine{{0, 10}, {400, 10}}));
    ASSERT_EQ(plot.voltageGrid.labels.size(), 24u);
    EXPECT_EQ(plot.voltageGrid.labels[0], (PlotLabel{5, 4, "2.4"}));
    EXPECT_EQ(plot.voltageGrid.labels[1], (PlotLabel{380, 4, "2.4"}));
    EXPECT_EQ(plot.voltageGrid.labels[23].text, "0.2");
    EXPECT_EQ(Texts(plot.timeGrid.labels).front(), "2");
    EXPECT_EQ(plot.timeGrid.lines.size(), 8u);  // 2, 1.75, ... 0.25
    EXPECT_EQ(plot.timeGrid.labels[1], (PlotLabel{400, 233, "2", TextAnchor::Centre}));
    EXPECT_TRUE(plot.curves.empty());

    // 60 s of readings: the newest 20 s are shown; the first reading left of the box ends
    // the curve but counts in the average.
    for (int t = 100; t <= 160; ++t) PushAll(scope, t, 1000);
    plot = LayoutScopeMonitor(scope, 400, 250, false, 0);
    EXPECT_EQ(plot.window, (ScopeTimeWindow{140, 160}));
    ASSERT_EQ(plot.curves.size(), 8u);
    const ScopeCurve& adc0 = plot.curves[0];
    EXPECT_EQ(adc0.points.size(), 21u);
    EXPECT_EQ(adc0.points.front(), (PlotPoint{400, 188}));
    EXPECT_EQ(adc0.label, (PlotLabel{0, 182, "ADC0 0.61035"}));  // 22 counted: "%.5lg"
    EXPECT_EQ(adc0.colour, (Rgb{0, 0, 255}));

    scope.ToggleChannel(3);
    scope.SetInternalMonitors(true);
    plot = LayoutScopeMonitor(scope, 400, 250, false, 0);
    ASSERT_EQ(plot.curves.size(), 12u);
    EXPECT_EQ(plot.curves[3].channel, 4);
    EXPECT_EQ(plot.curves[11].colour, (Rgb{0, 0, 128}));

    // Clock times about 1.7e9 s at a quarter-second step: exact labels, no overflow.
    scope.Clear();
    const double now = 1700000123.3;
    PushAll(scope, now - 1, 0);
    plot = LayoutScopeMonitor(scope, 450, 250, true, now);  // 0.25 s per line
    std::vector<std::string> expected{"123.25", "123", "122.75", "122.5",
                                      "122.25", "122", "121.75", "121.5"};
    std::vector<std::string> top;
    for (size_t i = 0; i < plot.timeGrid.labels.size(); i += 2)
        top.push_back(plot.timeGrid.labels[i].text);
    EXPECT_EQ(top, expected);
    EXPECT_EQ(plot.curves[0].label.text, "ADC0 0");

    // However wide the box, the grid stays small.
    plot = LayoutScopeMonitor(scope, 10'000'000, 250, true, now);
    EXPECT_LE(plot.timeGrid.lines.size(), static_cast<size_t>(kMaxGridLines));
    EXPECT_GT(plot.timeGrid.lines.size(), 8u);
}

TEST(ScopeMonitor, DegenerateRingsAndClocksDrawSafely) {
    ScopeMonitor scope;
    PushAll(scope, 5, 4095);  // one reading: a 2-second window ending on it
    ScopePlot plot = LayoutScopeMonitor(scope, 0, 0, false, 0);
    EXPECT_EQ(plot.window, (ScopeTimeWindow{3, 5}));
    ASSERT_EQ(plot.curves[0].points.size(), 1u);
    EXPECT_EQ(plot.curves[0].label.text, "ADC0 2.499");

    scope.Clear();
    for (const double t : {10.0, 9.0, 8.0}) PushAll(scope, t, 10);  // times running backwards
    plot = LayoutScopeMonitor(scope, 100, 100, false, 0);
    EXPECT_EQ(plot.window, (ScopeTimeWindow{6, 8}));
    EXPECT_EQ(plot.curves[0].points.size(), 3u);
    EXPECT_EQ(plot.curves[0].points[2].x, 200);

    // A clock so large that 2 s vanish in rounding, or not a number: no axis, no curves.
    plot = LayoutScopeMonitor(scope, 100, 100, true, 1e300);
    EXPECT_TRUE(plot.timeGrid.lines.empty());
    EXPECT_TRUE(plot.curves.empty());
    plot = LayoutScopeMonitor(scope, 100, 100, true, std::nan(""));
    EXPECT_EQ(plot.window.right, 2);

    // A full ring keeps the newest 1024 readings.
    for (int i = 0; i < 1500; ++i) scope.rings[5].Push(static_cast<uint16_t>(i), i);
    EXPECT_EQ(scope.rings[5].Count(), kRingEntries);
    EXPECT_EQ(scope.rings[5].NewestFirst(0).code, 1499);
    EXPECT_EQ(scope.rings[5].NewestFirst(kRingEntries - 1).code, 1499 - 1023);
}

TEST(PulseView, ScaleGridsCurvesAndLabels) {
    PulseStore store;
    EXPECT_FALSE(LayoutPulseView(store, {}, 210, 110, 13).drawn);

    store.CurrentPulse().Append(0, 100.7);
    store.CurrentPulse().Append(0, 300);
    store.CurrentPulse().Append(0, 200);
    store.ProcessPulse({});
    PulsePlot plot = LayoutPulseView(store, {}, 210, 110, 13);
    ASSERT_TRUE(plot.drawn);
    EXPECT_EQ(plot.scale.samples, 3);
    EXPECT_EQ(plot.scale.vmin, 0);  // 15 empty slots count as 0
    EXPECT_EQ(plot.scale.origin, 0);
    EXPECT_EQ(plot.frame.size(), 4u);
    ASSERT_EQ(plot.curves.size(), 1u);
    EXPECT_EQ(plot.curves[0].points,
              (std::vector<PlotPoint>{{5, 71}, {71, 5}, {138, 38}}));  // xs 200/3, ys 1/3
    EXPECT_EQ(Texts(plot.grid.labels),
              (std::vector<std::string>{"50", "50", "100", "100", "150", "150", "200", "200", "250",
                                        "250"}));
    EXPECT_EQ(plot.grid.labels[1].anchor, TextAnchor::Right);
    ASSERT_EQ(plot.labels.size(), 2u);
    EXPECT_EQ(plot.labels[0].label, (PlotLabel{5, 71, "100"}));
    EXPECT_EQ(plot.labels[1].label, (PlotLabel{71, 5 - 13, "300"}));

    // Sixteen full shots on 8 channels near 1000: the origin moves up to the lowest sample,
    // older shots are darker.
    for (int shot = 0; shot < kHistorySlots; ++shot) {
        store.CurrentPulse().Clear();
        for (int c = 0; c < kPulseChannels; ++c)
            for (int j = 0; j < kPulseSamples; ++j) store.CurrentPulse().Append(c, 1000 + j % 11);
        store.ProcessPulse({.restoreBaseLine = false});
    }
    plot = LayoutPulseView(store, {}, 1000, 400, 13);
    EXPECT_EQ(plot.scale.origin, 1000);
    ASSERT_EQ(plot.curves.size(), 128u);
    EXPECT_EQ(plot.curves.back().age, 0);
    EXPECT_EQ(plot.curves.back().points.size(), 1024u);
    EXPECT_EQ(plot.curves[0].colour, (Rgb{0, 0, 51}));           // age 15: divided by 5
    EXPECT_EQ(plot.curves[10 * 8 + 1].colour, (Rgb{85, 0, 0}));  // age 5: divided by 3
}

TEST(PulseView, ScanCurvesOverTheScannedValues) {
    PulseStore store;
    store.BeginScan(0);
    for (int j = 0; j < 64; ++j) {
        store.HistorySlot(0).Append(0, 100000 + j);  // sums of counts: beyond 16 bits
        store.HistorySlot(0).Append(1, 50000);
        store.HistorySlot(1).Append(0, 90000);
    }
    PulsePlot plot = LayoutPulseView(store, {140, 1}, 650, 300, 13);
    ASSERT_TRUE(plot.drawn);
    EXPECT_EQ(plot.scale.vmax, 100063);
    EXPECT_EQ(plot.scale.origin, 0);  // empty slots count as 0
    // Scan values from 140: lines at 150 ... 200, 10 per step of 64 points.
    std::vector<std::string> columns;
    for (const PlotLabel& label : plot.grid.labels)
        if (label.anchor == TextAnchor::Centre && label.y == 6) columns.push_back(label.text);
    EXPECT_EQ(columns, (std::vector<std::string>{"150", "160", "170", "180", "190", "200"}));
    EXPECT_EQ(plot.grid.lines[0].from.x, 5 + 10 * 10);  // xs = 640 / 64
    EXPECT_EQ(plot.curves[0].colour, (Rgb{0, 0, 85}));  // older scan curves: divided by 3
    std::vector<std::string> names;
    for (const ColouredLabel& l : plot.labels)
        if (l.label.x == 7) names.push_back(l.label.text);
    EXPECT_EQ(names, (std::vector<std::string>{"Median", "Average"}));

    // A scan step of 0 draws no vertical lines.
    plot = LayoutPulseView(store, {140, 0}, 650, 300, 13);
    for (const PlotLabel& label : plot.grid.labels) EXPECT_NE(label.anchor, TextAnchor::Centre);
}

TEST(Spectrum, PeakWidthAndLayout) {
    Spectrum s{};
    EXPECT_FALSE(LayoutSpectrum(s, 0, 300, 100, 13).drawn);

    s[1000] = 10;
    SpectrumPlot plot = LayoutSpectrum(s, 10, 4098, 102, 13);
    ASSERT_TRUE(plot.drawn);
    EXPECT_EQ(plot.peak.bin, 1000);
    EXPECT_TRUE(plot.peak.fwhmFound);
    EXPECT_EQ(plot.peak.leftEdge, 999.5);
    EXPECT_EQ(plot.peak.rightEdge, 1000.5);
    EXPECT_EQ(plot.bars[1000], (BarRect{1001, 51, 1002, 101}));  // 5 pixels per count at most
    EXPECT_EQ(plot.labels[0], (PlotLabel{4028, 5, "Sum=10"}));
    EXPECT_EQ(Texts(std::vector<PlotLabel>(plot.labels.begin(), plot.labels.end())),
              (std::vector<std::string>{"Sum=10", "Peak=1000", "Val=10", "FWHM=1"}));
    EXPECT_EQ(plot.labels[3].y, 3 * 13 + 7);

    s = {};
    const int32_t shape[] = {2, 6, 10, 6, 2};
    for (int i = 0; i < 5; ++i) s[static_cast<size_t>(998 + i)] = shape[i];
    EXPECT_DOUBLE_EQ(FindSpectrumPeak(s).fwhm, 2.5);  // 1001.25 - 998.75

    // The counts never fall to half on the right: no width rather than a bogus one.
    s = {};
    s[4090] = 1;
    s[4093] = s[4094] = s[4095] = 10;
    SpectrumPeak peak = FindSpectrumPeak(s);
    EXPECT_EQ(peak.bin, 4093);
    EXPECT_FALSE(peak.fwhmFound);
    EXPECT_EQ(peak.fwhm, 0);
    EXPECT_EQ(LayoutSpectrum(s, 31, 300, 100, 13).labels[3].text, "FWHM=0");
    s = {};
    s[0] = 7;  // a peak in the first bin has no width either
    EXPECT_FALSE(FindSpectrumPeak(s).fwhmFound);
}

}  // namespace
}  // namespace ulvarin
