#include "widgets/plot_window.h"

#include <QChart>
#include <QChartView>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "widgets/dialogs.h"
#include "widgets/plot_painter.h"

namespace ulvarin {
namespace {

constexpr int kDefaultWidth = 900;
constexpr int kDefaultHeight = 600;
constexpr double kLineWidth = 1.5;
constexpr int kTicks = 9;              // asked for; round numbers may give a few more or fewer
constexpr double kHiddenAlpha = 0.35;  // a hidden curve's legend marker, dimmed

QString Number(double value) {
    return QString::number(value, 'g', 6);
}

QList<QPointF> Points(const PlotSeries& series) {
    QList<QPointF> points;
    const size_t count = std::min(series.x.size(), series.y.size());
    points.reserve(static_cast<qsizetype>(count));
    for (size_t j = 0; j < count; ++j)
        if (std::isfinite(series.x[j]) && std::isfinite(series.y[j]))
            points.append(QPointF(series.x[j], series.y[j]));
    return points;
}

// Whether the chart's series are the ones `data` names, in order, so only their points
// need replacing (which keeps legend and colours steady while a scan adds points).
bool SameSeries(const QList<QAbstractSeries*>& shown, const PlotData& data) {
    if (static_cast<size_t>(shown.size()) != data.series.size()) return false;
    for (size_t s = 0; s < data.series.size(); ++s)
        if (shown[static_cast<qsizetype>(s)]->name().toStdString() != data.series[s].name)
            return false;
    return true;
}

std::string WithExtension(std::string path, const char* extension) {
    if (!std::filesystem::path(path).has_extension()) path += extension;
    return path;
}

}  // namespace

PlotWindow::PlotWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    chart_ = new QChart;
    chart_->setTheme(QChart::ChartThemeDark);
    // At the right the legend lists the names whole, one per line, however many chips.
    chart_->legend()->setAlignment(Qt::AlignRight);
    axisX_ = new QValueAxis;
    axisY_ = new QValueAxis;
    for (QValueAxis* axis : {axisX_, axisY_}) {
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setMinorTickCount(1);
    }
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);

    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("PlotChartView"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMouseTracking(true);
    view_->viewport()->setMouseTracking(true);
    view_->viewport()->installEventFilter(this);

    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("LabelPlotReadout"));
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* png = new QPushButton(QStringLiteral("Export PNG"), this);
    png->setObjectName(QStringLiteral("BttnPlotExportPng"));
    png->setToolTip(QStringLiteral("Saves the plot as a PNG picture"));
    auto* csv = new QPushButton(QStringLiteral("Export CSV"), this);
    csv->setObjectName(QStringLiteral("BttnPlotExportCsv"));
    csv->setToolTip(QStringLiteral("Saves the curves' numbers as CSV text"));
    connect(png, &QPushButton::clicked, this, [this] { ExportPng(); });
    connect(csv, &QPushButton::clicked, this, [this] { ExportCsv(); });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(readout_, 1);
    bottom->addWidget(png);
    bottom->addWidget(csv);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view_, 1);
    layout->addLayout(bottom);

    // A comfortable size, but never larger than the screen allows.
    QSize size(kDefaultWidth, kDefaultHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
}

void PlotWindow::SetOwnTitle(const QString& title) {
    ownTitle_ = title;
    if (data_.windowTitle.empty()) setWindowTitle(title);
}

void PlotWindow::SetData(PlotData plot) {
    data_ = std::move(plot);
    setWindowTitle(data_.windowTitle.empty() ? ownTitle_
                                             : QString::fromStdString(data_.windowTitle));
    chart_->setTitle(QString::fromStdString(data_.title));
    axisX_->setTitleText(QString::fromStdString(data_.xTitle));
    axisY_->setTitleText(QString::fromStdString(data_.yTitle));
    const QList<QAbstractSeries*> shown = chart_->series();
    if (SameSeries(shown, data_)) {
        for (size_t s = 0; s < data_.series.size(); ++s)
            static_cast<QLineSeries*>(shown[static_cast<qsizetype>(s)])
                ->replace(Points(data_.series[s]));
    } else {
        chart_->removeAllSeries();
        for (const PlotSeries& series : data_.series) {
            auto* line = new QLineSeries;
            line->setName(QString::fromStdString(series.name));
            line->replace(Points(series));
            chart_->addSeries(line);
            line->attachAxis(axisX_);
            line->attachAxis(axisY_);
            QPen pen(ToQColor(series.colour));
            pen.setWidthF(kLineWidth);
            line->setPen(pen);
        }
        ConnectMarkers();
    }
    ApplyShown();
    FitAxes();
}

void PlotWindow::ConnectMarkers() {
    // The legend makes new markers with new series; the old ones went with their series.
    for (QAbstractSeries* series : chart_->series()) {
        const std::string name = series->name().toStdString();
        for (QLegendMarker* marker : chart_->legend()->markers(series))
            connect(marker, &QLegendMarker::clicked, this,
                    [this, name] { SetSeriesShown(name, !SeriesShown(name)); });
    }
}

void PlotWindow::ApplyShown() {
    for (QAbstractSeries* series : chart_->series()) {
        const bool shown = SeriesShown(series->name().toStdString());
        series->setVisible(shown);
        // A hidden series hides its marker too: it is brought back, dimmed, so a click
        // can show the curve again.
        for (QLegendMarker* marker : chart_->legend()->markers(series)) {
            marker->setVisible(true);
            const qreal alpha = shown ? 1.0 : kHiddenAlpha;
            QColor label = marker->labelBrush().color();
            label.setAlphaF(alpha);
            marker->setLabelBrush(label);
            QColor colour = static_cast<QLineSeries*>(series)->pen().color();
            colour.setAlphaF(alpha);
            marker->setBrush(colour);
            marker->setPen(QPen(colour));
        }
    }
}

void PlotWindow::SetSeriesShown(const std::string& name, bool shown) {
    if (shown == SeriesShown(name)) return;
    if (shown)
        hidden_.erase(name);
    else
        hidden_.insert(name);
    ApplyShown();
    FitAxes();
    readout_->clear();
}

PlotData PlotWindow::ShownData() const {
    PlotData shown = data_;
    std::erase_if(shown.series, [this](const PlotSeries& s) { return !SeriesShown(s.name); });
    return shown;
}

void PlotWindow::FitAxes() {
    double xLow = HUGE_VAL, xHigh = -HUGE_VAL, yLow = HUGE_VAL, yHigh = -HUGE_VAL;
    for (const PlotSeries& series : data_.series) {
        if (!SeriesShown(series.name)) continue;
        const size_t count = std::min(series.x.size(), series.y.size());
        for (size_t j = 0; j < count; ++j) {
            if (!std::isfinite(series.x[j]) || !std::isfinite(series.y[j])) continue;
            xLow = std::min(xLow, series.x[j]);
            xHigh = std::max(xHigh, series.x[j]);
            yLow = std::min(yLow, series.y[j]);
            yHigh = std::max(yHigh, series.y[j]);
        }
    }
    // No points: a unit square; a single value: one unit either side of it.
    const auto fit = [](QValueAxis* axis, double low, double high) {
        if (low > high) low = 0, high = 1;
        if (low == high) low -= 1, high += 1;
        axis->setRange(low, high);
        axis->setTickCount(kTicks);
        axis->applyNiceNumbers();
    };
    fit(axisX_, xLow, xHigh);
    fit(axisY_, yLow, yHigh);
}

QPointF PlotWindow::PositionOf(double x, double y) const {
    const QPointF scene = chart_->mapToScene(chart_->mapToPosition(QPointF(x, y)));
    return view_->mapFromScene(scene);
}

QString PlotWindow::ReadoutAt(QPointF at) const {
    const QPointF position = chart_->mapFromScene(view_->mapToScene(at.toPoint()));
    const QRectF area = chart_->plotArea();
    const PlotData shown = ShownData();
    if (shown.series.empty() || !area.contains(position)) return {};
    const QPointF value = chart_->mapToValue(position);
    QString text = QStringLiteral("%1 %2, %3 %4")
                       .arg(QString::fromStdString(data_.xTitle), Number(value.x()),
                            QString::fromStdString(data_.yTitle), Number(value.y()));
    const double xPerPixel = (axisX_->max() - axisX_->min()) / area.width();
    const double yPerPixel = (axisY_->max() - axisY_->min()) / area.height();
    if (const std::optional<PlotHit> hit =
            NearestPoint(shown, value.x(), value.y(), xPerPixel, yPerPixel)) {
        const PlotSeries& series = shown.series[hit->series];
        text += QStringLiteral("    nearest %1: %2, %3")
                    .arg(QString::fromStdString(series.name), Number(series.x[hit->index]),
                         Number(series.y[hit->index]));
    }
    return text;
}

QString PlotWindow::Readout() const {
    return readout_->text();
}

bool PlotWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::MouseMove)
            readout_->setText(ReadoutAt(static_cast<QMouseEvent*>(event)->position()));
        else if (event->type() == QEvent::Leave)
            readout_->clear();
    }
    return QWidget::eventFilter(watched, event);
}

std::optional<std::string> PlotWindow::AskName(const char* title, const char* filter,
                                               const char* name, const char* extension) {
    const std::optional<std::string> path =
        CurrentDialogs().SaveFile({.title = title,
                                   .filter = filter,
                                   .initialName = name,
                                   .defaultExtension = extension,
                                   .overwritePrompt = true,
                                   .kind = FileKind::Plots});
    if (!path) return std::nullopt;
    return WithExtension(*path, (std::string(".") + extension).c_str());
}

bool PlotWindow::Written(bool ok, const std::string& path, const QString& reason) {
    const QString where = QString::fromStdString(path);
    if (!ok) {
        CurrentDialogs().Error("Could not write " + path + ": " + reason.toStdString(), "Error");
        return false;
    }
    const auto hidden = std::count_if(data_.series.begin(), data_.series.end(),
                                      [this](const PlotSeries& s) { return !SeriesShown(s.name); });
    QString text = QStringLiteral("Written to: ") + where;
    if (hidden > 0)
        text += hidden == 1 ? QStringLiteral(" (1 hidden curve left out)")
                            : QStringLiteral(" (%1 hidden curves left out)").arg(hidden);
    readout_->setText(text);
    return true;
}

bool PlotWindow::ExportPng() {
    const std::optional<std::string> path =
        AskName("Export plot as PNG", "PNG picture|*.png|All files|*.*", "Plot.png", "png");
    if (!path) return false;
    QSaveFile file(QString::fromStdString(*path));
    const bool ok =
        file.open(QIODevice::WriteOnly) && view_->grab().save(&file, "PNG") && file.commit();
    return Written(ok, *path, file.errorString());
}

bool PlotWindow::ExportCsv() {
    const std::optional<std::string> path =
        AskName("Export curves as CSV", "CSV file|*.csv|All files|*.*", "Plot.csv", "csv");
    if (!path) return false;
    const std::string text = PlotCsv(ShownData());
    QSaveFile file(QString::fromStdString(*path));
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(text.data(), static_cast<qint64>(text.size())) ==
                        static_cast<qint64>(text.size()) &&
                    file.commit();
    return Written(ok, *path, file.errorString());
}

PlotWindow* ShowPlotWindow(QPointer<PlotWindow>& window, QWidget* owner, const char* name,
                           const char* title, PlotData data) {
    if (!window) {
        window = new PlotWindow(owner);
        window->setObjectName(QString::fromUtf8(name));
        window->SetOwnTitle(QString::fromUtf8(title));
    }
    window->SetData(std::move(data));
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void RefreshPlotWindow(const QPointer<PlotWindow>& window, const std::function<PlotData()>& data) {
    if (window && window->isVisible()) window->SetData(data());
}

}  // namespace ulvarin
