// A resizable window of its own for one analog view's curves: a chart with axis titles and
// a legend whose markers hide and show their curves when clicked, a readout of the value
// under the mouse and of the nearest shown curve point, and export of the picture as PNG
// and of the shown curves' numbers as CSV through the dialogs seam.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <set>
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

    // Shows `plot` in place of what was shown; the axes fit the new numbers of the curves
    // shown. The window is titled `plot.windowTitle`, or its own title when that is empty.
    void SetData(PlotData plot);
    const PlotData& Data() const { return data_; }
    // The window's title while its data names none.
    void SetOwnTitle(const QString& title);

    // Hides or shows the curve named `name`, as a click on its legend marker does. A hidden
    // curve stays hidden while new data brings a curve of that name, so a scan's averages
    // hidden once stay hidden for the next scan. Its marker stays in the legend, dimmed.
    void SetSeriesShown(const std::string& name, bool shown);
    bool SeriesShown(const std::string& name) const { return !hidden_.contains(name); }
    // The data with only the curves shown: what the chart draws and the exports hold.
    PlotData ShownData() const;

    // The readout for the mouse at `at`, a point of the chart view: the value there and the
    // nearest curve point. Empty when outside the plot area or without curves.
    QString ReadoutAt(QPointF at) const;
    QString Readout() const;
    // The chart view's point where the value (x, y) is drawn.
    QPointF PositionOf(double x, double y) const;

    // Ask for a file name (".png" / ".csv" added to a name without an extension) and write
    // the chart's picture or the shown curves' CSV there: hidden curves are left out of
    // both, so the numbers always match the picture, and the line saying where the file
    // went counts the curves left out. A failed write is shown in an error box; true when
    // the file was written.
    bool ExportPng();
    bool ExportCsv();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitAxes();
    // Shows each curve as `hidden_` says, its legend marker dimmed while hidden.
    void ApplyShown();
    void ConnectMarkers();
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
    QString ownTitle_;
    std::set<std::string> hidden_;  // names of the curves hidden from the legend
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
