// The main timer's watch over the interface: a reset interface brings the power-quality box,
// an unplugged one the disconnection box once, and it is closed.
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include "device/identify.h"
#include "device/link.h"
#include "device/monitor.h"
#include "device/report.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

const std::string kDisconnected =
    "Device is not responding. It has been probably disconnected.\nDevice has to be closed!";
const std::string kResetCondition =
    "Device reported unexpected reset condition probably due to power voltage instability.\r"
    "Check quality of your USB cable or quality of external power supply if used.\r"
    "Voltage source have to be able to supply 4.75V - 5.25V at 500mA, no drop-outs or spikes "
    "outside of this range.";

TEST_F(WindowTest, UnpluggedInterfaceIsClosedAfterOneBox) {
    Start("medipix2:1");
    ASSERT_NE(form->shared.device.device, nullptr);
    emulator->SetPlugged(0, false);
    ASSERT_TRUE(WaitFor([&] { return dialogs->CountOf(kDisconnected) == 1; }));
    EXPECT_EQ(dialogs->messages.back().caption, "Hardware Error");
    EXPECT_EQ(dialogs->messages.back().icon, DialogIcon::Error);
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_TRUE(Control<QPushButton>("BttnOpen")->isEnabled());
    // Nothing more was sent to the dead handle: no bias or power command on closing.
    for (const QString& line : Lines()) {
        EXPECT_FALSE(line.contains("bias") || line.contains("power")) << line.toStdString();
    }

    // Further failures bring no second box while the window waits for a full open.
    ReportError(form->shared.device, kNotResponding, "Still gone");
    QTest::qWait(300);
    EXPECT_EQ(dialogs->CountOf(kDisconnected), 1);

    emulator->SetPlugged(0, true);
    OpenByName(Description(0));
    ASSERT_NE(form->shared.device.device, nullptr);
    EXPECT_FALSE(form->hardwareBoxShown);
    emulator->SetPlugged(0, false);
    EXPECT_TRUE(WaitFor([&] { return dialogs->CountOf(kDisconnected) == 2; }));
}

// An interface that is on the bus but answers nothing costs the window one timeout, not one
// per tick: the periodic reads rest until the operator acts.
TEST_F(WindowTest, ASilentInterfaceHoldsTheWindowOnce) {
    Start("medipix2:1");
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(true);
    QTest::qWait(200);
    emulator->WithLink(0, [](sim::LinkModel& link) {
        link.StallUntil(sim::Clock::now() + std::chrono::seconds(60));
    });
    ASSERT_TRUE(WaitFor([&] { return form->pollingResting; }, 10000));
    const int lines = static_cast<int>(Lines().size());
    QTest::qWait(1500);  // a few dozen ticks
    EXPECT_EQ(Lines().size(), lines);
    EXPECT_TRUE(form->pollingResting);
    form->shared.BeginOperation();  // an operator action wakes the reads
    EXPECT_FALSE(form->pollingResting);
}

// An open the driver refuses reports "not responding" with no interface open: there is
// nothing to close, so no disconnection box, and a later box is not held back by it.
TEST_F(WindowTest, FailedOpenBringsNoDisconnectionBox) {
    Start("medipix2:1");
    form->deviceBar->BttnCloseClick();
    MpxDevice elsewhere(OpenDevice(Description(0).c_str(), false, false, 1));
    ASSERT_NE(elsewhere.device, nullptr);
    OpenByName(Description(0));  // the interface is taken: the driver refuses the open
    ASSERT_EQ(form->shared.device.device, nullptr);
    QTest::qWait(300);
    CloseDevice(elsewhere, true);
    EXPECT_EQ(dialogs->CountOf(kDisconnected), 0);
    EXPECT_FALSE(form->hardwareBoxShown);
    EXPECT_NE(LastLine().toStdString(), "Close not performed. Device is not opened.");
}

TEST_F(WindowTest, UnpluggedInterfaceIsFoundByTheMonitoringThreadToo) {
    Start("medipix2:1");
    Control<QCheckBox>("ChkbMessagesShowJustErrors")->click();
    ASSERT_TRUE(WaitFor([] { return IsMonitorRunning(); }));
    emulator->SetPlugged(0, false);
    ASSERT_TRUE(WaitFor([&] { return dialogs->CountOf(kDisconnected) == 1; }));
    EXPECT_EQ(form->shared.device.device, nullptr);
    EXPECT_FALSE(IsMonitorRunning()) << "stopped before the interface was closed";
}

TEST_F(WindowTest, ResetReportBringsThePowerBoxEachTime) {
    Start("medipix2:1");
    ReportError(form->shared.device, kBadResponse, "Unit is on line.");
    ASSERT_TRUE(WaitFor([&] { return dialogs->CountOf(kResetCondition) == 1; }));
    EXPECT_EQ(dialogs->messages.back().caption, "Hardware Error");
    EXPECT_FALSE(form->hardwareBoxShown);
    EXPECT_NE(form->shared.device.device, nullptr) << "a reset interface stays open";
    ReportError(form->shared.device, kBadResponse, "Unit is on line.");
    EXPECT_TRUE(WaitFor([&] { return dialogs->CountOf(kResetCondition) == 2; }));
}

TEST_F(WindowTest, SilenceOfALiveInterfaceBringsNoBox) {
    Start("medipix2:1");
    // The later report decides: a reset followed by a timeout of a live interface is no
    // reason for either box.
    ReportError(form->shared.device, kBadResponse, "Unit is on line.");
    ReportError(form->shared.device, kNotResponding, "Timeout");
    QTest::qWait(300);
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_NE(form->shared.device.device, nullptr);
    EXPECT_EQ(form->messages->log()->lastReportKind, 0);
}

TEST_F(WindowTest, ReportsWhileLoggingIsOffDoNotTriggerTheWatch) {
    Start("medipix2:1");
    form->messages->log()->logEnabled = false;
    ReportError(form->shared.device, kBadResponse, "Unit is on line.");
    form->messages->log()->logEnabled = true;
    QTest::qWait(200);
    EXPECT_TRUE(dialogs->messages.empty());
}

}  // namespace
}  // namespace ulvarin::test
