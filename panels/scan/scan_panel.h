// The "Scan" group: one DAC of all chips stepped through a range, a hardware process run at
// each value, and the median and average of each step's summed image recorded as curves
// for the pulse view; and the test-pulse button. The scan moves on each time the process
// ends (ScanStep, called from the end of a poll).
#pragma once

#include <QWidget>
#include <functional>

#include "process/dac_scan.h"

class QGroupBox;
class QPushButton;

namespace ulvarin {

class DropDownCombo;
class UpDown;
class WindowShared;

// What the scan asks of the other groups, answered by the window.
struct ScanQueries {
    std::function<bool()> processRunning;
    std::function<int()> chipItem;        // the chip selector's item: 0 all, k chip k
    std::function<bool()> integrating;    // "Integrate pics"
    std::function<double()> imageMedian;  // the view's median, shown in its label
    std::function<double()> imageAverage;
};

class ScanPanel : public QWidget {
    Q_OBJECT
public:
    ScanPanel(WindowShared& shared, QWidget* parent);

    void SetQueries(ScanQueries queries) { queries_ = std::move(queries); }

    // Starts a scan, or stops the one running (restoring the DAC and "Integrate pics").
    // A scan is not started while a process runs: its first step would stop that process.
    void BttnScanStartClick();
    // Records the step that has just ended and starts the next, or ends the scan.
    void ScanStep();
    void UpdateScanControls();
    // Prepares MXR and Timepix chips for test pulses, then has the interface make the
    // number asked for and read the frame.
    void BttnMakeTestPulsesClick();

    const ScanSettings& settings() const { return scan_; }
    bool Active() const { return scan_.active; }

signals:
    // The other groups follow a scan starting and ending (controls disabled while active).
    void activeChanged(bool active);
    // The DAC panel is to show DAC `index`, or refresh its value after the records changed.
    void dacShown(int index);
    void dacRecordsChanged();
    // The pulse view takes the history over for scan curves: emptied, slot `shownSlot`
    // shown, sample k standing at DAC value start + k * step.
    void curvesBegun(int shownSlot, double start, double step);
    // A step's results, to be appended to the curves.
    void pointMeasured(const ulvarin::ScanPoint& point);
    // "Integrate pics" as it was before the scan, or a fresh sum for the next step.
    void integrationWanted(bool on);
    void freshSumWanted();
    // "Start process" pressed for the step.
    void processWanted();

private:
    void Start();
    void Stop();
    ScanPoint MeasureStep();

    WindowShared& shared_;
    ScanQueries queries_;
    ScanSettings scan_;
    QGroupBox* GroupScan = nullptr;
    DropDownCombo* CombScanDAC = nullptr;
    QPushButton* BttnScanStart = nullptr;
    UpDown* UpDownScanFrom = nullptr;
    UpDown* UpDownScanTo = nullptr;
    UpDown* UpDownScanStep = nullptr;
    UpDown* UpDownTestPulseCount = nullptr;
};

}  // namespace ulvarin
