// The terminal and tester windows as the main window offers them: the Terminal button shows
// the traffic of the window's own commands, a double-clicked message line lands in the
// terminal, the main timer's polling stays out of it while "Skip monitoring messages" is
// ticked, and the Tester button shows the tester on the window's interface.
#include <QCheckBox>
#include <QListWidget>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "terminal/terminal_window.h"
#include "tester/tester_window.h"
#include "tests/app/window_fixture.h"

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

}  // namespace
}  // namespace ulvarin::test
