#include "files/frame_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace ulvarin {
namespace {

TEST(FrameFile, CountsInChipOrderWithRightAlignedValues) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("ulvarin_frame_" + std::to_string(::getpid()) + ".txt");
    std::vector<int32_t> counts(2 * 65536);
    counts[0] = 7;
    counts[255] = -12;
    counts[65536] = 123456789;
    ASSERT_TRUE(WriteCountFrame(path.string(), counts));
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::filesystem::remove(path);
    ASSERT_EQ(lines.size(), 512u);
    EXPECT_EQ(lines[0].size(), 256u * 9);
    EXPECT_EQ(lines[0].substr(0, 18), "       7        0 ");
    EXPECT_EQ(lines[0].substr(255 * 9), "     -12 ");
    EXPECT_EQ(lines[256].substr(0, 10), "123456789 ");  // wider numbers keep their digits
}

TEST(FrameFile, UnwritablePathFails) {
    std::vector<int32_t> counts(65536);
    EXPECT_FALSE(WriteCountFrame("/nonexistent-folder/frame.txt", counts));
}

}  // namespace
}  // namespace ulvarin
