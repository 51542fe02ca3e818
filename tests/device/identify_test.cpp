#include "device/identify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/link.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

class IdentifyTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        RecordReports();
        OpenSoft("Medipix2 ver 3.0 : Ident", 0, false);
    }
    // Answers the reset command with its acknowledgement and then `line`.
    void ResetAnswer(const std::string& line) { peer->ReplyToWrite("_OK\r" + line); }
    DeviceDescr& d() { return *handle.device; }
};

TEST_F(IdentifyTest, RepeatedPrefixCountsRetriesAndPlainReportGivesChipCount) {
    ResetAnswer("!Unit is on line. !Unit is on line. Medipix chips: 2 Ready\r");
    EXPECT_TRUE(ResetInterface(handle));
    EXPECT_EQ(peer->Written(), "_");
    EXPECT_EQ(d().chipCount, 2);
    EXPECT_FALSE(d().isMxr);
    EXPECT_FALSE(d().isTimepix);
    EXPECT_TRUE(HasReport(1, "1 retries needed to reset the interface."));
}

TEST_F(IdentifyTest, TypedReportsSetTheFamily) {
    ResetAnswer("!Unit is on line. Medipix TPX chips: 4 Medipix chips: 4 Ready\r");
    EXPECT_TRUE(ResetInterface(handle));
    EXPECT_EQ(d().chipCount, 4);
    EXPECT_TRUE(d().isMxr);
    EXPECT_TRUE(d().isTimepix);

    d().isMxr = d().isTimepix = false;
    ResetAnswer("!Unit is on line. Medipix MXR chips: 2 Medipix chips: 2 Ready\r");
    EXPECT_TRUE(ResetInterface(handle));
    EXPECT_TRUE(d().isMxr);
    EXPECT_FALSE(d().isTimepix);

    d().isMxr = false;
    ResetAnswer("!Unit is on line. Medipix ABC chips: 3 Medipix chips: 3 Ready\r");
    EXPECT_TRUE(ResetInterface(handle));
    EXPECT_EQ(d().chipCount, 3);
    EXPECT_FALSE(d().isMxr);

    ResetAnswer("!Unit is on line. Medipix chips: 1\r");  // no "Ready": the number suffices
    EXPECT_TRUE(ResetInterface(handle));
    EXPECT_EQ(d().chipCount, 1);
}

TEST_F(IdentifyTest, BadLinesAreReportedAsFormatErrors) {
    ResetAnswer("Hello\r");
    EXPECT_FALSE(ResetInterface(handle));
    EXPECT_TRUE(HasReport(9, "Reset command failed. Bad response format: Hello"));

    ResetAnswer("!Unit is on line. Chips: 2\r");
    EXPECT_FALSE(ResetInterface(handle));
    EXPECT_TRUE(HasReport(9, "Reset command failed. Bad response format: !Unit is on line. Chips: 2"));

    ResetAnswer("!Unit is on line. Medipix chips: 77 Ready\r");  // more chips than exist
    EXPECT_FALSE(ResetInterface(handle));
}

TEST_F(IdentifyTest, MissingLineClearsChipCountAndIsAnError) {
    d().chipCount = 2;
    ResetAnswer("");
    EXPECT_FALSE(ResetInterface(handle));
    EXPECT_EQ(d().chipCount, 0);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().text, "Reset command failed. Bad response.");
    EXPECT_GT(reports.back().kind, 1);
}

// Chip ID record bytes as they travel: bits of bytes 1..3 reversed.
std::string ChipRecord(uint8_t b1, uint8_t b2, uint8_t b3) {
    return std::string{'\0', static_cast<char>(b1), static_cast<char>(b2), static_cast<char>(b3)};
}

TEST_F(IdentifyTest, ChipIdsFormatEntriesAndSetFamilyFlags) {
    d().chipCount = 2;
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0x00, 0x00) + ChipRecord(0, 0, 0) + "OK\r");
    char text[64];
    EXPECT_TRUE(ReadChipIds(handle, text, sizeof text));
    EXPECT_STREQ(text, "A12-W0000 000-W000");
    EXPECT_TRUE(d().isMxr);
    EXPECT_FALSE(d().isTimepix);

    // Reversed byte 3 with bit 3 set (0x10 on the wire) marks a Timepix; wafer bits too.
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0x80, 0x90) + ChipRecord(0, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, 10));
    EXPECT_STREQ(text, "A12-W0257");  // 9 characters and a NUL fit in 10
    EXPECT_STREQ(d().chipIdText, "A12-W0257 000-W000");
    EXPECT_TRUE(d().isTimepix);

    d().isMxr = d().isTimepix = true;
    peer->ReplyToWrite("|" + ChipRecord(0, 0, 0) + ChipRecord(0, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, sizeof text));
    EXPECT_FALSE(d().isMxr);
    EXPECT_FALSE(d().isTimepix);
}

TEST_F(IdentifyTest, ShortChipIdResponseIsAFramingError) {
    d().chipCount = 2;
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0, 0) + "\x01");
    peer->ReplyToWrite(" 1234567890qwertyuiopasdfghjklzxcvbnmOK\r");
    peer->ReplyToWrite(" 1234567890qwertyuiopasdfghjklzxcvbnmOK\r");
    peer->ReplyToWrite(" 1234567890qwertyuiopasdfghjklzxcvbnmOK\r");
    char text[64] = "unchanged";
    std::strcpy(d().chipIdText, "before");
    EXPECT_FALSE(ReadChipIds(handle, text, sizeof text));
    EXPECT_TRUE(HasReport(9, "Reception of chip ID failed.. Resynchronization OK."));
    EXPECT_STREQ(d().chipIdText, "before");
}

TEST_F(IdentifyTest, VersionTextIsCutToTheBuffer) {
    peer->ReplyToWrite("iInterface firmware 3.14\rOK\r");
    char text[12];
    EXPECT_TRUE(ReadVersionInfo(handle, text, sizeof text));
    EXPECT_STREQ(text, "Interface f");
}

}  // namespace
}  // namespace ulvarin::test
