#include "panels/basic_commands/basic_commands.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/report.h"
#include "files/mask_file.h"
#include "panels/basic_commands/basic_table.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"
#include "widgets/drop_down_combo.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr int kTimepixModeItem = 3;  // "Timepix" in the mode selector
// Both formats "Set Mask" reads are shown at first: the ASCII masks this program saves
// (".txt") beside the binary ones; each format and every file remain one choice away.
constexpr const char* kMaskOpenFilter =
    "Pixel masks|*.txt;*.bpc|Binary pixel configuration|*.bpc|ASCII matrix|*.txt|All files|*.*";

// The frequent actions and their keys, shown in their hints.
struct ShortcutKey {
    const char* button;
    Qt::Key key;
    const char* keyName;
};
constexpr ShortcutKey kShortcuts[] = {{"BttnStart", Qt::Key_F5, "F5"},
                                      {"BttnStop", Qt::Key_F6, "F6"},
                                      {"BttnGetData", Qt::Key_F7, "F7"},
                                      {"BttnResetMatrix", Qt::Key_F8, "F8"}};

struct ButtonHandler {
    const char* name;
    void (BasicCommands::*handler)();
};

struct ListHandler {
    const char* name;
    void (BasicCommands::*handler)();
};

}  // namespace

BasicCommands::BasicCommands(WindowShared& shared, QWidget* parent)
    : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelBasics"));
    BuildControls();
    ConnectControls();
}

void BasicCommands::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGroup(BasicsGroup(), this));
    LabelFSRMode = FindControl<QLabel>(this, "LabelFSRMode");
    CombSelectFSRMode = FindControl<DropDownCombo>(this, "CombSelectFSRMode");
    CombTimepixClock = FindControl<DropDownCombo>(this, "CombTimepixClock");
    CombPolarity = FindControl<DropDownCombo>(this, "CombPolarity");
    BttnStart = FindControl<QPushButton>(this, "BttnStart");
    BttnStop = FindControl<QPushButton>(this, "BttnStop");
    for (const ShortcutKey& s : kShortcuts) {
        auto* button = FindControl<QPushButton>(this, s.button);
        button->setShortcut(QKeySequence(s.key));
        button->setToolTip(button->toolTip() +
                           QStringLiteral(" (%1)").arg(QLatin1String(s.keyName)));
    }
}

void BasicCommands::ConnectControls() {
    static const ButtonHandler kButtons[] = {
        {"BttnStart", &BasicCommands::BttnStartClick},
        {"BttnStop", &BasicCommands::BttnStopClick},
        {"BttnGetData", &BasicCommands::BttnGetDataClick},
        {"BttnResetMatrix", &BasicCommands::BttnResetMatrixClick},
        {"BttnMPXReset", &BasicCommands::BttnMPXResetClick},
        {"BttnFSRtst", &BasicCommands::BttnFSRtstClick},
        {"BttnPowerOn", &BasicCommands::BttnPowerOnClick},
        {"BttnPowerOff", &BasicCommands::BttnPowerOffClick},
        {"BttnResMask", &BasicCommands::BttnResMaskClick},
        {"BttnSetMask", &BasicCommands::BttnSetMaskClick},
        {"BttnTester", &BasicCommands::BttnTesterClick},
    };
    for (const ButtonHandler& b : kButtons)
        connect(FindControl<QPushButton>(this, b.name), &QPushButton::clicked, this, b.handler);
    static const ListHandler kLists[] = {
        {"CombPolarity", &BasicCommands::CombPolarityChange},
        {"CombTimepixClock", &BasicCommands::CombTimepixClockSelect},
        {"CombSelectFSRMode", &BasicCommands::CombSelectFSRModeSelect},
    };
    for (const ListHandler& l : kLists)
        connect(FindControl<DropDownCombo>(this, l.name), &QComboBox::activated, this, l.handler);
    connect(&shared_, &WindowShared::interfaceReset, this, &BasicCommands::ResetForInterface);
}

void BasicCommands::ResetForInterface() {
    CombTimepixClock->setEnabled(shared_.isTimepix);
    DropDownCombo* mode = CombSelectFSRMode;
    mode->clear();
    if (!shared_.isMxr) {
        LabelFSRMode->setText(QStringLiteral("Active FSR"));
        mode->addItems({QStringLiteral("FSR0"), QStringLiteral("FSR1")});
        mode->setCurrentIndex(-1);
    } else if (shared_.isTimepix) {
        LabelFSRMode->setText(QStringLiteral("TPX Mode"));
        mode->addItems({QStringLiteral("Medipix"), QStringLiteral("TOT"),
                        QStringLiteral("TPX 1-hit"), QStringLiteral("Timepix")});
        mode->setCurrentIndex(3);
    } else {
        LabelFSRMode->clear();
    }
}

void BasicCommands::ShowShutter(bool open) {
    BttnStart->setEnabled(!open);
    BttnStop->setEnabled(open);
}

void BasicCommands::BttnGetDataClick() {
    shared_.BeginOperation();
    FrameStore& frames = shared_.frames;
    const double start = Now();
    shared_.device.Clear();
    if (!ReadMatrix(shared_.device, frames.raw().data(), frames.pixelsInUse(), &frames.frameTime))
        return;
    ReportError(shared_.device, kMessage, "\"Read Matrix\" executed in %05lg sec", Now() - start);
    ShowShutter(false);
    shared_.FrameArrived();
}

void BasicCommands::BttnStopClick() {
    shared_.BeginOperation();
    FrameStore& frames = shared_.frames;
    shared_.device.Clear();
    if (!CloseShutterRead(shared_.device, frames.raw().data(), frames.pixelsInUse(),
                          &frames.frameTime))
        return;
    ShowShutter(false);
    shared_.FrameArrived();
}

void BasicCommands::BttnStartClick() {
    if (!shared_.Send(OpenShutter)) return;
    ShowShutter(true);
}

void BasicCommands::BttnResetMatrixClick() {
    shared_.BeginOperation();
    if (!shared_.RunTimed("Erase Matrix", EraseMatrix)) return;
    ShowShutter(false);
    // While summing, the last frame is in the sum already; taking it in again would count
    // it twice.
    if (shared_.frames.integrating())
        shared_.ImageChanged();
    else
        shared_.FrameArrived();
}

void BasicCommands::BttnMPXResetClick() {
    shared_.BeginOperation();
    shared_.RunTimed("Mpx Reset", ResetChips);
}

void BasicCommands::BttnFSRtstClick() {
    shared_.Send(FsrTest);
}

void BasicCommands::BttnPowerOnClick() {
    shared_.Send(PowerOn);
}

void BasicCommands::BttnPowerOffClick() {
    shared_.Send(PowerOff);
}

void BasicCommands::CombPolarityChange() {
    const bool positive = CombPolarity->currentIndex() == 0;
    shared_.Send([positive](MpxDevice& handle) { return SetPolarity(handle, positive); });
}

void BasicCommands::CombTimepixClockSelect() {
    const int index = CombTimepixClock->currentIndex();
    if (index < 0) return;  // nothing chosen
    shared_.Send([index](MpxDevice& handle) {
        return SetTimepixClock(handle, static_cast<uint8_t>(index));
    });
}

void BasicCommands::CombSelectFSRModeSelect() {
    const int mode = CombSelectFSRMode->currentIndex();
    if (mode < 0) return;  // nothing chosen
    shared_.BeginOperation();
    if (!shared_.isMxr) {
        shared_.device.Clear();
        SelectFsr(shared_.device, mode == 0 ? 0 : 1);
        return;
    }
    if (!shared_.isTimepix) return;  // MXR chips have no mode to choose
    // The Timepix counting mode lives in every pixel's configuration word.
    ApplyTimepixMode(shared_.frames.config().data(), shared_.frames.pixelsInUse(), mode);
    shared_.SendPixelConfig(nullptr, false,
                            "Mask generated but not sent to Medipix device as it is offline.");
}

void BasicCommands::BttnResMaskClick() {
    std::fill_n(shared_.frames.config().begin(), shared_.frames.pixelsInUse(), kDefaultPixelWord);
    // 0xFFFF sets both mode bits: the chips count in Timepix mode.
    if (shared_.isTimepix) CombSelectFSRMode->setCurrentIndex(kTimepixModeItem);
    shared_.SendPixelConfig("Set default matrix", true,
                            "Mask reseted but not sent to Medipix device as it is offline.");
}

void BasicCommands::BttnSetMaskClick() {
    FileRequest request;
    request.title = "Select Mask File";
    request.filter = kMaskOpenFilter;
    request.defaultExtension = "txt";
    request.kind = FileKind::Masks;
    const std::optional<std::string> path = shared_.dialogs().OpenFile(request);
    if (!path) return;
    std::vector<uint16_t> words(shared_.frames.pixelsInUse());
    switch (ReadMaskFile(*path, shared_.isMxr, words.data(), words.size())) {
        case MaskReadResult::CannotOpen:
            shared_.dialogs().Error("Error - coldn't open mask file", "Error");
            return;
        case MaskReadResult::CannotRead:
        case MaskReadResult::NotRegular:
        case MaskReadResult::NotAMask:
            shared_.dialogs().Error("Error - coldn't read mask file\nNot compatible data format!",
                                    "Error");
            return;
        case MaskReadResult::Ok:
            break;
    }
    std::copy(words.begin(), words.end(), shared_.frames.config().begin());
    shared_.SendPixelConfig("Set Matrix", false,
                            "Mask loaded but not sent to Medipix device as it is offline.");
}

void BasicCommands::BttnTesterClick() {
    emit testerRequested();
}

void BasicCommands::ChooseMode(int mode) {
    if (ShowMode(mode)) CombSelectFSRModeSelect();
}

bool BasicCommands::ShowMode(int mode) {
    if (mode < -1 || mode >= CombSelectFSRMode->count()) return false;
    CombSelectFSRMode->setCurrentIndex(mode);
    return true;
}

int BasicCommands::ModeItem() const {
    return CombSelectFSRMode->currentIndex();
}

std::string BasicCommands::PolarityText() const {
    return CombPolarity->currentText().toStdString();
}

void BasicCommands::ShowPolarity(bool negative) {
    CombPolarity->setCurrentIndex(negative ? 1 : 0);
}

}  // namespace ulvarin
