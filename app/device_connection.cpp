// The main window's side of opening and closing an interface: the device list, full and
// soft opens, the chip-dependent controls and stores, and closing.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <vector>

#include "app/dialogs.h"
#include "app/drop_down_combo.h"
#include "app/message_log.h"
#include "app/program.h"
#include "app/up_down.h"
#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/monitor.h"

namespace ulvarin {
namespace {

constexpr int kDeviceListBytes = 1024;
constexpr size_t kOpenedNameLength = 63;
constexpr int kSenseCodes = 16;

// Chip count captions by type (Medipix2, MXR, Timepix) and count; above 4 is "Error".
constexpr const char* kChipCountCaptions[3][6] = {
    {"No chip", "Single chip", "Double", "Three chips", "Quad", "Error"},
    {"No chip", "Single MXR chip", "Double MXR", "Three MXR chips", "MXR Quad", "Error"},
    {"No chip", "Single Timepix chip", "Double Timepix", "Three Timepix chips", "Timepix Quad",
     "Error"},
};

// The number each image quadrant shows (position 1 = upper right, then upper left, lower
// left, lower right): the chip the image layout puts there, counted from 1.
constexpr const char* kMedipix2Positions[4] = {"1", "2", "3", "4"};
constexpr const char* kMxrPositions[4] = {"2", "1", "4", "3"};

ChipType TypeOf(bool mxr, bool tpx) {
    if (!mxr) return ChipType::Medipix2;
    return tpx ? ChipType::Timepix : ChipType::Mxr;
}

const char* ChipCountCaption(uint8_t n, bool mxr, bool tpx) {
    const int type = tpx ? 2 : mxr ? 1 : 0;
    return kChipCountCaptions[type][n > 4 ? 5 : n];
}

}  // namespace

void TFormUlvarin::ComboDeviceNameDropDown() {
    BeginOperation();
    std::vector<char> names(kDeviceListBytes, 0);
    EnumerateDevices(3, names.data(), kDeviceListBytes);
    ui.ComboDeviceName->clear();
    const char* end = names.data() + names.size();
    for (const char* name = names.data(); name < end && *name != 0;) {
        const size_t length = strnlen(name, static_cast<size_t>(end - name));
        ui.ComboDeviceName->addItem(QString::fromUtf8(name, static_cast<qsizetype>(length)));
        name += length + 1;
    }
}

void TFormUlvarin::ComboDeviceNameSelect() {
    BttnOpenClick();
}

void TFormUlvarin::BttnOpenClick() {
    BeginOperation();
    if (device.device != nullptr) CloseOpenDevice();
    const std::string description = ui.ComboDeviceName->currentText().toStdString();
    if (ui.ChkbSoftOpen->isChecked() && SoftOpenRefused(description)) {
        CurrentDialogs().Error("Can't perform soft open - device differs", "Error");
        ui.ChkbSoftOpen->setChecked(false);
    }
    const bool soft = ui.ChkbSoftOpen->isChecked();
    device.Clear();
    device.device = OpenDevice(description.c_str(), !soft, isMxr, static_cast<uint8_t>(chipCount),
                               isTimepix);
    if (device.device != nullptr) {
        uint8_t n = ChipCount(device);
        bool mxr = IsMxr(device);
        bool tpx = IsTimepix(device);
        ShowChipCount(n, mxr, tpx);
        if (soft && (n != chipCount || mxr != isMxr || tpx != isTimepix)) {
            CurrentDialogs().Error(
                "Can't perform soft open - device differs (num chips or MXR type)", "Error");
            ui.ChkbSoftOpen->setChecked(false);
            CloseOpenDevice();
            device.Clear();
            device.device =
                OpenDevice(description.c_str(), true, isMxr, static_cast<uint8_t>(chipCount));
            n = ChipCount(device);
            mxr = IsMxr(device);
            tpx = IsTimepix(device);
        }
        // A reopen that failed leaves nothing to set up for.
        if (device.device != nullptr && !ui.ChkbSoftOpen->isChecked())
            ResetForNewInterface(n, mxr, tpx);
        if (device.device != nullptr) stateDeviceName_ = description;
    }
    RunMonitorAsSelected();
    RememberOpenedName(description);
    UpdateOpenCloseButtons();
}

// A soft open keeps the window's state, so it is allowed only for the interface that state
// was made for: the one last opened, when that open succeeded. (A failed open of another
// interface still becomes the name last opened, while the state stays the old one's.)
bool TFormUlvarin::SoftOpenRefused(const std::string& description) {
    return description != openedDeviceName || description != stateDeviceName_;
}

void TFormUlvarin::RememberOpenedName(const std::string& name) {
    openedDeviceName = name.substr(0, kOpenedNameLength);
}

void TFormUlvarin::CloseOpenDevice() {
    // The monitoring thread must not read from a record being destroyed.
    StopMonitor();
    device.Clear();
    CloseDevice(device, false);
}

void TFormUlvarin::ShowChipCount(uint8_t n, bool mxr, bool tpx) {
    ui.LabelNumChips->setText(QString::fromUtf8(ChipCountCaption(n, mxr, tpx)));
    ui.ComboChip->setEnabled(n > 1);
    ui.ComboChip->setCurrentIndex(0);
}

void TFormUlvarin::ResetForNewInterface(uint8_t n, bool mxr, bool tpx) {
    chipCount = n;
    isMxr = mxr;
    isTimepix = tpx;
    frames.Open({n, FamilyFromFlags(mxr, tpx)});
    // Three chips are shown in one row of three, so that no chip is left out of the image.
    tilesAcross = static_cast<int32_t>(frames.geometry().tilesAcross);
    tilesDown = static_cast<int32_t>(frames.geometry().tilesDown);
    autosave.lastFileNumber = 0;
    hardwareBoxShown = false;
    FillDacSelectors();
    ResetDacRecords();
    ShowSelectedDac();
    DropDisplayBitmap();
    NewFrame();
    ShowChipPositions();
    ShowModeSelector();
    ui.CombTimepixClock->setEnabled(isTimepix);
    if (!LoadConfiguration(false)) {
        device.Clear();
        SetChipDacs(device, dacRecords.data(), 0);
    }
}

void TFormUlvarin::FillDacSelectors() {
    ui.ComboDAC->clear();
    ui.CombScanDAC->clear();
    for (int i = 0; i < DacCount(device); ++i) {
        const QString name = QString::fromUtf8(DacName(device, i));
        ui.ComboDAC->addItem(name);
        ui.CombScanDAC->addItem(name);
    }
    const int selected = isMxr ? 6 : 8;
    ui.ComboDAC->setCurrentIndex(selected);
    ui.CombScanDAC->setCurrentIndex(selected);
    for (DropDownCombo* combo : {ui.ComboBypassDAC, ui.ComboSenseDAC}) {
        combo->clear();
        combo->addItem(QStringLiteral("(none)"));
        for (int code = 0; code < kSenseCodes; ++code)
            combo->addItem(QString::fromUtf8(SenseDacName(device, code)));
    }
    ui.ComboBypassDAC->setCurrentIndex(0);
    ui.ComboSenseDAC->setCurrentIndex(isMxr ? 7 : 12);
}

void TFormUlvarin::ResetDacRecords() {
    const ChipType type = TypeOf(isMxr, isTimepix);
    for (ChipDacRecord& record : dacRecords) {
        for (int i = 0; i < kDacSlots; ++i) record.dac[i] = DacDefaultOf(type, i);
        record.senseEnabled = 1;
        record.bypassEnabled = 0;
        record.senseCode = isMxr ? 6 : 11;
        if (isMxr) record.testPulseWord = 0;  // Medipix2 records keep their word
    }
}

void TFormUlvarin::ShowSelectedDac() {
    const int d = ui.ComboDAC->currentIndex();
    if (d < 0 || d >= kDacSlots) return;
    ui.UpDownDACValue->SetMaximum(DacMaxValue(device, d));
    ui.UpDownDACValue->SetPosition(dacRecords[0].dac[d]);
    ui.EditDACValue->setText(QString::number(dacRecords[0].dac[d]));
}

void TFormUlvarin::ShowChipPositions() {
    const char* const* numbers = isMxr ? kMxrPositions : kMedipix2Positions;
    for (int i = 0; i < 4; ++i) ui.numberLabels[i]->setText(QString::fromUtf8(numbers[i]));
}

void TFormUlvarin::ShowModeSelector() {
    DropDownCombo* mode = ui.CombSelectFSRMode;
    mode->clear();
    if (!isMxr) {
        ui.LabelFSRMode->setText(QStringLiteral("Active FSR"));
        mode->addItems({QStringLiteral("FSR0"), QStringLiteral("FSR1")});
        mode->setCurrentIndex(-1);
    } else if (isTimepix) {
        ui.LabelFSRMode->setText(QStringLiteral("TPX Mode"));
        mode->addItems({QStringLiteral("Medipix"), QStringLiteral("TOT"),
                        QStringLiteral("TPX 1-hit"), QStringLiteral("Timepix")});
        mode->setCurrentIndex(3);
    } else {
        ui.LabelFSRMode->clear();
    }
}

void TFormUlvarin::BttnCloseClick() {
    BeginOperation();
    if (device.device == nullptr) {
        log->AddLine(QStringLiteral("Close not performed. Device is not opened."));
    } else {
        StopMonitor();
        SaveConfiguration(false);
        if (!ui.ChkbSoftOpen->isChecked()) {
            // Leaves the detector safe; a soft close keeps it running for a later soft open.
            device.Clear();
            SetBias(device, BiasToCode(0.0));
            PowerOff(device);
        }
        device.Clear();
        CloseDevice(device, true);
        ui.LabelNumChips->clear();
    }
    UpdateOpenCloseButtons();
}

void TFormUlvarin::UpdateOpenCloseButtons() {
    const bool open = device.device != nullptr;
    ui.BttnOpen->setEnabled(!open);
    ui.ComboDeviceName->setEnabled(!open);
    ui.BttnClose->setEnabled(open);
    ui.BttnSaveCfg->setEnabled(open);
    ui.BttnLoadConfig->setEnabled(open);
}

}  // namespace ulvarin
