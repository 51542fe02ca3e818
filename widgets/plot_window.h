// A resizable window of its own for one analog view's curves: a chart with axis titles and
// a legend, a readout of the value under the mouse and of the nearest curve point, and
// export of the picture as PNG and of the numbers as CSV through the dialogs seam.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "analog/plot_series.h"

class QChart;
class QChartView;
class QLabel;
class QValueAxis;

namespace ulvarin {

class PlotWindow : public QWidget {
    Q_OBJECT
public:
    // A top-level window that closes with `parent`; hidden until shown.
    explicit PlotWindow(QWidget* parent);

    // Shows `plot` in place of what was shown; the axes fit the new numbers.
    void SetData(PlotData plot);
    const PlotData& Data() const { return data_; }

    // The readout for the mouse at `at`, a point of the chart view: the value there and the
    // nearest curve point. Empty when outside the plot area or without curves.
    QString ReadoutAt(QPointF at) const;
    QString Readout() const;
    // The chart view's point where the value (x, y) is drawn.
    QPointF PositionOf(double x, double y) const;

    // Ask for a file name (".png" / ".csv" added to a name without an extension) and write
    // the chart's picture or the curves' CSV there. A failed write is shown in an error
    // box; true when the file was written.
    bool ExportPng();
    bool ExportCsv();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitAxes();
    // Asks for a save name through the dialogs seam; none when cancelled.
    std::optional<std::string> AskName(const char* title, const char* filter, const char* name,
                                       const char* extension);
    // Says where the file went, or shows why it could not be written.
    bool Written(bool ok, const std::string& path, const QString& reason);

    PlotData data_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QLabel* readout_ = nullptr;
};

// Shows `data` in `window`, making the window (named `name`, titled `title`, owned by
// `owner`) the first time; an open window is raised. One window per view: the caller keeps
// `window` and refreshes it with RefreshPlotWindow.
PlotWindow* ShowPlotWindow(QPointer<PlotWindow>& window, QWidget* owner, const char* name,
                           const char* title, PlotData data);
// Gives an open (visible) window new data; a closed or never opened one is left alone, so
// a view's changes cost nothing while nobody looks at its larger window.
void RefreshPlotWindow(const QPointer<PlotWindow>& window, const std::function<PlotData()>& data);

}  // namespace ulvarin
