// Opening and closing interfaces from the window: full opens of each chip family, soft opens
// and their refusals, and what closing leaves the interface in.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

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
    ASSERT_NE(form->shared.device.device, nullptr);
    // Leave marks in the stores; a full open must reset them.
    form->shared.frames.raw()[kMaxPixels - 1] = 9;
    form->shared.frames.flatField()[0] = 2.0;
    form->shared.frames.config()[0] = 0;
    form->shared.dacRecords[0].dac[0] = 1;
    form->hardwareBoxShown = true;
    form->deviceBar->BttnOpenClick();
    ASSERT_NE(form->shared.device.device, nullptr);

    EXPECT_EQ(form->shared.chipCount, f.chips);
    EXPECT_EQ(form->shared.isMxr, f.mxr);
    EXPECT_EQ(form->shared.isTimepix, f.timepix);
    EXPECT_EQ(form->shared.frames.geometry().tilesAcross, f.tilesAcross);
    EXPECT_EQ(form->shared.frames.geometry().tilesDown, f.tilesDown);
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), f.caption);
    EXPECT_EQ(NumberLabels()[0]->text(), f.firstNumber);
    EXPECT_EQ(Control<DropDownCombo>("ComboChip")
                  ->isEnabledTo(Control<DropDownCombo>("ComboChip")->parentWidget()),
              f.chips > 1);
    EXPECT_EQ(Control<QLabel>("LabelFSRMode")->text(), f.modeLabel);
    EXPECT_EQ(Control<DropDownCombo>("CombSelectFSRMode")->count(), f.modeItems);
    EXPECT_EQ(Control<DropDownCombo>("CombSelectFSRMode")->currentIndex(), f.modeSelected);
    EXPECT_EQ(Control<DropDownCombo>("CombTimepixClock")
                  ->isEnabledTo(Control<DropDownCombo>("CombTimepixClock")->parentWidget()),
              f.timepix);
    EXPECT_FALSE(form->hardwareBoxShown);
    EXPECT_EQ(form->shared.frames.raw()[kMaxPixels - 1], 0);
    EXPECT_EQ(form->shared.frames.flatField()[0], 1.0);
    EXPECT_EQ(form->shared.frames.config()[0], 0x1FFF);

    // DAC selectors and records follow the chip type found.
    const ChipType type = ChipTypeOf(f.mxr, f.timepix);
    EXPECT_EQ(Control<DropDownCombo>("ComboDAC")->count(), DacCountOf(type));
    EXPECT_EQ(Control<DropDownCombo>("CombScanDAC")->count(), DacCountOf(type));
    const int selected = f.mxr ? 6 : 8;
    EXPECT_EQ(Control<DropDownCombo>("ComboDAC")->currentIndex(), selected);
    EXPECT_EQ(Control<DropDownCombo>("ComboDAC")->currentText(), DacNameOf(type, selected));
    EXPECT_EQ(Control<DropDownCombo>("ComboSenseDAC")->count(), 17);
    EXPECT_EQ(Control<DropDownCombo>("ComboSenseDAC")->itemText(0), "(none)");
    EXPECT_EQ(Control<DropDownCombo>("ComboSenseDAC")->currentIndex(), f.mxr ? 7 : 12);
    EXPECT_EQ(Control<DropDownCombo>("ComboBypassDAC")->currentIndex(), 0);
    EXPECT_EQ(Control<UpDown>("UpDownDACValue")->Maximum(), DacMaxValueOf(type, selected));
    EXPECT_EQ(Control<QLineEdit>("EditDACValue")->text(),
              QString::number(DacDefaultOf(type, selected)));
    for (const ChipDacRecord& record : form->shared.dacRecords) {
        EXPECT_EQ(record.dac[0], DacDefaultOf(type, 0));
        EXPECT_EQ(record.senseCode, f.mxr ? 6 : 11);
        EXPECT_EQ(record.senseEnabled, 1);
        EXPECT_EQ(record.bypassEnabled, 0);
    }

    // Without a configuration file the window's DAC records went to the chips.
    uint8_t expected[kDacBlockBytes];
    EncodeDacBlock(type, form->shared.dacRecords[0], 0, expected);
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
    form.shared.device.Clear();
    ASSERT_TRUE(PowerOn(form.shared.device));
    ASSERT_TRUE(SetBias(form.shared.device, biasCode));
}

TEST_F(WindowTest, CloseSwitchesBiasAndPowerOffUnlessSoft) {
    Start("medipix2:1,mxr:2");
    PowerUp(*form, 100);
    form->deviceBar->BttnCloseClick();
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_FALSE(EmulatorState(0).chipPower);
    EXPECT_EQ(EmulatorBias(0), 0);
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), "");
    EXPECT_TRUE(Control<QPushButton>("BttnOpen")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("BttnClose")->isEnabled());

    OpenByName(Description(1));
    PowerUp(*form, 100);
    Control<QCheckBox>("ChkbSoftOpen")->setChecked(true);
    form->deviceBar->BttnCloseClick();
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_TRUE(EmulatorState(1).chipPower) << "a soft close sends nothing";
    EXPECT_EQ(EmulatorBias(1), 100);

    form->deviceBar->BttnCloseClick();
    EXPECT_EQ(LastLine(), "Close not performed. Device is not opened.");
}

TEST_F(WindowTest, SoftOpenReattachesToTheRunningTimepixQuad) {
    Start("timepix:4");
    PowerUp(*form, 50);
    Control<QCheckBox>("ChkbSoftOpen")->setChecked(true);
    form->deviceBar->BttnCloseClick();
    form->shared.frames.raw()[7] = 123;
    form->shared.dacRecords[2].dac[3] = 77;

    OpenByName(Description(0));
    ASSERT_NE(form->shared.device.device, nullptr);
    EXPECT_TRUE(dialogs->messages.empty()) << dialogs->messages.front().text;
    EXPECT_TRUE(Control<QCheckBox>("ChkbSoftOpen")->isChecked());
    EXPECT_TRUE(EmulatorState(0).chipPower) << "no reset reached the interface";
    EXPECT_EQ(EmulatorBias(0), 50);
    EXPECT_EQ(form->shared.frames.raw()[7], 123);
    EXPECT_EQ(form->shared.dacRecords[2].dac[3], 77);
    // The device layer knows the chips as Timepix, not as MXR.
    EXPECT_TRUE(IsTimepix(form->shared.device));
    EXPECT_EQ(ChipCount(form->shared.device), 4);
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), "Timepix Quad");
}

TEST_F(WindowTest, SoftOpenOfAnotherInterfaceBecomesAFullOpen) {
    Start("timepix:4,mxr:2");
    Control<QCheckBox>("ChkbSoftOpen")->setChecked(true);
    form->deviceBar->BttnCloseClick();

    OpenByName(Description(1));
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "Can't perform soft open - device differs");
    EXPECT_EQ(dialogs->messages[0].caption, "Error");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Error);
    EXPECT_FALSE(Control<QCheckBox>("ChkbSoftOpen")->isChecked());
    ASSERT_NE(form->shared.device.device, nullptr);
    EXPECT_EQ(form->shared.chipCount, 2u);
    EXPECT_FALSE(form->shared.isTimepix);
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), "Double MXR");
}

// A failed open of another interface makes it the name last opened while the window still
// holds the first interface's chips; a soft open of it must not take those chips for its own.
TEST_F(WindowTest, SoftOpenAfterAFailedOpenIsRefused) {
    Start("timepix:4,mxr:2");
    Control<QCheckBox>("ChkbSoftOpen")->setChecked(true);
    form->deviceBar->BttnCloseClick();
    Control<QCheckBox>("ChkbSoftOpen")->setChecked(false);
    MpxDevice elsewhere(OpenDevice(Description(1).c_str(), false, true, 2));
    ASSERT_NE(elsewhere.device, nullptr);
    OpenByName(Description(1));  // the interface is taken: the open fails
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_EQ(form->deviceBar->openedDeviceName(), Description(1));
    CloseDevice(elsewhere, true);

    Control<QCheckBox>("ChkbSoftOpen")->setChecked(true);
    OpenByName(Description(1));
    EXPECT_EQ(dialogs->CountOf("Can't perform soft open - device differs"), 1);
    ASSERT_NE(form->shared.device.device, nullptr);
    EXPECT_EQ(form->shared.chipCount, 2u);
    EXPECT_EQ(ChipCount(form->shared.device), 2);
    EXPECT_FALSE(IsTimepix(form->shared.device));
}

}  // namespace
}  // namespace ulvarin::test
