#include "files/mask_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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

TEST(MaskFormat, HintedByTheFileNamesOwnExtensionInAnyCase) {
    EXPECT_EQ(MaskFormatFor("mask.txt"), MaskFormat::Ascii);
    EXPECT_EQ(MaskFormatFor("mask"), MaskFormat::Ascii);
    EXPECT_EQ(MaskFormatFor("mask.TXT"), MaskFormat::Ascii);
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

// The content decides the format, whatever the name says; a refused or short file leaves
// the words as they were; only regular files of a mask's size are read at all.
TEST_F(MaskFileTest, MasksAreRecognisedByContentAndRefusedWhole) {
    constexpr size_t kCount = 65536;
    std::string ascii;
    for (size_t i = 0; i < kCount; ++i) ascii += i % 256 == 255 ? "1\n" : "1 ";
    const std::string binary(kCount, '\x80');
    const std::string allDigits(kCount, '1');  // a byte a pixel: binary, whatever the name
    const std::string hdf5 = std::string("\x89HDF\r\n\x1a\n", 8) + std::string(4000, '\0');
    const std::filesystem::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sparse = (dir / "sparse.txt").string();
    std::filesystem::resize_file(Write("sparse.txt", ""), uint64_t{1} << 30);
    struct Case {
        std::string path;
        MaskReadResult result;
        uint16_t first;  // words[0] afterwards (0xAAAA: untouched)
    } cases[] = {
        {Write("upper.TXT", ascii), MaskReadResult::Ok, 1},
        {Write("named.msk", ascii), MaskReadResult::Ok, 1},
        {Write("bytes.txt", binary), MaskReadResult::Ok, 0x0800},
        {Write("bytes.bpc", binary), MaskReadResult::Ok, 0x0800},
        {Write("digits.bpc", allDigits), MaskReadResult::Ok, MaskByteToWord('1', false)},
        {Write("digits.txt", allDigits), MaskReadResult::Ok, MaskByteToWord('1', false)},
        {Write("short.bpc", binary.substr(1)), MaskReadResult::NotAMask, 0xAAAA},
        {Write("short.txt", "1 2 x 4"), MaskReadResult::CannotRead, 0xAAAA},
        {Write("run.h5", hdf5), MaskReadResult::NotAMask, 0xAAAA},
        {sparse, MaskReadResult::NotAMask, 0xAAAA},
        {"/dev/zero", MaskReadResult::NotRegular, 0xAAAA},
        {fifo.string(), MaskReadResult::NotRegular, 0xAAAA},  // must not wait for a writer
        {dir.string(), MaskReadResult::NotRegular, 0xAAAA},
        {(dir / "absent.txt").string(), MaskReadResult::CannotOpen, 0xAAAA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<uint16_t> words(kCount, 0xAAAA);
        EXPECT_EQ(ReadMaskFile(c.path, false, words.data(), words.size()), c.result);
        EXPECT_EQ(words[0], c.first);
        EXPECT_EQ(words[kCount - 1], c.first);
        EXPECT_NE(std::string(MaskReadReason(c.result)).empty(), c.result != MaskReadResult::Ok);
    }
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
