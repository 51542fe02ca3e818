// The frame writers: the same frames read back alike from every format, in the image layout;
// an HDF5 run cut without closing still opens; failures are told, not hidden.
#include "files/frame_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/program_version.h"
#include "files/frame_file.h"
#include "files/frame_writer_factory.h"
#include "files/hdf5_frame_writer.h"
#include "files/nexus_tree.h"
#include "session/run_rules.h"
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
    EXPECT_EQ(ReopenHdf5RunFile(path, run, error), nullptr);
    EXPECT_NE(error.find("h5clear"), std::string::npos) << error;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RunDescription ScanRun(const std::string& dac, int steps) {
    RunDescription run = QuadRun(steps);
    run.scanDac = dac;
    return run;
}

// Frames are added only to a run of the same kind and chips; anything else is refused with
// its reason and the file left byte for byte as it was.
TEST(FrameWriter, AppendsGoOnlyToARunOfTheSameKindAndLeaveOthersUntouched) {
    const std::string folder = TestFolder("append-refused");
    WriteFrames(folder + "/acquisition.h5", QuadRun(2), 2);
    WriteFrames(folder + "/thl.h5", ScanRun("Thl", 2), 2);
    std::ofstream(folder + "/empty.h5").close();
    std::ofstream(folder + "/text.h5") << "not a run\n";
    RunDescription twoChips = QuadRun(1);
    twoChips.layout = {2, ChipFamily::Timepix};
    RunDescription medipix = QuadRun(1);
    medipix.layout = {4, ChipFamily::Medipix2};
    const struct {
        const char* file;
        RunDescription run;
        const char* reason;
    } cases[] = {
        {"acquisition.h5", ScanRun("Thl", 1), "it is an acquisition, not a scan of Thl"},
        {"thl.h5", QuadRun(1), "it is a scan of Thl, not an acquisition"},
        {"thl.h5", ScanRun("Ikrum", 1), "it is a scan of Thl, not of Ikrum"},
        {"acquisition.h5", twoChips, "another layout"},
        {"acquisition.h5", medipix, "another layout"},
        {"empty.h5", QuadRun(1), "it is empty"},
        {"text.h5", QuadRun(1), "Cannot reopen"},
    };
    for (const auto& c : cases) {
        const std::string path = folder + "/" + c.file;
        const std::string before = FileBytes(path);
        std::string error;
        EXPECT_EQ(ReopenHdf5RunFile(path, c.run, error), nullptr) << c.file << " " << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(FileBytes(path), before) << c.file << " was changed by a refused append";
    }
}

// An append carries on the run: numbers and times go on from the last frame, scan values
// are kept, the planned frames add up, and the writer counts only the frames it added.
TEST(FrameWriter, AppendedFramesGoOnFromTheRunTheyJoin) {
    const std::string folder = TestFolder("append-continues");
    const struct {
        const char* name;
        RunDescription run;
    } runs[] = {{"acquisition.h5", QuadRun(2)}, {"scan.h5", ScanRun("Thl", 2)}};
    for (const auto& r : runs) {
        const std::string path = folder + "/" + r.name;
        WriteFrames(path, r.run, 2);  // numbers 1, 2 at 0 s and 1 s; DAC 100, 101
        std::string error;
        RunDescription more = r.run;
        more.expectedFrames = 3;
        std::unique_ptr<FrameWriter> writer = ReopenHdf5RunFile(path, more, error);
        ASSERT_NE(writer, nullptr) << error;
        for (int f = 0; f < 2; ++f)
            ASSERT_TRUE(writer->Append(Pattern(f), {0.25, 0.5 * f, 200 + f, f + 1}));
        EXPECT_EQ(writer->frames(), 2) << "this run's frames only";
        ASSERT_TRUE(writer->Close()) << writer->error();

        Hdf5Reader h5(path);
        ASSERT_TRUE(h5.ok());
        EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{4, 512, 512}));
        const std::vector<double> times = h5.Doubles("timestamp");
        ASSERT_EQ(times.size(), 4u);
        EXPECT_GE(times[2], times[1]) << r.name << ": times go on";
        EXPECT_DOUBLE_EQ(times[3] - times[2], 0.5);
        if (r.run.scanDac.empty()) {
            EXPECT_EQ(h5.Ints("frame_number"), (std::vector<int32_t>{1, 2, 3, 4}));
        } else {
            EXPECT_EQ(h5.Ints("scan_values"), (std::vector<int32_t>{100, 101, 200, 201}));
            EXPECT_EQ(h5.Text("scan_dac"), "Thl");
        }
        EXPECT_EQ(h5.IntAttribute("frames_planned"), std::vector<int32_t>{5});
        EXPECT_EQ(h5.IntAttribute("frames_written"), std::vector<int32_t>{4});
        EXPECT_EQ(h5.Text("end_reason"), "stopped") << "two of three frames added";
    }
}

// The file says how the run ended, and its title claims no more frames than it holds.
TEST(FrameWriter, RunFileRecordsHowTheRunEnded) {
    const std::string folder = TestFolder("end-reason");
    const struct {
        int written;
        const char* told;  // what the caller says, or nothing
        bool scan;
        const char* reason;
        const char* title;
    } cases[] = {
        {3, nullptr, false, "done", "acquisition of 3 frames"},
        {1, nullptr, false, "stopped", "acquisition of 1 of 3 frames (stopped)"},
        {2, "failed: No frame arrived.", false, "failed: No frame arrived.",
         "acquisition of 2 of 3 frames (failed)"},
        {0, "stopped", true, "stopped", "scan of Thl, 0 of 3 steps (stopped)"},
        {3, nullptr, true, "done", "scan of Thl"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = folder + "/run" + std::to_string(n++) + ".h5";
        std::string error;
        std::unique_ptr<FrameWriter> writer =
            OpenFrameWriter(path, c.scan ? ScanRun("Thl", 3) : QuadRun(3), error);
        ASSERT_NE(writer, nullptr) << error;
        for (int f = 0; f < c.written; ++f) ASSERT_TRUE(writer->Append(Pattern(f), {0.5, 1.0 * f}));
        if (c.told != nullptr) writer->SetEndReason(c.told);
        ASSERT_TRUE(writer->Close()) << writer->error();
        Hdf5Reader h5(path);
        ASSERT_TRUE(h5.ok());
        EXPECT_EQ(h5.Text("end_reason"), c.reason);
        EXPECT_EQ(h5.IntAttribute("frames_planned"), std::vector<int32_t>{3});
        EXPECT_EQ(h5.IntAttribute("frames_written"), std::vector<int32_t>{c.written});
        EXPECT_EQ(RunTitle(c.scan ? "Thl" : "", 3, c.written, c.reason), c.title);
    }
}

// A run file is locked while written: the rules refuse to replace or add to it, another
// writer cannot take it, and a replacement is written beside the old file, which readers
// see whole until the new one is put in its place.
TEST(FrameWriter, FileBeingWrittenIsLockedAndReplacedOnlyWhole) {
    const std::string folder = TestFolder("locked");
    for (const char* name : {"run.h5", "run.tif"}) {
        const std::string path = folder + "/" + name;
        WriteFrames(path, QuadRun(1), 1);
        const std::string old = FileBytes(path);
        EXPECT_FALSE(IsBeingWritten(path));
        std::string error;
        std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, QuadRun(2), error);
        ASSERT_NE(writer, nullptr) << error;
        ASSERT_TRUE(writer->Append(Pattern(7), {0.5, 0}));
        EXPECT_TRUE(IsBeingWritten(path)) << name;
        EXPECT_EQ(FileBytes(path), old) << name << ": the old file stays until the new is whole";
        const std::string busy = path + " is being written by another run.";
        EXPECT_EQ(OutputRefusal(path, 1, ExistingOutput::kReplace), busy);
        if (std::string(name) == "run.h5") {
            EXPECT_EQ(OutputRefusal(path, 1, ExistingOutput::kAppend), busy);
        }
        std::string second;
        EXPECT_EQ(OpenFrameWriter(path, QuadRun(1), second), nullptr) << name;
        EXPECT_EQ(second, busy);
        ASSERT_TRUE(writer->Close()) << writer->error();
        EXPECT_FALSE(IsBeingWritten(path));
        EXPECT_NE(FileBytes(path), old) << name << " was replaced at close";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  name == std::string("run.h5") ? 1 : 2)
            << "no temporary file is left";
    }
}

// A text run replacing a longer one leaves no frame of the old run after its own.
TEST(FrameWriter, TextRunReplacingALongerOneRemovesItsLaterFrames) {
    const std::string folder = TestFolder("text-replace");
    WriteFrames(folder + "/run.txt", QuadRun(4), 4);
    std::ofstream(folder + "/run.log") << "kept\n";
    WriteFrames(folder + "/run.txt", QuadRun(3), 2);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"run.log", "run0000.txt", "run0001.txt"}));
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
