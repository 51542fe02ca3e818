// A continuous run written through a file slower than the interface: the acquisition keeps
// its pace, the file gets what it can in order with each frame's number, and what it could
// not take is counted; a file that fails ends the run with the writer's reason.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "standard_drivers/emulator_driver.h"
#include "session/frame_runs.h"
#include "device/drivers/driver_registry.h"

namespace ulvarin::cli {
namespace {

class SlowWriter final : public FrameWriter {
public:
    explicit SlowWriter(int failAt = 0) : failAt_(failAt) {}
    bool Append(std::span<const int32_t>, const FrameInfo& info) override {
        if (frames_ + 1 == failAt_) {
            error_ = "disk full";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        numbers.push_back(info.number);
        ++frames_;
        return true;
    }
    bool Close() override { return true; }
    std::vector<int64_t> numbers;

private:
    int failAt_;
};

class AcquireRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallDriver(MakeEmulatorDriver("medipix2:1"));  // a link without a rate limit
        std::string error;
        ASSERT_TRUE(session.Open("Medipix2 ver 3.0 : Emulator Medipix2 x1", error)) << error;
    }
    void TearDown() override { InstallDriver(nullptr); }

    InterfaceSession session;
    const StopFlag stop = 0;
};

TEST_F(AcquireRunTest, AFileThatCannotKeepUpLosesFramesItselfNeverTheRun) {
    SlowWriter writer;
    // Room for one frame waiting: frames come every 2 ms, the file takes one per 15 ms.
    const AcquireRequest request{60, 0.001, 0, 1};
    int lastProgress = 0;
    const RunOutcome outcome =
        RunAcquire(session, writer, request, [&](int taken) { lastProgress = taken; }, stop);
    EXPECT_EQ(outcome.end, RunEnd::kDone) << outcome.error;
    EXPECT_EQ(lastProgress, 60) << "every frame was taken from the interface";
    EXPECT_GT(outcome.dropped, 0);
    EXPECT_EQ(outcome.frames + outcome.dropped, 60);
    ASSERT_EQ(static_cast<int>(writer.numbers.size()), outcome.frames);
    EXPECT_EQ(writer.numbers.front(), 1);
    for (size_t i = 1; i < writer.numbers.size(); ++i)
        EXPECT_GT(writer.numbers[i], writer.numbers[i - 1]) << i;
}

TEST_F(AcquireRunTest, AFailingFileEndsTheRunWithItsReason) {
    SlowWriter writer(3);
    const RunOutcome outcome = RunAcquire(session, writer, {1000, 0.001, 0}, {}, stop);
    EXPECT_EQ(outcome.end, RunEnd::kWriteFailed);
    EXPECT_EQ(outcome.error, "disk full");
    EXPECT_EQ(outcome.frames, 2);
}

}  // namespace
}  // namespace ulvarin::cli
