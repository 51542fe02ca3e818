// Frames and "Set matrix" streams through the emulator driver, checked against the
// independent host-side model in reference_streams.cpp.
#include <gtest/gtest.h>

#include <random>

#include "device/stream_layout.h"
#include "emulator_link.h"
#include "reference_streams.h"
#include "sim/counter_code.h"

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

TEST(MatrixStream, CloseShutterReadSendsTheSameFrameAsReadMatrix) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMxr, 2)});
    link.Open();
    const size_t answerBytes = 1 + 6 + FrameStreamBytes(2, true) + 3;
    link.Send("om");
    const std::string read = link.Receive(4 + answerBytes);
    link.Send("C");
    const std::string closed = link.Receive(answerBytes);
    ASSERT_EQ(read.size(), 4 + answerBytes);
    ASSERT_EQ(closed.size(), answerBytes);
    EXPECT_EQ(read.substr(0, 5), "oOK\rm");
    EXPECT_EQ(closed[0], 'C');
    // Same stream after the six time bytes.
    EXPECT_TRUE(read.compare(4 + 7, answerBytes - 7, closed, 7, answerBytes - 7) == 0);
    EXPECT_FALSE(link.Emulated().State().shutterOpen);
}

}  // namespace
}  // namespace ulvarin::sim::test
