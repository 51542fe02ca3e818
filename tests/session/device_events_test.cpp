// Two interfaces worked at once in one process: each run gets its own interface's frames and
// each listener its own interface's reports, whichever thread drains or reports first.
#include "session/device_events.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"
#include "session/continuous_run.h"
#include "standard_drivers/emulator_driver.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr const char* kNames[] = {"Medipix2 ver 3.0 : Emulator Timepix x1",
                                  "Medipix2 ver 3.0 : Emulator Medipix2 x1"};

class TwoInterfaces : public ::testing::Test {
protected:
    void SetUp() override {
        InstallDriver(MakeEmulatorDriver("timepix:1,medipix2:1"));
        SetUnclaimedReportCallback([](MpxDevice& h) { h.Clear(); });
        for (int i = 0; i < 2; ++i) {
            handles[i].device = OpenDevice(kNames[i], true, false, 0);
            ASSERT_NE(handles[i].device, nullptr) << kNames[i];
        }
    }
    void TearDown() override {
        for (MpxDevice& h : handles)
            if (h.device != nullptr) CloseDevice(h, true);
        SetUnclaimedReportCallback(nullptr);
        InstallDriver(nullptr);
    }
    MpxDevice handles[2];
};

// Both runs start before either drains: with one hook for the process the second run took
// the first one's frames (or the first waited for frames that went elsewhere).
TEST_F(TwoInterfaces, ConcurrentRunsEachGetTheirOwnFramesInOrder) {
    constexpr int kFrames = 12;
    struct Result {
        std::vector<int64_t> numbers;
        process::ContinuousRun::Next end{};
        std::string error;
    } results[2];
    std::vector<std::unique_ptr<process::ContinuousRun>> runs;
    for (int i = 0; i < 2; ++i) {
        runs.push_back(std::make_unique<process::ContinuousRun>(handles[i], kChipPixels));
        ASSERT_TRUE(runs.back()->Start({kFrames, 0.01 * (i + 1), 0}, results[i].error))
            << results[i].error;
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            Result& r = results[i];
            const auto take = [&r](const process::ArrivedFrame& f) {
                r.numbers.push_back(f.number);
            };
            while ((r.end = runs[i]->Wait(take, {}, r.error)) ==
                   process::ContinuousRun::Next::kFrame) {
            }
        });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(kNames[i]);
        EXPECT_EQ(results[i].end, process::ContinuousRun::Next::kDone) << results[i].error;
        std::vector<int64_t> expected(kFrames);
        for (int n = 0; n < kFrames; ++n) expected[n] = n + 1;
        EXPECT_EQ(results[i].numbers, expected);
    }
}

TEST_F(TwoInterfaces, ReportsReachTheListenerOfTheirHandleOnly) {
    std::vector<std::string> heard[2], unclaimed;
    SetUnclaimedReportCallback([&](MpxDevice& h) {
        unclaimed.emplace_back(h.reportText);
        h.Clear();
    });
    {
        std::unique_ptr<ReportListener> listeners[2];
        for (int i = 0; i < 2; ++i)
            listeners[i] = std::make_unique<ReportListener>(handles[i], [&, i](MpxDevice& h) {
                heard[i].emplace_back(h.reportText);
                h.Clear();
            });
        ReportError(handles[1], kDeviceError, "second");
        ReportError(handles[0], kDeviceError, "first");
        MpxDevice other;
        ReportError(other, kDeviceError, "nobody's");
        listeners[0].reset();
        ReportError(handles[0], kDeviceError, "after");
    }
    EXPECT_EQ(heard[0], std::vector<std::string>{"first"});
    EXPECT_EQ(heard[1], std::vector<std::string>{"second"});
    EXPECT_EQ(unclaimed, (std::vector<std::string>{"nobody's", "after"}));
}

}  // namespace
}  // namespace ulvarin
