// The hardware tester window against an emulated interface acting as the dummy chipboard:
// the exact bytes each control sends, what the board reads back, the format boxes, the
// refresh of every line (also on activation) and the window with no interface open.
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "tester/tester_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/link.h"
#include "device/report.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

using namespace std::string_literals;

// Passes every call to the emulator and keeps the bytes the host writes.
class WriteRecorder : public FtDriver {
public:
    explicit WriteRecorder(std::shared_ptr<EmulatorDriver> inner) : e_(std::move(inner)) {}

    std::string Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(written_, {});
    }

    FtStatus CreateDeviceInfoList(uint32_t& n) override { return e_->CreateDeviceInfoList(n); }
    FtStatus GetDeviceInfoDetail(uint32_t i, char (&d)[kFtStringSize]) override {
        return e_->GetDeviceInfoDetail(i, d);
    }
    FtStatus OpenEx(const char* d, FtHandle& h) override { return e_->OpenEx(d, h); }
    FtStatus Purge(FtHandle h, uint32_t mask) override { return e_->Purge(h, mask); }
    FtStatus SetTimeouts(FtHandle h, uint32_t r, uint32_t w) override {
        return e_->SetTimeouts(h, r, w);
    }
    FtStatus GetDeviceInfo(FtHandle h, uint32_t& type, uint32_t& id, char (&s)[kFtStringSize],
                           char (&d)[kFtStringSize]) override {
        return e_->GetDeviceInfo(h, type, id, s, d);
    }
    FtStatus GetStatus(FtHandle h, uint32_t& n) override { return e_->GetStatus(h, n); }
    FtStatus Read(FtHandle h, void* b, uint32_t n, uint32_t& got) override {
        return e_->Read(h, b, n, got);
    }
    FtStatus Write(FtHandle h, const void* b, uint32_t n, uint32_t& written) override {
        std::lock_guard lock(mutex_);
        written_.append(static_cast<const char*>(b), n);
        return e_->Write(h, b, n, written);
    }
    FtStatus Close(FtHandle h) override { return e_->Close(h); }
    void WaitForData(FtHandle h, double seconds) override { e_->WaitForData(h, seconds); }

private:
    std::shared_ptr<EmulatorDriver> e_;
    std::mutex mutex_;
    std::string written_;
};

void RecordReport(MpxDevice& handle, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(handle.reportText);
    handle.Clear();
}

class TesterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallDialogs(dialogs);
        InstallDriver(recorder);
        SetReportHook(&RecordReport, &reports);
        tester = std::make_unique<TUlvarinTester>(device);
    }

    void TearDown() override {
        tester.reset();
        if (device.device != nullptr) CloseDevice(device, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
        InstallDialogs(nullptr);
    }

    void Open() {
        device.device = OpenDevice(emulator->Description(0).c_str(), true, false, 1);
        ASSERT_NE(device.device, nullptr);
        recorder->Take();
    }

    template <class T>
    T* Control(const char* name) {
        T* control = tester->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QCheckBox* Box(const char* name) { return Control<QCheckBox>(name); }

    // Picks item `index` as the operator does: selects it and runs its handler.
    static void Choose(QComboBox* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    // Types `text` into an editable list and leaves it by the Tab key.
    static void TypeAndLeave(QComboBox* list, const QString& text) {
        list->setEditText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(list, &out);
    }

    sim::InterfaceState State() {
        sim::InterfaceState state;
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) { state = e.State(); });
        return state;
    }
    // The pin boxes as a byte, bit i for pin i.
    int PinBoxes() {
        int pins = 0;
        for (int pin = 0; pin < 8; ++pin)
            if (Box(("ChkbCMOSbit" + std::to_string(pin)).c_str())->isChecked()) pins |= 1 << pin;
        return pins;
    }

    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<EmulatorDriver> emulator = MakeEmulatorDriver("medipix2:1");
    std::shared_ptr<WriteRecorder> recorder = std::make_shared<WriteRecorder>(emulator);
    std::vector<std::string> reports;
    MpxDevice device;
    std::unique_ptr<TUlvarinTester> tester;
};

TEST_F(TesterWindowTest, StartsAsDesignedSendingNothingWithTheScriptControlsDisabled) {
    EXPECT_EQ(tester->objectName(), "UlvarinTester");
    EXPECT_EQ(tester->windowTitle(),
              "Tester - for hardware checking, needs special dummy chipboard");
    EXPECT_EQ(Control<QComboBox>("ComboCMOSpins")->count(), 18);
    EXPECT_TRUE(Control<QWidget>("GroupPower")->isAncestorOf(Control<QWidget>("BttnRefresh")));
    for (const char* name : {"BttnSave", "BttnLoad", "BttnRunScript", "BttnClear", "ChkbRecord"})
        EXPECT_FALSE(Control<QWidget>(name)->isEnabled()) << name;
    EXPECT_EQ(recorder->Take(), "");
}

TEST_F(TesterWindowTest, CmosTextSetsThePinsOnceAndBoxesSendTheirByte) {
    Open();
    auto* combo = Control<QComboBox>("ComboCMOSpins");
    for (const char* text : {"0x5", "5", " 0X05 "}) {
        TypeAndLeave(combo, text);
        EXPECT_EQ(recorder->Take(), "I\x05") << text << ": one send, straight to the byte";
        EXPECT_EQ(PinBoxes(), 0x05) << text;
        EXPECT_EQ(State().cmos, 0x05);
        EXPECT_EQ(combo->currentText(), "0x05");
    }
    TypeAndLeave(combo, "0x1FF");
    EXPECT_EQ(recorder->Take(), "I\xFF") << "the low byte";
    EXPECT_EQ(PinBoxes(), 0xFF);

    Choose(combo, 1);  // "0x55"
    EXPECT_EQ(recorder->Take(), "I\x55");
    Box("ChkbCMOSbit7")->click();
    Box("ChkbCMOSbit0")->click();
    EXPECT_EQ(recorder->Take(), "I\xD5I\xD4");
    EXPECT_EQ(combo->currentText(), "0xD4");
    EXPECT_EQ(State().cmos, 0xD4);

    // Typing an item's text and leaving sends it once, though the list takes it as chosen.
    TypeAndLeave(combo, "0x0F");
    EXPECT_EQ(recorder->Take(), "I\x0F");
    // Switching to another window is not leaving the box: a bad text shows no box there,
    // or each switch back and forth would bring it up again.
    combo->setEditText("zz");
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(combo, &away);
    EXPECT_EQ(recorder->Take(), "");
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(TesterWindowTest, TextsThatAreNoNumberShowTheirBoxAndSendNothing) {
    Open();
    TypeAndLeave(Control<QComboBox>("ComboCMOSpins"), "zz");
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "Incorect data to be sent (CMOS pins) - syntax error!");
    EXPECT_EQ(dialogs->messages[0].caption, "Format error");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Error);
    EXPECT_EQ(PinBoxes(), 0);

    Control<QComboBox>("ComboLVDSdata")->setEditText(QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
    Control<QPushButton>("BttnLVDSsend")->click();
    ASSERT_EQ(dialogs->messages.size(), 2u);
    EXPECT_EQ(dialogs->messages[1].text, "Incorect data to be sent - syntax error!");
    EXPECT_EQ(recorder->Take(), "");
}

TEST_F(TesterWindowTest, LvdsSendsItsSettingsAndShowsWhatTheBoardLoopsBack) {
    Open();
    Box("ChkbLVDSpolarity")->click();  // each box sends as well
    Box("ChkbLVDSenableIn")->click();
    recorder->Take();
    Choose(Control<QComboBox>("ComboLVDSdata"), 2);  // "0xAA"
    EXPECT_EQ(recorder->Take(), ":\x08\x01\xAA");
    EXPECT_EQ(Control<QLabel>("PanelLVDSdata")->text(), "0xAA");
    EXPECT_TRUE(Box("ChkbLVDSenableOut")->isChecked());

    Box("ChkbLVDSenableIn")->click();
    EXPECT_EQ(recorder->Take(), ":\x08\x00\xAA"s);
    EXPECT_EQ(Control<QLabel>("PanelLVDSdata")->text(), "0x00");
    EXPECT_FALSE(Box("ChkbLVDSenableOut")->isChecked());

    Box("ChkbLVDSphase")->click();
    EXPECT_EQ(recorder->Take(), ":\x0C\x00\xAA"s);
}

TEST_F(TesterWindowTest, I2cLinesAreSentOnceAndReadBackWithAStuckLineCleared) {
    Open();
    auto* combo = Control<QComboBox>("ComboI2C");
    Choose(combo, 3);
    EXPECT_EQ(recorder->Take(), "'\x03") << "one send, no intermediate line state";
    EXPECT_TRUE(Box("ChkbSDA")->isChecked() && Box("ChkbSCL")->isChecked());
    EXPECT_TRUE(Box("ChkbSDAread")->isChecked() && Box("ChkbSCLread")->isChecked());

    emulator->WithInterface(0, [](sim::EmulatedInterface& e) { e.HoldI2cLow(0x02); });
    Box("ChkbSCL")->click();
    EXPECT_EQ(recorder->Take(), "'\x02");
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_FALSE(Box("ChkbSDAread")->isChecked()) << "SDA is held low";
    EXPECT_FALSE(Box("ChkbSCLread")->isChecked());
    Choose(combo, 3);
    EXPECT_FALSE(Box("ChkbSDAread")->isChecked());
    EXPECT_TRUE(Box("ChkbSCLread")->isChecked());
}

TEST_F(TesterWindowTest, BarsAndUpDownsSendTheDacAndBiasCodes) {
    Open();
    QSignalSpy biasSent(tester.get(), &TUlvarinTester::biasSent);
    QSignalSpy dacSent(tester.get(), &TUlvarinTester::interfaceDacSent);
    Control<QSlider>("TrackBarBIAS")->setValue(255);
    EXPECT_EQ(recorder->Take(), "b\xFF");
    EXPECT_EQ(Control<QLineEdit>("EditBIAS")->text(), "255");
    uint8_t bias = 0;
    emulator->WithInterface(0, [&](sim::EmulatedInterface& e) { bias = e.Analog().BiasCode(); });
    EXPECT_EQ(bias, 255);
    Control<QSlider>("TrackBarDAC0")->setValue(4095);
    EXPECT_EQ(recorder->Take(), ">\x00\xFF\x0F"s);
    Control<UpDown>("UpDownDAC1")->Step(UpDown::Direction::Up);
    EXPECT_EQ(recorder->Take(), ">\x01\x01\x00"s);
    // What the interface took is announced, for the main window to show.
    ASSERT_EQ(biasSent.size(), 1);
    EXPECT_EQ(biasSent[0][0].toInt(), 255);
    ASSERT_EQ(dacSent.size(), 2);
    EXPECT_EQ(dacSent[0], (QList<QVariant>{0, 4095}));
    EXPECT_EQ(dacSent[1], (QList<QVariant>{1, 1}));

    // A number typed into an up-down's box moves its bar, kept within range; a text that is
    // no number is put back.
    auto* edit = Control<QLineEdit>("EditDAC1");
    for (const auto& [typed, sent] : {std::pair{"9999", ">\x01\xFF\x0F"s}, std::pair{"abc", ""s}}) {
        edit->setText(QString::fromUtf8(typed));
        emit edit->editingFinished();
        EXPECT_EQ(edit->text(), "4095");
        EXPECT_EQ(recorder->Take(), sent) << typed;
    }
}

TEST_F(TesterWindowTest, PowerButtonsSwitchTheChips) {
    Open();
    Control<QPushButton>("BttnPowerOFF")->click();
    EXPECT_FALSE(State().chipPower);
    Control<QPushButton>("BttnPowerON")->click();
    EXPECT_TRUE(State().chipPower);
    EXPECT_EQ(recorder->Take(), "Xx");
}

TEST_F(TesterWindowTest, RefreshSendsEveryLineStateInOrder) {
    Open();
    Control<QSlider>("TrackBarDAC0")->setValue(0x123);
    Control<QSlider>("TrackBarDAC1")->setValue(0x456);
    Control<QSlider>("TrackBarBIAS")->setValue(0x78);
    Choose(Control<QComboBox>("ComboI2C"), 1);
    Choose(Control<QComboBox>("ComboCMOSpins"), 2);  // "0xAA"
    Box("ChkbLVDSenableIn")->click();
    Control<QComboBox>("ComboLVDSdata")->setEditText("3c");
    recorder->Take();
    const std::string all =
        ">\x00\x23\x01>\x01\x56\x04"
        "b\x78'\x01I\xAA:\x00\x01\x3C"s;
    Control<QPushButton>("BttnRefresh")->click();
    EXPECT_EQ(recorder->Take(), all);
    EXPECT_EQ(Control<QLabel>("PanelLVDSdata")->text(), "0x3C");

    // Activation sends the same; a bad LVDS text is skipped there without its box, since
    // closing a box would activate the window again.
    tester->show();
    tester->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return tester->isActiveWindow(); }));
    QApplication::processEvents();
    EXPECT_EQ(recorder->Take(), all);
    Control<QComboBox>("ComboLVDSdata")->setEditText("none");
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(tester.get(), &activate);
    EXPECT_EQ(recorder->Take(), all.substr(0, all.size() - 4));
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(TesterWindowTest, WithoutAnInterfaceEveryCommandReportsAndLvdsShowsError) {
    Box("ChkbSDAread")->setChecked(true);
    Box("ChkbSCLread")->setChecked(true);
    QSignalSpy biasSent(tester.get(), &TUlvarinTester::biasSent);
    QSignalSpy dacSent(tester.get(), &TUlvarinTester::interfaceDacSent);
    Control<QPushButton>("BttnRefresh")->click();
    EXPECT_EQ(reports, std::vector<std::string>(6, "Invalid device handle."));
    EXPECT_EQ(biasSent.size() + dacSent.size(), 0) << "nothing was taken";
    EXPECT_EQ(Control<QLabel>("PanelLVDSdata")->text(), "Error");
    EXPECT_FALSE(Box("ChkbSDAread")->isChecked());
    EXPECT_FALSE(Box("ChkbSCLread")->isChecked());
    Control<QPushButton>("BttnPowerON")->click();
    EXPECT_EQ(reports.size(), 7u);
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(TesterWindowTest, CustomMessageBoxTakesItsButtonsFromTheTwoBoxes) {
    Control<QLineEdit>("EditMsgBox")->setText("Check the dialog");
    for (const char* box : {"", "ChkbMsgOKcancel", "ChkbMsgYesNo", "ChkbMsgOKcancel"}) {
        if (*box != 0) Box(box)->click();
        Control<QPushButton>("BttnMsgBox")->click();
    }
    ASSERT_EQ(dialogs->messages.size(), 4u);
    const DialogButtons expected[] = {DialogButtons::Ok, DialogButtons::OkCancel,
                                      DialogButtons::YesNoCancel, DialogButtons::YesNo};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(dialogs->messages[i].buttons, expected[i]) << i;
    EXPECT_EQ(dialogs->messages[0].text, "Check the dialog");
    EXPECT_EQ(dialogs->messages[0].caption, "Custom message");
    EXPECT_EQ(dialogs->messages[0].icon, DialogIcon::Information);
}

}  // namespace
}  // namespace ulvarin::test
