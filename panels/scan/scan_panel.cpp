#include "panels/scan/scan_panel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/link.h"
#include "files/equalization_file.h"
#include "panels/scan/equalization_dialog.h"
#include "panels/scan/scan_table.h"
#include "panels/shared/window_shared.h"
#include "session/equalization_run.h"
#include "widgets/control_table.h"
#include "widgets/drop_down_combo.h"
#include "widgets/up_down.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr uint16_t kTimepixTestBit = 0x2000;
constexpr uint16_t kMxrTestBit = 0x0200;
constexpr uint8_t kTestPulseThird = 10;
// "Eq. bits" items: "No change", "Scan" (stepping the adjustment itself: not offered), then
// the adjustment values from 0.
constexpr int kBitsNoChange = 0;
constexpr int kBitsScan = 1;
constexpr int kBitsFirstValue = 2;

// "1:05" or "0:07" for a number of seconds.
QString MinutesText(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

// Takes the number typed into a range box as its up-down's position (within the range);
// a text that is no number shows the position again.
void CommitTyped(QLineEdit* box, UpDown* upDown) {
    bool number = false;
    const int value = box->text().toInt(&number);
    upDown->SetPosition(number ? value : upDown->Position());
}

}  // namespace

ScanPanel::ScanPanel(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelScan"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    GroupScan = MakeGroup(ScanGroupTable(), this);
    layout->addWidget(GroupScan);
    CombScanDAC = FindControl<DropDownCombo>(this, "CombScanDAC");
    BttnScanStart = FindControl<QPushButton>(this, "BttnScanStart");
    UpDownScanFrom = FindControl<UpDown>(this, "UpDownScanFrom");
    UpDownScanTo = FindControl<UpDown>(this, "UpDownScanTo");
    UpDownScanStep = FindControl<UpDown>(this, "UpDownScanStep");
    UpDownTestPulseCount = FindControl<UpDown>(this, "UpDownTestPulseCount");
    CombScanBits = FindControl<DropDownCombo>(this, "CombScanBits");
    BttnEqualize = FindControl<QPushButton>(this, "BttnEqualize");
    // The progress of a scan or an equalisation beside the Equalize button, in the row the
    // table leaves free.
    ProgressScan = new QProgressBar(GroupScan);
    ProgressScan->setObjectName(QStringLiteral("ProgressScan"));
    ProgressScan->setToolTip(
        QStringLiteral("Steps of the scan or frames of the equalization taken, and the time left"));
    ProgressScan->setRange(0, 1);
    ProgressScan->setValue(0);
    ProgressScan->setFormat(QString());
    ProgressScan->setMaximumHeight(BttnEqualize->sizeHint().height());
    if (auto* grid = qobject_cast<QGridLayout*>(GroupScan->layout()->itemAt(0)->layout()))
        grid->addWidget(ProgressScan, grid->rowCount() - 1, 2, 1, 4);
    FillScanBits();
    // The range boxes hold their up-down's position: typed values are taken when the box is
    // left, within the range, and before a step, so an arrow steps from the number typed.
    for (UpDown* upDown : {UpDownScanFrom, UpDownScanTo, UpDownScanStep, UpDownTestPulseCount}) {
        auto* box = static_cast<QLineEdit*>(upDown->parentWidget()->findChild<QLineEdit*>());
        connect(box, &QLineEdit::editingFinished, this,
                [box, upDown] { CommitTyped(box, upDown); });
        connect(
            upDown, &UpDown::changing, this,
            [box, upDown](UpDown::Change* change) {
                CommitTyped(box, upDown);
                change->newPosition = upDown->Position() + (change->newPosition - change->position);
            },
            Qt::DirectConnection);
        StepUpDownFromBox(box, upDown);
    }
    connect(BttnScanStart, &QPushButton::clicked, this, &ScanPanel::BttnScanStartClick);
    connect(BttnEqualize, &QPushButton::clicked, this, &ScanPanel::BttnEqualizeClick);
    connect(FindControl<QPushButton>(this, "BttnMakeTestPulses"), &QPushButton::clicked, this,
            &ScanPanel::BttnMakeTestPulsesClick);
    connect(CombScanDAC, &QComboBox::activated, this, [this] { emit dacRecordsChanged(); });
    connect(&shared_, &WindowShared::interfaceReset, this, [this] {
        CombScanDAC->clear();
        for (int i = 0; i < DacCount(shared_.device); ++i)
            CombScanDAC->addItem(QString::fromUtf8(DacName(shared_.device, i)));
        CombScanDAC->setCurrentIndex(shared_.isMxr ? 6 : 8);
        FillScanBits();
    });
}

// The adjustment values the open chips take (0-7, or 0-15 on Timepix); the choice is kept
// where the new list still has it.
void ScanPanel::FillScanBits() {
    const int chosen = CombScanBits->currentIndex();
    CombScanBits->clear();
    CombScanBits->addItem(QStringLiteral("No change"));
    CombScanBits->addItem(QStringLiteral("Scan"));
    for (int value = 0; value <= MaxThresholdAdjust(shared_.Type()); ++value)
        CombScanBits->addItem(QString::number(value));
    if (auto* model = qobject_cast<QStandardItemModel*>(CombScanBits->model())) {
        QStandardItem* scanItem = model->item(kBitsScan);
        scanItem->setEnabled(false);
        scanItem->setToolTip(QStringLiteral("Not available: \"Equalize\" scans the adjustment"));
    }
    CombScanBits->setCurrentIndex(chosen >= 0 && chosen < CombScanBits->count() && chosen != kBitsScan
                                      ? chosen
                                      : kBitsNoChange);
}

bool ScanPanel::SendWords(std::span<const uint16_t> words) {
    FrameStore& frames = shared_.frames;
    std::copy(words.begin(), words.end(), frames.config().begin());
    shared_.BeginOperation();
    shared_.device.Clear();
    const bool sent = SetMatrix(shared_.device, frames.config().data(), frames.pixelsInUse());
    shared_.ImageChanged();  // the mask views show the words
    return sent;
}

bool ScanPanel::SendBackWords() {
    // An equalisation's run says what the chips keep: its result or the words from before.
    if (equalization_) {
        const std::span<const uint16_t> kept = equalization_->KeptWords();
        savedWords_.assign(kept.begin(), kept.end());
    }
    if (savedWords_.empty()) return true;
    const std::vector<uint16_t> words = std::move(savedWords_);
    savedWords_.clear();
    // A closed interface holds nothing to put back; the window's copy is set all the same.
    if (!shared_.IsOpen()) {
        std::copy(words.begin(), words.end(), shared_.frames.config().begin());
        shared_.ImageChanged();
        return true;
    }
    return SendWords(words);
}

bool ScanPanel::StartStepProcess(const char* failedCaption) {
    emit dacRecordsChanged();
    shared_.BeginOperation();
    shared_.device.Clear();
    if (!SetChipDacs(shared_.device, shared_.dacRecords.data(), 0)) {
        shared_.dialogs().Error(std::string(Equalizing() ? "Equalization" : "DAC scan") +
                                    " failed. Can't set DAC values.",
                                failedCaption);
        return false;
    }
    emit freshSumWanted();
    emit processWanted();
    // Nothing would end a process that did not start: the scan would wait for ever.
    if (queries_.processRunning && !queries_.processRunning()) {
        shared_.dialogs().Error("The process of the step could not be started.", failedCaption);
        return false;
    }
    return true;
}

ScanPanel::~ScanPanel() = default;

void ScanPanel::BttnScanStartClick() {
    if (scan_.active)
        Stop();
    else
        Start();
}

void ScanPanel::Start() {
    if (queries_.processRunning && queries_.processRunning()) {
        shared_.dialogs().Error("A process is running. Stop it before starting a scan.",
                                "Scan Failed");
        return;
    }
    scan_ = BeginScan(CombScanDAC->currentIndex(), UpDownScanFrom->Position(),
                      UpDownScanTo->Position(), UpDownScanStep->Position(), shared_.ChipRecords(),
                      queries_.integrating && queries_.integrating());
    const int bits = CombScanBits->currentIndex() - kBitsFirstValue;
    if (bits >= 0 && shared_.IsOpen()) {
        // Only the adjustment of counting pixels changes: masked pixels stay as they are,
        // and the mask, test and mode bits of all.
        FrameStore& frames = shared_.frames;
        const auto words = frames.config().first(frames.pixelsInUse());
        savedWords_.assign(words.begin(), words.end());
        std::vector<uint16_t> scanWords = savedWords_;
        for (uint16_t& word : scanWords)
            if (IsGoodPixel(word, shared_.Type()))
                word = WithThresholdAdjust(word, shared_.Type(), bits);
        if (!SendWords(scanWords)) {
            shared_.dialogs().Error("DAC scan failed. Can't set the pixel configuration.",
                                    "Scan Failed");
            SendBackWords();
            scan_.active = false;
            return;
        }
    }
    started_ = Now();
    shared_.AddLogLine(QStringLiteral("Scan started: %1 from %2 to %3 by %4, %5 steps")
                           .arg(ScannedDacName())
                           .arg(scan_.from)
                           .arg(scan_.to)
                           .arg(scan_.step)
                           .arg(ScanStepCount(scan_)));
    emit dacShown(scan_.dacIndex);
    UpdateScanControls();
    emit curvesBegun(queries_.chipItem ? queries_.chipItem() : 0, scan_.from, scan_.step,
                     ScannedDacName());
    TakeStep();
}

QString ScanPanel::ScannedDacName() const {
    const char* name = DacName(shared_.device, scan_.dacIndex);
    return name != nullptr ? QString::fromUtf8(name) : QStringLiteral("DAC %1").arg(scan_.dacIndex);
}

ScanPoint ScanPanel::MeasureStep() {
    ScanPoint point;
    point.average = queries_.imageAverage ? queries_.imageAverage() : 0;
    point.median = queries_.imageMedian ? queries_.imageMedian() : 0;
    const FrameStore& frames = shared_.frames;
    MeasureChips(frames.result().first(frames.pixelsInUse()),
                 frames.config().first(frames.pixelsInUse()),
                 static_cast<int>(shared_.chipCount.load()), frames.layout().family, point);
    return point;
}

void ScanPanel::ScanStep() {
    // A call while the step's process runs (one queued before a stop and a new start) has
    // no step to record.
    if (queries_.processRunning && queries_.processRunning()) return;
    TakeStep();
}

void ScanPanel::TakeStep() {
    if (!scan_.active) return;
    if (equalization_) {
        EqualizeStep();
        return;
    }
    if (HasStepToRecord(scan_)) emit pointMeasured(MeasureStep());
    GroupScan->setTitle(QString::fromStdString(ScanCaption(scan_)));
    if (!AdvanceScan(scan_)) {
        Stop();
        return;
    }
    ShowProgress(ScanStepsDone(scan_), ScanStepCount(scan_));
    SetScannedDac(shared_.ChipRecords(), scan_);
    if (!StartStepProcess("Scan Failed")) Stop();
}

// Whatever ends a scan or an equalisation (its end, the operator, a failure, a closed
// interface) puts back the DAC, the integration and the pixel configuration.
void ScanPanel::Stop() {
    const bool equalizing = equalization_ != nullptr;
    // A finished equalisation gives its verdict (and finishes its results file) before
    // the words it keeps are sent.
    if (equalizing) equalization_->Finish();
    const bool finished = equalizing ? equalization_->Done() : scan_.current > scan_.to;
    const int stepsDone = ScanStepsDone(scan_);
    RestoreScannedDac(shared_.ChipRecords(), scan_);
    shared_.BeginOperation();
    shared_.device.Clear();
    const bool dacsBack = !shared_.IsOpen() || SetChipDacs(shared_.device, shared_.dacRecords.data(), 0);
    emit dacRecordsChanged();
    const bool wordsBack = SendBackWords();
    emit integrationWanted(scan_.savedIntegrating);
    scan_.active = false;
    if (equalizing) {
        EndEqualization(finished, dacsBack && wordsBack);
    } else {
        EndScan(finished, stepsDone);
        if (!wordsBack || !dacsBack)
            shared_.dialogs().Error(
                !dacsBack ? (wordsBack ? "The DAC values from before the scan could not be sent "
                                         "back."
                                       : "The DAC values and the pixel configuration from before "
                                         "the scan could not be sent back.")
                          : "The pixel configuration from before the scan could not be sent back.",
                "Scan Failed");
    }
    stopReason_.clear();
    UpdateScanControls();
}

int ScanPanel::ExposingStep() const {
    return (equalization_ ? equalization_->framesTaken() : ScanStepsDone(scan_)) + 1;
}

int ScanPanel::StepsInAll() const {
    return equalization_ ? equalization_->framesInAll() : ScanStepCount(scan_);
}

void ScanPanel::StepStalled(double silentSeconds, double paceSeconds) {
    if (!scan_.active) return;
    stopReason_ = QStringLiteral("no frame for %1 s at step %2 of %3 (exposure %4 s)")
                      .arg(silentSeconds, 0, 'f', 1)
                      .arg(ExposingStep())
                      .arg(StepsInAll())
                      .arg(paceSeconds, 0, 'g', 5);
    Stop();
}

void ScanPanel::EndScan(bool finished, int stepsDone) {
    const double seconds = Now() - started_;
    EndProgress(finished);
    const int steps = ScanStepCount(scan_);
    if (finished) {
        shared_.AddLogLine(QStringLiteral("Scan finished in %1 s: %2 steps of %3 from %4 to %5")
                               .arg(seconds, 0, 'f', 1)
                               .arg(steps)
                               .arg(ScannedDacName())
                               .arg(scan_.from)
                               .arg(scan_.to));
        return;
    }
    if (!stopReason_.isEmpty()) {
        shared_.AddLogLine(QStringLiteral("Scan stopped: %1; %2 of %3 steps taken in %4 s")
                               .arg(stopReason_)
                               .arg(stepsDone)
                               .arg(steps)
                               .arg(seconds, 0, 'f', 1));
        return;
    }
    shared_.AddLogLine(QStringLiteral("Scan stopped after %1 s, %2 of %3 steps taken%4")
                           .arg(seconds, 0, 'f', 1)
                           .arg(stepsDone)
                           .arg(steps)
                           .arg(shared_.IsOpen() ? QString()
                                                 : QStringLiteral(": the interface was closed")));
}

void ScanPanel::ShowProgress(int taken, int all) {
    ProgressScan->setRange(0, all);
    ProgressScan->setValue(taken);
    const double elapsed = Now() - started_;
    const QString left = taken > 0 ? MinutesText(elapsed / taken * (all - taken)) + " left"
                                   : QStringLiteral("starting");
    ProgressScan->setFormat(QStringLiteral("Step %1 of %2, %3").arg(taken).arg(all).arg(left));
}

void ScanPanel::EndProgress(bool finished) {
    ProgressScan->setRange(0, 1);
    ProgressScan->setValue(finished ? 1 : 0);
    ProgressScan->setFormat(finished ? QStringLiteral("Done") : QStringLiteral("Stopped"));
}

void ScanPanel::UpdateScanControls() {
    BttnScanStart->setText(scan_.active ? QStringLiteral("Stop") : QStringLiteral("Start"));
    BttnEqualize->setText(equalization_ ? QStringLiteral("Stop") : QStringLiteral("Equalize"));
    BttnEqualize->setEnabled(!scan_.active || equalization_ != nullptr);
    for (const char* name :
         {"CombScanDAC", "CombScanBits", "EditScanFrom", "EditScanTo", "EditScanStep"})
        FindControl<QWidget>(this, name)->setEnabled(!scan_.active);
    for (UpDown* upDown : {UpDownScanFrom, UpDownScanTo, UpDownScanStep})
        upDown->setEnabled(!scan_.active);
    if (!scan_.active) GroupScan->setTitle(QStringLiteral("Scan"));
    emit activeChanged(scan_.active);
}

void ScanPanel::BttnMakeTestPulsesClick() {
    shared_.BeginOperation();
    const int count = UpDownTestPulseCount->Position();
    FrameStore& frames = shared_.frames;
    if (shared_.isMxr) {
        const uint16_t bit = shared_.isTimepix ? kTimepixTestBit : kMxrTestBit;
        auto config = frames.config();
        for (int p = 0; p < kChipPixels; ++p) config[static_cast<size_t>(p)] |= bit;
        for (size_t chip = 1; chip < shared_.chipCount; ++chip)
            std::copy_n(config.begin(), kChipPixels,
                        config.begin() + static_cast<long>(chip * kChipPixels));
        shared_.device.Clear();
        if (!SetMatrix(shared_.device, config.data(), frames.pixelsInUse())) {
            shared_.dialogs().Error("Generation of test pulses failed: Can't set mask.", "Error");
            return;
        }
        shared_.device.Clear();
        if (!EraseMatrix(shared_.device)) {
            shared_.dialogs().Error("Generation of test pulses failed: Can't read the data.",
                                    "Error");
            return;
        }
        for (ChipDacRecord& record : shared_.ChipRecords()) record.testPulseWord = 0xFFFFFFFFu;
        shared_.device.Clear();
        if (!SetChipDacs(shared_.device, shared_.dacRecords.data(), 0)) {
            shared_.dialogs().Error(
                "Generation of test pulses failed: Can't set test pulse configuration register.",
                "Error");
            return;
        }
    }
    const DialogAnswer ready = shared_.dialogs().Message(
        {"Ready for test pulses?", "Ready", DialogIcon::Question, DialogButtons::YesNo});
    if (ready != DialogAnswer::Yes) return;
    shared_.device.Clear();
    if (!GenerateTestPulses(shared_.device, static_cast<uint16_t>(count), kTestPulseThird,
                            frames.raw().data(), frames.pixelsInUse(), &frames.frameTime)) {
        shared_.dialogs().Error("Test pulses failed.", "Error");
        return;
    }
    shared_.FrameArrived();
}

}  // namespace ulvarin
