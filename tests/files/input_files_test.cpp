// Every reader of a file the user names refuses what is not a regular file at once (a pipe
// without a writer must not block it, a device must not feed it without end) and does not
// read a file far larger than its format allows.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../config/config_test_support.h"
#include "analog/pulse_heights.h"
#include "base/input_file.h"
#include "config/configuration.h"
#include "files/frame_file.h"
#include "files/pulse_files.h"

namespace ulvarin {
namespace {

class InputFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::ofstream(sparse.string());
        std::filesystem::resize_file(sparse, uint64_t{1} << 30);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ulvarin_inputs_" + std::to_string(::getpid()));
    std::filesystem::path fifo = dir / "pipe.txt", sparse = dir / "huge.txt";
};

TEST_F(InputFiles, OnlyRegularFilesOfASensibleSizeAreRead) {
    std::vector<int32_t> counts(65536);
    Spectrum spectrum{};
    config::Configuration c;
    config::testing::RecordingTarget target;
    // Each reader and whether it accepted the path.
    const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> readers = {
        {"frame file",
         [&](const std::string& p) { return LoadFrameFile(p, {}, false, counts).ok(); }},
        {"spectrum",
         [&](const std::string& p) {
             return ReadSpectrumFile(p, spectrum).result == TextFileResult::Ok;
         }},
        {"configuration",
         [&](const std::string& p) { return config::ReadConfiguration(p, c, target).ok(); }},
    };
    for (const std::string& path :
         {fifo.string(), std::string("/dev/zero"), dir.string(), sparse.string()}) {
        for (const auto& [name, read] : readers) {
            SCOPED_TRACE(std::string(name) + " " + path);
            EXPECT_FALSE(read(path));
        }
    }
    const struct {
        std::string path;
        InputCheck check;
    } checks[] = {{fifo.string(), InputCheck::kNotRegular},
                  {"/dev/zero", InputCheck::kNotRegular},
                  {dir.string(), InputCheck::kNotRegular},
                  {sparse.string(), InputCheck::kTooLarge},
                  {(dir / "absent").string(), InputCheck::kCannotOpen}};
    for (const auto& [path, expected] : checks) {
        SCOPED_TRACE(path);
        InputCheck check{};
        EXPECT_EQ(OpenInputFile(path, 1 << 20, check), nullptr);
        EXPECT_EQ(check, expected);
        EXPECT_NE(InputCheckReason(check, path, 1 << 20).find(path), std::string::npos);
    }
}

}  // namespace
}  // namespace ulvarin
