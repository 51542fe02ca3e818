// The host-to-interface side of the emulated link: a write cut part way, and what the
// interface does with a command whose parameters stop arriving (it keeps waiting, and takes
// whatever comes next as the rest).
#include <gtest/gtest.h>

#include "emulator_link.h"

namespace ulvarin::sim::test {
namespace {

using namespace std::chrono_literals;

void CutNextWrite(EmulatorLink& link, size_t accept, bool failed) {
    link.driver.WithLink(link.interface, [&](LinkModel& l) { l.CutNextWrite(accept, failed); });
}

uint32_t Write(EmulatorLink& link, std::string_view bytes, FtStatus expected) {
    uint32_t written = 99;
    EXPECT_EQ(
        link.driver.Write(link.handle, bytes.data(), static_cast<uint32_t>(bytes.size()), written),
        expected);
    return written;
}

TEST(WriteFaults, OnlyTheNextWriteIsCutWithErrorOrShortCount) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 1)});
    link.Open();
    CutNextWrite(link, 1, true);
    EXPECT_EQ(Write(link, "##", FT_IO_ERROR), 1u);
    EXPECT_EQ(link.Receive(5), "#\x01OK\r");  // the first '#' went through
    EXPECT_EQ(Write(link, "#", FT_OK), 1u);   // the fault is gone
    EXPECT_EQ(link.Receive(5), "#\x01OK\r");

    CutNextWrite(link, 0, false);  // a write that timed out before anything went
    EXPECT_EQ(Write(link, "#", FT_OK), 0u);
    EXPECT_EQ(link.Receive(1, 100), "");

    CutNextWrite(link, 10, true);  // more allowed than written: all goes, error all the same
    EXPECT_EQ(Write(link, "#", FT_IO_ERROR), 1u);
    EXPECT_EQ(link.Receive(5), "#\x01OK\r");
}

TEST(WriteFaults, UnpluggingDisarmsThem) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 1)});
    link.driver.WithLink(0, [](LinkModel& l) { l.CutNextWrite(0, true); });
    link.driver.SetPlugged(0, false);
    link.driver.SetPlugged(0, true);
    link.Open();
    EXPECT_EQ(Write(link, "#", FT_OK), 1u);
}

TEST(UnfinishedCommand, WaitsThroughSilenceAndTakesTheNextBytesAsItsParameters) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMedipix2, 1)});
    link.Open();
    const std::string dacs(33, '\x05');
    CutNextWrite(link, 20, true);
    Write(link, "d" + dacs, FT_IO_ERROR);
    EXPECT_EQ(link.Emulated().PendingCommandBytes(), 20u);
    // No timeout between parameter bytes: still waiting after a silence.
    EXPECT_EQ(link.Receive(1, 200), "");
    EXPECT_EQ(link.Emulated().PendingCommandBytes(), 20u);
    // The synchronisation packet and a command letter become parameters, unanswered.
    link.Send(" #");
    EXPECT_EQ(link.Receive(1, 100), "");
    EXPECT_EQ(link.Emulated().PendingCommandBytes(), 22u);
    // Once the count is made up the command is performed (its implausible stream refused),
    // answered, and the link is in step again.
    link.Send(std::string(12, '\0') + " ");
    const std::string answer = std::string("d\0\0OK\r", 6) + kSyncAnswer;
    EXPECT_EQ(link.Receive(1000, 300), "!DAC stream rejected\r" + answer);
    EXPECT_EQ(link.Emulated().PendingCommandBytes(), 0u);
}

}  // namespace
}  // namespace ulvarin::sim::test
