#include "device/background_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "device/clock.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

class BackgroundReaderTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        SetBackgroundHook(
            [](MpxDevice&, MpxCommandResponse& r, void* user) {
                auto* self = static_cast<BackgroundReaderTest*>(user);
                if (r.letter == '=') ++self->seen;
                if (std::this_thread::get_id() != self->testThread) self->onOtherThread = true;
            },
            this);
    }
    void TearDown() override {
        reader.reset();
        SetBackgroundHook(nullptr, nullptr);
        DeviceTest::TearDown();
    }
    bool AwaitSeen(int n, double seconds) {
        const double until = Now() + seconds;
        while (seen < n && Now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return seen >= n;
    }
    // CPU seconds the whole process uses while the test thread sleeps `seconds`.
    static double CpuWhileSleeping(double seconds) {
        const double before = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return CpuSeconds() - before;
    }

    std::unique_ptr<BackgroundReader> reader = std::make_unique<BackgroundReader>();
    std::atomic<int> seen{0};
    std::atomic<bool> onOtherThread{false};
    std::thread::id testThread = std::this_thread::get_id();
};

// Unasked messages come in on the reader's thread without anyone asking, while commands on
// another thread still get their own answers, and an idle wait costs no CPU.
TEST_F(BackgroundReaderTest, TakesUnaskedMessagesAsTheyComeAndLeavesAnswersToTheirCommands) {
    OpenSoft();
    reader->Follow(handle.device);
    EXPECT_LT(CpuWhileSleeping(0.4), 0.1) << "an idle interface is waited on, not polled";
    peer->Play("=OK\r", 0.05);
    EXPECT_TRUE(AwaitSeen(1, 2.0));
    EXPECT_TRUE(onOtherThread);
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        peer->Play("[=OK\r]");
        peer->ReplyToWrite("xOK\r", 0.002);
        MpxCommandResponse record;
        if (ExecuteCommand(handle, record, "x", 0, 0.5)) ++answered;
    }
    EXPECT_EQ(answered, 20);
    EXPECT_TRUE(AwaitSeen(21, 2.0));
    reader->Follow(nullptr);
    peer->Play("=OK\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(seen, 21) << "an interface no longer followed is not read";
    EXPECT_EQ(QueueDepth(handle), 4u);
}

// A link that fails is reported so the program can react, and a closed interface is let
// go: neither is asked again in a loop, and the reader stops at once when destroyed.
TEST_F(BackgroundReaderTest, AFailedLinkOrAClosedInterfaceIsRestedOnNotPolled) {
    RecordReports();
    OpenSoft();
    reader->Follow(handle.device);
    peer->FailAlways("GetStatus", FT_IO_ERROR);
    EXPECT_LT(CpuWhileSleeping(0.4), 0.1);
    peer->FailAlways("GetStatus", FT_OK);
    MpxDevice closing(handle.device);
    ASSERT_TRUE(CloseDevice(closing, true));
    EXPECT_LT(CpuWhileSleeping(0.3), 0.1);
    const double start = Now();
    reader.reset();
    EXPECT_LT(Now() - start, 0.5);
    int failures = 0;
    for (const RecordedReport& r : reports) failures += r.kind == kNotResponding;
    EXPECT_GE(failures, 1);
    EXPECT_LE(failures, 12) << "about one report per rest, not one per loop";
}

}  // namespace
}  // namespace ulvarin::test
