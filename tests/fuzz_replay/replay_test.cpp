// Replays every kept fuzz input (the seeds and each input that once found a fault) through
// its target body. A body aborts on a broken promise, so a fault that returns fails here
// with the input's name printed just before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/targets.h"

namespace ulvarin::fuzz {
namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;  // also its corpus folder
    void (*body)(const uint8_t*, size_t);
};

constexpr Target kTargets[] = {
    {"mask_file", MaskFileTarget},         {"frame_file", FrameFileTarget},
    {"pulse_files", PulseFilesTarget},     {"configuration", ConfigurationTarget},
    {"matrix_stream", MatrixStreamTarget}, {"device_answers", DeviceAnswersTarget},
};

std::vector<fs::path> CorpusFiles(const std::string& target) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(ULVARIN_FUZZ_CORPUS) / target))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryKeptInputRunsClean) {
    const Target& target = GetParam();
    const std::vector<fs::path> files = CorpusFiles(target.name);
    ASSERT_FALSE(files.empty()) << "no kept inputs for " << target.name;
    for (const fs::path& file : files) {
        std::fprintf(stderr, "replaying %s\n", file.c_str());
        const std::string bytes = Contents(file);
        target.body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& instance) { return std::string(instance.param.name); });

// A corpus folder that no target replays would be kept for nothing.
TEST(CorpusReplay, EveryCorpusFolderHasItsTarget) {
    for (const auto& entry : fs::directory_iterator(ULVARIN_FUZZ_CORPUS)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::any_of(std::begin(kTargets), std::end(kTargets), [&](const Target& t) {
            return name == t.name;
        })) << name;
    }
}

}  // namespace
}  // namespace ulvarin::fuzz
