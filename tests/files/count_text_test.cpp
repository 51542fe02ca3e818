// The count text against printf's "%8d " over the same values: written files and the blocks
// of any number of formatting threads give the same bytes.
#include "files/count_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/frame_file.h"

namespace ulvarin {
namespace {

constexpr size_t kChip = 65536;

// The text as printf forms it, a line feed after every 256 values and after the last.
std::string PrintfText(const std::vector<int32_t>& counts) {
    std::string text;
    char value[32];
    for (size_t i = 0; i < counts.size(); ++i) {
        text.append(value,
                    static_cast<size_t>(std::snprintf(value, sizeof value, "%8d ", counts[i])));
        if ((i + 1) % 256 == 0 || i + 1 == counts.size()) text += '\n';
    }
    return text;
}

std::string Joined(std::span<const std::span<const char>> blocks) {
    std::string text;
    for (const std::span<const char> block : blocks) text.append(block.data(), block.size());
    return text;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every width printf can give, both signs, and the limits of the counters and of int32.
std::vector<int32_t> EdgeValues() {
    constexpr int32_t kLowest = std::numeric_limits<int32_t>::min();
    constexpr int32_t kHighest = std::numeric_limits<int32_t>::max();
    std::vector<int32_t> values = {
        0,     1,       9,        10,        99,        100,        11810,       16383,
        16384, 9999999, 10000000, 99999999,  100000000, 123456789,  kHighest,    -1,
        -9,    -10,     -9999999, -10000000, -12345678, -123456789, kLowest + 1, kLowest};
    for (int32_t power = 1; power <= 100000000; power *= 10) {
        values.push_back(power - 1);
        values.push_back(-power);
    }
    return values;
}

// A frame of `size` values: the edge values spread through it, random counts between.
std::vector<int32_t> MixedFrame(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> count(0, 16383);
    std::vector<int32_t> counts(size);
    for (int32_t& c : counts) c = count(gen);
    const std::vector<int32_t> edges = EdgeValues();
    for (size_t i = 0; i < size; ++i)
        if (i % 97 == 0) counts[i] = edges[(i / 97) % edges.size()];
    return counts;
}

TEST(CountText, FilesMatchPrintfForEveryWidthAndSign) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("ulvarin_count_text_" + std::to_string(::getpid()) + ".txt"))
                                 .string();
    // One line of edge values, a four-chip frame, and lengths that end inside a line.
    std::vector<int32_t> edges = EdgeValues();
    edges.resize(256, 7);
    for (const std::vector<int32_t>& counts : {edges, MixedFrame(4 * kChip, 1), MixedFrame(300, 2),
                                               MixedFrame(1, 3), std::vector<int32_t>{}}) {
        ASSERT_EQ(WriteCountFrameFile(path, counts), FrameFileStatus::kOk);
        EXPECT_EQ(FileText(path), PrintfText(counts)) << counts.size() << " values";
    }
    std::filesystem::remove(path);
}

// The formatters are kept from frame to frame, as autosave keeps its own, so text left in
// their buffers by a larger frame of wider values must not reach a later one.
TEST(CountText, AnyNumberOfThreadsGivesTheSerialBytes) {
    std::vector<CountTextFormatter> formatters;
    for (int threads = 1; threads <= CountTextFormatter::kMaxThreads; ++threads)
        formatters.emplace_back(threads);
    const std::vector<int32_t> widest(4 * kChip, std::numeric_limits<int32_t>::min());
    std::vector<std::vector<int32_t>> frames = {widest};
    for (const size_t size : {4 * kChip, 3 * kChip, kChip, 4 * kChip - 1, size_t{33 * 256 + 5}})
        frames.push_back(MixedFrame(size, static_cast<unsigned>(size)));
    for (const std::vector<int32_t>& counts : frames) {
        const std::string expected = PrintfText(counts);
        for (CountTextFormatter& formatter : formatters) {
            EXPECT_EQ(Joined(formatter.Format(counts)), expected)
                << counts.size() << " values, " << formatter.threads() << " threads";
        }
    }
}

TEST(CountText, FailuresAreToldApart) {
    CountTextFormatter formatter(2);
    const std::vector<int32_t> counts = MixedFrame(kChip, 6);
    EXPECT_EQ(formatter.WriteFile("/nonexistent-folder/frame.txt", counts),
              FrameFileStatus::kOutputOpenFailed);
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(formatter.WriteFile("/dev/full", counts), FrameFileStatus::kOutputWriteFailed);
    }
}

}  // namespace
}  // namespace ulvarin
