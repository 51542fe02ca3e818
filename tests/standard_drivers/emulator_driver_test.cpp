// The emulator behind the driver seam: listing, opening, handles, unplugging, threads.
#include <gtest/gtest.h>

#include <thread>

#include "tests/sim/emulator_link.h"

namespace ulvarin::sim::test {
namespace {

std::vector<std::string> Listed(EmulatorDriver& driver) {
    uint32_t count = 0;
    EXPECT_EQ(driver.CreateDeviceInfoList(count), FT_OK);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        char description[kFtStringSize];
        EXPECT_EQ(driver.GetDeviceInfoDetail(i, description), FT_OK);
        names.emplace_back(description);
    }
    return names;
}

TEST(EmulatorSet, ParsesFamiliesAndChipCountsIgnoringCase) {
    auto driver = MakeEmulatorDriver(" TimePix:4, mxr:2 ,Medipix2");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(Listed(*driver),
              (std::vector<std::string>{"Medipix2 ver 3.0 : Emulator Timepix x4",
                                        "Medipix2 ver 3.0 : Emulator MXR x2",
                                        "Medipix2 ver 3.0 : Emulator Medipix2 x1"}));
    EXPECT_EQ(MakeEmulatorDriver("off"), nullptr);
    EXPECT_EQ(MakeEmulatorDriver("OFF"), nullptr);
    EXPECT_EQ(Listed(*MakeEmulatorDriver("")), Listed(*driver)) << "empty means the default set";
    EXPECT_EQ(Listed(*MakeEmulatorDriver("mxr:0,tpx:2,mxr:5,timepix:x,mxr:3")),
              std::vector<std::string>{"Medipix2 ver 3.0 : Emulator MXR x3"});
}

TEST(EmulatorSet, RepeatedInterfacesGetDistinctDescriptionsAndSerials) {
    auto driver = MakeEmulatorDriver("mxr:2,mxr:2");
    const auto names = Listed(*driver);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    std::vector<std::string> serials;
    for (const std::string& name : names) {
        EXPECT_TRUE(name.starts_with("Medipix2 ")) << name;
        EXPECT_NE(name.find(": "), std::string::npos) << name;
        EXPECT_LE(name.size(), 63u);
        FtHandle handle = nullptr;
        ASSERT_EQ(driver->OpenEx(name.c_str(), handle), FT_OK);
        uint32_t type = 0, id = 0;
        char serial[kFtStringSize], description[kFtStringSize];
        ASSERT_EQ(driver->GetDeviceInfo(handle, type, id, serial, description), FT_OK);
        EXPECT_EQ(description, name);
        serials.emplace_back(serial);
    }
    EXPECT_EQ(serials, (std::vector<std::string>{"EMU0001", "EMU0002"}));
}

TEST(EmulatorHandles, OneOpenAtATimeAndClosedHandlesAreInvalid) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kTimepix, 1)});
    link.Open();
    FtHandle second = nullptr;
    EXPECT_EQ(link.driver.OpenEx(link.driver.Description(0).c_str(), second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(link.driver.OpenEx("Medipix2 ver 3.0 : Emulator Nothing", second),
              FT_DEVICE_NOT_FOUND);

    ASSERT_EQ(link.driver.Close(link.handle), FT_OK);
    uint32_t count = 0, written = 0;
    EXPECT_EQ(link.driver.GetStatus(link.handle, count), FT_INVALID_HANDLE);
    EXPECT_EQ(link.driver.Write(link.handle, " ", 1, written), FT_INVALID_HANDLE);
    EXPECT_EQ(link.driver.Close(link.handle), FT_INVALID_HANDLE);
    link.driver.WaitForData(link.handle, 30.0);  // returns at once on a dead handle

    EXPECT_EQ(link.driver.OpenEx(link.driver.Description(0).c_str(), second), FT_OK);
    EXPECT_NE(second, link.handle) << "a new open must not revive the closed handle";
}

TEST(EmulatorHandles, StatusCountsExactlyAndPurgeDropsWhatIsWaiting) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMedipix2, 1)});
    link.Open();
    link.Send("  #");
    EXPECT_EQ(link.Waiting(), 2 * kSyncAnswer.size() + 5);
    EXPECT_EQ(link.Receive(3), " 12");
    EXPECT_EQ(link.Waiting(), 2 * kSyncAnswer.size() + 2);
    ASSERT_EQ(link.driver.Purge(link.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(link.Waiting(), 0u);
    link.Send("#");
    EXPECT_EQ(link.Receive(6, 200), "#\x01OK\r") << "a short read returns what arrived";
}

TEST(EmulatorHandles, UnpluggedInterfaceFailsIoAndLeavesTheList) {
    EmulatorLink link(
        {MakeInterfaceConfig(ChipFamily::kMxr, 2), MakeInterfaceConfig(ChipFamily::kMedipix2, 1)});
    link.Open(0);
    link.Emulated().Chip(0).counts[0] = 7;
    link.driver.SetPlugged(0, false);

    uint32_t count = 0, done = 0;
    char byte = 0;
    EXPECT_EQ(link.driver.GetStatus(link.handle, count), FT_IO_ERROR);
    EXPECT_EQ(link.driver.Read(link.handle, &byte, 1, done), FT_IO_ERROR);
    EXPECT_EQ(link.driver.Write(link.handle, " ", 1, done), FT_IO_ERROR);
    EXPECT_EQ(Listed(link.driver), std::vector<std::string>{link.driver.Description(1)});
    FtHandle again = nullptr;
    EXPECT_EQ(link.driver.OpenEx(link.driver.Description(0).c_str(), again), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(link.driver.Close(link.handle), FT_OK);

    // Plugged back in, it powers up afresh and opens again; the old handle stays dead.
    link.driver.SetPlugged(0, true);
    EXPECT_EQ(Listed(link.driver).size(), 2u);
    ASSERT_EQ(link.driver.OpenEx(link.driver.Description(0).c_str(), again), FT_OK);
    EXPECT_EQ(link.Emulated().Chip(0).counts[0], DefaultCount(0, 0, 0));
    EXPECT_EQ(link.driver.GetStatus(link.handle, count), FT_INVALID_HANDLE);
}

// A reader that is not woken would sit out its ten-minute timeout and trip the test timeout.
TEST(EmulatorHandles, UnplugWakesAReaderWaitingInAnotherThread) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kTimepix, 1)});
    link.Open();
    ASSERT_EQ(link.driver.SetTimeouts(link.handle, 600'000, 1000), FT_OK);
    FtStatus status = FT_OK;
    std::thread reader([&] {
        char byte = 0;
        uint32_t got = 0;
        status = link.driver.Read(link.handle, &byte, 1, got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    link.driver.SetPlugged(0, false);
    reader.join();
    EXPECT_EQ(status, FT_IO_ERROR);
}

}  // namespace
}  // namespace ulvarin::sim::test
