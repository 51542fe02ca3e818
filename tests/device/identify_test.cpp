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
        OpenSoft("Medipix2 ver 3.0 : Ident", 1, false);
        d().chipCount = 0;  // unknown until the reset reports them
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
    EXPECT_TRUE(
        HasReport(9, "Reset command failed. Bad response format: !Unit is on line. Chips: 2"));

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

TEST_F(IdentifyTest, ChipIdsFormatEntriesOfTheInterfacesFamily) {
    d().chipCount = 2;
    d().isMxr = true;
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0x00, 0x00) + ChipRecord(0, 0, 0) + "OK\r");
    char text[64];
    EXPECT_TRUE(ReadChipIds(handle, text, sizeof text));
    EXPECT_STREQ(text, "A12-W0000 000-W000");

    // Reversed byte 3 with bit 3 set (0x10 on the wire) marks a Timepix; wafer bits too.
    d().isTimepix = true;
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0x80, 0x90) + ChipRecord(0, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, 10));
    EXPECT_STREQ(text, "A12-W0257");  // 9 characters and a NUL fit in 10
    EXPECT_STREQ(d().chipIdText, "A12-W0257 000-W000");

    // All zeros name no family (as Medipix2 chips answer): accepted, the family stays.
    peer->ReplyToWrite("|" + ChipRecord(0, 0, 0) + ChipRecord(0, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, sizeof text));
    EXPECT_TRUE(d().isMxr);
    EXPECT_TRUE(d().isTimepix);
}

// The copy fills the buffer up to its capacity with the text and NULs and writes nothing
// beyond it: a negative capacity means 64, and 0 copies nothing.
TEST_F(IdentifyTest, ChipIdCopyHonoursTheCapacity) {
    d().chipCount = 1;
    d().isMxr = true;
    char text[80];
    std::memset(text, 'x', sizeof text);
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, -1));
    EXPECT_STREQ(text, "A12-W0000");
    EXPECT_EQ(std::string(text + 9, 55), std::string(55, '\0'));
    EXPECT_EQ(std::string(text + 64, 16), std::string(16, 'x'));

    std::memset(text, 'x', sizeof text);
    peer->ReplyToWrite("|" + ChipRecord(0x80, 0, 0) + "OK\r");
    EXPECT_TRUE(ReadChipIds(handle, text, 0));
    EXPECT_EQ(std::string(text, sizeof text), std::string(sizeof text, 'x'));
    EXPECT_STREQ(d().chipIdText, "A12-W0000");
}

// One spoilt byte must not turn the open interface into another family: a Medipix2 double
// taken for MXR, or MXR and Timepix swapped, would lay every later command out wrongly.
TEST_F(IdentifyTest, CodesOfAnotherFamilyAreRefused) {
    d().chipCount = 2;
    std::strcpy(d().chipIdText, "before");
    char text[64] = "unchanged";
    struct Case {
        bool mxr, timepix;
        uint8_t code3;  // on the wire; 0x10 marks a Timepix
        const char* report;
    };
    for (const Case& c : {Case{false, false, 0x00, "names MXR chips, the interface has Medipix2"},
                          Case{true, false, 0x10, "names Timepix chips, the interface has MXR"},
                          Case{true, true, 0x00, "names MXR chips, the interface has Timepix"}}) {
        d().isMxr = c.mxr;
        d().isTimepix = c.timepix;
        peer->ReplyToWrite("|" + ChipRecord(0x80, 0, c.code3) + ChipRecord(0, 0, 0) + "OK\r");
        EXPECT_FALSE(ReadChipIds(handle, text, sizeof text)) << c.report;
        EXPECT_EQ(d().isMxr, c.mxr);
        EXPECT_EQ(d().isTimepix, c.timepix);
        EXPECT_STREQ(d().chipIdText, "before");
        EXPECT_STREQ(text, "unchanged");
        ASSERT_FALSE(reports.empty());
        EXPECT_NE(reports.back().text.find(c.report), std::string::npos) << reports.back().text;
        EXPECT_EQ(reports.back().kind, kDeviceError);
    }
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
