// Layout of the scope monitor: the newest readings of the enabled ADC channels over a time
// window of 2 to 20 seconds, on a black box whose full height is 2.5 V.
#pragma once

#include <string>
#include <vector>

#include "analog/plot_geometry.h"
#include "analog/scope_ring.h"

namespace ulvarin {

struct ScopeTimeWindow {
    double left = 0.0;  // seconds at the box's left edge
    double right = 0.0;

    bool operator==(const ScopeTimeWindow&) const = default;
};

// The time window. Right end: `now` while monitoring, else the newest reading of channel 0,
// else 2. Left end: the oldest reading of channel 0, else right - 2. The width is then held
// to 2 to 20 seconds by moving the left end (also when the ring's times run backwards).
// A time that is not finite falls back as if there were no reading.
ScopeTimeWindow ScopeWindow(const ScopeRing& channel0, bool monitoring, double now);

struct ScopeCurve {
    int channel = 0;
    Rgb colour;
    // Polyline from the newest reading back in time; a point left of the box ends it and
    // is not part of it.
    std::vector<PlotPoint> points;
    // "ADC%d %.4lg" (fewer than 20 readings counted), "%.5lg" (up to 99) or "%.6lg" with the
    // channel and the average volts of the readings walked, at the last one walked.
    PlotLabel label;
};

struct ScopePlot {
    ScopeTimeWindow window;
    PlotGrid voltageGrid;  // 24 lines, every other one labelled 2.4, 2.2, ... 0.2 on both sides
    PlotGrid timeGrid;     // seconds modulo 1000, labelled at the top and the bottom
    std::vector<ScopeCurve> curves;  // enabled channels in order, only while channel 0 has data
};

// Everything the scope monitor draws in a box of width x height pixels. `monitoring` is the
// periodic monitoring check box, `now` the clock's current time.
ScopePlot LayoutScopeMonitor(const ScopeMonitor& scope, int width, int height, bool monitoring,
                             double now);

}  // namespace ulvarin
