#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "terminal/terminal_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <thread>

#include "standard_drivers/emulator_driver.h"
#include "device/link.h"
#include "device/protocol.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/app/window_fixture.h"
#include "widgets/dialogs.h"

namespace ulvarin::test {
namespace {

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallDialogs(dialogs);
        InstallDriver(emulator);
        handle.device = OpenDevice(emulator->Description(0).c_str(), true, false, 1);
        ASSERT_NE(handle.device, nullptr);
        terminal = std::make_unique<TFormTerminal>(handle);
    }
    void TearDown() override {
        terminal.reset();
        if (handle.device != nullptr) CloseDevice(handle, true);
        InstallDriver(nullptr);
        InstallDialogs(nullptr);
    }

    // Types `text` and presses Enter.
    void Enter(const QString& text) {
        terminal->EditCommand->setText(text);
        QTest::keyClick(terminal->EditCommand, Qt::Key_Return);
    }
    // Runs one command and its answer through the protocol on the cleared handle, as the
    // window's handlers do.
    void Execute(const char* command) {
        handle.Clear();
        MpxCommandResponse record;
        ASSERT_TRUE(ExecuteCommand(handle, record, command, 1));
    }
    sim::InterfaceState State() {
        sim::InterfaceState state;
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) { state = e.State(); });
        return state;
    }
    int Count(const QString& line) { return static_cast<int>(terminal->Lines().count(line)); }
    std::string Dump() { return terminal->Lines().join('\n').toStdString(); }
    int Rows() {
        int n = 0;
        for (const QString& line : terminal->Lines()) n += line.mid(24, 2) == "| ";
        return n;
    }
    int CountStarting(const QString& start) {
        int n = 0;
        for (const QString& line : terminal->Lines()) n += line.startsWith(start);
        return n;
    }

    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<EmulatorDriver> emulator = MakeEmulatorDriver("medipix2:1");
    MpxDevice handle;
    std::unique_ptr<TFormTerminal> terminal;
};

TEST_F(TerminalTest, SwitchingOnAndOffLogsOnlyWhileOn) {
    EXPECT_EQ(terminal->objectName(), "FormTerminal");
    EXPECT_EQ(terminal->windowTitle(), "USB Terminal");
    EXPECT_EQ(terminal->ReceiveData->text(), "Switch ON");
    for (QCheckBox* box :
         {terminal->ChkbFilterLong, terminal->ChkbSkipScope, terminal->ChkbSkipMonitor})
        EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();

    Execute("x");
    terminal->FlushPending();
    EXPECT_TRUE(terminal->Lines().isEmpty());

    QTest::mouseClick(terminal->ReceiveData, Qt::LeftButton);
    EXPECT_TRUE(terminal->switchedOn());
    EXPECT_EQ(terminal->ReceiveData->text(), "Pause");
    Execute("x");
    terminal->FlushPending();
    const QStringList lines = terminal->Lines();
    ASSERT_EQ(lines.size(), 11) << Dump();
    EXPECT_EQ(lines[2], "Command: Medipix power ON");
    EXPECT_EQ(lines[4], "78                      | x");
    EXPECT_EQ(lines[5], "Bytes transmited: 1");
    EXPECT_EQ(lines[10], "78 4f 4b 0d             | xOK.");
    EXPECT_EQ(terminal->ReceivedData->currentIndex().row(), 10);

    terminal->ReceiveDataClick();
    EXPECT_EQ(terminal->ReceiveData->text(), "Start");
    Execute("x");
    terminal->FlushPending();
    EXPECT_EQ(terminal->Lines(), lines);

    // Back on: the answer logged before the pause gets no summary.
    terminal->ReceiveDataClick();
    Execute("x");
    terminal->FlushPending();
    EXPECT_EQ(terminal->Lines().mid(0, 11), lines);
    EXPECT_EQ(terminal->Lines()[11], "");
    EXPECT_EQ(Count("Bytes received: 4"), 0);
}

TEST_F(TerminalTest, TypedEscapedCommandsReachTheInterfaceByteForByte) {
    terminal->SwitchOn();
    Enter("/\\0d\\7E\\\\");
    EXPECT_TRUE(terminal->EditCommand->text().isEmpty());
    EXPECT_EQ(State().preActionDelay, (std::array<uint8_t, 3>{0x0D, 0x7E, '\\'}));
    Enter("W+\\");  // the trailing backslash is a NUL
    EXPECT_EQ(State().todoCommands, (std::array<uint8_t, 2>{'+', 0}));
    Enter(QString::fromUtf8("<\xc3\xa9"));  // a non-ASCII character goes as its UTF-8 bytes
    EXPECT_EQ(State().coincidenceSetup, (std::array<uint8_t, 2>{0xC3, 0xA9}));
    Enter(QString(255, '\\'));
    EXPECT_EQ(dialogs->messages.size(), 0u);

    terminal->FlushPending();
    EXPECT_EQ(Count("Command: Pre-action delay"), 1);
    EXPECT_EQ(Count("2f 0d 7e 5c             | /.~\\"), 1);
    EXPECT_EQ(Count("3c c3 a9                | <.."), 1);
    // Each send is an exchange of its own.
    EXPECT_EQ(CountStarting("Bytes transmited: "), 3);
}

TEST_F(TerminalTest, SendWithoutAnInterfaceSaysSo) {
    QSignalSpy sent(terminal.get(), &TFormTerminal::bytesSent);
    Enter("b\\10");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0][0].toByteArray(), QByteArray("b\x10"));
    CloseDevice(handle, true);
    Enter("");
    EXPECT_TRUE(dialogs->messages.empty());
    Enter("x");
    ASSERT_EQ(dialogs->CountOf("Transmission failed"), 1);
    EXPECT_EQ(dialogs->messages.back().caption, "Error");
    EXPECT_EQ(dialogs->messages.back().icon, DialogIcon::Error);
    EXPECT_EQ(sent.size(), 1) << "nothing more was sent";
}

// A frame read on another thread (as the monitoring thread reads) reaches the view in order.
TEST_F(TerminalTest, FrameReadIsAbbreviatedOrShownWhole) {
    terminal->SwitchOn();
    std::thread reader([&] { Execute("m"); });
    reader.join();
    ASSERT_TRUE(WaitFor([&] { return Count(QString(kAbbreviationLine.data())) == 1; }));
    Execute("x");
    terminal->FlushPending();
    EXPECT_EQ(Count("Response: Read matrix"), 1);
    const uint32_t answer = 1 + 6 + FrameStreamLength(handle) + 3;  // letter, time, frame, OK
    EXPECT_EQ(Count(QString("Bytes received: %1").arg(answer)), 1);
    EXPECT_EQ(Rows(), 32 + 3);  // the answer's and those of "m", "x" and its answer

    terminal->BttnClearDataClick();
    EXPECT_TRUE(terminal->Lines().isEmpty());
    terminal->ChkbFilterLong->setChecked(false);
    Execute("m");
    terminal->FlushPending();
    // The kept lines and, on top, those of the answer's last block.
    EXPECT_GE(terminal->Lines().size(), static_cast<int>(LogLines::kMaxLines));
    EXPECT_EQ(Count(QString(kAbbreviationLine.data())), 0);
    EXPECT_EQ(terminal->Lines().back(), "4f 4b 0d                | OK.");
}

TEST_F(TerminalTest, ScopeAnswersAreHiddenWhenAsked) {
    terminal->SwitchOn();
    Execute("$");
    Execute("x");
    terminal->FlushPending();
    // The request starts with the same byte as the answer: both are hidden.
    EXPECT_EQ(Count("Response: Scope data") + Count("Command: Scope data"), 0) << Dump();
    EXPECT_EQ(Count("Response: Medipix power ON"), 1);

    terminal->ChkbSkipScope->setChecked(false);
    Execute("$");
    terminal->FlushPending();
    EXPECT_EQ(Count("Command: Scope data"), 1);
    EXPECT_EQ(Count("Response: Scope data"), 1);
}

TEST_F(TerminalTest, MessageLinesAndClear) {
    terminal->SwitchOn();
    Transmit(handle, "i", 1);  // queued, not yet shown
    terminal->BttnClearDataClick();
    terminal->FlushPending();
    EXPECT_TRUE(terminal->Lines().isEmpty());

    terminal->AddMessageLine("Command \"Version info\" performed OK.");
    EXPECT_EQ(terminal->Lines(),
              QStringList({QString(39, '='), "Command \"Version info\" performed OK."}));
    EXPECT_EQ(terminal->ReceivedData->currentIndex().row(), 1);
    EXPECT_TRUE(terminal->isVisible());
}

}  // namespace
}  // namespace ulvarin::test
