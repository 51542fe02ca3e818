#include "widgets/plot_painter.h"

#include <QPainter>
#include <QPolygon>

namespace ulvarin {

QColor ToQColor(Rgb colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

void DrawLabel(QPainter& painter, const PlotLabel& label) {
    const QString text = QString::fromStdString(label.text);
    const QFontMetrics metrics(painter.font());
    int x = label.x;
    if (label.anchor == TextAnchor::Centre) x -= metrics.horizontalAdvance(text) / 2;
    if (label.anchor == TextAnchor::Right) x -= metrics.horizontalAdvance(text);
    painter.drawText(x, label.y + metrics.ascent(), text);
}

void DrawGrid(QPainter& painter, const PlotGrid& grid, const QColor& colour) {
    painter.setPen(QPen(colour, 1, Qt::DotLine));
    for (const PlotLine& line : grid.lines)
        painter.drawLine(line.from.x, line.from.y, line.to.x, line.to.y);
    painter.setPen(colour);
    for (const PlotLabel& label : grid.labels) DrawLabel(painter, label);
}

void DrawPolyline(QPainter& painter, const std::vector<PlotPoint>& points) {
    if (points.size() < 2) return;
    QPolygon polygon(static_cast<int>(points.size()));
    for (size_t i = 0; i < points.size(); ++i)
        polygon.setPoint(static_cast<int>(i), points[i].x, points[i].y);
    painter.drawPolyline(polygon);
}

}  // namespace ulvarin
