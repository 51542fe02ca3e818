#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/frame_file.h"

namespace ulvarin {
namespace {

constexpr size_t kChip = 65536;

class FrameFileLoad : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path_); }

    const std::string& Write(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
        return path_;
    }

    // `lines` lines of `perLine` values, all `value`, each followed by a blank.
    static std::string Lines(size_t lines, size_t perLine, const std::string& value = "1",
                             const char* end = "\n") {
        std::string line;
        for (size_t i = 0; i < perLine; ++i) line += value + ' ';
        line += end;
        std::string text;
        for (size_t i = 0; i < lines; ++i) text += line;
        return text;
    }

    FrameLoadResult Load(const std::string& text, ChipLayout current = {},
                         bool deviceOpen = false) {
        return LoadFrameFile(Write(text), current, deviceOpen, counts_);
    }

    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("ulvarin_load_" + std::to_string(::getpid()) + ".txt"))
                            .string();
    std::vector<int32_t> counts_ = std::vector<int32_t>(4 * kChip, -7);
};

TEST_F(FrameFileLoad, ShapeRejectionsCarryTheirMessages) {
    using S = FrameFileStatus;
    struct Case {
        std::string text;
        S status;
    };
    const std::vector<Case> cases = {
        {"", S::kReadFailed},
        {Lines(256, 255), S::kWrongItemsPerRow},
        {Lines(256, 256) + Lines(1, 512), S::kVariousItemsPerRow},
        {Lines(256, 256) + "\n", S::kVariousItemsPerRow},  // an empty line after the rows
        {Lines(300, 256), S::kWrongRows},
        {Lines(1280, 256), S::kWrongChips},
        {Lines(256, 0), S::kWrongChips},           // 256 empty lines hold no chip
        {Lines(256, 1024), S::kWrongItemsPerRow},  // four chips, but not one image row
        {Lines(256, 256, "x") + "oops", S::kWrongItemsPerRow},
    };
    for (const auto& c : cases) {
        const auto result = Load(c.text);
        EXPECT_EQ(result.status, c.status) << FrameFileMessage(c.status);
        EXPECT_FALSE(result.newChipCount.has_value());
        EXPECT_EQ(counts_[0], -7);  // nothing read before the shape passed
    }
    EXPECT_STREQ(FrameFileMessage(S::kReadFailed),
                 "Error - coldn't read data file\nNot compatible data format!");
    EXPECT_STREQ(FrameFileMessage(S::kWrongItemsPerRow),
                 "Error - Not compatible data format! \r(Wrong number of items per row)");
    EXPECT_STREQ(FrameFileMessage(S::kVariousItemsPerRow),
                 "Error - Not compatible data format! \r(Various number of items per row)");
    EXPECT_STREQ(FrameFileMessage(S::kWrongRows),
                 "Error - Not compatible data format! \r(Wrong number of rows)");
    EXPECT_STREQ(FrameFileMessage(S::kWrongChips),
                 "Error - Not compatible data format! \r(Wrong number of chips)");
    EXPECT_STREQ(FrameFileMessage(S::kInputOpenFailed), "Error - coldn't open data file");
    EXPECT_EQ(LoadFrameFile("/nonexistent/f.txt", {}, false, counts_).status, S::kInputOpenFailed);
    EXPECT_EQ(ImageLoadedLine("a.txt"), "Image Loaded from: a.txt");
    EXPECT_EQ(ImageWrittenLine("a.txt"), "Image written to: a.txt");
}

TEST_F(FrameFileLoad, ValuesTruncateClampAndBadValuesStopTheRead) {
    std::string text = "12.7 -3.9 1e20 -1e20 +5 2147483647.9 ";
    for (int i = 6; i < 256; ++i) text += "0 ";
    text += "\r\n";  // CR LF endings are taken
    text += Lines(255, 256, "4", "\r\n");
    auto result = Load(text);
    ASSERT_TRUE(result.ok()) << FrameFileMessage(result.status);
    EXPECT_EQ(result.newChipCount, 1);
    EXPECT_EQ(result.valuesRead, kChip);
    EXPECT_EQ(std::vector<int32_t>(counts_.begin(), counts_.begin() + 6),
              (std::vector<int32_t>{12, -3, INT_MAX, INT_MIN, 5, INT_MAX}));
    EXPECT_EQ(counts_[kChip - 1], 4);
    EXPECT_EQ(counts_[kChip], -7);  // beyond the file's chip: untouched

    // Infinities and magnitudes beyond any range are clamped like the large values above,
    // and a number of any length the C library reads is read.
    const std::vector<std::pair<std::string, int32_t>> clamped = {
        {"inf", INT_MAX},  {"-inf", INT_MIN},   {"INF", INT_MAX},
        {"-Infinity", INT_MIN}, {"1e999", INT_MAX}, {"-1e999", INT_MIN},
        {"1e-999", 0},     {std::string(5000, '9'), INT_MAX},
        {std::string(70, '0') + "12", 12}, {"0x1p4", 16}};
    for (const auto& [value, expected] : clamped) {
        std::string file = value + " " + Lines(1, 255, "3") + Lines(255, 256, "3");
        result = Load(file);
        ASSERT_TRUE(result.ok()) << value.substr(0, 12) << ": " << FrameFileMessage(result.status);
        EXPECT_EQ(counts_[0], expected) << value.substr(0, 12);
    }

    // A value that is no number, or a run of characters beyond any number's length, stops
    // the read there; the values before it stay, and the file's chip count was already taken.
    for (const std::string& bad : std::vector<std::string>{
             "abc", "nan", "-NaN", "1e5x", "--5", "12abc", std::string((1 << 20) + 1, '9')}) {
        std::fill(counts_.begin(), counts_.end(), -7);
        std::string file = Lines(2, 256, "3") + "5 " + bad + " " + Lines(1, 254, "3");
        file += Lines(253, 256, "3");
        result = Load(file);
        EXPECT_EQ(result.status, FrameFileStatus::kReadFailed) << bad.substr(0, 10);
        EXPECT_EQ(result.newChipCount, 1);
        EXPECT_EQ(result.valuesRead, 513u);
        EXPECT_EQ(counts_[512], 5);
        EXPECT_EQ(counts_[513], -7);
    }
}

TEST_F(FrameFileLoad, LongLinesAreCountedWhole) {
    // Two chips in image order with 40-character values: lines of about 20000 characters.
    const auto result = Load(Lines(256, 512, "1.000000000000000000000000000000000000009"));
    ASSERT_TRUE(result.ok()) << FrameFileMessage(result.status);
    EXPECT_EQ(result.newChipCount, 2);
    EXPECT_EQ(result.valuesPerLine, 512u);
    EXPECT_EQ(std::count(counts_.begin(), counts_.begin() + 2 * kChip, 1), 2 * 65536);
}

TEST_F(FrameFileLoad, OpenDeviceKeepsItsChipCount) {
    // Four chips in chip order, chip c holding c + 1: a one-chip device takes chip 0 only.
    std::string text;
    for (int c = 0; c < 4; ++c) text += Lines(256, 256, std::to_string(c + 1));
    auto result = Load(text, {1, ChipFamily::Timepix}, true);
    ASSERT_TRUE(result.ok());
    EXPECT_FALSE(result.newChipCount.has_value());
    EXPECT_EQ(result.fileChips, 4);
    EXPECT_EQ(counts_[kChip - 1], 1);
    EXPECT_EQ(counts_[kChip], -7);

    // A one-chip file cannot fill a two-chip device: the read runs out.
    result = Load(Lines(256, 256), {2, ChipFamily::Timepix}, true);
    EXPECT_EQ(result.status, FrameFileStatus::kReadFailed);
    EXPECT_EQ(result.valuesRead, kChip);
}

}  // namespace
}  // namespace ulvarin
