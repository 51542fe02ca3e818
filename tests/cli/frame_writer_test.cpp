// The frame writers: the same frames read back alike from every format, in the image layout;
// an HDF5 run cut without closing still opens; failures are told, not hidden.
#include "files/frame_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/program_version.h"
#include "files/frame_file.h"
#include "files/frame_writer_factory.h"
#include "files/hdf5_frame_writer.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/file_readers.h"

namespace ulvarin {
namespace {

using test::Hdf5Reader;
using test::TestFolder;

RunDescription QuadRun(int expectedFrames) {
    RunDescription run;
    run.layout = {4, ChipFamily::Timepix};
    run.deviceName = "Medipix2 ver 3.0 : Emulator Timepix x4";
    run.chipIdText = "A05-W1234 B05-W1234 C05-W1234 D05-W1234";
    run.dacs.assign(4, DefaultDacRecord(ChipType::Timepix));
    run.dacs[2].dac[6] = 321;
    run.expectedFrames = expectedFrames;
    return run;
}

// Distinct values per chip and pixel, with a few negatives that are written as 0.
std::vector<int32_t> Pattern(int frame) {
    std::vector<int32_t> counts(4 * kChipPixels);
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] = static_cast<int32_t>(i * 7 + static_cast<size_t>(frame) * 100000) % 65521;
    counts[5] = -3;
    return counts;
}

// The image the frame shows, pixel by pixel through the layout's own index map.
std::vector<uint32_t> ExpectedImage(const std::vector<int32_t>& counts, const ChipLayout& layout) {
    std::vector<uint32_t> image(GeometryFor(layout.chipCount).pixels());
    for (uint32_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint32_t>(std::max(0, counts[ImageIndexToPixel(i, layout)]));
    return image;
}

void WriteFrames(const std::string& path, const RunDescription& run, int frames) {
    std::string error;
    std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, run, error);
    ASSERT_NE(writer, nullptr) << error;
    for (int f = 0; f < frames; ++f)
        ASSERT_TRUE(writer->Append(Pattern(f), {0.5, f * 1.0, 100 + f})) << writer->error();
    EXPECT_TRUE(writer->Close()) << writer->error();
}

TEST(FrameWriter, EveryFormatHoldsTheSameFramesInTheImageLayout) {
    const std::string folder = TestFolder("formats");
    const RunDescription run = QuadRun(2);
    WriteFrames(folder + "/run.h5", run, 2);
    WriteFrames(folder + "/run.tif", run, 2);
    WriteFrames(folder + "/run.txt", run, 2);

    Hdf5Reader h5(folder + "/run.h5");
    ASSERT_TRUE(h5.ok());
    EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{2, 512, 512}));
    const std::vector<uint32_t> stack = h5.Counts("frames");
    const std::vector<test::TiffPage> pages = test::ReadTiffPages(folder + "/run.tif");
    ASSERT_EQ(pages.size(), 2u);
    for (int f = 0; f < 2; ++f) {
        const std::vector<uint32_t> expected = ExpectedImage(Pattern(f), run.layout);
        const std::vector<uint32_t> stacked(stack.begin() + f * expected.size(),
                                            stack.begin() + (f + 1) * expected.size());
        EXPECT_EQ(stacked, expected) << "HDF5 frame " << f;
        EXPECT_EQ(pages[f].width, 512u);
        EXPECT_EQ(pages[f].height, 512u);
        EXPECT_EQ(pages[f].bits, 32u);
        EXPECT_EQ(pages[f].sampleFormat, 1u);  // unsigned integers
        EXPECT_EQ(pages[f].values, expected) << "TIFF page " << f;
        // Text files keep the window's chip order, numbered after the given name.
        std::vector<int32_t> loaded(4 * kChipPixels);
        const std::string name = folder + "/run000" + std::to_string(f) + ".txt";
        ASSERT_TRUE(LoadFrameFile(name, run.layout, true, loaded).ok()) << name;
        EXPECT_EQ(loaded, Pattern(f));
    }
    EXPECT_EQ(h5.Doubles("exposure"), (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(h5.Doubles("timestamp"), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(h5.Text("chip_type"), "Timepix");
    EXPECT_EQ(h5.Text("chip_ids"), run.chipIdText);
    EXPECT_EQ(h5.Text("program_version"), ProgramVersion());
    EXPECT_EQ(h5.Text("start_time").size(), 20u) << h5.Text("start_time");
    EXPECT_EQ(h5.IntAttribute("chip_count"), std::vector<int32_t>{4});
    const std::vector<int32_t> dacs = h5.IntAttribute("dacs");
    ASSERT_EQ(dacs.size(), 4u * DacCountOf(ChipType::Timepix));
    EXPECT_EQ(dacs[2 * DacCountOf(ChipType::Timepix) + 6], 321);
    EXPECT_TRUE(h5.Dims("scan_values").empty()) << "a plain run has no scan values";
}

// One text frame keeps the name given; a TIFF run too long for classic TIFF is BigTIFF.
TEST(FrameWriter, NamesAndTiffKindFollowTheRunLength) {
    const std::string folder = TestFolder("single");
    WriteFrames(folder + "/one.txt", QuadRun(1), 1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/one.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/one0000.txt"));

    WriteFrames(folder + "/short.tif", QuadRun(4000), 1);
    WriteFrames(folder + "/long.tif", QuadRun(4200), 1);
    const std::vector<test::TiffPage> shortRun = test::ReadTiffPages(folder + "/short.tif");
    const std::vector<test::TiffPage> longRun = test::ReadTiffPages(folder + "/long.tif");
    ASSERT_EQ(shortRun.size(), 1u);
    ASSERT_EQ(longRun.size(), 1u);
    EXPECT_FALSE(shortRun[0].bigTiff);
    EXPECT_TRUE(longRun[0].bigTiff);
    EXPECT_EQ(longRun[0].values, shortRun[0].values);
}

// A child writes three frames; another program follows them while the child still writes,
// then the child ends without closing the file, as a killed run would. The flushed frames
// stay readable, and the file is refused to a second writer rather than written twice.
TEST(FrameWriter, HdfRunIsFollowedWhileWrittenAndKeepsItsFramesWhenCut) {
    const std::string path = TestFolder("cut") + "/cut.h5";
    RunDescription run = QuadRun(10);
    run.scanDac = "Thl Fine";
    int written[2], release[2];
    ASSERT_EQ(pipe(written), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    if (child == 0) {
        std::string error;
        std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, run, error);
        for (int f = 0; writer && f < 3; ++f) writer->Append(Pattern(f), {0.1, f * 0.1, 10 * f});
        const char ok = writer && writer->frames() == 3 ? 'y' : 'n';
        char go = 0;
        _exit(write(written[1], &ok, 1) == 1 && read(release[0], &go, 1) == 1 ? 0 : 1);
    }
    char ok = 0;
    ASSERT_EQ(read(written[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    {
        EXPECT_FALSE(Hdf5Reader(path).ok()) << "a plain reader must not read a file in flux";
        Hdf5Reader follower(path, true);
        ASSERT_TRUE(follower.ok());
        EXPECT_EQ(follower.Dims("frames"), (std::vector<uint64_t>{3, 512, 512}));
        EXPECT_EQ(follower.Ints("scan_values"), (std::vector<int32_t>{0, 10, 20}));
    }
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {written[0], written[1], release[0], release[1]}) close(fd);

    {
        Hdf5Reader h5(path, true);
        ASSERT_TRUE(h5.ok());
        EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{3, 512, 512}));
        EXPECT_EQ(h5.Text("scan_dac"), "Thl Fine");
        const std::vector<uint32_t> stack = h5.Counts("frames");
        const std::vector<uint32_t> last = ExpectedImage(Pattern(2), run.layout);
        EXPECT_TRUE(std::equal(last.begin(), last.end(), stack.end() - last.size()));
    }
    std::string error;
    EXPECT_EQ(ReopenHdf5RunFile(path, run.layout, error), nullptr);
    EXPECT_NE(error.find("h5clear"), std::string::npos) << error;
}

// A run file reopened takes frames after those it holds, and only of its own layout.
TEST(FrameWriter, ReopenedRunContinuesOnlyWithItsLayout) {
    const std::string path = TestFolder("reopen") + "/run.h5";
    const RunDescription run = QuadRun(0);
    WriteFrames(path, run, 2);
    std::string error;
    EXPECT_EQ(ReopenHdf5RunFile(path, {2, ChipFamily::Timepix}, error), nullptr);
    EXPECT_EQ(ReopenHdf5RunFile(path, {4, ChipFamily::Medipix2}, error), nullptr);
    EXPECT_NE(error.find("another layout"), std::string::npos) << error;
    std::unique_ptr<FrameWriter> writer = ReopenHdf5RunFile(path, run.layout, error);
    ASSERT_NE(writer, nullptr) << error;
    EXPECT_EQ(writer->frames(), 2);
    ASSERT_TRUE(writer->Append(Pattern(5), {0.25, 9.0, 0}));
    ASSERT_TRUE(writer->Close());
    Hdf5Reader h5(path);
    EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{3, 512, 512}));
    EXPECT_EQ(h5.Doubles("exposure"), (std::vector<double>{0.5, 0.5, 0.25}));
    EXPECT_EQ(h5.Text("chip_ids"), run.chipIdText);
}

TEST(FrameWriter, RefusesUnknownTypesAndPlacesItCannotWrite) {
    const RunDescription run = QuadRun(2);
    for (const char* path : {"/tmp/frames.png", "/nonexistent/run.h5", "/nonexistent/run.tif",
                             "/nonexistent/run.txt"}) {
        std::string error;
        EXPECT_EQ(OpenFrameWriter(path, run, error), nullptr) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_EQ(FrameFormatFor("a/B.H5"), FrameFormat::kHdf5);
    EXPECT_EQ(FrameFormatFor("x.tiff"), FrameFormat::kTiff);
    EXPECT_EQ(FrameFormatFor("dir.h5/frames"), std::nullopt);
}

}  // namespace
}  // namespace ulvarin
