// The terminal and tester windows as the main window offers them: the Terminal button shows
// the traffic of the window's own commands, a double-clicked message line lands in the
// terminal, the main timer's polling stays out of it while "Skip monitoring messages" is
// ticked, and the Tester button shows the tester on the window's interface. What either
// sends, the main window shows, and a configuration saved then records.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "base/number_text.h"
#include "device/conversions.h"
#include "terminal/terminal_window.h"
#include "tester/tester_window.h"
#include "tests/app/window_fixture.h"
#include "widgets/up_down.h"

namespace ulvarin::test {
namespace {

class DebugWindowsTest : public WindowTest {
protected:
    QStringList TerminalLines() {
        form->terminal->FlushPending();
        return form->terminal->Lines();
    }
    int CountStarting(const QString& prefix) {
        const QStringList lines = TerminalLines();
        return static_cast<int>(std::count_if(
            lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); }));
    }
    QString Shown(const char* box) { return Control<QComboBox>(box)->currentText(); }
    static QString VoltsText(double volts) {
        return QString::fromStdString(FormatDouble("%.5lg V", volts));
    }
    // The configuration the Save button writes now.
    std::string SavedConfiguration() {
        const std::string path = (programFolder->path() + "/saved.ini").toStdString();
        dialogs->paths.push_back(path);
        Control<QPushButton>("BttnSaveCfg")->click();
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(DebugWindowsTest, TheTerminalShowsTheWindowsTraffic) {
    Start("medipix2:1");
    Control<QPushButton>("BttnTerminal")->click();
    ASSERT_TRUE(form->terminal->isVisible());
    EXPECT_TRUE(form->terminal->switchedOn());
    Control<QPushButton>("BttnGetData")->click();
    const QStringList lines = TerminalLines();
    EXPECT_TRUE(lines.contains("Command: Read matrix")) << lines.join('\n').toStdString();
    EXPECT_EQ(CountStarting(">>    Abreviated     <<"), 1);

    // A message line chosen in the main window follows a separator.
    auto* list = Control<QListWidget>("ListMsg");
    list->setCurrentRow(list->count() - 1);
    const QString chosen = list->currentItem()->text();
    form->messages->ListMsgDblClick();
    const QStringList after = TerminalLines();
    ASSERT_GE(after.size(), 2);
    EXPECT_EQ(after[after.size() - 2], QString(39, '='));
    EXPECT_EQ(after.back(), chosen);
}

TEST_F(DebugWindowsTest, TheMainTimersPollingIsSkippedWhenAsked) {
    Start("medipix2:1");
    Control<QPushButton>("BttnTerminal")->click();
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(true);  // read every tick
    QTest::qWait(300);
    EXPECT_EQ(CountStarting("Command: "), 0) << TerminalLines().join('\n').toStdString();
    Control<QCheckBox>("ChkbSkipMonitor")->click();
    ASSERT_TRUE(WaitFor([&] { return CountStarting("Command: ") > 0; }));
}

TEST_F(DebugWindowsTest, TheTesterWorksOnTheWindowsInterface) {
    Start("medipix2:1");
    Control<QPushButton>("BttnTester")->click();
    ASSERT_TRUE(form->tester->isVisible());
    form->tester->BttnLVDSsendClick();  // item "0x00", enable in off: 0x00 comes back
    EXPECT_EQ(Control<QLabel>("PanelLVDSdata")->text(), "0x00");
    form->tester->BttnPowerOFFClick();
    EXPECT_FALSE(EmulatorState(0).chipPower);
}

// Shown, the tester sends the line states its controls show (the bias and both DACs at 0),
// and the main window shows them rather than the values it had set.
TEST_F(DebugWindowsTest, WhatTheTesterSendsTheMainWindowShows) {
    Start("medipix2:1");
    Control<QComboBox>("CombBias")->setEditText("50");
    form->analog->BttnSetBiasClick();
    ASSERT_EQ(EmulatorBias(0), BiasToCode(50.0));
    ASSERT_EQ(Shown("CombBias"), VoltsText(CodeToBias(BiasToCode(50.0))));

    Control<QPushButton>("BttnTester")->click();
    form->tester->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form->tester));
    EXPECT_EQ(EmulatorBias(0), 0);
    EXPECT_EQ(Shown("CombBias"), VoltsText(CodeToBias(0))) << "off, as \"OFF\" is shown";
    EXPECT_EQ(Shown("CombDAC0"), "0 V");
    EXPECT_EQ(Shown("CombDAC1"), "0 V");
    const std::string saved = SavedConfiguration();
    EXPECT_NE(saved.find("[Interface]\nHV=0\nDAC0=0\nDAC1=0\n"), std::string::npos) << saved;

    // The bias bar: its code's voltage is shown, and the main window steps on from it.
    Control<QSlider>("TrackBarBIAS")->setValue(128);
    EXPECT_EQ(EmulatorBias(0), 128);
    EXPECT_EQ(Shown("CombBias"), VoltsText(CodeToBias(128)));
    Control<UpDown>("UpDownHV")->Step(UpDown::Direction::Up);  // refused, a code sent instead
    EXPECT_EQ(EmulatorBias(0), 127) << "up raises the voltage from the tester's code";
    EXPECT_EQ(Shown("CombBias"), VoltsText(CodeToBias(127)));
}

// The terminal's raw commands whose settings the main window shows: bias, DAC0, polarity
// and the Medipix2 counter pair.
TEST_F(DebugWindowsTest, SettingsTypedIntoTheTerminalShowInTheMainWindow) {
    Start("medipix2:1");
    Control<QPushButton>("BttnTerminal")->click();
    Control<QLineEdit>("EditCommand")->setText(R"(b\80>\00\00\08p1)");
    form->terminal->BttnSendClick();
    ASSERT_TRUE(WaitFor([&] { return EmulatorBias(0) == 0x80 && EmulatorState(0).fsr == 1; }));
    EXPECT_FALSE(EmulatorState(0).positivePolarity);
    EXPECT_EQ(Shown("CombBias"), VoltsText(CodeToBias(0x80)));
    EXPECT_EQ(Shown("CombDAC0"), "1.25 V");
    EXPECT_EQ(Shown("CombDAC1"), VoltsText(DacCodeToVolts(ConfiguredDacCode(1.3))))
        << "not sent: as it was";
    EXPECT_EQ(Shown("CombPolarity"), "Negative");
    EXPECT_EQ(form->basics->ModeItem(), 1);
    const std::string saved = SavedConfiguration();
    EXPECT_NE(saved.find("Polarity=Negative\nFSR=1\n"), std::string::npos) << saved;
    EXPECT_EQ(BiasToCode(form->analog->analog.biasVolts), 0x80);
    EXPECT_EQ(ConfiguredDacCode(form->analog->analog.dac0Volts), 0x800);
}

}  // namespace
}  // namespace ulvarin::test
