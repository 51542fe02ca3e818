// The device layer over a faulty link to an emulated interface: every spoiled response ends
// in its report within the deadlines, and the next command finds the link in step again;
// a pulled cable fails commands at once without hanging.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"

namespace ulvarin {
namespace {

struct Report {
    int kind;
    std::string text;
};

class DeviceOverFaultyLink : public ::testing::Test {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("mxr:1");
        InstallDriver(emulator);
        SetReportHook(
            [](MpxDevice& h, void* self) {
                static_cast<DeviceOverFaultyLink*>(self)->reports.push_back({h.reportKind, h.reportText});
                h.Clear();
            },
            this);
        handle.device = OpenDevice(emulator->Description(0).c_str(), true, false, 0);
        ASSERT_NE(handle.device, nullptr);
        ASSERT_EQ(ChipCount(handle), 1);
        reports.clear();
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }
    void Arm(const std::function<void(sim::LinkModel&)>& fault) { emulator->WithLink(0, fault); }
    bool Reported(int kind, const std::string& text) const {
        for (const Report& r : reports)
            if (r.kind == kind && r.text == text) return true;
        return false;
    }
    // Runs `command`, expecting it to fail within `seconds`, and then a plain command to
    // succeed on the same link.
    void ExpectFailureThenRecovery(const std::function<bool()>& command, double seconds) {
        const double start = Now();
        EXPECT_FALSE(command());
        EXPECT_LT(Now() - start, seconds);
        EXPECT_TRUE(PowerOn(handle)) << "the link is back in step";
    }

    std::shared_ptr<EmulatorDriver> emulator;
    MpxDevice handle;
    std::vector<Report> reports;
    std::vector<uint16_t> pixels = std::vector<uint16_t>(kChipPixels);
};

TEST_F(DeviceOverFaultyLink, FrameCutShort) {
    Arm([](sim::LinkModel& link) { link.CutNext(50000); });
    ExpectFailureThenRecovery([&] { return ReadMatrix(handle, pixels.data(), pixels.size()); },
                              3.5);
    EXPECT_TRUE(Reported(9, "Reception of timed frame stream failed - not enough data.. "
                            "Resynchronization OK."));
}

TEST_F(DeviceOverFaultyLink, CorruptedLetterOfAFrame) {
    Arm([](sim::LinkModel& link) { link.CorruptNext(0, 0x01); });  // 'm' arrives as 'l'
    ExpectFailureThenRecovery([&] { return ReadMatrix(handle, pixels.data(), pixels.size()); },
                              4.0);
    EXPECT_TRUE(ReadMatrix(handle, pixels.data(), pixels.size()));
}

TEST_F(DeviceOverFaultyLink, CorruptedTerminator) {
    Arm([](sim::LinkModel& link) { link.CorruptNext(2, 0x20); });  // "xOK\r" -> "xOk\r"
    ExpectFailureThenRecovery([&] { return PowerOn(handle); }, 3.5);
    EXPECT_TRUE(Reported(9, "Missing response terminator.. Resynchronization OK."));
}

TEST_F(DeviceOverFaultyLink, GarbageBeforeTheResponse) {
    Arm([](sim::LinkModel& link) { link.InsertNext(0, {0x01, 0x02}); });
    ExpectFailureThenRecovery([&] { return PowerOff(handle); }, 3.5);
    EXPECT_TRUE(Reported(9, "Unknown response received.. Resynchronization OK."));
}

TEST_F(DeviceOverFaultyLink, LostLetterMakesTheRestAnotherResponse) {
    Arm([](sim::LinkModel& link) { link.DropNext(1); });  // "xOK\r" arrives as "OK\r"
    ExpectFailureThenRecovery([&] { return PowerOn(handle); }, 4.0);
    EXPECT_FALSE(reports.empty());
}

TEST_F(DeviceOverFaultyLink, StalledResponseTimesOutAndIsSkippedBySynchronization) {
    Arm([](sim::LinkModel& link) {
        link.StallUntil(sim::Clock::now() + std::chrono::milliseconds(900));
    });
    ExpectFailureThenRecovery([&] { return PowerOn(handle); }, 3.0);
    EXPECT_TRUE(Reported(11, "Timeout. Not received response to 'x' [0x78] = \"Medipix power "
                             "ON\". Resynchronization OK."));
}

TEST_F(DeviceOverFaultyLink, PulledCableFailsCommandsAtOnce) {
    emulator->SetPlugged(0, false);
    const double start = Now();
    EXPECT_FALSE(PowerOn(handle));
    EXPECT_FALSE(ReadMatrix(handle, pixels.data(), pixels.size()));
    EXPECT_LT(Now() - start, 1.0);
    EXPECT_FALSE(IsAlive(handle));
    EXPECT_EQ(reports.front().kind, 4);
    EXPECT_EQ(reports.front().text, "Can't transmit - IO error");
    EXPECT_TRUE(CloseDevice(handle, true));
}

}  // namespace
}  // namespace ulvarin
