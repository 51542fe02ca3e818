// Frames and "Set matrix" streams through the emulator driver, checked against the
// independent host-side model in reference_streams.cpp.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "emulator_link.h"
#include "reference_streams.h"
#include "sim/counter_code.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim::test {
namespace {

struct StreamCase {
    ChipFamily family;
    int chips;
};

std::string CaseName(const testing::TestParamInfo<StreamCase>& info) {
    return std::string(FamilyName(info.param.family)) + "x" + std::to_string(info.param.chips);
}

std::vector<StreamCase> AllStreamCases() {
    std::vector<StreamCase> cases;
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kTimepix})
        for (int chips = 1; chips <= 4; ++chips) cases.push_back({family, chips});
    return cases;
}

class MatrixStreamTest : public testing::TestWithParam<StreamCase> {
protected:
    MatrixStreamTest() : link({MakeInterfaceConfig(GetParam().family, GetParam().chips)}) {
        link.Open();
    }
    bool Wide() const { return IsWide(GetParam().family); }
    int Chips() const { return GetParam().chips; }

    EmulatorLink link;
    std::mt19937 random{1234};
};

TEST_P(MatrixStreamTest, FrameCarriesEveryChipsCountsAsTheHostDecodesThem) {
    const bool wide = Wide();
    std::uniform_int_distribution<int> anyCount(0, MaxCount(wide));
    std::vector<std::vector<uint16_t>> counts(static_cast<size_t>(Chips()));
    for (int chip = 0; chip < Chips(); ++chip) {
        auto& c = counts[static_cast<size_t>(chip)];
        for (int i = 0; i < kChipPixels; ++i) c.push_back(static_cast<uint16_t>(anyCount(random)));
        c[0] = 0;
        c[255] = static_cast<uint16_t>(MaxCount(wide));
        c[257] = 65535;  // beyond the counter's range: saturates
        link.Emulated().Chip(chip).counts = c;
    }

    link.Send("m");
    const size_t length = FrameStreamBytes(Chips(), wide);
    const std::string answer = link.Receive(1 + 6 + length + 3);
    ASSERT_EQ(answer.size(), 1 + 6 + length + 3);
    ASSERT_EQ(link.Waiting(), 0u) << "frame answer longer than the stream";
    EXPECT_EQ(answer.front(), 'm');
    EXPECT_EQ(answer.substr(answer.size() - 3), "OK\r");
    EXPECT_EQ(length, wide ? 114721u * Chips() : 114689u * Chips() + (Chips() + 6) / 8);

    const std::vector<uint8_t> stream(answer.begin() + 7, answer.end() - 3);
    const std::vector<uint16_t> decoded = ReferenceDecodeFrame(stream, Chips(), wide);
    for (int chip = 0; chip < Chips(); ++chip) {
        for (int pixel = 0; pixel < kChipPixels; ++pixel) {
            const int count = std::min<int>(
                counts[static_cast<size_t>(chip)][static_cast<size_t>(pixel)], MaxCount(wide));
            uint16_t expected = ReferenceCode(count, wide);
            // The host's shift of chip 0's block drops the block's first bit: bit 12 of
            // pixel (row 0, column 255) on multi-chip 13-bit streams.
            if (!wide && Chips() > 1 && chip == 0 && pixel == 255) expected &= 0x0FFF;
            ASSERT_EQ(decoded[static_cast<size_t>(chip * kChipPixels + pixel)], expected)
                << "chip " << chip << " row " << pixel / 256 << " column " << pixel % 256;
        }
    }
}

TEST_P(MatrixStreamTest, SetMatrixKeepsEachPixelsRegisterBits) {
    std::uniform_int_distribution<int> anyWord(0, 0xFFFF);
    std::vector<uint16_t> words;
    for (int i = 0; i < Chips() * kChipPixels; ++i)
        words.push_back(static_cast<uint16_t>(anyWord(random)));

    // A command right after the stream proves the emulator took exactly the stream's bytes.
    link.Send("S" + Bytes(ReferenceConfigStream(words, Chips(), Wide())) + "#");
    EXPECT_EQ(link.Receive(9), "SOK\r#" + std::string(1, static_cast<char>(Chips())) + "OK\r");

    const uint16_t mask = Wide() ? 0x3FFF : 0x1FFF;
    for (int chip = 0; chip < Chips(); ++chip) {
        const auto& config = link.Emulated().Chip(chip).pixelConfig;
        for (int pixel = 0; pixel < kChipPixels; ++pixel)
            ASSERT_EQ(config[static_cast<size_t>(pixel)],
                      words[static_cast<size_t>(chip * kChipPixels + pixel)] & mask)
                << "chip " << chip << " row " << pixel / 256 << " column " << pixel % 256;
    }
}

INSTANTIATE_TEST_SUITE_P(FamiliesAndChipCounts, MatrixStreamTest,
                         testing::ValuesIn(AllStreamCases()), CaseName);

// "Read matrix" leaves the counters as they were; closing the shutter with a readout ends
// the measurement and clears them, so the next frame starts from zero.
TEST(MatrixStream, ReadMatrixKeepsTheCountersAndCloseShutterReadClearsThem) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 2)});
    link.Open();
    link.Send("X");  // unpowered chips count nothing while the shutter is open
    EXPECT_EQ(link.Receive(4), "XOK\r");
    const size_t answerBytes = 1 + 6 + FrameStreamBytes(2, true) + 3;
    link.Send("mom");
    const std::string first = link.Receive(2 * answerBytes + 4);
    link.Send("C");
    const std::string closed = link.Receive(answerBytes);
    link.Send("m");
    const std::string after = link.Receive(answerBytes);
    ASSERT_EQ(first.size(), 2 * answerBytes + 4);
    ASSERT_EQ(closed.size(), answerBytes);
    ASSERT_EQ(after.size(), answerBytes);
    EXPECT_EQ(first.substr(answerBytes, 4), "oOK\r");
    EXPECT_EQ(closed[0], 'C');
    auto stream = [&](const std::string& answers, size_t at) {
        return answers.substr(at + 7, answerBytes - 10);
    };
    EXPECT_EQ(stream(first, 0), stream(first, answerBytes + 4));
    EXPECT_EQ(stream(first, 0), stream(closed, 0));
    EXPECT_NE(stream(after, 0), stream(first, 0));
    const std::string afterStream = stream(after, 0);
    const std::vector<uint16_t> decoded =
        ReferenceDecodeFrame(std::vector<uint8_t>(afterStream.begin(), afterStream.end()), 2, true);
    for (uint16_t code : decoded) ASSERT_EQ(code, ReferenceCode(0, true));
    EXPECT_FALSE(link.Emulated().State().shutterOpen);
}

// Counts loaded by a test replace a pixel configuration shifted in through the counters:
// the next read shows the counts. Loads of the wrong shape are refused.
TEST(MatrixStream, LoadedCountsAreWhatTheNextReadShows) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 1)});
    link.Open();
    const size_t answerBytes = 1 + 6 + FrameStreamBytes(1, true) + 3;
    std::vector<uint16_t> words(kChipPixels, 0x1234);
    link.Send("S" + Bytes(ReferenceConfigStream(words, 1, true)));
    EXPECT_EQ(link.Receive(4), "SOK\r");

    std::vector<std::vector<uint16_t>> counts(1, std::vector<uint16_t>(kChipPixels));
    for (int i = 0; i < kChipPixels; ++i) counts[0][static_cast<size_t>(i)] = i % 11000;
    link.Emulated().LoadCounts(counts);
    link.Send("m");
    const std::string answer = link.Receive(answerBytes);
    ASSERT_EQ(answer.size(), answerBytes);
    const std::vector<uint16_t> decoded =
        ReferenceDecodeFrame(std::vector<uint8_t>(answer.begin() + 7, answer.end() - 3), 1, true);
    for (int i = 0; i < kChipPixels; ++i)
        ASSERT_EQ(decoded[static_cast<size_t>(i)], ReferenceCode(i % 11000, true)) << i;

    EXPECT_THROW(link.Emulated().LoadCounts({}), std::invalid_argument);
    EXPECT_THROW(link.Emulated().LoadCounts({std::vector<uint16_t>(10)}), std::invalid_argument);
    EXPECT_EQ(link.Emulated().Chip(0).counts, counts[0]) << "a refused load changes nothing";
}

}  // namespace
}  // namespace ulvarin::sim::test
