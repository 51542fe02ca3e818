// Continuous runs against an emulated interface: frames back to back and by period, in
// order and complete; a stop, a pulled cable and a frame spoilt on the way.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/clock.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"
#include "session/continuous_run.h"
#include "wire/stream_layout.h"

namespace ulvarin::process {
namespace {

constexpr const char* kName = "Medipix2 ver 3.0 : Emulator Timepix x1";

class ContinuousRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("timepix:1");
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& h, void*) { h.Clear(); }, nullptr);
        handle.device = OpenDevice(kName, true, false, 0);
        ASSERT_NE(handle.device, nullptr);
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }

    std::shared_ptr<EmulatorDriver> emulator;
    MpxDevice handle;
};

struct Taken {
    std::vector<int64_t> numbers;
    std::vector<double> exposures, arrivals;
    std::vector<uint64_t> sums;
    void operator()(const ArrivedFrame& f) {
        numbers.push_back(f.number);
        exposures.push_back(f.exposure);
        arrivals.push_back(f.arrival);
        uint64_t sum = 0;
        for (uint16_t v : f.counts) sum += v;
        sums.push_back(sum);
    }
};

TEST_F(ContinuousRunTest, FramesComeInOrderCompleteAndPacedByThePeriod) {
    for (const double period : {0.0, 0.02}) {
        SCOPED_TRACE(period);
        ContinuousRun run(handle, kChipPixels);
        std::string error;
        const double start = Now();
        ASSERT_TRUE(run.Start({25, 0.004, period}, error)) << error;
        Taken taken;
        const auto take = [&](const ArrivedFrame& f) { taken(f); };
        ContinuousRun::Next next;
        while ((next = run.Wait(take, {}, error)) == ContinuousRun::Next::kFrame) {
        }
        EXPECT_EQ(next, ContinuousRun::Next::kDone) << error;
        ASSERT_EQ(taken.numbers.size(), 25u);
        for (size_t i = 0; i < 25; ++i) {
            EXPECT_EQ(taken.numbers[i], static_cast<int64_t>(i + 1));
            EXPECT_NEAR(taken.exposures[i], 0.004, 1e-4) << "the interface's own measure";
            EXPECT_GT(taken.sums[i], 0u) << "every frame was exposed";
        }
        EXPECT_TRUE(std::is_sorted(taken.arrivals.begin(), taken.arrivals.end()));
        // The interface paces a periodic run: 25 frames span at least 24 periods.
        if (period > 0) {
            EXPECT_GE(Now() - start, 24 * period);
        }
        // Nothing more comes: the exposition ended with its last frame.
        AwaitBytes(handle, 0.05);
        EXPECT_EQ(QueueDepth(handle), 0u);
    }
}

TEST_F(ContinuousRunTest, StopEndsARunWithoutEndAndTheShutterCloses) {
    ContinuousRun run(handle, kChipPixels);
    std::string error;
    ASSERT_TRUE(run.Start({0, 0.002, 0}, error)) << error;
    int frames = 0;
    const auto take = [&](const ArrivedFrame&) { ++frames; };
    const auto stop = [&] { return frames >= 5; };
    ContinuousRun::Next next;
    while ((next = run.Wait(take, stop, error)) == ContinuousRun::Next::kFrame) {
    }
    EXPECT_EQ(next, ContinuousRun::Next::kStopped);
    // Frames already in when the stop came are handed out too, and no more after it.
    EXPECT_GE(frames, 5);
    EXPECT_LT(frames, 50);
    AwaitBytes(handle, 0.05);
    EXPECT_EQ(QueueDepth(handle), 0u);
    emulator->WithInterface(0, [](sim::EmulatedInterface& e) {
        EXPECT_FALSE(e.State().shutterOpen);
    });
}

TEST_F(ContinuousRunTest, PulledCableAndSpoiltFrameEndTheRunAndSaySo) {
    {
        // One frame per 0.5 s (time enough, even under a sanitizer, to cut the link before
        // the next is sent); the last one is cut on the way and never arrives whole.
        ContinuousRun run(handle, kChipPixels);
        std::string error;
        ASSERT_TRUE(run.Start({4, 0.005, 0.5}, error)) << error;
        int frames = 0;
        const auto take = [&](const ArrivedFrame&) {
            if (++frames == 3)
                emulator->WithLink(0, [](sim::LinkModel& link) { link.CutNext(1000); });
        };
        ContinuousRun::Next next;
        while ((next = run.Wait(take, {}, error)) == ContinuousRun::Next::kFrame) {
        }
        EXPECT_EQ(next, ContinuousRun::Next::kFailed);
        EXPECT_EQ(frames, 3);
        EXPECT_EQ(error, "The interface ended the run after 3 frames of 4: 1 frame lost.");
    }
    ContinuousRun run(handle, kChipPixels);
    std::string error;
    ASSERT_TRUE(run.Start({100, 0.005, 0}, error)) << error;
    int frames = 0;
    const auto take = [&](const ArrivedFrame&) {
        if (++frames == 3) emulator->SetPlugged(0, false);
    };
    ContinuousRun::Next next;
    while ((next = run.Wait(take, {}, error)) == ContinuousRun::Next::kFrame) {
    }
    EXPECT_EQ(next, ContinuousRun::Next::kFailed);
    EXPECT_EQ(error, "The interface stopped answering.");
    EXPECT_LT(frames, 100);
}

TEST_F(ContinuousRunTest, RequestsBeyondTheCountersAreRefused) {
    ContinuousRun run(handle, kChipPixels);
    std::string error;
    EXPECT_FALSE(run.Start({kMaxContinuousFrames + 1, 0.01, 0}, error));
    EXPECT_NE(error.find("frames"), std::string::npos);
    EXPECT_FALSE(run.Start({10, 0, 0}, error));
    EXPECT_FALSE(run.Start({10, 1e9, 0}, error));
    EXPECT_FALSE(run.Start({10, 0.01, -1}, error));
}

}  // namespace
}  // namespace ulvarin::process
