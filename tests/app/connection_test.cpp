// Opening and closing interfaces from the window: full opens of each chip family, soft opens
// and their refusals, and what closing leaves the interface in.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/up_down.h"
#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

struct Family {
    const char* name;
    const char* set;
    uint32_t chips;
    bool mxr;
    bool timepix;
    const char* caption;
    int tilesAcross;
    int tilesDown;
    const char* firstNumber;  // the number over the upper right quadrant
    const char* modeLabel;
    int modeItems;
    int modeSelected;
};

void PrintTo(const Family& family, std::ostream* out) {
    *out << family.set;
}

class FullOpen : public WindowTest, public ::testing::WithParamInterface<Family> {};

TEST_P(FullOpen, SetsUpTheWindowForTheChipsFound) {
    const Family& f = GetParam();
    Start(f.set);
    ASSERT_NE(form->device.device, nullptr);
    // Leave marks in the stores; a full open must reset them.
    form->frames.raw()[kMaxPixels - 1] = 9;
    form->frames.flatField()[0] = 2.0;
    form->frames.config()[0] = 0;
    form->dacRecords[0].dac[0] = 1;
    form->hardwareBoxShown = true;
    form->BttnOpenClick();
    ASSERT_NE(form->device.device, nullptr);

    EXPECT_EQ(form->chipCount, f.chips);
    EXPECT_EQ(form->isMxr, f.mxr);
    EXPECT_EQ(form->isTimepix, f.timepix);
    EXPECT_EQ(form->tilesAcross, f.tilesAcross);
    EXPECT_EQ(form->tilesDown, f.tilesDown);
    EXPECT_EQ(form->ui.LabelNumChips->text(), f.caption);
    EXPECT_EQ(form->ui.numberLabels[0]->text(), f.firstNumber);
    EXPECT_EQ(form->ui.ComboChip->isEnabledTo(form->ui.ComboChip->parentWidget()), f.chips > 1);
    EXPECT_EQ(form->ui.LabelFSRMode->text(), f.modeLabel);
    EXPECT_EQ(form->ui.CombSelectFSRMode->count(), f.modeItems);
    EXPECT_EQ(form->ui.CombSelectFSRMode->currentIndex(), f.modeSelected);
    EXPECT_EQ(form->ui.CombTimepixClock->isEnabledTo(form->ui.CombTimepixClock->parentWidget()),
              f.timepix);
    EXPECT_FALSE(form->hardwareBoxShown);
    EXPECT_EQ(form->frames.raw()[kMaxPixels - 1], 0);
    EXPECT_EQ(form->frames.flatField()[0], 1.0);
    EXPECT_EQ(form->frames.config()[0], 0x1FFF);

    // DAC selectors and records follow the chip type found.
    const ChipType type = ChipTypeOf(f.mxr, f.timepix);
    EXPECT_EQ(form->ui.ComboDAC->count(), DacCountOf(type));
    EXPECT_EQ(form->ui.CombScanDAC->count(), DacCountOf(type));
    const int selected = f.mxr ? 6 : 8;
    EXPECT_EQ(form->ui.ComboDAC->currentIndex(), selected);
    EXPECT_EQ(form->ui.ComboDAC->currentText(), DacNameOf(type, selected));
    EXPECT_EQ(form->ui.ComboSenseDAC->count(), 17);
    EXPECT_EQ(form->ui.ComboSenseDAC->itemText(0), "(none)");
    EXPECT_EQ(form->ui.ComboSenseDAC->currentIndex(), f.mxr ? 7 : 12);
    EXPECT_EQ(form->ui.ComboBypassDAC->currentIndex(), 0);
    EXPECT_EQ(form->ui.UpDownDACValue->Maximum(), DacMaxValueOf(type, selected));
    EXPECT_EQ(form->ui.EditDACValue->text(), QString::number(DacDefaultOf(type, selected)));
    for (const ChipDacRecord& record : form->dacRecords) {
        EXPECT_EQ(record.dac[0], DacDefaultOf(type, 0));
        EXPECT_EQ(record.senseCode, f.mxr ? 6 : 11);
        EXPECT_EQ(record.senseEnabled, 1);
        EXPECT_EQ(record.bypassEnabled, 0);
    }

    // Without a configuration file the window's DAC records went to the chips.
    uint8_t expected[kDacBlockBytes];
    EncodeDacBlock(type, form->dacRecords[0], 0, expected);
    std::array<uint8_t, kDacBlockBytes> received{};
    emulator->WithInterface(0, [&](sim::EmulatedInterface& e) { received = e.Chip(0).dacBlock; });
    EXPECT_TRUE(std::equal(received.begin(), received.end(), expected));
}

INSTANTIATE_TEST_SUITE_P(ChipFamilies, FullOpen,
                         ::testing::Values(Family{"Medipix2Single", "medipix2:1", 1, false, false,
                                                  "Single chip", 1, 1, "1", "Active FSR", 2, -1},
                                           Family{"Medipix2Triple", "medipix2:3", 3, false, false,
                                                  "Three chips", 3, 1, "1", "Active FSR", 2, -1},
                                           Family{"MxrDouble", "mxr:2", 2, true, false,
                                                  "Double MXR", 2, 1, "2", "", 0, -1},
                                           Family{"TimepixQuad", "timepix:4", 4, true, true,
                                                  "Timepix Quad", 2, 2, "2", "TPX Mode", 4, 3}),
                         [](const auto& param) { return std::string(param.param.name); });

// Powers the chips and sets a bias through the window's handle, as the operator would.
void PowerUp(TFormUlvarin& form, uint8_t biasCode) {
    form.device.Clear();
    ASSERT_TRUE(PowerOn(form.device));
    ASSERT_TRUE(SetBias(form.device, biasCode));
}

TEST_F(WindowTest, CloseSwitchesBiasAndPowerOffUnlessSoft) {
    Start("medipix2:1,mxr:2");
    PowerUp(*form, 100);
    form->BttnCloseClick();
    EXPECT_EQ(form->device.device, nullptr);
    EXPECT_FALSE(EmulatorState(0).chipPower);
    EXPECT_EQ(EmulatorBias(0), 0);
    EXPECT_EQ(form->ui.LabelNumChips->text(), "");
    EXPECT_TRUE(form->ui.BttnOpen->isEnabled());
    EXPECT_FALSE(form->ui.BttnClose->isEnabled());

    OpenByName(Description(1));
    PowerUp(*form, 100);
    form->ui.ChkbSoftOpen->setChecked(true);
    form->BttnCloseClick();
    EXPECT_EQ(form->device.device, nullptr);
    EXPECT_TRUE(EmulatorState(1).chipPower) << "a soft close sends nothing";
    EXPECT_EQ(EmulatorBias(1), 100);

    form->BttnCloseClick();
    EXPECT_EQ(LastLine(), "Close not performed. Device is not opened.");
}

TEST_F(WindowTest, SoftOpenReattachesToTheRunningTimepixQuad) {
    Start("timepix:4");
    PowerUp(*form, 50);
    form->ui.ChkbSoftOpen->setChecked(true);
    form->BttnCloseClick();
    form->frames.raw()[7] = 123;
    form->dacRecords[2].dac[3] = 77;

    OpenByName(Description(0));
    ASSERT_NE(form->device.device, nullptr);
    EXPECT_TRUE(dialogs->messages.empty()) << dialogs->messages.front().text;
    EXPECT_TRUE(form->ui.ChkbSoftOpen->isChecked());
    EXPECT_TRUE(EmulatorState(0).chipPower) << "no reset reached the interface";
    EXPECT_EQ(EmulatorBias(0), 50);
    EXPECT_EQ(form->frames.raw()[7], 123);
    EXPECT_EQ(form->dacRecords[2].dac[3], 77);
    // The device layer knows the chips as Timepix, not as MXR.
    EXPECT_TRUE(IsTimepix(form->device));
    EXPECT_EQ(ChipCount(form->device), 4);
    EXPECT_EQ(form->ui.LabelNumChips->text(), "Timepix Quad");
}

TEST_F(WindowTest, SoftOpenOfAnotherInterfaceBecomesAFullOpen) {
    Start("timepix:4,mxr:2");
    form->ui.ChkbSoftOpen->setChecked(true);
    form->BttnCloseClick();

    OpenByName(Description(1));
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "Can't perform soft open - device differs");
    EXPECT_EQ(dialogs->messages[0].caption, "Error");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Error);
    EXPECT_FALSE(form->ui.ChkbSoftOpen->isChecked());
    ASSERT_NE(form->device.device, nullptr);
    EXPECT_EQ(form->chipCount, 2u);
    EXPECT_FALSE(form->isTimepix);
    EXPECT_EQ(form->ui.LabelNumChips->text(), "Double MXR");
}

// A failed open of another interface makes it the name last opened while the window still
// holds the first interface's chips; a soft open of it must not take those chips for its own.
TEST_F(WindowTest, SoftOpenAfterAFailedOpenIsRefused) {
    Start("timepix:4,mxr:2");
    form->ui.ChkbSoftOpen->setChecked(true);
    form->BttnCloseClick();
    form->ui.ChkbSoftOpen->setChecked(false);
    MpxDevice elsewhere(OpenDevice(Description(1).c_str(), false, true, 2));
    ASSERT_NE(elsewhere.device, nullptr);
    OpenByName(Description(1));  // the interface is taken: the open fails
    EXPECT_EQ(form->device.device, nullptr);
    EXPECT_EQ(form->openedDeviceName, Description(1));
    CloseDevice(elsewhere, true);

    form->ui.ChkbSoftOpen->setChecked(true);
    OpenByName(Description(1));
    EXPECT_EQ(dialogs->CountOf("Can't perform soft open - device differs"), 1);
    ASSERT_NE(form->device.device, nullptr);
    EXPECT_EQ(form->chipCount, 2u);
    EXPECT_EQ(ChipCount(form->device), 2);
    EXPECT_FALSE(IsTimepix(form->device));
}

}  // namespace
}  // namespace ulvarin::test
