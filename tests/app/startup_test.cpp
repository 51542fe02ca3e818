// Start-up: the first interface found is opened by the start timer, after which the main
// timer runs; with none connected the window stays closed and quiet. Tear-down runs no
// handler of the window's controls.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "terminal/terminal_window.h"
#include "tester/tester_window.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

TEST_F(WindowTest, StartTimerOpensTheFirstListedInterface) {
    MakeWindow("mxr:2,timepix:4");
    EXPECT_EQ(form->shared.device.device, nullptr) << "nothing opens before the start timer";
    EXPECT_TRUE(form->TimerInit->isActive());
    EXPECT_FALSE(form->Timer->isActive());

    ASSERT_TRUE(WaitFor([&] { return form->Timer->isActive(); }));
    EXPECT_FALSE(form->TimerInit->isActive());
    ASSERT_NE(form->shared.device.device, nullptr);
    EXPECT_EQ(Control<DropDownCombo>("ComboDeviceName")->count(), 2);
    EXPECT_EQ(Control<DropDownCombo>("ComboDeviceName")->currentText().toStdString(),
              Description(0));
    EXPECT_EQ(form->deviceBar->openedDeviceName(), Description(0));
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), "Double MXR");
    EXPECT_FALSE(Control<QPushButton>("BttnOpen")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>("BttnClose")->isEnabled());
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(WindowTest, WithoutInterfacesNothingOpensAndTheTimerIdles) {
    Start("");
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_EQ(Control<DropDownCombo>("ComboDeviceName")->count(), 0);
    EXPECT_TRUE(Control<QPushButton>("BttnOpen")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("BttnClose")->isEnabled());
    EXPECT_TRUE(Lines().contains("Message: No compatible device connected."));
    const int lines = Control<QListWidget>("ListMsg")->count();
    QTest::qWait(300);  // several ticks with nothing to drain
    EXPECT_EQ(Control<QListWidget>("ListMsg")->count(), lines);
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(WindowTest, DeviceListRefreshesWhenDroppedDown) {
    Start("medipix2:1,mxr:2");
    form->deviceBar->BttnCloseClick();
    emulator->SetPlugged(1, false);
    Control<DropDownCombo>("ComboDeviceName")->showPopup();
    Control<DropDownCombo>("ComboDeviceName")->hidePopup();
    ASSERT_EQ(Control<DropDownCombo>("ComboDeviceName")->count(), 1);
    EXPECT_EQ(Control<DropDownCombo>("ComboDeviceName")->itemText(0).toStdString(), Description(0));
}

TEST_F(WindowTest, WindowCarriesTheInitialStateOfItsStores) {
    MakeWindow("");
    EXPECT_EQ(form->windowTitle(), "Ulvarin interface tester");
    EXPECT_EQ(form->shared.frames.flatField()[kMaxPixels - 1], 1.0);
    EXPECT_EQ(form->shared.frames.config()[kMaxPixels - 1], 0x1FFF);
    EXPECT_EQ(form->shared.dacRecords[3].senseCode, 11);
    EXPECT_EQ(form->shared.dacRecords[3].testPulseWord, 0xFF00FF00u);
    EXPECT_EQ(form->shared.dacRecords[3].dac[8], DacDefaultOf(ChipType::Medipix2, 8));
    EXPECT_FALSE(form->pulses->pulses().HistoryIndex()) << "no pulse yet";
    EXPECT_TRUE(form->analog->monitor.channelEnabled[7]);
    EXPECT_FALSE(form->analog->monitor.channelEnabled[8]);
    const AutosaveTemplate& autosave = form->frameFiles->autosaveName();
    EXPECT_EQ(AutosaveFileName(autosave, autosave.number), "data_0000.txt");
    // The action buttons show the sets' letters, not their design-time captions.
    EXPECT_EQ(Control<QPushButton>("BttnDo")->text(), "OI");
    EXPECT_EQ(Control<QPushButton>("BttnIntervalAction")->text(), "C");
    EXPECT_EQ(Control<DropDownCombo>("CombProcessTemplate")->count(), 11);
    EXPECT_EQ(Control<DropDownCombo>("CombProcessTemplate")->currentIndex(), 0);
}

// Torn down with the tool windows shown and an edit not yet entered in a focused box, the
// window runs none of its handlers on the way out: no bias goes out, and nothing reads the
// state of a window half gone (which the sanitizer builds would catch).
TEST_F(WindowTest, TearingTheWindowDownRunsNoHandler) {
    Start("medipix2:1");
    form->tester->show();
    form->terminal->show();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QLineEdit* bias = Control<QComboBox>("CombBias")->lineEdit();
    bias->setFocus();
    ASSERT_TRUE(bias->hasFocus());
    Type(bias, "60");
    const uint8_t before = EmulatorBias(0);
    form.reset();
    EXPECT_EQ(EmulatorBias(0), before);
}

}  // namespace
}  // namespace ulvarin::test
