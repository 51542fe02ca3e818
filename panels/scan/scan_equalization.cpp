// The scan group's threshold equalisation: the window drives an EqualizationRun one hardware
// process per frame, from the end of each process as a scan does, and shows what it
// decided. The run's rules (counting mode for the scans, the verdict, what the chips keep)
// are the engine's, shared with every other face.
#include <QGroupBox>
#include <QProgressBar>
#include <QTemporaryDir>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/link.h"
#include "files/equalization_file.h"
#include "panels/scan/equalization_dialog.h"
#include "panels/scan/scan_panel.h"
#include "panels/shared/window_shared.h"
#include "session/equalization_run.h"
#include "session/run_rules.h"
#include "widgets/drop_down_combo.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

constexpr const char* kEqualizeCaption = "Equalization Failed";

}  // namespace

void ScanPanel::BttnEqualizeClick() {
    if (equalization_) {
        Stop();
        return;
    }
    if (scan_.active) return;  // the button is disabled while a scan runs
    StartEqualization();
}

void ScanPanel::StartEqualization() {
    if (!shared_.IsOpen()) {
        shared_.dialogs().Error("No interface is open.", kEqualizeCaption);
        return;
    }
    if (queries_.processRunning && queries_.processRunning()) {
        shared_.dialogs().Error("A process is running. Stop it before starting an equalization.",
                                kEqualizeCaption);
        return;
    }
    const int from = UpDownScanFrom->Position(), to = UpDownScanTo->Position(),
              step = UpDownScanStep->Position();
    // The values every face scans for this range; too few are refused as everywhere, with
    // what to change in this window.
    const ScanPlan plan = PlanScan(from, to, step);
    if (!plan.refusal.empty()) {
        shared_.dialogs().Error(plan.refusal, kEqualizeCaption);
        return;
    }
    if (const std::string refusal = EqualizeValuesRefusal(plan.values.size()); !refusal.empty()) {
        shared_.dialogs().Error(refusal + " Widen From..To or make Step smaller.",
                                kEqualizeCaption);
        return;
    }
    scan_ = BeginScan(CombScanDAC->currentIndex(), from, to, step, shared_.ChipRecords(),
                      queries_.integrating && queries_.integrating());
    EqualizeRequest request;
    request.dacIndex = scan_.dacIndex;
    request.values = plan.values;
    FrameStore& frames = shared_.frames;
    const auto words = frames.config().first(frames.pixelsInUse());
    savedWords_.assign(words.begin(), words.end());
    started_ = Now();
    CreateResultsFile(request);
    equalization_ = std::make_unique<EqualizationRun>(frames.layout(), savedWords_,
                                                      std::move(request), resultsFile_.get());
    exposing_ = false;

    const EqualizationRun& run = *equalization_;
    const char* dacName = DacName(shared_.device, run.dacIndex());
    shared_.AddLogLine(QStringLiteral("Equalization started: %1 from %2 to %3 by %4, 3 scans of "
                                      "%5 steps (%6 frames)")
                           .arg(QString::fromUtf8(dacName != nullptr ? dacName : ""))
                           .arg(run.request().values.front())
                           .arg(run.request().values.back())
                           .arg(scan_.step)
                           .arg(run.stepsPerScan())
                           .arg(run.framesInAll()));
    emit dacShown(scan_.dacIndex);
    UpdateScanControls();
    EqualizeStep();
}

// The results file is written as the run goes, so its scans need no memory; a file that
// cannot be written costs only the file, not the equalisation.
void ScanPanel::CreateResultsFile(const EqualizeRequest& request) {
    const FrameStore& frames = shared_.frames;
    RunDescription run;
    run.layout = frames.layout();
    run.deviceName = DeviceName(shared_.device);
    run.chipIdText = ChipIdText(shared_.device);
    run.dacs.assign(shared_.ChipRecords().begin(), shared_.ChipRecords().end());
    const char* dacName = DacName(shared_.device, request.dacIndex);
    run.scanDac = dacName != nullptr ? dacName : "";
    run.scanValues.assign(request.values.begin(), request.values.end());
    run.countModes = CountModes(run.layout, savedWords_);
    run.pixelConfig = savedWords_;
    run.expectedFrames = 3 * static_cast<int>(request.values.size());
    resultsFile_.reset();
    resultsPath_.clear();
    resultsError_.clear();
    resultsFolder_ = std::make_unique<QTemporaryDir>();
    if (resultsFolder_->isValid()) {
        resultsPath_ = resultsFolder_->filePath(QStringLiteral("equalization.h5")).toStdString();
        resultsFile_ = EqualizationFile::Create(resultsPath_, run, resultsError_);
    } else {
        resultsError_ = resultsFolder_->errorString().toStdString();
    }
    if (!resultsFile_) resultsPath_.clear();
}

void ScanPanel::ResultsFileFailed(const std::string& error) {
    resultsError_ = error;
    shared_.AddLogLine(QStringLiteral("Equalization results file not written: %1")
                           .arg(QString::fromStdString(resultsError_)));
    resultsFile_.reset();
    resultsPath_.clear();
}

// Called at the start and each time a step's process has ended: the frame summed over the
// step goes to the run, then whatever it asks for next is done.
void ScanPanel::EqualizeStep() {
    EqualizationRun& run = *equalization_;
    FrameStore& frames = shared_.frames;
    if (exposing_) {
        exposing_ = false;
        if (!run.Feed(frames.counts().first(frames.pixelsInUse())))
            ResultsFileFailed(run.fileError());
    }
    while (run.Next() == EqualizationRun::Action::kConfigure) {
        if (!SendWords(run.words())) {
            shared_.dialogs().Error("Equalization failed. Can't set the pixel configuration.",
                                    kEqualizeCaption);
            Stop();
            return;
        }
        run.Configured();
    }
    ShowEqualizationProgress();
    if (run.Next() == EqualizationRun::Action::kDone) {
        Stop();
        return;
    }
    scan_.current = run.dacValue();
    SetScannedDac(shared_.ChipRecords(), scan_);
    exposing_ = true;
    if (!StartStepProcess(kEqualizeCaption)) {
        exposing_ = false;
        Stop();
    }
}

void ScanPanel::ShowEqualizationProgress() {
    const EqualizationRun& run = *equalization_;
    const int taken = run.framesTaken(), all = run.framesInAll();
    const int percent = all > 0 ? taken * 100 / all : 0;
    GroupScan->setTitle(QStringLiteral("Equalizing (%1 %)").arg(percent));
    ShowProgress(taken, all);
}

void ScanPanel::EndEqualization(bool finished, bool restored) {
    const double seconds = Now() - started_;
    const std::unique_ptr<EqualizationRun> run = std::move(equalization_);
    exposing_ = false;
    EndProgress(finished);
    if (!finished) {
        resultsFile_.reset();
        resultsFolder_.reset();
        if (!shared_.IsOpen()) {
            shared_.AddLogLine(QStringLiteral("Equalization stopped after %1 s: the interface was "
                                              "closed")
                                   .arg(seconds, 0, 'f', 1));
            return;
        }
        const QString outcome = restored ? QStringLiteral("pixel configuration and DACs restored")
                                         : QStringLiteral(
                                               "the pixel configuration or the DACs "
                                               "could not be sent back");
        if (stopReason_.isEmpty())
            shared_.AddLogLine(QStringLiteral("Equalization stopped after %1 s: %2")
                                   .arg(seconds, 0, 'f', 1)
                                   .arg(outcome));
        else
            shared_.AddLogLine(
                QStringLiteral("Equalization stopped: %1; %2").arg(stopReason_, outcome));
        if (!restored)
            shared_.dialogs().Error(
                "Equalization stopped, but the previous pixel configuration "
                "or DACs could not be sent back.",
                kEqualizeCaption);
        return;
    }
    // The run finished the file when it ended; one that failed then holds no results.
    if (resultsFile_ && !run->HasFile()) ResultsFileFailed(run->fileError());
    resultsFile_.reset();
    const EqualizationResult& result = run->result();
    const std::string& notKept = run->notKept();
    QString line = QStringLiteral("Equalization finished in %1 s: %2")
                       .arg(seconds, 0, 'f', 1)
                       .arg(QString::fromStdString(DescribeEqualization(result)));
    if (!notKept.empty()) line += QStringLiteral(". ") + QString::fromStdString(notKept);
    shared_.AddLogLine(line);
    if (!restored)
        shared_.dialogs().Error(notKept.empty()
                                    ? "Equalization finished, but the new pixel configuration or "
                                      "the DACs could not be sent."
                                    : "Equalization finished without a result worth keeping, but "
                                      "the previous pixel configuration or the DACs could not be "
                                      "sent back.",
                                kEqualizeCaption);
    if (!dialog_) dialog_ = new EqualizationDialog(shared_, this);
    const std::span<const uint16_t> before = run->originalWords();
    dialog_->ShowResult(result, {before.begin(), before.end()}, std::move(resultsFolder_),
                        resultsPath_, resultsError_, notKept);
}

}  // namespace ulvarin
