// The "Basic commands" group: shutter, read-out and erase, chip reset, FSR test, power,
// polarity, the FSR or Timepix mode, the Timepix clock, the pixel configuration masks and
// the tester window. Each command is its own operation in the message list.
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "app/dialogs.h"
#include "app/drop_down_combo.h"
#include "app/program.h"
#include "app/tester_placeholder.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/pixel_config.h"
#include "device/report.h"
#include "imaging/mask_file.h"

namespace ulvarin {
namespace {

constexpr int kTimepixModeItem = 3;  // "Timepix" in the mode selector

// Sends one command as its own operation, on the cleared handle.
bool Send(TFormUlvarin& window, const std::function<bool(MpxDevice&)>& command) {
    window.BeginOperation();
    window.device.Clear();
    return command(window.device);
}

struct ButtonHandler {
    QPushButton* MainControls::*button;
    void (TFormUlvarin::*handler)();
};

struct ListHandler {
    DropDownCombo* MainControls::*list;
    void (TFormUlvarin::*handler)();
};

}  // namespace

void TFormUlvarin::ConnectBasicCommands() {
    // "Close" and "Get Data" are connected with the frame intake.
    static const ButtonHandler kButtons[] = {
        {&MainControls::BttnStart, &TFormUlvarin::BttnStartClick},
        {&MainControls::BttnResetMatrix, &TFormUlvarin::BttnResetMatrixClick},
        {&MainControls::BttnMPXReset, &TFormUlvarin::BttnMPXResetClick},
        {&MainControls::BttnFSRtst, &TFormUlvarin::BttnFSRtstClick},
        {&MainControls::BttnPowerOn, &TFormUlvarin::BttnPowerOnClick},
        {&MainControls::BttnPowerOff, &TFormUlvarin::BttnPowerOffClick},
        {&MainControls::BttnResMask, &TFormUlvarin::BttnResMaskClick},
        {&MainControls::BttnSetMask, &TFormUlvarin::BttnSetMaskClick},
        {&MainControls::BttnTester, &TFormUlvarin::BttnTesterClick},
    };
    for (const ButtonHandler& b : kButtons)
        connect(ui.*b.button, &QPushButton::clicked, this, b.handler);
    static const ListHandler kLists[] = {
        {&MainControls::CombPolarity, &TFormUlvarin::CombPolarityChange},
        {&MainControls::CombTimepixClock, &TFormUlvarin::CombTimepixClockSelect},
        {&MainControls::CombSelectFSRMode, &TFormUlvarin::CombSelectFSRModeSelect},
    };
    for (const ListHandler& l : kLists) connect(ui.*l.list, &QComboBox::activated, this, l.handler);
}

bool TFormUlvarin::RunTimed(const char* name, const std::function<bool(MpxDevice&)>& command) {
    const double start = Now();
    device.Clear();
    if (!command(device)) return false;
    ReportError(device, kMessage, "\"%s\" executed in %05lg sec", name, Now() - start);
    return true;
}

void TFormUlvarin::BttnStartClick() {
    if (!Send(*this, OpenShutter)) return;
    ui.BttnStart->setEnabled(false);
    ui.BttnStop->setEnabled(true);
}

void TFormUlvarin::BttnResetMatrixClick() {
    BeginOperation();
    if (!RunTimed("Erase Matrix", EraseMatrix)) return;
    ui.BttnStart->setEnabled(true);
    ui.BttnStop->setEnabled(false);
    // While summing, the last frame is in the sum already; taking it in again would count
    // it twice.
    if (frames.integrating())
        RequestImageRedraw();
    else
        NewFrame();
}

void TFormUlvarin::BttnMPXResetClick() {
    BeginOperation();
    RunTimed("Mpx Reset", ResetChips);
}

void TFormUlvarin::BttnFSRtstClick() {
    Send(*this, FsrTest);
}

void TFormUlvarin::BttnPowerOnClick() {
    Send(*this, PowerOn);
}

void TFormUlvarin::BttnPowerOffClick() {
    Send(*this, PowerOff);
}

void TFormUlvarin::CombPolarityChange() {
    const bool positive = ui.CombPolarity->currentIndex() == 0;
    Send(*this, [positive](MpxDevice& handle) { return SetPolarity(handle, positive); });
}

void TFormUlvarin::CombTimepixClockSelect() {
    const int index = ui.CombTimepixClock->currentIndex();
    if (index < 0) return;  // nothing chosen
    Send(*this, [index](MpxDevice& handle) {
        return SetTimepixClock(handle, static_cast<uint8_t>(index));
    });
}

void TFormUlvarin::CombSelectFSRModeSelect() {
    const int mode = ui.CombSelectFSRMode->currentIndex();
    if (mode < 0) return;  // nothing chosen
    BeginOperation();
    if (!isMxr) {
        device.Clear();
        SelectFsr(device, mode == 0 ? 0 : 1);
        return;
    }
    if (!isTimepix) return;  // MXR chips have no mode to choose
    // The Timepix counting mode lives in every pixel's configuration word.
    ApplyTimepixMode(frames.config().data(), frames.pixelsInUse(), mode);
    SendPixelConfig(nullptr, false,
                    "Mask generated but not sent to Medipix device as it is offline.");
}

void TFormUlvarin::BttnResMaskClick() {
    std::fill_n(frames.config().begin(), frames.pixelsInUse(), kDefaultPixelWord);
    // 0xFFFF sets both mode bits: the chips count in Timepix mode.
    if (isTimepix) ui.CombSelectFSRMode->setCurrentIndex(kTimepixModeItem);
    SendPixelConfig("Set default matrix", true,
                    "Mask reseted but not sent to Medipix device as it is offline.");
}

void TFormUlvarin::BttnSetMaskClick() {
    FileRequest request;
    request.title = "Select Mask File";
    request.filter = "Binary pixel configuration|*.bpc|ASCII matrix|*.txt|All files|*.*";
    request.defaultExtension = "txt";
    const std::optional<std::string> path = CurrentDialogs().OpenFile(request);
    if (!path) return;
    // Read aside, so that a file that ends early leaves the configuration as it was.
    std::vector<uint16_t> words(frames.pixelsInUse());
    switch (ReadMaskFile(*path, isMxr, words.data(), words.size())) {
        case MaskReadResult::CannotOpen:
            CurrentDialogs().Error("Error - coldn't open mask file", "Error");
            return;
        case MaskReadResult::CannotRead:
            CurrentDialogs().Error("Error - coldn't read mask file\nNot compatible data format!",
                                   "Error");
            return;
        case MaskReadResult::Ok:
            break;
    }
    std::copy(words.begin(), words.end(), frames.config().begin());
    SendPixelConfig("Set Matrix", false,
                    "Mask loaded but not sent to Medipix device as it is offline.");
}

void TFormUlvarin::SendPixelConfig(const char* timedName, bool defaults, const char* offlineText) {
    BeginOperation();
    if (device.device != nullptr) {
        const auto send = [this, defaults](MpxDevice& handle) {
            return defaults ? SetDefaultMatrix(handle)
                            : SetMatrix(handle, frames.config().data(), frames.pixelsInUse());
        };
        if (timedName != nullptr) {
            RunTimed(timedName, send);
        } else {
            device.Clear();
            send(device);
        }
    } else {
        device.Clear();
        ReportError(device, kMessage, "%s", offlineText);
    }
    RequestImageRedraw();  // the mask views show the words whether or not the chips took them
}

void TFormUlvarin::BttnTesterClick() {
    if (testerWindow == nullptr) testerWindow = MakeTesterPlaceholder(this);
    testerWindow->show();
    testerWindow->raise();
}

}  // namespace ulvarin
