#include "panels/pulses/pulse_panel.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "analog/plot_series.h"
#include "analog/pulse_heights.h"
#include "device/report.h"
#include "files/file_names.h"
#include "files/ordered_writer.h"
#include "panels/pulses/pulse_table.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"
#include "widgets/dialogs.h"
#include "widgets/event_watch.h"
#include "widgets/paint_box.h"
#include "widgets/plot_painter.h"
#include "widgets/plot_window.h"

namespace ulvarin {
namespace {

constexpr const char* kSpectrumFilter = "ASCII file|*.txt|All|*.*";
constexpr const char* kCurvesFilter = "Text file|*.txt|All files|*.*";
constexpr uint8_t kBackSideChannelOnly = 1u << kBackSidePulseChannel;
// A fixed seed: every run of the program simulates the same sequence of pulses, so a
// debugging session can be repeated.
constexpr std::mt19937::result_type kSimulationSeed = 20240601u;

constexpr int kSimulatedSamples = 64;
constexpr double kSimulatedBaseLine = 81.0;
constexpr double kSimulatedNoise = 4096 * 0.02;  // peak to peak

const QColor kGridGrey(64, 64, 64);
const QColor kBarGreen(0, 128, 0);

struct ButtonHandler {
    const char* name;
    void (PulsePanel::*handler)();
};

// A uniform number in [0, 1] from 15 random bits.
double Random01(std::mt19937& random) {
    return static_cast<double>(random() & 0x7FFFu) / 32767.0;
}

// The height of a simulated pulse on channel `channel`: mostly a photo-peak of its own
// for each channel, one shot in twenty anywhere up to 4015.
double SimulatedHeight(int channel, std::mt19937& random) {
    const double a = Random01(random);
    if (Random01(random) > 0.95) return a * 4015;
    const double spread = 2 * a - 1;
    return (channel + 2) * 4096 / 12 + kSimulatedBaseLine + 324 * spread * spread * spread;
}

// Sample j of a simulated pulse of height f: a rise over two samples, then an exponential
// fall from sample 3 on.
double SimulatedShape(double f, int j) {
    if (j == 0) return 0;
    if (j == 1) return f / 2;
    if (j == 2) return f;
    return f * std::exp(-0.1 * (j - 3));
}

// Fills `pulse` with a simulated back-side pulse on each channel set in `channels`, on the
// base line and with noise; the other channels stay empty.
void SimulatePulse(uint8_t channels, std::mt19937& random, PulseRecord& pulse) {
    pulse.Clear();
    for (int c = 0; c < kPulseChannels; ++c) {
        if ((channels & (1u << c)) == 0) continue;
        const double f = SimulatedHeight(c, random);
        for (int j = 0; j < kSimulatedSamples; ++j) {
            const double noise = (0.5 - Random01(random)) * kSimulatedNoise;
            pulse.Append(c, SimulatedShape(f, j) + kSimulatedBaseLine + noise);
        }
    }
}

void DrawLines(QPainter& painter, const std::vector<PlotLine>& lines) {
    for (const PlotLine& line : lines)
        painter.drawLine(line.from.x, line.from.y, line.to.x, line.to.y);
}

}  // namespace

PulsePanel::PulsePanel(WindowShared& shared, QWidget* parent)
    : QWidget(parent),
      shared_(shared),
      scopeChannels_([] { return kBackSideChannelOnly; }),
      random_(kSimulationSeed),
      autosaves_(std::make_unique<OrderedWriter>()) {
    setObjectName(QStringLiteral("PanelPulses"));
    BuildControls();
    ConnectControls();
}

PulsePanel::~PulsePanel() {
    // Pending pulse files are written before the panel goes; their failure reports, queued
    // to this panel, are dropped with it.
    autosaves_.reset();
}

void PulsePanel::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QGroupBox* group = MakeGroup(PulseGroupTable(), this);
    auto* views = new QHBoxLayout;
    views->setSpacing(4);
    PaintBoxPulse = MakePaintBox(group, "PaintBoxPulse", "Scope screen", 140);
    PaintBoxSpectrum = MakePaintBox(group, "PaintBoxSpectrum", "Double click: a larger plot", 140);
    views->addWidget(PaintBoxPulse);
    views->addWidget(PaintBoxSpectrum);
    static_cast<QVBoxLayout*>(group->layout())->insertLayout(0, views, 1);
    layout->addWidget(group);

    LabelPulseID = FindControl<QLabel>(this, "LabelPulseID");
    ChkbRestoreBaseLine = FindControl<QCheckBox>(this, "ChkbRestoreBaseLine");
    ChkbAutosavePulse = FindControl<QCheckBox>(this, "ChkbAutosavePulse");

    PopupMenuPulse = new QMenu(this);
    PopupMenuPulse->setObjectName(QStringLiteral("PopupMenuPulse"));
    // Scaling is always automatic; the zoom items are placeholders.
    QAction* autoRange = PopupMenuPulse->addAction(QStringLiteral("Auto range"));
    autoRange->setObjectName(QStringLiteral("MenuItemPulseAutoRange"));
    autoRange->setCheckable(true);
    autoRange->setChecked(true);
    autoRange->setEnabled(false);
    for (const char* zoom : {"Zoom in", "Zoom out"}) {
        QAction* item = PopupMenuPulse->addAction(QString::fromUtf8(zoom));
        item->setObjectName(QStringLiteral("MenuItemPulse") +
                            QString::fromUtf8(zoom).remove(QLatin1Char(' ')));
        item->setEnabled(false);
    }
    PopupMenuPulse->addSeparator();
    QAction* save = PopupMenuPulse->addAction(QStringLiteral("Save as ASCII"));
    save->setObjectName(QStringLiteral("MenuItemPulseSaveasASCII"));
    connect(save, &QAction::triggered, this, &PulsePanel::MenuItemPulseSaveasASCIIClick);
    QAction* clear = PopupMenuPulse->addAction(QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("MenuItemPulseClear"));
    connect(clear, &QAction::triggered, this, &PulsePanel::MenuItemPulseClearClick);
    PopupMenuPulse->addSeparator();
    QAction* larger = PopupMenuPulse->addAction(QStringLiteral("Open plot window"));
    larger->setObjectName(QStringLiteral("MenuItemPulsePlotWindow"));
    connect(larger, &QAction::triggered, this, &PulsePanel::OpenPulsePlot);
}

void PulsePanel::ConnectControls() {
    static const ButtonHandler kButtons[] = {
        {"BttnResetSpectrum", &PulsePanel::BttnResetSpectrumClick},
        {"BttnGenPulse", &PulsePanel::BttnGenPulseClick},
        {"BtnSaveSpectrum", &PulsePanel::BtnSaveSpectrumClick},
        {"BtnLoadSpectrum", &PulsePanel::BtnLoadSpectrumClick},
    };
    for (const ButtonHandler& b : kButtons)
        connect(FindControl<QPushButton>(this, b.name), &QPushButton::clicked, this, b.handler);
    PaintBoxPulse->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PaintBoxPulse, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenuPulse->popup(PaintBoxPulse->mapToGlobal(at)); });
    PaintBoxPulse->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintPulseView(painter, area); });
    PaintBoxSpectrum->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintSpectrum(painter, area); });
    OnEvent(PaintBoxPulse, QEvent::MouseButtonDblClick, [this] { OpenPulsePlot(); });
    OnEvent(PaintBoxSpectrum, QEvent::MouseButtonDblClick, [this] { OpenSpectrumPlot(); });
}

PlotWindow* PulsePanel::OpenPulsePlot() {
    return ShowPlotWindow(pulseWindow_, this, "PlotWindowPulse", "Pulse view",
                          PulseViewSeries(pulses_, scanAxis));
}

PlotWindow* PulsePanel::OpenSpectrumPlot() {
    return ShowPlotWindow(spectrumWindow_, this, "PlotWindowSpectrum", "Spectrum",
                          SpectrumSeries(pulses_.GetSpectrum(), pulses_.PulseCount()));
}

void PulsePanel::BeginScanCurves(int shownSlot, double start, double step,
                                 const QString& dacName) {
    pulses_.BeginScan(shownSlot);
    scanAxis = {start, step, dacName.toStdString()};
    Repaint({.pulseView = true});
}

void PulsePanel::AppendScanPoint(const ScanPoint& point) {
    RecordScanPoint(pulses_, point);
    Repaint({.pulseView = true});
}

void PulsePanel::SetScopeChannelSource(std::function<uint8_t()> source) {
    scopeChannels_ = std::move(source);
}

void PulsePanel::TakeScopeShot(std::span<const uint8_t> parameters, uint8_t invertMask) {
    FillPulseFromScopeData(parameters, invertMask, pulses_.CurrentPulse());
    ProcessPulse();
}

void PulsePanel::ProcessPulse() {
    const PulseOutcome outcome =
        pulses_.ProcessPulse({.restoreBaseLine = ChkbRestoreBaseLine->isChecked(),
                              .autosave = ChkbAutosavePulse->isChecked()});
    Repaint(outcome.repaint);
    ShowPulseCount();
    if (!outcome.autosaveFile.empty()) AutosavePulse(outcome.autosaveFile);
}

void PulsePanel::Repaint(ViewsToRepaint views) {
    if (views.pulseView) {
        PaintBoxPulse->update();
        RefreshPlotWindow(pulseWindow_, [this] { return PulseViewSeries(pulses_, scanAxis); });
    }
    if (views.spectrum) {
        PaintBoxSpectrum->update();
        RefreshPlotWindow(spectrumWindow_, [this] {
            return SpectrumSeries(pulses_.GetSpectrum(), pulses_.PulseCount());
        });
    }
}

void PulsePanel::ShowPulseCount() {
    LabelPulseID->setText(QString::number(pulses_.PulseCount()));
}

// The pulse is copied and its file's place fixed now: the write happens later, on the
// writer thread, while the window goes on taking pulses.
void PulsePanel::AutosavePulse(const std::string& fileName) {
    auto pulse = std::make_shared<const PulseRecord>(pulses_.CurrentPulse());
    const int32_t count = pulses_.PulseCount();
    std::error_code error;
    const std::string path = (std::filesystem::current_path(error) / fileName).string();
    autosaves_->Post([this, pulse, count, fileName, path] {
        if (WritePulseFile(path, *pulse) == TextFileResult::Ok) return;
        QMetaObject::invokeMethod(
            this,
            [this, text = PulseWriteErrorText(count, fileName)] {
                ReportError(shared_.device, kGeneralError, "%s", text.c_str());
            },
            Qt::QueuedConnection);
    });
}

void PulsePanel::WaitForAutosaves() {
    autosaves_->WaitUntilIdle();
}

void PulsePanel::BttnResetSpectrumClick() {
    Repaint(pulses_.ResetSpectrum());
    ShowPulseCount();
}

void PulsePanel::BttnGenPulseClick() {
    const uint8_t channels = scopeChannels_ ? scopeChannels_() : kBackSideChannelOnly;
    SimulatePulse(channels, random_, pulses_.CurrentPulse());
    ProcessPulse();
}

void PulsePanel::MenuItemPulseClearClick() {
    Repaint(pulses_.ClearHistory());
}

void PulsePanel::ForgetPulses() {
    Repaint(pulses_.ForgetPulses());
    ShowPulseCount();
}

void PulsePanel::ChipSelected(int item) {
    if (!pulses_.HistoryHoldsScan()) return;
    pulses_.ShowScanCurve(item);
    Repaint({.pulseView = true});
}

std::optional<std::string> PulsePanel::AskSaveName(const FileRequest& request) {
    const std::optional<std::string> path = shared_.dialogs().SaveFile(request);
    if (!path) return std::nullopt;
    return WithDefaultExtension(*path, ".txt");
}

bool PulsePanel::ShowFileResult(TextFileResult result) {
    if (result == TextFileResult::Ok) return true;
    shared_.dialogs().Error(FileErrorText(result), "Error");
    return false;
}

void PulsePanel::BtnSaveSpectrumClick() {
    const std::optional<std::string> path = AskSaveName({.title = "Save spectrum as ...",
                                                         .filter = kSpectrumFilter,
                                                         .initialName = "Spectrum.txt",
                                                         .defaultExtension = "txt",
                                                         .overwritePrompt = true,
                                                         .kind = FileKind::Spectra});
    if (!path) return;
    if (ShowFileResult(WriteSpectrumFile(*path, pulses_.GetSpectrum())))
        shared_.AddLogLine(QStringLiteral("Spectrum written to: ") + QString::fromStdString(*path));
}

void PulsePanel::BtnLoadSpectrumClick() {
    const std::optional<std::string> path =
        shared_.dialogs().OpenFile({.title = "Open Spectrum",
                                    .filter = kSpectrumFilter,
                                    .initialName = "Spectrum.txt",
                                    .mustExist = true,
                                    .kind = FileKind::Spectra});
    if (!path) return;
    const TextFileResult result = LoadSpectrum(*path, pulses_);
    // Also after an early end: the bins read so far are shown with their sum.
    ShowPulseCount();
    Repaint({.spectrum = true});
    ShowFileResult(result);
}

void PulsePanel::MenuItemPulseSaveasASCIIClick() {
    const std::optional<std::string> path = AskSaveName({.title = "Save scope/scan data as ...",
                                                         .filter = kCurvesFilter,
                                                         .defaultExtension = "txt",
                                                         .kind = FileKind::Curves});
    if (!path) return;
    if (ShowFileResult(WriteCurvesFile(*path, pulses_)))
        shared_.AddLogLine(QStringLiteral("Scope/scan data written to: ") +
                           QString::fromStdString(*path));
}

void PulsePanel::PaintPulseView(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::black);
    const PulsePlot plot = LayoutPulseView(pulses_, scanAxis, area.width(), area.height(),
                                           QFontMetrics(painter.font()).height());
    if (!plot.drawn) return;
    painter.setPen(kGridGrey);
    DrawLines(painter, plot.frame);
    DrawGrid(painter, plot.grid, kGridGrey);
    for (const PulseCurve& curve : plot.curves) {
        painter.setPen(ToQColor(curve.colour));
        DrawPolyline(painter, curve.points);
    }
    for (const ColouredLabel& label : plot.labels) {
        painter.setPen(ToQColor(label.colour));
        DrawLabel(painter, label.label);
    }
}

void PulsePanel::PaintSpectrum(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::black);
    const SpectrumPlot plot =
        LayoutSpectrum(pulses_.GetSpectrum(), pulses_.PulseCount(), area.width(), area.height(),
                       QFontMetrics(painter.font()).height());
    if (!plot.drawn) return;
    // Right and bottom of a bar are the first pixels outside it.
    for (const BarRect& bar : plot.bars)
        if (bar.top < bar.bottom && bar.left < bar.right)
            painter.fillRect(
                QRect(QPoint(bar.left, bar.top), QPoint(bar.right - 1, bar.bottom - 1)), kBarGreen);
    painter.setPen(Qt::red);
    painter.setBackground(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    // 70 pixels from the right edge, moved left where a long number would be cut off.
    const QFontMetrics metrics(painter.font());
    for (PlotLabel label : plot.labels) {
        const int width = metrics.horizontalAdvance(QString::fromStdString(label.text));
        label.x = std::min(label.x, area.width() - width - 2);
        DrawLabel(painter, label);
    }
}

}  // namespace ulvarin
