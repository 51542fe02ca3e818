#include "panels/device_bar/device_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <vector>

#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/monitor.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"
#include "widgets/drop_down_combo.h"

namespace ulvarin {
namespace {

constexpr int kDeviceListBytes = 1024;
constexpr size_t kOpenedNameLength = 63;

// Chip count captions by type (Medipix2, MXR, Timepix) and count; above 4 is "Error".
constexpr const char* kChipCountCaptions[3][6] = {
    {"No chip", "Single chip", "Double", "Three chips", "Quad", "Error"},
    {"No chip", "Single MXR chip", "Double MXR", "Three MXR chips", "MXR Quad", "Error"},
    {"No chip", "Single Timepix chip", "Double Timepix", "Three Timepix chips", "Timepix Quad",
     "Error"},
};

const char* ChipCountCaption(uint8_t n, bool mxr, bool tpx) {
    const int type = tpx ? 2 : mxr ? 1 : 0;
    return kChipCountCaptions[type][n > 4 ? 5 : n];
}

Grid DeviceBarGrid() {
    return {{
        LabelCell("Device:"),
        {.kind = Kind::List,
         .name = "ComboDeviceName",
         .hint = "Choose Medipix interface to open. List is autorefreshed.",
         .span = 3},
        {.kind = Kind::Button,
         .name = "BttnOpen",
         .text = "Open",
         .hint = "Opens selected USB device"},
        {.kind = Kind::Button,
         .name = "BttnClose",
         .text = "Close",
         .hint = "Closes opened device and saves configuration to default file"},
        {.kind = Kind::Check,
         .name = "ChkbSoftOpen",
         .text = "Soft open",
         .hint = "Should be selected device opened automatically?"},
        {.kind = Kind::Label, .name = "LabelNumChips"},
    }};
}

}  // namespace

DeviceBar::DeviceBar(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelDevice"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGridPanel(this, "PanelDeviceControls", DeviceBarGrid()));
    ComboDeviceName = FindControl<DropDownCombo>(this, "ComboDeviceName");
    ComboDeviceName->setMinimumContentsLength(36);
    BttnOpen = FindControl<QPushButton>(this, "BttnOpen");
    BttnClose = FindControl<QPushButton>(this, "BttnClose");
    ChkbSoftOpen = FindControl<QCheckBox>(this, "ChkbSoftOpen");
    LabelNumChips = FindControl<QLabel>(this, "LabelNumChips");
    LabelNumChips->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; }"));
    LabelNumChips->setMinimumWidth(150);
    connect(ComboDeviceName, &DropDownCombo::dropDown, this, &DeviceBar::ComboDeviceNameDropDown);
    connect(ComboDeviceName, &QComboBox::activated, this, &DeviceBar::ComboDeviceNameSelect);
    connect(BttnOpen, &QPushButton::clicked, this, &DeviceBar::BttnOpenClick);
    connect(BttnClose, &QPushButton::clicked, this, &DeviceBar::BttnCloseClick);
}

DeviceBar::~DeviceBar() {
    TearDownControls(this);
}

bool DeviceBar::OpenFirstListed() {
    ComboDeviceNameDropDown();
    if (ComboDeviceName->count() == 0) {
        UpdateOpenCloseButtons();
        return false;
    }
    ComboDeviceName->setCurrentIndex(0);
    ComboDeviceNameSelect();
    return true;
}

void DeviceBar::ComboDeviceNameDropDown() {
    shared_.BeginOperation();
    std::vector<char> names(kDeviceListBytes, 0);
    EnumerateDevices(3, names.data(), kDeviceListBytes);
    ComboDeviceName->clear();
    const char* end = names.data() + names.size();
    for (const char* name = names.data(); name < end && *name != 0;) {
        const size_t length = strnlen(name, static_cast<size_t>(end - name));
        ComboDeviceName->addItem(QString::fromUtf8(name, static_cast<qsizetype>(length)));
        name += length + 1;
    }
}

void DeviceBar::ComboDeviceNameSelect() {
    BttnOpenClick();
}

void DeviceBar::BttnOpenClick() {
    shared_.BeginOperation();
    if (shared_.IsOpen()) CloseOpenDevice();
    const std::string description = ComboDeviceName->currentText().toStdString();
    if (ChkbSoftOpen->isChecked() && SoftOpenRefused(description)) {
        shared_.dialogs().Error("Can't perform soft open - device differs", "Error");
        ChkbSoftOpen->setChecked(false);
    }
    const bool soft = ChkbSoftOpen->isChecked();
    shared_.device.Clear();
    shared_.device.device = OpenDevice(description.c_str(), !soft, shared_.isMxr,
                                       static_cast<uint8_t>(shared_.chipCount), shared_.isTimepix);
    if (shared_.IsOpen()) {
        uint8_t n = ChipCount(shared_.device);
        bool mxr = IsMxr(shared_.device);
        bool tpx = IsTimepix(shared_.device);
        ShowChipCount(n, mxr, tpx);
        if (soft && (n != shared_.chipCount || mxr != shared_.isMxr || tpx != shared_.isTimepix)) {
            shared_.dialogs().Error(
                "Can't perform soft open - device differs (num chips or MXR type)", "Error");
            ChkbSoftOpen->setChecked(false);
            CloseOpenDevice();
            shared_.device.Clear();
            shared_.device.device = OpenDevice(description.c_str(), true, shared_.isMxr,
                                               static_cast<uint8_t>(shared_.chipCount));
            n = ChipCount(shared_.device);
            mxr = IsMxr(shared_.device);
            tpx = IsTimepix(shared_.device);
        }
        // A reopen that failed leaves nothing to set up for.
        if (shared_.IsOpen() && !ChkbSoftOpen->isChecked()) ResetForNewInterface(n, mxr, tpx);
        if (shared_.IsOpen()) stateDeviceName_ = description;
    }
    RememberOpenedName(description);
    UpdateOpenCloseButtons();
    emit shared_.openStateChanged();
}

// A soft open keeps the window's state, so it is allowed only for the interface that state
// was made for: the one last opened, when that open succeeded. (A failed open of another
// interface still becomes the name last opened, while the state stays the old one's.)
bool DeviceBar::SoftOpenRefused(const std::string& description) {
    return description != openedDeviceName_ || description != stateDeviceName_;
}

void DeviceBar::RememberOpenedName(const std::string& name) {
    openedDeviceName_ = name.substr(0, kOpenedNameLength);
}

void DeviceBar::CloseOpenDevice() {
    // The monitoring thread must not read from a record being destroyed.
    StopMonitor();
    shared_.device.Clear();
    CloseDevice(shared_.device, false);
}

void DeviceBar::ShowChipCount(uint8_t n, bool mxr, bool tpx) {
    LabelNumChips->setText(QString::fromUtf8(ChipCountCaption(n, mxr, tpx)));
}

void DeviceBar::ShowLoadedChipCount() {
    ShowChipCount(static_cast<uint8_t>(shared_.chipCount), false, false);
}

void DeviceBar::ResetForNewInterface(uint8_t n, bool mxr, bool tpx) {
    shared_.chipCount = n;
    shared_.isMxr = mxr;
    shared_.isTimepix = tpx;
    shared_.frames.Open({n, FamilyFromFlags(mxr, tpx)});
    emit shared_.interfaceReset();
    if (!shared_.LoadConfiguration(false)) {
        shared_.device.Clear();
        SetChipDacs(shared_.device, shared_.dacRecords.data(), 0);
    }
}

void DeviceBar::BttnCloseClick() {
    CloseInterface(true);
}

void DeviceBar::CloseGoneInterface() {
    CloseInterface(false);
}

void DeviceBar::CloseInterface(bool answering) {
    shared_.BeginOperation();
    if (!shared_.IsOpen()) {
        shared_.AddLogLine(QStringLiteral("Close not performed. Device is not opened."));
    } else {
        StopMonitor();
        shared_.SaveConfiguration(false);
        if (answering && !ChkbSoftOpen->isChecked()) {
            // Leaves the detector safe; a soft close keeps it running for a later soft open.
            shared_.device.Clear();
            const uint8_t off = BiasToCode(0.0);
            if (SetBias(shared_.device, off)) shared_.SettingsSent(SentSettings::BiasCode(off));
            PowerOff(shared_.device);
        }
        shared_.device.Clear();
        CloseDevice(shared_.device, true);
        LabelNumChips->clear();
    }
    UpdateOpenCloseButtons();
    emit shared_.openStateChanged();
}

void DeviceBar::UpdateOpenCloseButtons() {
    const bool open = shared_.IsOpen();
    BttnOpen->setEnabled(!open);
    ComboDeviceName->setEnabled(!open);
    BttnClose->setEnabled(open);
}

}  // namespace ulvarin
