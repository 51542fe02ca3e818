// The "Scan" group: one DAC of all chips stepped through a range, a hardware process run at
// each value, and the median and average of each step's summed image recorded as curves
// for the pulse view; the threshold equalisation over the same DAC and range; and the
// test-pulse button. A scan or an equalisation moves on each time the process ends
// (ScanStep, called once the poll that saw the end has returned).
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "calibration/threshold_equalizer.h"
#include "hardware_process/dac_scan.h"

class QGroupBox;
class QProgressBar;
class QPushButton;
class QTemporaryDir;

namespace ulvarin {

class DropDownCombo;
class EqualizationDialog;
class EqualizationFile;
class EqualizationRun;
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
    ~ScanPanel() override;

    void SetQueries(ScanQueries queries) { queries_ = std::move(queries); }

    // Starts a scan, or stops the one running (or the equalisation): the DAC, "Integrate
    // pics" and the pixel configuration as they were. A scan is not started while a process
    // runs: its first step would stop that process. With "Eq. bits" at a value, every
    // counting pixel's threshold adjustment is set to it for the scan.
    void BttnScanStartClick();
    // Starts a threshold equalisation of every chip over the scan's DAC and range (the
    // process's interval timer exposing each step), or stops the one running. The scans
    // count hits whatever Timepix mode the pixels were in. Finished and worth keeping, the
    // window keeps the new pixel configuration (each pixel in its own mode); finished but
    // not worth keeping (a spread widened, most pixels out of reach), stopped or failed,
    // the pixel configuration is as it was. The DACs are as they were either way; a
    // finished run's results are shown.
    void BttnEqualizeClick();
    // The step's process has ended: the step is recorded and the next started, or the run
    // ended. Called after the poll that saw the end has returned, not from inside it: at the
    // end of an equalisation scan the equaliser's arithmetic, the results file and a new
    // pixel configuration take a while, which is no measure of how the interface answers.
    void ScanStep();
    // The step's process went `silentSeconds` without a frame (its frames due every
    // `paceSeconds`) and was stopped: the run ends with a line that says so, and puts back
    // what it changed as Stop does.
    void StepStalled(double silentSeconds, double paceSeconds);
    void UpdateScanControls();
    // Prepares MXR and Timepix chips for test pulses, then has the interface make the
    // number asked for and read the frame.
    void BttnMakeTestPulsesClick();

    const ScanSettings& settings() const { return scan_; }
    bool Active() const { return scan_.active; }
    bool Equalizing() const { return equalization_ != nullptr; }
    // The results window of the last equalisation (nullptr before the first has ended).
    EqualizationDialog* equalizationDialog() const { return dialog_; }

signals:
    // The other groups follow a scan starting and ending (controls disabled while active).
    void activeChanged(bool active);
    // The DAC panel is to show DAC `index`, or refresh its value after the records changed.
    void dacShown(int index);
    void dacRecordsChanged();
    // The pulse view takes the history over for scan curves: emptied, slot `shownSlot`
    // shown, sample k standing at DAC value start + k * step of the DAC named `dacName`.
    void curvesBegun(int shownSlot, double start, double step, const QString& dacName);
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
    // Records the step that has ended and starts the next, or ends the scan.
    void TakeStep();
    // The step being exposed, counted from 1, and the steps of the whole run.
    int ExposingStep() const;
    int StepsInAll() const;
    ScanPoint MeasureStep();
    // Sets the DAC records to the step's value, sends them and starts the step's process.
    // False, after saying why, when the interface refused either.
    bool StartStepProcess(const char* failedCaption);
    // Sends `words` as the pixel configuration, after putting them in the frame store.
    bool SendWords(std::span<const uint16_t> words);
    // Puts back the configuration the scan changed, or sends what the equalisation's run
    // keeps (its result, or the configuration from before); false when the interface did
    // not take it.
    bool SendBackWords();
    void FillScanBits();
    QString ScannedDacName() const;
    // One message line for a scan that ended (finished or stopped after `stepsDone` steps).
    void EndScan(bool finished, int stepsDone);
    // The progress bar: `taken` of `all` steps and the time left at the pace so far; at the
    // end "Done" or "Stopped".
    void ShowProgress(int taken, int all);
    void EndProgress(bool finished);

    void StartEqualization();
    // Creates the results file of the run in a folder of its own.
    void CreateResultsFile(const EqualizeRequest& request);
    // The results file could not be written: the run goes on without it.
    void ResultsFileFailed(const std::string& error);
    void EqualizeStep();
    void ShowEqualizationProgress();
    // Writes the line that ends an equalisation and, finished, shows its results.
    void EndEqualization(bool finished, bool restored);

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
    DropDownCombo* CombScanBits = nullptr;
    QPushButton* BttnEqualize = nullptr;
    QProgressBar* ProgressScan = nullptr;

    // The pixel configuration before the scan or the equalisation changed it; empty when
    // nothing was changed.
    std::vector<uint16_t> savedWords_;
    std::unique_ptr<EqualizationRun> equalization_;
    bool exposing_ = false;  // an equalisation frame is being taken
    // Why the run is being stopped, for its last line; empty when the operator stopped it.
    QString stopReason_;
    double started_ = 0;  // when the scan or the equalisation began
    // The results file, written as each scan ends into a folder of its own that lives as
    // long as the results shown; "Save results..." copies it.
    std::unique_ptr<QTemporaryDir> resultsFolder_;
    std::unique_ptr<EqualizationFile> resultsFile_;
    std::string resultsPath_;
    std::string resultsError_;
    EqualizationDialog* dialog_ = nullptr;
};

}  // namespace ulvarin
