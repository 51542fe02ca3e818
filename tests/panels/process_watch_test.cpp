// The watch over a running process, with no poll at all (as when the window's periodic
// reads rest): a process that ended after its frame is found ended, one whose frame never
// came or whose frames stopped is stopped on the interface, with a line unless a run
// started it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <ostream>

#include "standard_drivers/emulator_driver.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"
#include "panels/processes/process_panel.h"
#include "panels/shared/window_shared.h"
#include "sim/process_engine.h"

namespace ulvarin::test {
namespace {

struct WatchCase {
    const char* name;
    int processTemplate;  // 2 "Single frame", 3 "Multiple frames"
    const char* frames;   // frames to take ("0": until stopped)
    bool forRun;          // started for a step of a run rather than by "Start process"
    int framesSeen;       // frames the window takes in, one every 0.1 s, then none
    bool hang;            // then the interval timer hangs: the process runs on, frameless
    bool ends;            // found ended rather than stalled
    bool line;            // the panel writes a line about the stall
};

const WatchCase kCases[] = {
    {"EndedWhileNothingPolled", 2, "1", false, 1, false, true, false},
    {"NoFrameCame", 2, "1", false, 0, false, false, true},  // its frame was lost
    {"FramesStoppedComing", 3, "0", false, 2, true, false, true},
    {"NoFrameCameForARun", 2, "1", true, 0, false, false, false},  // the run says why
};

void PrintTo(const WatchCase& c, std::ostream* out) {
    *out << c.name;
}

class ProcessWatchTest : public ::testing::TestWithParam<WatchCase> {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("timepix:1");
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& handle, void*) { handle.Clear(); }, nullptr);
        shared.device.device = OpenDevice(emulator->Description(0).c_str(), true, false, 0);
        ASSERT_NE(shared.device.device, nullptr);
        panel = std::make_unique<ProcessPanel>(shared, nullptr);
        QObject::connect(&shared, &WindowShared::logLine, [this](const QString& l) { lines << l; });
        QObject::connect(panel.get(), &ProcessPanel::processEnded, [this] { ++ended; });
        QObject::connect(panel.get(), &ProcessPanel::processStalled,
                         [this](double silentSeconds, double paceSeconds) {
                             ++stalled;
                             silent = silentSeconds;
                             pace = paceSeconds;
                         });
    }
    void TearDown() override {
        panel.reset();
        CloseDevice(shared.device, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }

    std::shared_ptr<EmulatorDriver> emulator;
    WindowShared shared;
    std::unique_ptr<ProcessPanel> panel;
    QStringList lines;
    int ended = 0, stalled = 0;
    double silent = 0, pace = 0;
};

TEST_P(ProcessWatchTest, AnUnpolledProcessIsFoundEndedOrStopped) {
    const WatchCase& c = GetParam();
    auto* templates = panel->findChild<QComboBox*>("CombProcessTemplate");
    templates->setCurrentIndex(c.processTemplate);
    emit templates->activated(c.processTemplate);
    panel->findChild<QComboBox*>("CombInterval")->setEditText(QStringLiteral("0.05"));
    panel->findChild<QLineEdit*>("EditRepeat")->setText(QString::fromUtf8(c.frames));
    if (c.forRun)
        panel->StartProcessForRun();
    else
        panel->findChild<QPushButton*>("BttnStartProcess")->click();
    ASSERT_TRUE(panel->ProcessRunning());
    for (int k = 0; k < c.framesSeen; ++k) {
        QTest::qWait(100);
        shared.BackgroundFrameArrived();
    }
    if (c.hang) {
        emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
            sim::ProcessEngine& process = e.Process();
            const auto now = sim::Clock::now();
            process.SetupInterval(uint64_t{1} << 40, process.Interval(now).actions);
            process.StartInterval(now);
        });
    }

    ASSERT_TRUE(QTest::qWaitFor([&] { return ended + stalled > 0; }, 10000));
    EXPECT_EQ(ended, c.ends ? 1 : 0);
    EXPECT_EQ(stalled, c.ends ? 0 : 1);
    EXPECT_FALSE(panel->ProcessRunning());
    EXPECT_EQ(panel->findChild<QPushButton*>("BttnStartProcess")->text(), "Start Process");
    if (!c.ends) {
        EXPECT_GE(silent, 5.0);
        EXPECT_DOUBLE_EQ(pace, 0.05);
    }
    if (c.line) {
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].startsWith("Process stopped: no frame for 5."))
            << lines[0].toStdString();
        EXPECT_TRUE(lines[0].endsWith(" s (exposure 0.05 s)")) << lines[0].toStdString();
    } else {
        EXPECT_TRUE(lines.isEmpty()) << lines.join(QLatin1Char('|')).toStdString();
    }
    // Nothing runs on the interface any more, and no second end or stall follows.
    emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
        const auto now = sim::Clock::now();
        EXPECT_FALSE(e.Process().Interval(now).running);
        EXPECT_FALSE(e.State().shutterOpen);
    });
    QTest::qWait(200);
    EXPECT_EQ(ended + stalled, 1);
}

INSTANTIATE_TEST_SUITE_P(Processes, ProcessWatchTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace ulvarin::test
