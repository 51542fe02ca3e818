#include "panels/self_tests/self_tests_panel.h"

#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "device/chip_commands.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/matrix_stream.h"
#include "device/protocol.h"
#include "device/watchdog.h"
#include "imaging/test_pattern.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

using K = Kind;

constexpr int kTextBytes = 256;

GroupTable TestsGroup() {
    return {
        "GroupTests",
        "Tests",
        {{
            {{.kind = K::Button,
              .name = "BtnGetFirmwareVersion",
              .text = "Get firmware ver.",
              .hint = "Gets USB interface firmware version"},
             {.kind = K::Button,
              .name = "BttnWatchDogTst",
              .text = "Watchdog test",
              .hint = "Causes deadlock in interface. Watchdog action should follow."},
             {.kind = K::Button,
              .name = "BttnTestMask",
              .text = "Test mask && read",
              .hint = "Sends test patern to Medipix pixel cfg and makes its verification."}},
            {{.kind = K::Button, .name = "BttnMXRID", .text = "MXR ID test"},
             {.kind = K::Button, .name = "BttnTestI2C", .text = "Test I2C bus", .enabled = false}},
        }}};
}

void Show(WindowShared& shared, const std::string& text, const char* caption, DialogIcon icon) {
    shared.dialogs().Message({text, caption, icon, DialogButtons::Ok});
}

}  // namespace

SelfTestsPanel::SelfTestsPanel(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelTests"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGroup(TestsGroup(), this));
    const auto connectButton = [this](const char* name, void (SelfTestsPanel::*handler)()) {
        connect(FindControl<QPushButton>(this, name), &QPushButton::clicked, this, handler);
    };
    connectButton("BtnGetFirmwareVersion", &SelfTestsPanel::BtnGetFirmwareVersionClick);
    connectButton("BttnWatchDogTst", &SelfTestsPanel::BttnWatchDogTstClick);
    connectButton("BttnTestMask", &SelfTestsPanel::BttnTestMaskClick);
    connectButton("BttnMXRID", &SelfTestsPanel::BttnMXRIDClick);
}

void SelfTestsPanel::BtnGetFirmwareVersionClick() {
    shared_.BeginOperation();
    char text[kTextBytes] = {};
    shared_.device.Clear();
    if (ReadVersionInfo(shared_.device, text, kTextBytes))
        Show(shared_, std::string("Hardware info:\r\r") + text, "HW info", DialogIcon::Information);
    else
        Show(shared_, std::string("Command failed:\r\r") + shared_.device.reportText, "HW info",
             DialogIcon::Error);
}

void SelfTestsPanel::BttnWatchDogTstClick() {
    shared_.BeginOperation();
    shared_.device.Clear();
    if (WatchdogTest(shared_.device))
        Show(shared_, "Watchdog test passed OK", "Watchdog test result", DialogIcon::Information);
    else
        Show(shared_, "Watchdog test failed", "Watchdog test result", DialogIcon::Error);
}

void SelfTestsPanel::BttnMXRIDClick() {
    shared_.BeginOperation();
    char text[kTextBytes] = {};
    shared_.device.Clear();
    if (ReadChipIds(shared_.device, text, kTextBytes))
        Show(shared_, std::string("MXR chip ID:\r\r") + text, "MXR chip ID",
             DialogIcon::Information);
    else
        Show(shared_, "Can't get chip ID.", "MXR chip ID", DialogIcon::Error);
}

void SelfTestsPanel::BttnTestMaskClick() {
    FrameStore& frames = shared_.frames;
    // The mask bit of the chip type, so the pattern shows as good pixels in the image (on
    // Timepix chips that is 0x80, not the MXR's 1).
    const uint16_t value = MaskBit(shared_.Type());
    const int chips = static_cast<int>(shared_.chipCount.load());
    WriteTestPattern(frames.config(), chips, value);
    shared_.BeginOperation();
    shared_.device.Clear();
    SetMatrix(shared_.device, frames.config().data(), frames.pixelsInUse());
    emit fixedRangeWanted(0, 2.0 * value);
    // The stream is decoded here, without the counter-code conversion, so the words come
    // back as they were written.
    shared_.device.Clear();
    std::vector<uint8_t> stream(FrameStreamLength(shared_.device));
    if (!ReadMatrixRaw(shared_.device, stream.data(), static_cast<uint32_t>(stream.size()))) return;
    StreamToMatrix(shared_.isMxr, stream.data(), static_cast<uint32_t>(stream.size()),
                   frames.raw().data(), frames.pixelsInUse());
    frames.frameTime = 0;
    shared_.FrameArrived();
}

}  // namespace ulvarin
