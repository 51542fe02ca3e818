#include "device/chip_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

bool BitAt(const std::string& bytes, size_t offset, int position) {
    return (static_cast<uint8_t>(bytes[offset + position / 8]) & (0x80 >> (position % 8))) != 0;
}

// Positions of the set bits of a 32-byte block starting at `offset`.
std::vector<int> SetBits(const std::string& bytes, size_t offset) {
    std::vector<int> bits;
    for (int p = 0; p < 256; ++p)
        if (BitAt(bytes, offset, p)) bits.push_back(p);
    return bits;
}

class ChipCommandsTest : public DeviceTest {
protected:
    // Opens softly and sets the family flags (and no chips) as a reset would.
    void Open(int chips, bool mxr, bool timepix) {
        OpenSoft("Medipix2 ver 3.0 : Chips", static_cast<uint8_t>(std::max(chips, 1)), mxr);
        handle.device->isTimepix = timepix;
        handle.device->chipCount = static_cast<uint8_t>(chips);
    }
    std::string SendDacs(const std::vector<ChipDacRecord>& records) {
        peer->ReplyToWrite(std::string("d\0\0OK\r", 6));
        peer->ReplyToWrite(std::string("d\0\0OK\r", 6));
        peer->ReplyToWrite(std::string("d\0\0OK\r", 6));
        EXPECT_TRUE(SetChipDacs(handle, records.data()));
        return peer->Written();
    }
};

TEST_F(ChipCommandsTest, SingleMedipix2DacWordHasExactBits) {
    Open(1, false, false);
    ChipDacRecord r;
    r.dac[0] = 1;
    r.senseEnabled = 1;
    r.senseCode = 0;
    std::string sent = SendDacs({r});
    ASSERT_EQ(sent.size(), 34u);
    EXPECT_EQ(sent[0], 'd');
    EXPECT_EQ(static_cast<uint8_t>(sent[1]), 0xFF);
    EXPECT_EQ(SetBits(sent, 2), (std::vector<int>{213, 252}));
    EXPECT_EQ(static_cast<uint8_t>(sent[2 + 31]), 0x08);
    EXPECT_EQ(static_cast<uint8_t>(sent[2 + 26]), 0x04);
}

TEST_F(ChipCommandsTest, TenBitFieldsAreCutToTheirWidth) {
    Open(1, true, false);
    ChipDacRecord r;
    r.dac[6] = 1023;  // "Thl Fine"
    std::string sent = SendDacs({r});
    std::vector<int> expected;
    for (int p = 147; p <= 156; ++p) expected.push_back(p);
    EXPECT_EQ(SetBits(sent, 2), expected);

    peer->ClearWritten();
    r.dac[6] = 1024;  // only bit 10: nothing fits in the field
    EXPECT_TRUE(SetBits(SendDacs({r}), 2).empty());
}

TEST_F(ChipCommandsTest, StreamLengthsAndTheTimepixPreBlock) {
    Open(4, false, false);
    EXPECT_EQ(SendDacs(std::vector<ChipDacRecord>(4)).size(), 134u);

    CloseDevice(handle, true);
    peer = std::make_shared<ScriptedPeer>();
    InstallDriver(peer);
    Open(4, true, true);
    std::string sent = SendDacs(std::vector<ChipDacRecord>(4));
    ASSERT_EQ(sent.size(), 266u);
    EXPECT_EQ(sent.substr(0, 133), "d" + std::string(132, '\xFF'));
    EXPECT_EQ(sent[133], 'd');
}

TEST_F(ChipCommandsTest, UnusedFieldsAreNeverSent) {
    Open(1, true, true);
    ChipDacRecord r;
    r.dac[14] = 255;
    EXPECT_TRUE(SetBits(SendDacs({r}), 34 + 2).empty());  // after the 0xFF pre-block

    CloseDevice(handle, true);
    peer = std::make_shared<ScriptedPeer>();
    InstallDriver(peer);
    Open(1, false, false);
    r = ChipDacRecord{};
    r.dac[13] = r.dac[14] = 255;
    r.testPulseWord = 0xFFFFFFFF;
    EXPECT_TRUE(SetBits(SendDacs({r}), 2).empty());
}

TEST_F(ChipCommandsTest, Medipix2BlocksShiftWithTheirPositionAndCarryMarks) {
    Open(4, false, false);
    std::vector<ChipDacRecord> records(4);
    records[3].dac[0] = 1;  // bit 0 of dac 0 at 252 + 3
    std::string sent = SendDacs(records);
    EXPECT_TRUE(SetBits(sent, 2).empty());
    EXPECT_EQ(SetBits(sent, 2 + 32), (std::vector<int>{212, 220, 221, 222, 223}));
    EXPECT_EQ(SetBits(sent, 2 + 64), (std::vector<int>{213}));
    EXPECT_EQ(SetBits(sent, 2 + 96), (std::vector<int>{255}));
}

TEST_F(ChipCommandsTest, ChipCommandsRefuseWithoutChipsAndSendNothing) {
    RecordReports();
    Open(0, false, false);
    std::vector<uint16_t> pixels(kChipPixels);
    EXPECT_FALSE(ReadMatrix(handle, pixels.data(), pixels.size()));
    EXPECT_FALSE(EraseMatrix(handle));
    EXPECT_FALSE(ResetChips(handle));
    EXPECT_FALSE(SetMatrix(handle, pixels.data(), pixels.size()));
    EXPECT_TRUE(HasReport(2, "No chip connected."));
    ChipDacRecord r;
    EXPECT_FALSE(SetChipDacs(handle, &r));
    EXPECT_TRUE(HasReport(2, "Set DACs failed: No chip connected."));
    EXPECT_EQ(peer->Written(), "");

    for (const char* answer : {"oOK\r", "0OK\r", "POK\r", "xOK\r", "3OK\r"})
        peer->ReplyToWrite(answer);
    EXPECT_TRUE(OpenShutter(handle));
    EXPECT_TRUE(SelectFsr(handle, 0));
    EXPECT_TRUE(SetPolarity(handle, true));
    EXPECT_TRUE(PowerOn(handle));
    EXPECT_TRUE(SetTimepixClock(handle, 2));
    EXPECT_EQ(peer->Written(), std::string("o0Px3\x02", 6));
}

TEST_F(ChipCommandsTest, DacsForFewerChipsThanTheInterfaceHasAreRefused) {
    RecordReports();
    Open(2, true, false);
    ChipDacRecord r;
    EXPECT_FALSE(SetChipDacs(handle, &r, 1));
    EXPECT_TRUE(HasReport(6, "Set DACs failed: settings for 1 of 2 chips given."));
    EXPECT_EQ(peer->Written(), "");
}

// More chips than a board carries never reach the buffers and records sized for four: a soft
// open refuses such a count, and the commands refuse a record that holds one anyway.
TEST_F(ChipCommandsTest, ChipCountsBeyondFourAreRefused) {
    RecordReports();
    for (uint8_t chips : {0, 5, 255}) {
        peer->AddDevice("Medipix2 ver 3.0 : Many", "SER5");
        EXPECT_EQ(OpenDevice("Medipix2 ver 3.0 : Many", false, true, chips), nullptr);
        EXPECT_TRUE(
            HasReport(6, "Soft open needs 1 to 4 chips (" + std::to_string(chips) + " given)."));
    }
    Open(4, true, false);
    handle.device->chipCount = 5;
    std::vector<uint16_t> words(5 * kChipPixels, 0xFFFF);
    std::vector<ChipDacRecord> records(5);
    EXPECT_FALSE(SetMatrix(handle, words.data(), words.size()));
    EXPECT_FALSE(SetChipDacs(handle, records.data(), 5));
    EXPECT_TRUE(HasReport(6, "5 chips are more than an interface carries."));
    EXPECT_EQ(peer->Written(), "");

    // A Medipix2 word for a fifth position would spill into the next chip's word.
    uint8_t blocks[2 * kDacBlockBytes] = {};
    ChipDacRecord full;
    for (uint16_t& dac : full.dac) dac = 0xFFFF;
    EncodeDacBlock(ChipType::Medipix2, full, 4, blocks);
    for (uint8_t b : blocks) EXPECT_EQ(b, 0);
    EncodeDacBlock(ChipType::Medipix2, full, 3, blocks);
    for (int i = kDacBlockBytes; i < 2 * kDacBlockBytes; ++i) EXPECT_EQ(blocks[i], 0) << i;
}

TEST_F(ChipCommandsTest, SetMatrixNeedsAWholeMatrix) {
    RecordReports();
    Open(1, false, false);
    std::vector<uint16_t> words(kChipPixels - 1, 0xFFFF);
    EXPECT_FALSE(SetMatrix(handle, words.data(), words.size()));
    EXPECT_TRUE(HasReport(6, "Invalid matrix size"));
    EXPECT_EQ(peer->Written(), "");

    words.push_back(0xFFFF);
    peer->ReplyToWrite("SOK\r");
    EXPECT_TRUE(SetMatrix(handle, words.data(), words.size()));
    std::string sent = peer->Written();
    ASSERT_EQ(sent.size(), FrameStreamBytes(1, false) + 1);
    EXPECT_EQ(sent.substr(0, 2), "S\xFF");
}

TEST_F(ChipCommandsTest, TestPulsesAndRawReads) {
    Open(1, true, false);
    const std::string stream(FrameStreamBytes(1, true), '\0');
    const std::string time("\x00\x2d\x31\x01\x00\x00", 6);
    peer->ReplyToWrite("O" + time + stream + "OK\r");
    double t = -1;
    EXPECT_TRUE(GenerateTestPulses(handle, 0x0102, 10, nullptr, 0, &t));
    EXPECT_EQ(peer->Written(), std::string("O\x02\x01\x0a", 4));
    EXPECT_DOUBLE_EQ(t, 1.0);

    std::string marked = stream;
    marked[0] = '\x5A';
    peer->ReplyToWrite("m" + time + marked + "OK\r");
    uint8_t raw[4] = {1, 2, 3, 4};
    EXPECT_TRUE(ReadMatrixRaw(handle, raw, 3));
    EXPECT_EQ(raw[0], 0x5A);
    EXPECT_EQ(raw[3], 4);  // never past the capacity
}

TEST(DacTables, NamesMaximaAndSenseCodes) {
    EXPECT_EQ(DacCountOf(ChipType::Medipix2), 13);
    EXPECT_EQ(DacCountOf(ChipType::Timepix), 15);
    EXPECT_STREQ(DacNameOf(ChipType::Mxr, 6), "Thl Fine");
    EXPECT_EQ(DacMaxValueOf(ChipType::Mxr, 7), 15);
    EXPECT_EQ(DacMaxValueOf(ChipType::Timepix, 15), 0);
    EXPECT_EQ(DacNameOf(ChipType::Timepix, -1), nullptr);
    EXPECT_STREQ(SenseDacNameOf(ChipType::Medipix2, DefaultSenseCode(ChipType::Medipix2)), "Thl");
    EXPECT_STREQ(SenseDacNameOf(ChipType::Timepix, DefaultSenseCode(ChipType::Timepix)), "Thl");
    EXPECT_STREQ(SenseDacNameOf(ChipType::Timepix, 12), "Vcas");
    EXPECT_EQ(SenseDacNameOf(ChipType::Mxr, 16), nullptr);
    ChipDacRecord r = DefaultDacRecord(ChipType::Timepix);
    EXPECT_EQ(r.dac[6], 450);
    EXPECT_EQ(r.senseEnabled, 1);
}

}  // namespace
}  // namespace ulvarin::test
