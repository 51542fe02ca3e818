// The interface with the dummy chipboard in place of the detector: the CMOS pins read back
// through "CMOS settings", the LVDS loop that only closes with enable in, and the I2C lines
// read back as driven unless the board holds one low.
#include <gtest/gtest.h>

#include <string>

#include "timed_interface.h"

namespace ulvarin::sim::test {
namespace {

using namespace std::string_literals;

TEST(DummyBoard, CmosPinsAreKeptAndReadBackUntilAChipReset) {
    TimedInterface t(ChipFamily::kMedipix2);
    EXPECT_EQ(t.Ask("I\xA5"), "IOK\r");
    EXPECT_EQ(t.e.State().cmos, 0xA5);
    EXPECT_EQ(t.Ask("n"), "n\xA5OK\r");
    EXPECT_EQ(t.Ask("R"), "ROK\r");
    EXPECT_EQ(t.Ask("n"), "n\0OK\r"s);
}

TEST(DummyBoard, LvdsLoopsTheByteBackOnlyWithEnableIn) {
    TimedInterface t(ChipFamily::kTimepix, 2);
    EXPECT_EQ(t.Ask(":\x08\x01\xAA"), ":\xAA\x01OK\r");
    EXPECT_EQ(t.Ask(":\x0C\x01\x00"s), ":\0\x01OK\r"s);
    // Receiver off: nothing comes back and enable out drops, whatever polarity and phase.
    EXPECT_EQ(t.Ask(":\x0C\x00\xFF"s), ":\0\0OK\r"s);
    EXPECT_EQ(t.Ask(":\x00\x00\x55"s), ":\0\0OK\r"s);
}

TEST(DummyBoard, I2cLinesReadBackLessTheOnesHeldLowEvenAcrossAReset) {
    TimedInterface t(ChipFamily::kMxr);
    for (const char lines : {'\0', '\1', '\2', '\3'})
        EXPECT_EQ(t.Ask("'"s + lines), "'"s + lines + "OK\r");
    EXPECT_EQ(t.Ask("'\x83"), "'\x03OK\r") << "only the two line bits are driven";

    t.e.HoldI2cLow(0x02);  // SDA stuck low
    EXPECT_EQ(t.Ask("'\x03"), "'\x01OK\r");
    EXPECT_EQ(t.Ask("'\x02"), "'\0OK\r"s);
    t.Ask("_");
    t.Wait(1.0);
    t.Answers();
    EXPECT_EQ(t.Ask("'\x03"), "'\x01OK\r") << "a board fault outlives the interface's reset";

    t.e.HoldI2cLow(0x01);  // SCL instead
    EXPECT_EQ(t.Ask("'\x03"), "'\x02OK\r");
    t.e.HoldI2cLow(0);
    EXPECT_EQ(t.Ask("'\x03"), "'\x03OK\r");
}

}  // namespace
}  // namespace ulvarin::sim::test
