// The "Pulses and spectrum" group: the pulse view of the last 16 scope shots (or of the
// curves of a DAC scan), the spectrum of back-side pulse heights, the pulse count, base line
// restore, pulse autosave, a simulated pulse, and saving and loading the spectrum and the
// curves as text; either view opens larger in a plot window of its own (double click, or
// the pulse view's menu), kept up to date while open. Autosaved pulse files are written in
// order on a writer thread of the panel, so a slow disk never holds up the window.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>

#include "analog/pulse_plot.h"
#include "analog/pulse_store.h"
#include "files/pulse_files.h"
#include "hardware_process/dac_scan.h"

class QCheckBox;
class QLabel;
class QMenu;
class QPainter;

namespace ulvarin {

class OrderedWriter;
class PaintBox;
class PlotWindow;
class WindowShared;
struct FileRequest;

class PulsePanel : public QWidget {
    Q_OBJECT
public:
    PulsePanel(WindowShared& shared, QWidget* parent);
    // Finishes writing every pulse file still queued.
    ~PulsePanel() override;

    // A scope data message, on the window's thread: fills the current pulse from its
    // parameters (bit c of `invertMask`: channel c inverted) and processes it.
    void TakeScopeShot(std::span<const uint8_t> parameters, uint8_t invertMask);
    // Takes the current pulse into the spectrum, the count and the history, repaints both
    // views and, with "Autosave pulse" checked, queues its file "Pulse_%05d.txt" in the
    // working folder; a failed write is reported to the message list as a general error.
    void ProcessPulse();
    // "Reset": empty spectrum, count 0, empty history.
    void BttnResetSpectrumClick();
    // "Simul.": a simulated shot of 64 samples on every ticked scope channel, processed.
    void BttnGenPulseClick();
    // Asks for a file name and writes the spectrum there, one bin per line.
    void BtnSaveSpectrumClick();
    // Asks for a spectrum file and loads it; the count becomes the sum of the bins read. A
    // file that ends early or holds a word that is not a count keeps the bins read so far.
    void BtnLoadSpectrumClick();
    // Asks for a file name and writes the curves of the shown history slot there.
    void MenuItemPulseSaveasASCIIClick();
    // Empties the history; the next pulse goes to slot 1.
    void MenuItemPulseClearClick();
    // After the scope is configured: empty history and count 0.
    void ForgetPulses();
    // While the history holds scan curves: shows and saves slot `item`.
    void ChipSelected(int item);
    // A DAC scan takes the history over: emptied, record `shownSlot` shown, sample k standing
    // at DAC value start + k * step of the DAC named `dacName` (which titles the plot).
    void BeginScanCurves(int shownSlot, double start, double step, const QString& dacName);
    // Appends one scan step's results to the curves.
    void AppendScanPoint(const ScanPoint& point);
    // The scope channels ticked in the interface group (bit i: ChkbScope<i>), asked by
    // "Simul.". Until one is set, only channel 1 (the back-side pulse) counts as ticked.
    void SetScopeChannelSource(std::function<uint8_t()> source);
    // Returns once every pulse file queued so far has been written (or has failed); the
    // report of a failure still arrives through the window's event loop.
    void WaitForAutosaves();
    // Opens the larger plot window of the pulse view (its scan curves of every chip while a
    // scan holds the history) or of the spectrum; an open one is raised.
    PlotWindow* OpenPulsePlot();
    PlotWindow* OpenSpectrumPlot();

    PulseStore& pulses() { return pulses_; }
    // The scanned values of the last DAC scan, the pulse view's horizontal axis while the
    // history holds scan curves; 0 and 0 until a scan runs.
    ScanAxis scanAxis;

private:
    void BuildControls();
    void ConnectControls();
    void Repaint(ViewsToRepaint views);
    void ShowPulseCount();
    void AutosavePulse(const std::string& fileName);
    // The save dialog for `request`; a chosen file name without '.' gets ".txt".
    std::optional<std::string> AskSaveName(const FileRequest& request);
    // Shows the error box of a failed file operation; true when it succeeded.
    bool ShowFileResult(TextFileResult result);
    void PaintPulseView(QPainter& painter, const QRect& area);
    void PaintSpectrum(QPainter& painter, const QRect& area);

    WindowShared& shared_;
    PulseStore pulses_;
    std::function<uint8_t()> scopeChannels_;
    std::mt19937 random_;
    PaintBox* PaintBoxPulse = nullptr;
    PaintBox* PaintBoxSpectrum = nullptr;
    QLabel* LabelPulseID = nullptr;
    QCheckBox* ChkbRestoreBaseLine = nullptr;
    QCheckBox* ChkbAutosavePulse = nullptr;
    QMenu* PopupMenuPulse = nullptr;
    std::unique_ptr<OrderedWriter> autosaves_;
    QPointer<PlotWindow> pulseWindow_;
    QPointer<PlotWindow> spectrumWindow_;
};

}  // namespace ulvarin
