#include "device/monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/clock.h"
#include "device/link.h"
#include "device/protocol.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

class MonitorTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        RecordReports();
        SetBackgroundHook(
            [](MpxDevice&, MpxCommandResponse& r, void* user) {
                if (r.letter == '=') ++*static_cast<std::atomic<int>*>(user);
            },
            &seen);
    }
    void TearDown() override {
        StopMonitor();
        SetBackgroundHook(nullptr, nullptr);
        DeviceTest::TearDown();
    }
    // Waits up to `seconds` for `n` hook calls.
    bool AwaitSeen(int n, double seconds) {
        const double until = Now() + seconds;
        while (seen < n && Now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return seen >= n;
    }
    std::atomic<int> seen{0};
};

TEST_F(MonitorTest, ReadsUnaskedMessagesAndStopsTwice) {
    OpenSoft();
    ASSERT_TRUE(StartMonitor());
    ASSERT_TRUE(StartMonitor());  // a second start keeps the one thread
    peer->Play("=OK\r");
    EXPECT_TRUE(AwaitSeen(1, 2.0));
    EXPECT_TRUE(IsMonitorRunning());
    EXPECT_TRUE(StopMonitor());
    EXPECT_FALSE(IsMonitorRunning());
    double start = Now();
    EXPECT_TRUE(StopMonitor());
    EXPECT_LT(Now() - start, 0.05);
}

TEST_F(MonitorTest, CommandResponsesAreNeverTakenByTheThread) {
    OpenSoft();
    ASSERT_TRUE(StartMonitor());
    int ok = 0;
    for (int i = 0; i < 20; ++i) {
        peer->Play("[=OK\r]");  // unasked, may be read by either side
        peer->ReplyToWrite("xOK\r", 0.002);
        MpxCommandResponse record;
        if (ExecuteCommand(handle, record, "x", 0, 0.5)) ++ok;
    }
    EXPECT_EQ(ok, 20);
    EXPECT_TRUE(AwaitSeen(20, 2.0));  // every unasked message reached the hook once
    StopMonitor();
    EXPECT_EQ(seen, 20);
}

TEST_F(MonitorTest, EmptyRegistryIsSweptQuietly) {
    ASSERT_TRUE(StartMonitor());
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_TRUE(IsMonitorRunning());
    EXPECT_TRUE(StopMonitor());
    EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace ulvarin::test
