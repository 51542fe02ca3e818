// The analog views' curves as plain numbers for the larger plot window: named series of
// (x, y) points with axis titles, the CSV text of them, the point nearest the mouse, and
// the placement of curve labels that must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analog/plot_geometry.h"
#include "analog/pulse_heights.h"
#include "analog/pulse_plot.h"
#include "analog/pulse_store.h"

namespace ulvarin {

struct PlotSeries {
    std::string name;
    Rgb colour;
    std::vector<double> x;  // as many as y
    std::vector<double> y;
};

struct PlotData {
    std::string title;
    std::string xTitle;
    std::string yTitle;
    std::vector<PlotSeries> series;
    // The title of the window showing these curves; "" keeps the window's own.
    std::string windowTitle;
};

// The pulse view's curves. While the history holds a scan: every record's median and
// average (the whole image's as "Median (all)", chip c's as "Median chip c") over the
// scanned values start + j * step, titled after the DAC scanned ("Scan of Thl Fine" over
// "Thl Fine (DAC value)", also in the window's title). Otherwise the newest pulse's
// channels over the sample number. Samples are taken as stored, without the small view's
// truncation.
PlotData PulseViewSeries(const PulseStore& store, const ScanAxis& scan);

// The spectrum: the count of each bin over the pulse height, one series.
PlotData SpectrumSeries(const Spectrum& spectrum, int32_t pulseCount);

// A number written for a file: the shortest decimal that reads back as the same double,
// with a point whatever the locale; "nan", "inf" and "-inf" for the others.
std::string CsvNumber(double value);

// CSV text: a header row (the x title, then each series' name), then one row per distinct
// x value in increasing order, holding the x value and each series' y at that x (empty
// where a series has no point there). Fields holding a comma or quote are quoted. Each row
// ends with "\n".
std::string PlotCsv(const PlotData& data);

struct PlotHit {
    size_t series = 0;
    size_t index = 0;

    bool operator==(const PlotHit&) const = default;
};

// The point nearest to (x, y) as the eye sees it: distances are counted in pixels, one
// pixel being `xPerPixel` along x and `yPerPixel` along y (both above 0). Points that are
// not finite are skipped; none without any point.
std::optional<PlotHit> NearestPoint(const PlotData& data, double x, double y, double xPerPixel,
                                    double yPerPixel);

// A label's box: its wanted top left (x, y) and its size in pixels.
struct LabelBox {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Moves labels so that no two overlap and each stays inside a box of `height` pixels
// where it can: sorted by their wanted y, they are stacked one line apart in columns of as
// many as fit the height, each column right of the widest label before it. A label keeps
// its wanted place when nothing else is there. Returns the new top left of each, in the
// order given.
std::vector<PlotPoint> SpreadLabels(const std::vector<LabelBox>& labels, int height);

}  // namespace ulvarin
