#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "files/autosave_template.h"
#include "files/frame_file.h"

namespace ulvarin {
namespace {

constexpr size_t kChip = 65536;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("ulvarin_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

size_t ValuesIn(const std::string& line) {
    size_t count = 0;
    for (size_t i = 0; i < line.size(); ++i)
        count += line[i] != ' ' && (i == 0 || line[i - 1] == ' ');
    return count;
}

// Every chip count and family through both writers and back: each pixel keeps its value,
// the loader takes the file's chip count, and the shape is the one the layout promises
// (three chips: 256 lines of 768 in image order).
TEST(FrameFileRoundTrip, EveryChipCountAndWriterKeepsEachPixel) {
    const std::string path = TempPath("round.txt");
    for (const ChipFamily family : {ChipFamily::Medipix2, ChipFamily::Timepix}) {
        for (int chips = 1; chips <= 4; ++chips) {
            SCOPED_TRACE(testing::Message()
                         << chips << " chips, family " << static_cast<int>(family));
            const ChipLayout layout{chips, family};
            std::vector<int32_t> counts(layout.pixelsInUse());
            std::iota(counts.begin(), counts.end(), -1000);
            std::vector<double> result(counts.begin(), counts.end());
            for (double& v : result) v += v < 0 ? -0.5 : 0.75;  // truncated on loading

            for (const bool image : {false, true}) {
                const FrameFileStatus written = image ? WriteResultImage(path, result, layout)
                                                      : WriteCountFrameFile(path, counts);
                ASSERT_EQ(written, FrameFileStatus::kOk);
                const auto lines = ReadLines(path);
                const bool imageOrder = image && chips > 1;
                const size_t perLine = imageOrder ? GeometryFor(chips).width() : 256;
                ASSERT_EQ(lines.size(), counts.size() / perLine);
                EXPECT_EQ(ValuesIn(lines.back()), perLine);
                EXPECT_EQ(lines.back().back(), ' ');

                std::vector<int32_t> loaded(4 * kChip, 99999);
                const auto load = LoadFrameFile(path, {4, family}, false, loaded);
                ASSERT_TRUE(load.ok()) << FrameFileMessage(load.status);
                EXPECT_EQ(load.newChipCount, chips);
                EXPECT_EQ(load.valuesPerLine, perLine);
                loaded.resize(counts.size());
                EXPECT_EQ(loaded, counts);
            }
        }
    }
    std::filesystem::remove(path);
}

TEST(FrameFileRoundTrip, FourChipImageIntoTwoChipDeviceGivesTheUpperChips) {
    const std::string path = TempPath("quad.txt");
    const ChipLayout quad{4, ChipFamily::Medipix2};
    std::vector<double> result(quad.pixelsInUse());
    std::iota(result.begin(), result.end(), 0.0);
    ASSERT_EQ(WriteResultImage(path, result, quad), FrameFileStatus::kOk);
    std::vector<int32_t> loaded(4 * kChip, -1);
    const auto load = LoadFrameFile(path, {2, ChipFamily::Medipix2}, true, loaded);
    ASSERT_TRUE(load.ok());
    EXPECT_FALSE(load.newChipCount.has_value());
    for (size_t p = 0; p < 2 * kChip; p += 4099) EXPECT_EQ(loaded[p], static_cast<int>(p));
    EXPECT_EQ(loaded[2 * kChip], -1);
    std::filesystem::remove(path);
}

TEST(FrameFileRoundTrip, WritersReportFailuresAndShortInput) {
    const std::vector<double> few(100);
    const std::string path = TempPath("short.txt");
    EXPECT_EQ(WriteResultImage(path, few, {1, ChipFamily::Timepix}),
              FrameFileStatus::kOutputWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(WriteCountFrameFile("/nonexistent/f.txt", std::vector<int32_t>(kChip)),
              FrameFileStatus::kOutputOpenFailed);
    EXPECT_STREQ(FrameFileMessage(FrameFileStatus::kOutputOpenFailed),
                 "Error - coldn't open output file");
    EXPECT_STREQ(FrameFileMessage(FrameFileStatus::kOutputWriteFailed),
                 "Error - coldn't write to output file");
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(WriteCountFrameFile("/dev/full", std::vector<int32_t>(kChip)),
                  FrameFileStatus::kOutputWriteFailed);
    }
}

TEST(AutosaveTemplate, ChosenNamesSplitIntoPrefixNumberSuffix) {
    struct Case {
        std::string chosen, prefix;
        int digits, number;
        std::string suffix, firstName;
    };
    const std::vector<Case> cases = {
        {"/run/data_0120.txt", "/run/data_", 4, 120, ".txt", "/run/data_0120.txt"},
        {"/run/scan.txt", "/run/scan", 4, 0, ".txt", "/run/scan0000.txt"},
        {"/run/frame", "/run/frame", 4, 0, ".txt", "/run/frame0000.txt"},
        {"/run/f7_a.dat", "/run/f", 1, 7, "_a.dat", "/run/f7_a.dat"},
        // A dot and digits only in a folder's name: neither is the file's.
        {"/run.2/frame", "/run.2/frame", 4, 0, ".txt", "/run.2/frame0000.txt"},
        // A long digit run: nine digits are the number, the rest stays in the prefix.
        {"/r/x12345678901234.txt", "/r/x12345", 9, 678901234, ".txt", "/r/x12345678901234.txt"},
    };
    for (const auto& c : cases) {
        const AutosaveTemplate t = AutosaveTemplateFromName(c.chosen);
        EXPECT_EQ(t.prefix, c.prefix) << c.chosen;
        EXPECT_EQ(t.digits, c.digits) << c.chosen;
        EXPECT_EQ(t.number, c.number) << c.chosen;
        EXPECT_EQ(t.lastFileNumber, c.number) << c.chosen;
        EXPECT_EQ(t.suffix, c.suffix) << c.chosen;
        EXPECT_EQ(AutosaveFileName(t, t.number), c.firstName) << c.chosen;
    }
    EXPECT_EQ(ShownFileName("/run/data_0007.txt"), "data_0007.txt");
    EXPECT_EQ(ShownFileName("data.txt"), "data.txt");
    EXPECT_EQ(AutosaveFileName(AutosaveTemplate{}, 7), "data_0007.txt");
    EXPECT_EQ(AutosaveFileName({"a", 50, 1, ".t", 0}, 1), "a000000001.t");  // width held
}

TEST(AutosaveTemplate, AutosaveAdvancesOnlyOnSuccessAndStepsSaturate) {
    AutosaveTemplate t = AutosaveTemplateFromName(TempPath("auto_0007.txt"));
    const std::vector<int32_t> counts(kChip, 3);
    std::string written;
    ASSERT_EQ(AutosaveFrame(t, counts, written), FrameFileStatus::kOk);
    EXPECT_EQ(ShownFileName(written), ShownFileName(TempPath("auto_0007.txt")));
    EXPECT_EQ(t.lastFileNumber, 7);
    EXPECT_EQ(t.number, 8);

    // ">>" names number 8, which does not exist: the load fails and the window keeps 7.
    const SteppedFile next = StepAutosave(t, +1);
    EXPECT_EQ(next.number, 8);
    std::vector<int32_t> loaded(4 * kChip);
    EXPECT_EQ(LoadFrameFile(next.name, {}, false, loaded).status,
              FrameFileStatus::kInputOpenFailed);
    const SteppedFile back = StepAutosave(t, -1);
    EXPECT_EQ(back.number, 6);
    EXPECT_TRUE(LoadFrameFile(StepAutosave(t, 0).name, {}, false, loaded).ok());
    EXPECT_EQ(loaded[kChip - 1], 3);
    std::filesystem::remove(written);

    AutosaveTemplate broken{"/nonexistent/x_", 4, 5, ".txt", 4};
    EXPECT_EQ(AutosaveFrame(broken, counts, written), FrameFileStatus::kOutputOpenFailed);
    EXPECT_EQ(broken.number, 5);
    EXPECT_EQ(broken.lastFileNumber, 4);

    EXPECT_EQ(SteppedNumber(INT_MAX, 1), INT_MAX);
    EXPECT_EQ(SteppedNumber(INT_MIN, -1), INT_MIN);
    EXPECT_EQ(SteppedNumber(0, -1), -1);
}

}  // namespace
}  // namespace ulvarin
