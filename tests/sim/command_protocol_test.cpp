// The emulated firmware's answers to commands, byte for byte, through the emulator driver.
#include <gtest/gtest.h>

#include "device/dac_tables.h"
#include "emulator_link.h"
#include "wire/command_table.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim::test {
namespace {

std::string ResetLine(const std::string& report, int prefixes = 1) {
    std::string line;
    for (int i = 0; i < prefixes; ++i) line += "!Unit is on line. ";
    return line + report + "\r";
}

TEST(GlobalReset, AnswersThenSendsTheLineOfEachFamilyAfterRestarting) {
    const struct {
        ChipFamily family;
        int chips;
        std::string report;
    } cases[] = {
        {ChipFamily::kMedipix2, 1, "Medipix chips: 1 Ready"},
        {ChipFamily::kMxr, 2, "Medipix MXR chips: 2 Medipix chips: 0 Ready"},
        {ChipFamily::kTimepix, 4, "Medipix TPX chips: 4 Medipix chips: 0 Ready"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(FamilyName(c.family)));
        EmulatorLink link({MakeInterfaceConfig(c.family, c.chips)});
        link.Open();
        // The blank in the same write reaches the interface while it restarts: lost.
        link.Send("_ ");
        const std::string line = ResetLine(c.report);
        EXPECT_EQ(link.Receive(4 + line.size()), "_OK\r" + line);
        EXPECT_EQ(link.Waiting(), 0u);
        // Back on line, it answers again.
        link.Send(" ");
        EXPECT_EQ(link.Receive(kSyncAnswer.size()), kSyncAnswer);
    }
}

TEST(GlobalReset, ExtraRestartsRepeatTheLinePrefix) {
    InterfaceConfig config = MakeInterfaceConfig(ChipFamily::kMedipix2, 2);
    config.extraRestarts = 2;
    config.restartDelay = std::chrono::milliseconds(20);
    EmulatorLink link({config});
    link.Open();
    link.Send("_");
    const std::string line = ResetLine("Medipix chips: 2 Ready", 3);
    EXPECT_EQ(link.Receive(4 + line.size()), "_OK\r" + line);
}

// Decodes one chip record as the host does: bytes 1-3 arrive least significant bit first.
ChipId DecodeChipRecord(const std::string& record) {
    auto reversed = [&](int i) {
        uint8_t v = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (static_cast<uint8_t>(record[static_cast<size_t>(i)]) & (1 << bit))
                v |= static_cast<uint8_t>(0x80 >> bit);
        return v;
    };
    const uint8_t a = reversed(1), b = reversed(2), c = reversed(3);
    ChipId id;
    id.present = a != 0 || b != 0 || (c & 7) != 0;
    id.column = static_cast<char>(0x40 + (a & 0x0F));
    id.row = 12 - (a >> 4);
    id.wafer = ((c & 7) << 8) | b;
    id.timepixMark = (c & 8) != 0;
    return id;
}

void ExpectChipIds(const InterfaceConfig& config, const std::vector<ChipId>& expected) {
    EmulatorLink link({config});
    link.Open();
    link.Send("|");
    const std::string answer = link.Receive(1 + 4 * expected.size() + 3);
    ASSERT_EQ(answer.size(), 1 + 4 * expected.size() + 3);
    EXPECT_EQ(answer.front(), '|');
    EXPECT_EQ(answer.substr(answer.size() - 3), "OK\r");
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("chip " + std::to_string(i));
        const std::string record = answer.substr(1 + 4 * i, 4);
        EXPECT_EQ(record[0], '\0');
        const ChipId got = DecodeChipRecord(record);
        ASSERT_EQ(got.present, expected[i].present);
        if (!got.present) continue;
        EXPECT_EQ(got.column, expected[i].column);
        EXPECT_EQ(got.row, expected[i].row);
        EXPECT_EQ(got.wafer, expected[i].wafer);
        EXPECT_EQ(got.timepixMark, expected[i].timepixMark);
    }
}

TEST(ChipboardId, DefaultCodesDecodeToTheirFamily) {
    ExpectChipIds(MakeInterfaceConfig(ChipFamily::kMedipix2, 2), {ChipId{}, ChipId{}});
    ExpectChipIds(MakeInterfaceConfig(ChipFamily::kMxr, 2),
                  {{true, 'A', 5, 1234, false}, {true, 'B', 5, 1234, false}});
    ExpectChipIds(MakeInterfaceConfig(ChipFamily::kTimepix, 4), {{true, 'A', 5, 1234, true},
                                                                 {true, 'B', 5, 1234, true},
                                                                 {true, 'C', 5, 1234, true},
                                                                 {true, 'D', 5, 1234, true}});
}

TEST(ChipboardId, ConfiguredCodesDecodeBackIncludingFieldLimits) {
    InterfaceConfig config = MakeInterfaceConfig(ChipFamily::kTimepix, 3);
    config.chipIds = {{true, 'O', 0, 2047, true}, {true, 'A', 12, 0, false}, {}};
    ExpectChipIds(config, config.chipIds);
}

TEST(Synchronisation, AnswersThePatternAndErrorsOnUnknownLetters) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 1)});
    link.Open();
    link.Send("\xE9 \r ");
    const std::string expected =
        "!Unknown command\r" + kSyncAnswer + "!Unknown command\r" + kSyncAnswer;
    EXPECT_EQ(link.Receive(expected.size()), expected);
}

// A valid DAC stream for `chips` chips of `family` (leading 0xFF, default words, padding).
std::string DacStream(ChipFamily family, int chips) {
    const ChipType type = family == ChipFamily::kMedipix2 ? ChipType::Medipix2
                          : family == ChipFamily::kMxr    ? ChipType::Mxr
                                                          : ChipType::Timepix;
    std::string stream(DacStreamBytes(type, chips), '\0');
    stream[0] = '\xFF';
    for (int k = 0; k < chips; ++k) {
        ChipDacRecord record = DefaultDacRecord(type);
        record.dac[1] = static_cast<uint16_t>(10 + k);
        EncodeDacBlock(type, record, k, reinterpret_cast<uint8_t*>(stream.data()) + 1 + 32 * k);
    }
    return stream;
}

TEST(CommandFraming, CommandSplitAcrossWritesWaitsForItsLastByte) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kTimepix, 1)});
    link.Open();
    const std::string dacs = DacStream(ChipFamily::kTimepix, 1);
    link.Send("d" + dacs.substr(0, 10));
    EXPECT_EQ(link.Waiting(), 0u);
    EXPECT_EQ(link.Emulated().PendingCommandBytes(), 11u);
    link.Send(dacs.substr(10) + " ");
    EXPECT_EQ(link.Receive(6 + kSyncAnswer.size()), std::string("d\0\0OK\r", 6) + kSyncAnswer);
    const auto& block = link.Emulated().Chip(0).dacBlock;
    EXPECT_EQ(std::string(block.begin(), block.end()), dacs.substr(1, 32));
}

TEST(CommandFraming, DacStreamLengthFollowsFamilyAndChipCount) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix}) {
        for (int chips = 1; chips <= 4; ++chips) {
            SCOPED_TRACE(std::string(FamilyName(family)) + " x" + std::to_string(chips));
            EmulatorLink link({MakeInterfaceConfig(family, chips)});
            link.Open();
            const std::string stream = DacStream(family, chips);
            const bool extraByte = family == ChipFamily::kMedipix2 && chips > 1;
            EXPECT_EQ(stream.size(), 33 * static_cast<size_t>(chips) + (extraByte ? 1 : 0));
            // A command right after the stream proves the emulator took exactly its bytes.
            link.Send("d" + stream + "#");
            EXPECT_EQ(link.Receive(11),
                      std::string("d\0\0OK\r#", 7) + static_cast<char>(chips) + "OK\r");
            for (int k = 0; k < chips; ++k) {
                const auto& block = link.Emulated().Chip(k).dacBlock;
                EXPECT_EQ(std::string(block.begin(), block.end()),
                          stream.substr(1 + 32 * static_cast<size_t>(k), 32));
                EXPECT_EQ(link.Emulated().Chip(k).dacs.dac[1], 10 + k);
            }
        }
    }
}

// Reads one answer to `letter` framed by its response kind; returns its parameter bytes.
std::string ReadFramedAnswer(EmulatorLink& link, const CommandDescr& command, int chips,
                             bool wide) {
    EXPECT_EQ(link.Receive(1), std::string(1, static_cast<char>(command.letter)));
    std::string params;
    const int kind = command.responseKind;
    if (kind >= 0) {
        params = link.Receive(static_cast<size_t>(kind));
    } else if (kind == kRespText) {
        for (std::string byte; (byte = link.Receive(1)) != "\r" && !byte.empty();) params += byte;
    } else if (kind == kRespTimedFrame) {
        params = link.Receive(6 + FrameStreamBytes(chips, wide));
    } else if (kind == kRespScope) {
        params = link.Receive(2);
        const size_t k = params.size() == 2 ? static_cast<uint8_t>(params[0]) |
                                                  static_cast<uint8_t>(params[1]) << 8
                                            : 0;
        params += link.Receive(2 * (k + 1));
    } else if (kind == kRespChipIds) {
        params = link.Receive(4 * static_cast<size_t>(chips));
    }
    EXPECT_EQ(link.Receive(3), "OK\r");
    return params;
}

// Zero parameters (a leading 0xFF for the two streams) start no process and no scope
// shot, so nothing but the answers comes back. The scope shot's samples come later in a
// background block, so "a" is left to the scope tests. The built-in expositions are
// aborted in the same write, before their first event comes due.
TEST(CommandFraming, EveryCommandIsAnsweredInItsResponseKind) {
    for (const auto& [family, chips] :
         {std::pair{ChipFamily::kMedipix2, 3}, std::pair{ChipFamily::kTimepix, 2}}) {
        EmulatorLink link({MakeInterfaceConfig(family, chips)});
        link.Open();
        const bool wide = IsWide(family);
        for (const CommandDescr* d = kCommandTable; d->letter != 0; ++d) {
            if (d->letter == '_' || d->letter == ',' || d->letter == 'a' ||
                FindCommand(d->letter) != d)
                continue;
            SCOPED_TRACE(std::string(FamilyName(family)) + " command '" +
                         static_cast<char>(d->letter) + "'");
            std::string params(static_cast<size_t>(std::max(d->commandBytes, 0)), '\0');
            if (d->letter == 'd') params = DacStream(family, chips);
            if (d->letter == 'S') {
                params.assign(FrameStreamBytes(chips, wide), '\0');
                params[0] = '\xFF';
            }
            const bool exposition = std::string_view("gh&.=").find(static_cast<char>(d->letter)) !=
                                    std::string_view::npos;
            link.Send(std::string(1, static_cast<char>(d->letter)) + params +
                      (exposition ? "G" : ""));
            ReadFramedAnswer(link, *d, chips, wide);
            if (exposition) {
                EXPECT_EQ(link.Receive(4), "GOK\r");
            }
            ASSERT_EQ(link.Waiting(), 0u) << "bytes left after the answer";
        }
    }
}

TEST(Watchdog, FallsSilentDroppingInputThenSendsTheAlert) {
    InterfaceConfig config = MakeInterfaceConfig(ChipFamily::kMxr, 1);
    config.watchdogSilence = std::chrono::milliseconds(300);
    EmulatorLink link({config});
    link.Open();
    link.Send(", ");  // the blank in the same write arrives during the silence
    EXPECT_EQ(link.Receive(16), "!Watchdog alert\r");
    EXPECT_EQ(link.Waiting(), 0u);
    link.Send(" ");
    EXPECT_EQ(link.Receive(kSyncAnswer.size()), kSyncAnswer);
}

}  // namespace
}  // namespace ulvarin::sim::test
