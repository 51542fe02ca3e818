// Start-up: the first interface found is opened by the start timer, after which the main
// timer runs; with none connected the window stays closed and quiet.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

TEST_F(WindowTest, StartTimerOpensTheFirstListedInterface) {
    MakeWindow("mxr:2,timepix:4");
    EXPECT_EQ(form->device.device, nullptr) << "nothing opens before the start timer";
    EXPECT_TRUE(form->TimerInit->isActive());
    EXPECT_FALSE(form->Timer->isActive());

    ASSERT_TRUE(WaitFor([&] { return form->Timer->isActive(); }));
    EXPECT_FALSE(form->TimerInit->isActive());
    ASSERT_NE(form->device.device, nullptr);
    EXPECT_EQ(form->ui.ComboDeviceName->count(), 2);
    EXPECT_EQ(form->ui.ComboDeviceName->currentText().toStdString(), Description(0));
    EXPECT_EQ(form->openedDeviceName, Description(0));
    EXPECT_EQ(form->ui.LabelNumChips->text(), "Double MXR");
    EXPECT_FALSE(form->ui.BttnOpen->isEnabled());
    EXPECT_TRUE(form->ui.BttnClose->isEnabled());
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(WindowTest, WithoutInterfacesNothingOpensAndTheTimerIdles) {
    Start("");
    EXPECT_EQ(form->device.device, nullptr);
    EXPECT_EQ(form->ui.ComboDeviceName->count(), 0);
    EXPECT_TRUE(form->ui.BttnOpen->isEnabled());
    EXPECT_FALSE(form->ui.BttnClose->isEnabled());
    EXPECT_TRUE(Lines().contains("Message: No compatible device connected."));
    const int lines = form->ui.ListMsg->count();
    QTest::qWait(300);  // several ticks with nothing to drain
    EXPECT_EQ(form->ui.ListMsg->count(), lines);
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(WindowTest, DeviceListRefreshesWhenDroppedDown) {
    Start("medipix2:1,mxr:2");
    form->BttnCloseClick();
    emulator->SetPlugged(1, false);
    form->ui.ComboDeviceName->showPopup();
    form->ui.ComboDeviceName->hidePopup();
    ASSERT_EQ(form->ui.ComboDeviceName->count(), 1);
    EXPECT_EQ(form->ui.ComboDeviceName->itemText(0).toStdString(), Description(0));
}

TEST_F(WindowTest, WindowCarriesTheInitialStateOfItsStores) {
    MakeWindow("");
    EXPECT_EQ(form->windowTitle(), "Ulvarin interface tester");
    EXPECT_EQ(form->frames.flatField()[kMaxPixels - 1], 1.0);
    EXPECT_EQ(form->frames.config()[kMaxPixels - 1], 0x1FFF);
    EXPECT_EQ(form->dacRecords[3].senseCode, 11);
    EXPECT_EQ(form->dacRecords[3].testPulseWord, 0xFF00FF00u);
    EXPECT_EQ(form->dacRecords[3].dac[8], DacDefaultOf(ChipType::Medipix2, 8));
    EXPECT_EQ(form->scope.historyIndex, 16);
    EXPECT_TRUE(form->scope.channelEnabled[7]);
    EXPECT_FALSE(form->scope.channelEnabled[8]);
    EXPECT_EQ(form->autosave.fileName, "data_0000.txt");
    // The action buttons show the sets' letters, not their design-time captions.
    EXPECT_EQ(form->ui.actionButtons[kManual]->text(), "OI");
    EXPECT_EQ(form->ui.actionButtons[kInterval]->text(), "C");
    EXPECT_EQ(form->ui.CombProcessTemplate->count(), 11);
    EXPECT_EQ(form->ui.CombProcessTemplate->currentIndex(), 0);
}

}  // namespace
}  // namespace ulvarin::test
