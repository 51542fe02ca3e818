// "Set Medipix DACs" on the chips' side: each family's word at each board position decodes
// to what the host encoded, implausible streams are refused without breaking the framing,
// and a host that sends a byte too few or too many can tell.
#include <gtest/gtest.h>

#include <random>

#include "sim/dac_words.h"
#include "timed_interface.h"

namespace ulvarin::sim::test {
namespace {

constexpr ChipFamily kFamilies[] = {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix};

ChipDacRecord RandomRecord(ChipType type, std::mt19937& random) {
    ChipDacRecord r;
    for (int i = 0; i < DacCountOf(type); ++i)
        r.dac[i] = static_cast<uint16_t>(random() % (DacMaxValueOf(type, i) + 1u));
    r.senseCode = static_cast<uint8_t>(random() % 16);
    r.senseEnabled = static_cast<uint8_t>(random() % 2);
    r.bypassEnabled = static_cast<uint8_t>(random() % 2);
    r.testPulseWord = static_cast<uint32_t>(random());
    return r;
}

// What a chip of `type` should hold after taking `r`: unused DACs (Medipix2 13 and 14,
// Timepix 14) and, on Medipix2, the test pulse word are not sent.
ChipDacs Expected(ChipType type, const ChipDacRecord& r) {
    ChipDacs d;
    const int sent = type == ChipType::Mxr ? 15 : type == ChipType::Timepix ? 14 : 13;
    for (int i = 0; i < sent; ++i) d.dac[static_cast<size_t>(i)] = r.dac[i];
    d.senseCode = r.senseCode;
    d.senseEnabled = r.senseEnabled != 0;
    d.bypassEnabled = r.bypassEnabled != 0;
    d.testPulseWord = type == ChipType::Medipix2 ? 0 : r.testPulseWord;
    return d;
}

TEST(DacWords, DecodeWhatTheHostEncodesForEveryFamilyAndPosition) {
    std::mt19937 random(99);
    for (ChipFamily family : kFamilies) {
        const ChipType type = TimedInterface::TypeOf(family);
        for (int position = 0; position < 4; ++position) {
            for (int trial = 0; trial < 50; ++trial) {
                SCOPED_TRACE(std::string(FamilyName(family)) + " position " +
                             std::to_string(position));
                const ChipDacRecord record = RandomRecord(type, random);
                std::array<uint8_t, 32> word{};
                EncodeDacBlock(type, record, position, word.data());
                ASSERT_TRUE(IsPlausibleDacWord(family, word, position));
                ASSERT_EQ(DecodeDacWord(family, word, position), Expected(type, record));
            }
        }
    }
}

TEST(DacWords, EveryChipOfABoardTakesItsWord) {
    std::mt19937 random(7);
    for (ChipFamily family : kFamilies) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family, 4);
        const ChipType type = TimedInterface::TypeOf(family);
        std::vector<ChipDacRecord> records;
        for (int k = 0; k < 4; ++k) records.push_back(RandomRecord(type, random));
        t.SetDacs(records);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(t.e.Chip(k).dacs, Expected(type, records[k]));

        // The all-0xFF flush a Timepix board gets first leaves every chip as it was.
        std::vector<uint8_t> flush(1 + DacStreamBytes(type, 4), 0xFF);
        flush[0] = 'd';
        t.Send(flush);
        EXPECT_EQ(t.Output(), std::string("d\0\0OK\r", 6));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(t.e.Chip(k).dacs, Expected(type, records[k]));
    }
}

TEST(DacWords, ImplausibleStreamsAreRefusedAndTheLinkStaysInStep) {
    TimedInterface t(ChipFamily::kMxr, 2);
    const ChipDacs before = t.e.Chip(1).dacs;
    std::vector<uint8_t> command = t.DacCommand({DefaultDacRecord(ChipType::Mxr),
                                                 DefaultDacRecord(ChipType::Mxr)});
    command[1] = 0x7F;  // leading byte
    t.Send(command);
    EXPECT_EQ(t.Ask("#"), std::string("!DAC stream rejected\rd\0\0OK\r#\x02OK\r", 32));

    command = t.DacCommand({DefaultDacRecord(ChipType::Mxr), DefaultDacRecord(ChipType::Mxr)});
    command[2 + 32 + 31] |= 0x01;  // bit 255 of chip 1's word belongs to no field
    t.Send(command);
    EXPECT_EQ(t.Ask("#"), std::string("!DAC stream rejected\rd\0\0OK\r#\x02OK\r", 32));
    EXPECT_EQ(t.e.Chip(1).dacs, before);
}

// A host that sends the stream one byte short or long, followed by its next command ("#"),
// must not see the clean pair of answers.
TEST(DacWords, AStreamOfTheWrongLengthShowsInTheAnswers) {
    for (ChipFamily family : kFamilies) {
        for (int chips : {1, 2, 4}) {
            SCOPED_TRACE(std::string(FamilyName(family)) + " x" + std::to_string(chips));
            const ChipType type = TimedInterface::TypeOf(family);
            const std::string clean = std::string("d\0\0OK\r#", 7) + static_cast<char>(chips) + "OK\r";
            for (int delta : {-1, +1}) {
                TimedInterface t(family, chips);
                std::vector<uint8_t> command =
                    t.DacCommand(std::vector<ChipDacRecord>(static_cast<size_t>(chips),
                                                            DefaultDacRecord(type)));
                if (delta < 0) command.pop_back();
                else command.push_back(0);
                command.push_back('#');
                t.Send(command);
                const std::string answers = t.Output();
                EXPECT_NE(answers, clean) << "delta " << delta;
                const bool flagged = answers.find('!') != std::string::npos;
                const bool answerMissing = answers.find(clean.substr(6)) == std::string::npos;
                EXPECT_TRUE(flagged || answerMissing) << "delta " << delta;
                EXPECT_EQ(t.Ask("#"), clean.substr(6)) << "back in step for the next command";
            }
        }
    }
}

}  // namespace
}  // namespace ulvarin::sim::test
