// Hardware processes run by an emulated interface: the frames it reads out by itself reach
// the background hook in order, decoded, whether the main thread drains them or the
// monitoring thread reads them while commands go on.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/clock.h"
#include "device/conversions.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {
namespace {

constexpr uint8_t kClose = 0x01, kOpen = 0x02, kInterval = 0x04;

struct Frame {
    int32_t number;
    double time;
    uint64_t sum;
};

class ProcessIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        auto emulator = MakeEmulatorDriver("mxr:1");
        InstallDriver(emulator);
        SetReportHook(
            [](MpxDevice& h, void* self) {
                if (h.reportKind > 1)
                    static_cast<ProcessIntegration*>(self)->errors.push_back(h.reportText);
                h.Clear();
            },
            this);
        SetBackgroundHook(
            [](MpxDevice& h, MpxCommandResponse& r, void* self) {
                static_cast<ProcessIntegration*>(self)->OnBackground(h, r);
            },
            this);
        handle.device = OpenDevice(emulator->Description(0).c_str(), true, false, 0);
        ASSERT_NE(handle.device, nullptr);
        ASSERT_EQ(ChipCount(handle), 1);
    }
    void TearDown() override {
        StopMonitor();
        CloseDevice(handle, true);
        SetBackgroundHook(nullptr, nullptr);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }

    // Copies what the frame holds before the hook returns, as the window must.
    void OnBackground(MpxDevice&, MpxCommandResponse& r) {
        if (r.frameNumber == 0 || r.destination == nullptr) return;
        uint64_t sum = 0;
        for (int i = 0; i < kChipPixels; ++i) sum += r.destination[i];
        std::lock_guard lock(mutex);
        frames.push_back({r.frameNumber, r.time, sum});
    }
    size_t FrameCount() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    // Drains on this thread until `n` frames arrived or `seconds` passed.
    void DrainFor(size_t n, double seconds) {
        const double until = Now() + seconds;
        while (FrameCount() < n && Now() < until) {
            MpxCommandResponse record;
            DrainBackground(handle, record);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Sets up a process of `frames` frames of `exposure` seconds every `period` (0: one
    // frame right away) and starts it.
    void StartProcess(uint32_t count, double exposure, double period) {
        uint8_t ticks[6];
        SecondsToBytes(exposure, 3, ticks);
        frameExposure = BytesToSeconds(ticks, 3);
        ASSERT_TRUE(SetupFrameCounter(handle, count - 1, 0));
        ASSERT_TRUE(SetupIntervalTimer(handle, exposure, kClose));
        ASSERT_TRUE(SetupPeriodTimer(handle, period, kOpen | kInterval));
        ASSERT_TRUE(MakeTodoMask(handle, kOpen | kInterval));
        if (period > 0) {
            ASSERT_TRUE(ReloadPeriodTimer(handle));
        }
    }
    void ExpectFramesInOrder(size_t n) {
        std::lock_guard lock(mutex);
        ASSERT_EQ(frames.size(), n);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(frames[i].number, static_cast<int32_t>(i + 1));
            EXPECT_GT(frames[i].sum, 0u) << "frame " << i << " decoded to nothing";
            // A frame's time is its exposure: the interval as the timer was loaded.
            EXPECT_NEAR(frames[i].time, frameExposure, 1e-7) << "frame " << i;
        }
    }

    MpxDevice handle;
    double frameExposure = 0;  // seconds the interval timer of the last process was loaded with
    std::mutex mutex;
    std::vector<Frame> frames;
    std::vector<std::string> errors;
};

TEST_F(ProcessIntegration, SingleFrameArrivesAndTheProcessEnds) {
    StartProcess(1, 0.05, 0);
    DrainFor(1, 3.0);
    ExpectFramesInOrder(1);
    bool running = true;
    ASSERT_TRUE(IntervalTimerState(handle, &running, nullptr, nullptr, nullptr));
    EXPECT_FALSE(running);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ProcessIntegration, TenFramesWithAPeriodAllArrive) {
    StartProcess(10, 0.02, 0.05);
    DrainFor(10, 5.0);
    ExpectFramesInOrder(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    bool running = true;
    ASSERT_TRUE(PeriodTimerState(handle, &running, nullptr, nullptr, nullptr));
    EXPECT_FALSE(running);
    EXPECT_EQ(FrameCount(), 10u);  // nothing after the last frame
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ProcessIntegration, MonitorThreadTakesFramesWhileCommandsGoOn) {
    ASSERT_TRUE(StartMonitor());
    StartProcess(10, 0.02, 0.05);
    // A command counts when it began or ended while frames were streaming (judged by the
    // frames arrived before and after it), so the check holds however slow a (sanitized)
    // build makes each frame: an answer queued behind frames is still a command that went on.
    int duringFrames = 0, failed = 0;
    const double until = Now() + 5.0;
    const auto streaming = [](size_t count) { return count > 0 && count < 10; };
    for (size_t count = FrameCount(); count < 10 && Now() < until; count = FrameCount()) {
        bool running = false;
        if (!PeriodTimerState(handle, &running, nullptr, nullptr, nullptr)) ++failed;
        if (streaming(count) || streaming(FrameCount())) ++duringFrames;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(StopMonitor());
    EXPECT_TRUE(StopMonitor());
    ExpectFramesInOrder(10);
    EXPECT_GE(duringFrames, 2) << "no command went through while frames streamed";
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace
}  // namespace ulvarin
