// Layout of the pulse view: the 16 history slots' curves on a common scale, the newest in
// full colour and older ones darker, or the curves of a DAC scan over the scanned values.
#pragma once

#include <string>
#include <vector>

#include "analog/plot_geometry.h"
#include "analog/pulse_store.h"

namespace ulvarin {

// The scanned values of a DAC scan: sample j of a scan curve stands for start + j * step.
// Both are 0 until a scan has run. `dacName` names the DAC scanned ("" when unknown).
struct ScanAxis {
    double start = 0.0;
    double step = 0.0;
    std::string dacName;
};

// The common scale of all 16 slots. Samples count as their values truncated toward zero
// (not-a-number as 0, held to +-1e15); a slot without any sample counts as a value of 0,
// so until all 16 slots are filled the scale reaches down to 0.
struct PulseScale {
    int samples = 0;    // N: the largest channel count
    double vmax = 0;    // largest sample
    double vmin = 0;    // smallest sample
    double origin = 0;  // V0: vmin when the curves sit far above 0 (or below it), else 0
};

PulseScale ComputePulseScale(const PulseStore& store);

struct PulseCurve {
    int channel = 0;
    int age = 0;  // 0 for the newest slot, 15 for the oldest
    Rgb colour;   // the channel colour, darker with age
    std::vector<PlotPoint> points;
};

struct PulsePlot {
    PulseScale scale;
    bool drawn = false;              // only when vmin < vmax and there are samples
    std::vector<PlotLine> frame;     // solid, dark grey (64, 64, 64)
    PlotGrid grid;                   // dotted, dark grey
    std::vector<PulseCurve> curves;  // oldest first, the order to draw them in
    // For each curve of the newest slot, in its colour: its lowest value at its first
    // occurrence, its highest one a line above its first occurrence, and for scan curves
    // the curve's name at the top left.
    std::vector<ColouredLabel> labels;
};

// Everything the pulse view draws in a box of width x height pixels; `fontHeight` is the
// height of a text line.
PulsePlot LayoutPulseView(const PulseStore& store, const ScanAxis& scan, int width, int height,
                          int fontHeight);

}  // namespace ulvarin
