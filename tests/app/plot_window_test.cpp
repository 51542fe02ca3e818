// The larger plot windows of the pulse view and the spectrum through the whole window: a
// double click opens them, a scan fills them with every chip's curves as it runs, the mouse
// reads values off them, and their CSV holds exactly the numbers of the curves.
#include "widgets/plot_window.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QValueAxis>
#include <clocale>
#include <cstdlib>
#include <sstream>

#include "analog/plot_series.h"
#include "analog/pulse_store.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;

Table ReadCsv(const std::string& path) {
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    std::istringstream text(file.readAll().toStdString());
    Table rows;
    for (std::string line; std::getline(text, line);) {
        std::vector<std::string>& cells = rows.emplace_back();
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    }
    return rows;
}

// A number as written in the CSV, read without the locale.
double CsvValue(const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    EXPECT_TRUE(in.eof() && !in.fail()) << text;
    return value;
}

// Runs with a locale whose decimal mark is a comma, where the system has one.
class CommaLocale {
public:
    CommaLocale() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, saved_.c_str()); }

private:
    std::string saved_;
};

class PlotWindowTest : public WindowTest {
protected:
    PlotWindow* DoubleClick(const char* view, const char* window) {
        QTest::mouseDClick(Control<PaintBox>(view), Qt::LeftButton);
        return form->findChild<PlotWindow*>(QString::fromUtf8(window));
    }
    std::string Path(const char* name) { return programFolder->filePath(name).toStdString(); }
    // The mouse moved over the point where (x, y) is drawn.
    static void Hover(PlotWindow* window, double x, double y) {
        const QPointF at = window->PositionOf(x, y);
        QWidget* viewport = window->findChild<QChartView*>("PlotChartView")->viewport();
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
    }
    void ClickExport(PlotWindow* window, const char* button, const std::string& path) {
        dialogs->paths.push_back(path);
        window->findChild<QPushButton*>(QString::fromUtf8(button))->click();
    }
};

TEST_F(PlotWindowTest, AScanFillsThePlotWindowWithEveryChipsCurvesAndItsCsvHoldsThem) {
    StartForScan("timepix:4", 150, 190, 5);
    // Opened before the scan: it follows the scan's points as they come.
    PlotWindow* window = DoubleClick("PaintBoxPulse", "PlotWindowPulse");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isWindow());
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Active(); }, 60000));

    const PulseStore& store = form->pulses->pulses();
    const PlotData& shown = window->Data();
    // The scanned DAC (item 6 of a Timepix chip's list) names the plot and its window.
    EXPECT_EQ(shown.title, "Scan of Thl Fine");
    EXPECT_EQ(shown.xTitle, "Thl Fine (DAC value)");
    EXPECT_EQ(window->windowTitle(), "Scan of Thl Fine");
    const std::vector<std::string> names = {
        "Median (all)",   "Average (all)", "Median chip 1",  "Average chip 1", "Median chip 2",
        "Average chip 2", "Median chip 3", "Average chip 3", "Median chip 4",  "Average chip 4"};
    ASSERT_EQ(shown.series.size(), names.size());
    for (size_t s = 0; s < names.size(); ++s) {
        EXPECT_EQ(shown.series[s].name, names[s]);
        EXPECT_EQ(shown.series[s].x.size(), 9u) << names[s];
    }

    // The CSV: a header, then the nine scanned values with every curve's number at each,
    // written with a point also where the locale writes a comma.
    {
        CommaLocale comma;
        ClickExport(window, "BttnPlotExportCsv", Path("scan"));
    }
    EXPECT_EQ(dialogs->fileRequests.back().defaultExtension, "csv");
    const Table rows = ReadCsv(Path("scan.csv"));
    ASSERT_EQ(rows.size(), 10u);
    ASSERT_EQ(rows[0].size(), names.size() + 1);
    EXPECT_EQ(rows[0][0], "Thl Fine (DAC value)");
    for (size_t s = 0; s < names.size(); ++s) EXPECT_EQ(rows[0][s + 1], names[s]);
    bool someFraction = false;
    for (size_t k = 0; k < 9; ++k) {
        const std::vector<std::string>& row = rows[k + 1];
        ASSERT_EQ(row.size(), names.size() + 1) << k;
        EXPECT_EQ(CsvValue(row[0]), 150.0 + 5.0 * static_cast<double>(k));
        for (size_t s = 0; s < names.size(); ++s) {
            const int slot = static_cast<int>(s / 2);
            const int channel = static_cast<int>(s % 2);
            EXPECT_EQ(CsvValue(row[s + 1]), store.HistorySlot(slot).Samples(channel)[k])
                << names[s] << " at step " << k;
            someFraction |= row[s + 1].find('.') != std::string::npos;
        }
    }
    EXPECT_TRUE(someFraction) << "averages are fractions: the test would miss a comma";

    // The mouse over a point of the curves reads its value; a PNG of the chart is written.
    const double x = shown.series[0].x[6];
    const double y = shown.series[0].y[6];
    Hover(window, x, y);
    const QString readout = window->Readout();
    EXPECT_TRUE(readout.startsWith("Thl Fine (DAC value) 1")) << readout.toStdString();
    EXPECT_TRUE(readout.contains(QStringLiteral(": 180, "))) << readout.toStdString();
    if (const char* readme = std::getenv("ULVARIN_PLOT_PICTURE")) {  // the README's picture
        window->resize(900, 560);
        Hover(window, x, y);
        window->grab().save(QString::fromUtf8(readme));
    }
    ClickExport(window, "BttnPlotExportPng", Path("scan.png"));
    QImage picture(QString::fromStdString(Path("scan.png")));
    EXPECT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 400);

    // A click on a legend marker hides its curve (the marker stays, to show it again); the
    // CSV then holds the curves shown, and the line says how many were left out.
    QChart* chart = window->findChild<QChartView*>("PlotChartView")->chart();
    const auto marker = [&](size_t s) {
        return chart->legend()->markers(chart->series().at(static_cast<qsizetype>(s))).at(0);
    };
    emit marker(1)->clicked();
    EXPECT_FALSE(window->SeriesShown("Average (all)"));
    EXPECT_FALSE(chart->series().at(1)->isVisible());
    EXPECT_TRUE(marker(1)->isVisible());
    ClickExport(window, "BttnPlotExportCsv", Path("shown.csv"));
    const Table shownRows = ReadCsv(Path("shown.csv"));
    ASSERT_EQ(shownRows[0].size(), names.size());
    EXPECT_EQ(shownRows[0][1], "Median (all)");
    EXPECT_EQ(shownRows[0][2], "Median chip 1");
    EXPECT_TRUE(window->Readout().endsWith("shown.csv (1 hidden curve left out)"))
        << window->Readout().toStdString();
    emit marker(1)->clicked();
    EXPECT_TRUE(chart->series().at(1)->isVisible());

    // A second double click raises the same window.
    EXPECT_EQ(DoubleClick("PaintBoxPulse", "PlotWindowPulse"), window);
    EXPECT_EQ(form->findChildren<PlotWindow*>().size(), 1);

    // Pulses again: the window shows the newest pulse under its own title.
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
    form->pulses->BttnGenPulseClick();
    EXPECT_EQ(window->Data().title, "Pulse");
    EXPECT_EQ(window->windowTitle(), "Pulse view");
}

// Hidden curves leave the axes, the readout and the exports; they stay hidden while the
// data is renewed under the same names.
TEST(PlotWindowCurvesTest, HiddenCurvesAreLeftOutOfAxesReadoutAndCsv) {
    PlotWindow window(nullptr);
    window.SetOwnTitle("Own");
    window.resize(800, 500);
    PlotData data{"t", "x", "y", {}, {}};
    data.series.push_back({"small", {255, 0, 0}, {0, 1, 2}, {0, 1, 0.5}});
    data.series.push_back({"large", {0, 255, 0}, {0, 1, 1.5}, {1000, 900, 0.8}});
    window.SetData(data);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();  // the chart lays out its plot area
    EXPECT_EQ(window.windowTitle(), "Own");
    QChart* chart = window.findChild<QChartView*>("PlotChartView")->chart();
    const auto yHigh = [&] {
        return static_cast<QValueAxis*>(chart->axes(Qt::Vertical).at(0))->max();
    };
    EXPECT_GE(yHigh(), 1000);

    window.SetSeriesShown("large", false);
    EXPECT_LE(yHigh(), 2) << "the axis fits the curve shown";
    // The mouse right at a hidden point finds the nearest shown one.
    const QString readout = window.ReadoutAt(window.PositionOf(1.5, 0.8));
    EXPECT_TRUE(readout.contains("nearest small: 1, 1")) << readout.toStdString();
    EXPECT_EQ(PlotCsv(window.ShownData()), "x,small\n0,0\n1,1\n2,0.5\n");

    // New points under the same names, then new curves with one of them: still hidden.
    data.series[1].y = {5, 6, 7};
    window.SetData(data);
    EXPECT_FALSE(window.SeriesShown("large"));
    EXPECT_FALSE(chart->series().at(1)->isVisible());
    data.series.insert(data.series.begin(), PlotSeries{"new", {0, 0, 255}, {0}, {3}});
    data.windowTitle = "Named by the data";
    window.SetData(data);
    EXPECT_FALSE(chart->series().at(2)->isVisible());
    EXPECT_TRUE(chart->series().at(0)->isVisible());
    EXPECT_EQ(window.windowTitle(), "Named by the data");
    window.SetSeriesShown("large", true);
    EXPECT_TRUE(chart->series().at(2)->isVisible());
    EXPECT_GE(yHigh(), 7);
}

// Simulated pulses: the spectrum's window counts them as the spectrum does and follows each
// new pulse; the pulse view's window shows the newest pulse's channel. A cancelled export
// writes nothing, a failed one says so.
TEST_F(PlotWindowTest, SpectrumAndPulseWindowsFollowThePulses) {
    Start("timepix:1");
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(false);
    for (int i = 0; i < 20; ++i) form->pulses->BttnGenPulseClick();
    PlotWindow* spectrum = DoubleClick("PaintBoxSpectrum", "PlotWindowSpectrum");
    ASSERT_NE(spectrum, nullptr);
    const auto counted = [&] {
        double sum = 0;
        for (const double y : spectrum->Data().series.at(0).y) sum += y;
        return sum;
    };
    EXPECT_EQ(spectrum->Data().series.at(0).x.size(), 4096u);
    EXPECT_EQ(counted(), 20.0);
    form->pulses->BttnGenPulseClick();
    EXPECT_EQ(counted(), 21.0);
    EXPECT_EQ(spectrum->Data().title, "Spectrum, 21 pulses");

    PlotWindow* pulse = form->pulses->OpenPulsePlot();
    ASSERT_EQ(pulse->Data().series.size(), 1u);
    EXPECT_EQ(pulse->Data().series[0].name, "Channel 1");
    const auto samples = form->pulses->pulses().ShownRecord()->Samples(1);
    EXPECT_EQ(pulse->Data().series[0].y, std::vector<double>(samples.begin(), samples.end()));

    // Closed windows are left alone; reopening shows the pulses of now.
    spectrum->close();
    form->pulses->BttnResetSpectrumClick();
    EXPECT_EQ(counted(), 21.0);
    EXPECT_EQ(DoubleClick("PaintBoxSpectrum", "PlotWindowSpectrum"), spectrum);
    EXPECT_EQ(counted(), 0.0);

    const size_t boxes = dialogs->messages.size();
    spectrum->findChild<QPushButton*>("BttnPlotExportCsv")->click();  // cancelled
    EXPECT_EQ(dialogs->messages.size(), boxes);
    ClickExport(spectrum, "BttnPlotExportCsv", Path("missing/folder/s.csv"));
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    EXPECT_EQ(dialogs->messages.back().icon, DialogIcon::Error);
    EXPECT_NE(dialogs->messages.back().text.find("missing/folder/s.csv"), std::string::npos);
    // The system's reason follows the name.
    const std::string& text = dialogs->messages.back().text;
    const size_t reason = text.find("s.csv: ");
    ASSERT_NE(reason, std::string::npos) << text;
    EXPECT_GT(text.size(), reason + 7) << text;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("missing/folder/s.csv"))));
}

}  // namespace
}  // namespace ulvarin::test
