// Painting of the plot layouts (grids, labels, polylines) the analog views are computed
// into, so each view's painter only walks its layout.
#pragma once

#include <QColor>
#include <vector>

#include "analog/plot_geometry.h"

class QPainter;

namespace ulvarin {

QColor ToQColor(Rgb colour);
// Writes the label's text in the painter's pen; its y is the top of the text and its x the
// left end, centre or right end as its anchor says.
void DrawLabel(QPainter& painter, const PlotLabel& label);
// Dotted lines and their labels in `colour`.
void DrawGrid(QPainter& painter, const PlotGrid& grid, const QColor& colour);
// Lines from point to point in the painter's pen; nothing for fewer than two points.
void DrawPolyline(QPainter& painter, const std::vector<PlotPoint>& points);

}  // namespace ulvarin
