#include "panels/scan/scan_panel.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "device/chip_commands.h"
#include "panels/scan/scan_table.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"
#include "widgets/drop_down_combo.h"
#include "widgets/up_down.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr uint16_t kTimepixTestBit = 0x2000;
constexpr uint16_t kMxrTestBit = 0x0200;
constexpr uint8_t kTestPulseThird = 10;

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
    connect(FindControl<QPushButton>(this, "BttnMakeTestPulses"), &QPushButton::clicked, this,
            &ScanPanel::BttnMakeTestPulsesClick);
    connect(CombScanDAC, &QComboBox::activated, this, [this] { emit dacRecordsChanged(); });
    connect(&shared_, &WindowShared::interfaceReset, this, [this] {
        CombScanDAC->clear();
        for (int i = 0; i < DacCount(shared_.device); ++i)
            CombScanDAC->addItem(QString::fromUtf8(DacName(shared_.device, i)));
        CombScanDAC->setCurrentIndex(shared_.isMxr ? 6 : 8);
    });
}

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
    emit dacShown(scan_.dacIndex);
    UpdateScanControls();
    emit curvesBegun(queries_.chipItem ? queries_.chipItem() : 0, scan_.from, scan_.step);
    ScanStep();
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
    if (!scan_.active) return;
    if (HasStepToRecord(scan_)) emit pointMeasured(MeasureStep());
    GroupScan->setTitle(QString::fromStdString(ScanCaption(scan_)));
    if (!AdvanceScan(scan_)) {
        Stop();
        return;
    }
    SetScannedDac(shared_.ChipRecords(), scan_);
    emit dacRecordsChanged();
    shared_.BeginOperation();
    shared_.device.Clear();
    if (!SetChipDacs(shared_.device, shared_.dacRecords.data(), 0)) {
        shared_.dialogs().Error("DAC scan failed. Can't set DAC values.", "Scan Failed");
        Stop();
        return;
    }
    emit freshSumWanted();
    emit processWanted();
}

void ScanPanel::Stop() {
    RestoreScannedDac(shared_.ChipRecords(), scan_);
    shared_.BeginOperation();
    shared_.device.Clear();
    SetChipDacs(shared_.device, shared_.dacRecords.data(), 0);
    emit dacRecordsChanged();
    emit integrationWanted(scan_.savedIntegrating);
    scan_.active = false;
    UpdateScanControls();
}

void ScanPanel::UpdateScanControls() {
    BttnScanStart->setText(scan_.active ? QStringLiteral("Stop") : QStringLiteral("Start"));
    for (const char* name : {"CombScanDAC", "EditScanFrom", "EditScanTo", "EditScanStep"})
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
