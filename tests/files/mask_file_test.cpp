#include "files/mask_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

class MaskFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("ulvarin_mask_" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST(MaskFormat, ChosenByTheFileNamesOwnExtension) {
    EXPECT_EQ(MaskFormatFor("mask.txt"), MaskFormat::Ascii);
    EXPECT_EQ(MaskFormatFor("mask"), MaskFormat::Ascii);
    EXPECT_EQ(MaskFormatFor("mask.TXT"), MaskFormat::Binary);
    EXPECT_EQ(MaskFormatFor("mask.bpc"), MaskFormat::Binary);
    EXPECT_EQ(MaskFormatFor("/data/run.2/mask"), MaskFormat::Ascii);  // a dot in a folder
}

TEST(MaskFormat, BinaryBytesMapToWordBitsByFamily) {
    EXPECT_EQ(MaskByteToWord(0x80, false), 0x0800);
    EXPECT_EQ(MaskByteToWord(0x80, true), 0x0201);
    EXPECT_EQ(MaskByteToWord(0x40, false), 0x0400);
    EXPECT_EQ(MaskByteToWord(0x40, true), 0x0000);
    EXPECT_EQ(MaskByteToWord(0x00, true), 0x0200);
    EXPECT_EQ(MaskByteToWord(0x3F, false), 0x13B0);
    EXPECT_EQ(MaskByteToWord(0xFF, true), 0x1DC1);
}

TEST_F(MaskFileTest, AsciiNumbersReadLikePercentI) {
    std::string path = Write("m.txt", "0x1fff 8191\n017\t-1 70000");
    std::vector<uint16_t> words(5);
    ASSERT_EQ(ReadMaskFile(path, false, words.data(), words.size()), MaskReadResult::Ok);
    EXPECT_EQ(words, (std::vector<uint16_t>{0x1FFF, 0x1FFF, 15, 0xFFFF, 70000 & 0xFFFF}));
}

TEST_F(MaskFileTest, ShortOrBadFilesFailAndKeepWhatWasRead) {
    std::vector<uint16_t> words(65536, 0xAAAA);
    std::string binary = Write("m.bpc", std::string(65535, '\x80'));
    EXPECT_EQ(ReadMaskFile(binary, false, words.data(), words.size()), MaskReadResult::CannotRead);
    EXPECT_EQ(words[65534], 0x0800);
    EXPECT_EQ(words[65535], 0xAAAA);

    std::string bad = Write("m", "1 2 x 4");
    EXPECT_EQ(ReadMaskFile(bad, false, words.data(), 4), MaskReadResult::CannotRead);
    EXPECT_EQ(words[1], 2);
    EXPECT_EQ(ReadMaskFile((dir / "absent.txt").string(), false, words.data(), 1),
              MaskReadResult::CannotOpen);
}

TEST(PixelConfig, TimepixModeRewritesOnlyTheModeBits) {
    EXPECT_EQ(WithTimepixMode(0xFFFF, 1), 0x3FBF);
    EXPECT_EQ(WithTimepixMode(0xFFFF, 0), 0x3DBF);
    EXPECT_EQ(WithTimepixMode(0x0000, 3), 0x0240);
    EXPECT_EQ(MaskBit(ChipType::Timepix), 0x0080);
    EXPECT_EQ(TestBit(ChipType::Timepix), 0x2000);
}

}  // namespace
}  // namespace ulvarin
