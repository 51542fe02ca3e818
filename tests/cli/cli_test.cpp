// ulvarin-cli against emulated interfaces: what it lists and reports, the runs it writes in
// every format, a run ended by Ctrl-C, and the exit codes and messages of bad requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "cli/commands.h"
#include "cli/progress.h"
#include "config/configuration.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/file_readers.h"

namespace ulvarin {
namespace {

using cli::kExitBadArguments;
using cli::kExitInterrupted;
using cli::kExitNoDevice;
using cli::kExitOk;
using cli::kExitWrite;
using test::CliResult;
using test::Hdf5Reader;
using test::RunCli;
using test::TestFolder;

TEST(Cli, ListsAndDescribesTheEmulatedInterfaces) {
    CliResult r = RunCli({"list"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_EQ(r.out,
              "0: Medipix2 ver 3.0 : Emulator Medipix2 x1\n"
              "1: Medipix2 ver 3.0 : Emulator Timepix x4\n");

    r = RunCli({"info", "1"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Device:    Medipix2 ver 3.0 : Emulator Timepix x4\n"), std::string::npos);
    EXPECT_NE(r.out.find("Chips:     4\nChip type: Timepix\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Chip IDs:  A05-W1234 B05-W1234 C05-W1234 D05-W1234"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Firmware:  Emulated interface ver 3.0"), std::string::npos) << r.out;

    // A part of the description names the interface too; the default is the first.
    r = RunCli({"info", "Medipix2 x1"});
    EXPECT_NE(r.out.find("Chips:     1\nChip type: Medipix2"), std::string::npos) << r.out;
    r = RunCli({"info"}, "mxr:2");
    EXPECT_NE(r.out.find("Chips:     2\nChip type: MXR"), std::string::npos) << r.out;
}

TEST(Cli, AcquiresFiveFramesToEveryFormat) {
    const std::string folder = TestFolder("acquire");
    for (const char* name : {"run.h5", "run.tif", "run.txt"}) {
        const std::string out = folder + "/" + name;
        const CliResult r =
            RunCli({"acquire", "0", "--frames", "5", "--exposure", "0.05", "--out", out});
        ASSERT_EQ(r.exitCode, kExitOk) << name << ": " << r.err;
        const std::string files = std::string(name) == "run.txt"
                                      ? folder + "/run0000.txt ... " + folder + "/run0004.txt"
                                      : out;
        EXPECT_EQ(r.out, "5 frames written to " + files + "\n");
        // Not a terminal: one plain progress line per frame.
        EXPECT_NE(r.err.find("5/5 frames"), std::string::npos) << r.err;
    }
    Hdf5Reader h5(folder + "/run.h5");
    EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{5, 256, 256}));
    const std::vector<double> exposure = h5.Doubles("exposure");
    ASSERT_EQ(exposure.size(), 5u);
    for (double e : exposure) EXPECT_NEAR(e, 0.05, 1e-4);
    const std::vector<double> times = h5.Doubles("timestamp");
    ASSERT_EQ(times.size(), 5u);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(h5.Text("device"), "Medipix2 ver 3.0 : Emulator Medipix2 x1");

    const std::vector<test::TiffPage> pages = test::ReadTiffPages(folder + "/run.tif");
    ASSERT_EQ(pages.size(), 5u);
    for (const test::TiffPage& page : pages) {
        EXPECT_EQ(page.width * page.height, static_cast<uint32_t>(kChipPixels));
        uint64_t sum = 0;
        for (uint32_t v : page.values) sum += v;
        EXPECT_GT(sum, 0u) << "an exposed frame counts something";
    }
    for (int f = 0; f < 5; ++f)
        EXPECT_TRUE(std::filesystem::exists(folder + "/run000" + std::to_string(f) + ".txt"));
}

// The mean count of every page of a TIFF run.
std::vector<double> PageMeans(const std::string& path) {
    std::vector<double> means;
    for (const test::TiffPage& page : test::ReadTiffPages(path)) {
        double sum = 0;
        for (uint32_t v : page.values) sum += v;
        means.push_back(page.values.empty() ? 0 : sum / static_cast<double>(page.values.size()));
    }
    return means;
}

TEST(Cli, TimepixChipsCountUnlessAnotherModeIsAsked) {
    const std::string folder = TestFolder("mode");
    const CliResult counting = RunCli(
        {"acquire", "1", "--frames", "1", "--exposure", "0.05", "--out", folder + "/counting.tif"});
    ASSERT_EQ(counting.exitCode, kExitOk) << counting.err;
    const CliResult arrival = RunCli({"acquire", "1", "--frames", "1", "--exposure", "0.05",
                                      "--mode", "TOA", "--out", folder + "/arrival.tif"});
    ASSERT_EQ(arrival.exitCode, kExitOk) << arrival.err;
    const std::vector<double> counts = PageMeans(folder + "/counting.tif");
    const std::vector<double> times = PageMeans(folder + "/arrival.tif");
    ASSERT_EQ(counts.size(), 1u);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GT(counts[0], 0.0);
    EXPECT_LT(counts[0], 1000.0) << "a short exposure counts hits, far from the counter's top";
    EXPECT_GT(times[0], 5 * counts[0]) << "time of arrival counts clock ticks";

    // The run file says how the pixels counted, chip by chip.
    const CliResult tot = RunCli({"acquire", "1", "--frames", "1", "--exposure", "0.05", "--mode",
                                  "tot", "--out", folder + "/tot.h5"});
    ASSERT_EQ(tot.exitCode, kExitOk) << tot.err;
    EXPECT_EQ(Hdf5Reader(folder + "/tot.h5").Texts("count_mode"),
              (std::vector<std::string>{"tot", "tot", "tot", "tot"}));
}

TEST(Cli, ConfigurationFileSetsTheDacsTheRunRecords) {
    const std::string folder = TestFolder("config");
    config::Configuration c;
    c.chips = 1;
    c.records[0] = DefaultDacRecord(ChipType::Medipix2);
    c.records[0].dac[8] = 123;  // Thl
    c.biasVolts = 50;
    ASSERT_EQ(config::WriteConfiguration(folder + "/setup.ini", c), config::SaveStatus::kOk);
    const CliResult r = RunCli({"acquire", "0", "--frames", "1", "--exposure", "0.02", "--config",
                                folder + "/setup.ini", "--out", folder + "/run.h5"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    Hdf5Reader h5(folder + "/run.h5");
    const std::vector<int32_t> dacs = h5.IntAttribute("dacs");
    ASSERT_GT(dacs.size(), 8u);
    EXPECT_EQ(dacs[8], 123);
    EXPECT_EQ(h5.IntAttribute("bias_volts"), std::vector<int32_t>{50});
}

// A reversed range is scanned upwards, as every face scans it.
TEST(Cli, ScanWritesOneFramePerStepWithItsValue) {
    const std::string out = TestFolder("scan") + "/scan.h5";
    const CliResult r = RunCli({"scan", "0", "--dac", "THL", "--from", "190", "--to", "150",
                                "--step", "20", "--exposure", "0.05", "--out", out});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_EQ(r.out, "3 frames written to " + out + "\n");
    Hdf5Reader h5(out);
    EXPECT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{3, 256, 256}));
    EXPECT_EQ(h5.Ints("scan_values"), (std::vector<int32_t>{150, 170, 190}));
    EXPECT_EQ(h5.Text("scan_dac"), "Thl");
}

TEST(Cli, CtrlCEndsTheRunWithEveryFrameSoFarInAValidFile) {
    const std::string out = TestFolder("interrupt") + "/cut.h5";
    test::CliProcess run({"acquire", "--frames", "1000", "--exposure", "0.05", "--out", out},
                         "medipix2:1");
    // The first frame's progress line: a log gets the next only seconds later.
    ASSERT_TRUE(run.WaitForError("1/1000 frames", 30.0));
    run.Signal(SIGINT);
    const CliResult r = run.Wait();
    EXPECT_EQ(r.exitCode, kExitInterrupted) << r.err;
    EXPECT_NE(r.err.find("interrupted: "), std::string::npos) << r.err;
    Hdf5Reader h5(out);
    ASSERT_TRUE(h5.ok());
    const std::vector<uint64_t> dims = h5.Dims("frames");
    ASSERT_EQ(dims.size(), 3u);
    EXPECT_GE(dims[0], 1u);
    EXPECT_LT(dims[0], 1000u);
    EXPECT_EQ(h5.Doubles("exposure").size(), dims[0]) << "every frame kept has its exposure";
    EXPECT_NE(r.err.find(std::to_string(dims[0]) + " frames written"), std::string::npos) << r.err;
}

TEST(Cli, ContinuousRunKeepsEveryFrameInOrderAtTheInterfacesPace) {
    const std::string out = TestFolder("continuous") + "/run.h5";
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = RunCli({"acquire", "0", "--frames", "200", "--exposure", "0.002",
                                "--period", "0.01", "--out", out});
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_EQ(r.out, "200 frames written to " + out + "\n");
    EXPECT_NE(r.err.find("200/200 frames"), std::string::npos);
    EXPECT_GE(elapsed, 199 * 0.01) << "the interface starts one frame per period";

    Hdf5Reader h5(out);
    ASSERT_EQ(h5.Dims("frames"), (std::vector<uint64_t>{200, 256, 256}));
    for (double e : h5.Doubles("exposure")) EXPECT_NEAR(e, 0.002, 1e-4);
    const std::vector<double> times = h5.Doubles("timestamp");
    ASSERT_EQ(times.size(), 200u);
    EXPECT_TRUE(std::adjacent_find(times.begin(), times.end(), std::greater_equal<>()) ==
                times.end())
        << "frames in the order they came";
    // Every frame was exposed as long as the others: its mean count is near theirs.
    const std::vector<uint32_t> counts = h5.Counts("frames");
    std::vector<double> means(200, 0);
    for (size_t i = 0; i < counts.size(); ++i) means[i / kChipPixels] += counts[i];
    const auto [low, high] = std::minmax_element(means.begin(), means.end());
    EXPECT_GT(*low, 0.0);
    EXPECT_GT(*low, 0.5 * *high);
}

TEST(Cli, ExistingOutputIsKeptUnlessReplacedOrAppendedTo) {
    const std::string folder = TestFolder("overwrite");
    const std::string h5 = folder + "/run.h5";
    const auto acquire = [&](int frames, const std::string& out,
                             std::vector<std::string> extra = {},
                             const std::string& emulators = "medipix2:1") {
        std::vector<std::string> args = {
            "acquire", "--frames", std::to_string(frames), "--exposure", "0.01", "--out", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(args, emulators);
    };
    ASSERT_EQ(acquire(2, h5).exitCode, kExitOk);
    CliResult r = acquire(3, h5);
    EXPECT_EQ(r.exitCode, kExitBadArguments);
    EXPECT_NE(r.err.find(h5 + " exists: --force replaces it, --append adds the frames to it"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Hdf5Reader(h5).Dims("frames")[0], 2u) << "untouched";
    r = acquire(3, h5, {"--append"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_EQ(Hdf5Reader(h5).Dims("frames")[0], 5u);
    r = acquire(1, h5, {"--append"}, "timepix:4");
    EXPECT_EQ(r.exitCode, kExitWrite) << "frames of another layout are refused";
    EXPECT_EQ(Hdf5Reader(h5).Dims("frames")[0], 5u);
    EXPECT_EQ(acquire(1, h5, {"--append", "--force"}).exitCode, kExitBadArguments);
    ASSERT_EQ(acquire(1, h5, {"--force"}).exitCode, kExitOk);
    EXPECT_EQ(Hdf5Reader(h5).Dims("frames")[0], 1u);

    // A text run is refused when any of its numbered files exists.
    const std::string txt = folder + "/run.txt";
    ASSERT_EQ(acquire(3, txt).exitCode, kExitOk);
    r = acquire(5, txt);
    EXPECT_EQ(r.exitCode, kExitBadArguments);
    EXPECT_NE(r.err.find(folder + "/run0000.txt exists: --force replaces it"), std::string::npos)
        << r.err;
    EXPECT_NE(acquire(1, txt, {"--append"}).err.find("Frames are added to .h5 runs only"),
              std::string::npos);
}

// A TCP port on the loopback held by a listening socket, so binding it again fails.
struct BusyPort {
    BusyPort() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 1) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            endpoint = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~BusyPort() { ::close(fd); }
    int fd = -1;
    std::string endpoint = "tcp://127.0.0.1:1";
};

TEST(Cli, BadRequestsEndWithTheirExitCodeAndSayWhy) {
    const BusyPort busy;
    const std::string folder = TestFolder("bad");
    const std::string h5 = folder + "/x.h5";
    std::ofstream(folder + "/broken.ini") << "[Medipix]\nPolarity=Positive\nnot a line of it\n";
    std::ofstream(folder + "/short.txt") << "1 2 3\n";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, kExitBadArguments, "A subcommand is required"},
        {{"acquire", "--frames", "2", "--exposure", "1"}, kExitBadArguments, "--out is required"},
        {{"acquire", "--frames", "0", "--exposure", "1", "--out", h5},
         kExitBadArguments,
         "--frames: Frames are 1 to 2147483647, not 0."},
        {{"acquire", "--frames", "1e12", "--exposure", "1", "--out", h5},
         kExitBadArguments,
         "Frames are a whole number from 1 to 2147483647, not 1e12."},
        {{"acquire", "--frames", "1", "--exposure", "100000", "--out", h5},
         kExitBadArguments,
         "The exposure is at most 3600 s unless a longer one is allowed, not 100000 s. --long "
         "allows it."},
        {{"acquire", "--frames", "1", "--exposure", "1", "--out", folder + "/.h5"},
         kExitBadArguments,
         "The output file needs a name before its extension"},
        {{"acquire", "--frames", "1", "--exposure", "1", "--append", "--out", h5},
         kExitBadArguments,
         "x.h5 does not exist: there is no run to add to."},
        {{"acquire", "--frames", "2", "--exposure", "1", "--period", "0.5", "--out", h5},
         kExitBadArguments,
         "The period (0.5 s) must be longer than the exposure (1 s)."},
        {{"acquire", "--frames", "1", "--exposure", "-1", "--out", h5},
         kExitBadArguments,
         "The exposure is a number of seconds above 0, not -1."},
        {{"acquire", "--frames", "1", "--exposure", "1", "--out", folder + "/x.png"},
         kExitBadArguments,
         "The output file ends in .h5, .tif or .txt"},
        {{"acquire", "--frames", "1", "--exposure", "1", "--config", folder + "/none.ini", "--out",
          h5},
         kExitBadArguments,
         "File does not exist"},
        {{"acquire", "--frames", "1", "--exposure", "1", "--config", folder + "/broken.ini",
          "--out", h5},
         kExitBadArguments,
         "configuration: "},
        {{"acquire", "--frames", "1", "--exposure", "1", "--mask", folder + "/short.txt", "--out",
          h5},
         kExitBadArguments,
         "holds too few values for 1 chips"},
        {{"scan", "--dac", "Nope", "--from", "1", "--to", "2", "--exposure", "1", "--out", h5},
         kExitBadArguments,
         "No DAC \"Nope\" on Medipix2 chips; they have DelayN, Disc"},
        {{"scan", "--dac", "Thl", "--from", "1", "--to", "5000", "--exposure", "1", "--out", h5},
         kExitBadArguments,
         "Thl takes values 0 to 255"},
        {{"equalize", "--dac", "Thl", "--from", "200", "--to", "202", "--step", "2", "--exposure",
          "0.01", "--out", h5},
         kExitBadArguments,
         "An equalisation scans at least three values, not 2."},
        {{"equalize", "--dac", "Thl", "--from", "200", "--to", "300", "--exposure", "0.01", "--out",
          h5},
         kExitBadArguments,
         "Thl takes values 0 to 255"},
        {{"equalize", "--dac", "Thl", "--from", "200", "--to", "250", "--exposure", "0.01", "--out",
          folder + "/x.tif"},
         kExitBadArguments,
         "An equalisation writes its results to an .h5 file"},
        {{"acquire", "--frames", "1", "--exposure", "1", "--mode", "tot", "--out", h5},
         kExitBadArguments,
         "--mode applies to Timepix chips only"},
        {{"acquire", "--frames", "1", "--exposure", "1", "--mode", "fast", "--out", h5},
         kExitBadArguments,
         "--mode: The count mode is counting, tot, 1-hit or toa, not \"fast\"."},
        {{"acquire", "7", "--frames", "1", "--exposure", "1", "--out", h5},
         kExitNoDevice,
         "No interface number 7 (2 found)"},
        {{"info", "Nothing like it"}, kExitNoDevice, "No interface matches \"Nothing like it\""},
        {{"info", "Emulator"},
         kExitNoDevice,
         "More than one interface matches \"Emulator\": \"Medipix2 ver 3.0 : Emulator Medipix2 "
         "x1\" \"Medipix2 ver 3.0 : Emulator Timepix x4\"."},
        {{"acquire", "--frames", "1", "--exposure", "0.01", "--out", folder + "/no/x.h5"},
         kExitWrite,
         "Cannot create the HDF5 file " + folder + "/no/x.h5: No such file or directory"},
        // Numbers that would wrap, in the program's own words rather than the parser's.
        {{"scan", "--dac", "Thl", "--from", "-2147483649", "--to", "5", "--exposure", "0.01",
          "--out", h5},
         kExitBadArguments,
         "--from: The first value is a whole number from -2147483648 to 2147483647, not "
         "-2147483649."},
        {{"equalize", "--dac", "Thl", "--from", "1", "--to", "5", "--step", "4294967297",
          "--exposure", "0.01", "--out", h5},
         kExitBadArguments,
         "--step: The step is a whole number from"},
        {{"acquire", "--frames", "1", "--exposure", "0.01", "--stream-wait", "-1", "--stream",
          "tcp://127.0.0.1:5999", "--out", h5},
         kExitBadArguments,
         "--stream-wait: The stream wait is 0 to 600 s, not -1."},
        // Checked before anything is created: outputs that share a file, a stream endpoint
        // of another kind or one in use.
        {{"equalize", "--dac", "Thl", "--from", "200", "--to", "250", "--exposure", "0.01", "--out",
          h5, "--mask-out", folder + "/../bad/x.h5"},
         kExitBadArguments,
         "Two outputs of one run name the same file"},
        {{"acquire", "--frames", "1", "--exposure", "0.01", "--stream", "udp://x", "--out", h5},
         kExitBadArguments,
         "The stream endpoint is tcp://HOST:PORT or ipc://PATH, not \"udp://x\"."},
        {{"acquire", "--frames", "1", "--exposure", "0.01", "--stream", busy.endpoint, "--out", h5},
         kExitBadArguments,
         "Address already in use"},
    };
    for (const Case& c : cases) {
        const CliResult r = RunCli(c.args);
        std::string shown;
        for (const std::string& a : c.args) shown += a + " ";
        EXPECT_EQ(r.exitCode, c.code) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << "\n" << r.err;
        EXPECT_FALSE(std::filesystem::exists(h5)) << shown << "left a file behind";
    }
    EXPECT_EQ(RunCli({"info"}, "off").exitCode, kExitNoDevice);
    const CliResult badSet = RunCli({"info"}, "tpx:2, timepix:9");
    EXPECT_EQ(badSet.exitCode, kExitNoDevice);
    EXPECT_NE(badSet.err.find("ULVARIN_EMULATOR: \"tpx:2\", \"timepix:9\" left out"),
              std::string::npos)
        << badSet.err;
    // A link rate from the environment that is no rate is named, and the default kept.
    const char* before = std::getenv("ULVARIN_EMULATOR_RATE");
    const std::string kept = before != nullptr ? before : "";
    for (const auto& [rate, refused] : std::vector<std::pair<std::string, bool>>{{"-5", true},
                                                                                 {"nan", true},
                                                                                 {"12abc", true},
                                                                                 {"inf", true},
                                                                                 {"0", false},
                                                                                 {"2.5", false}}) {
        setenv("ULVARIN_EMULATOR_RATE", rate.c_str(), 1);
        const CliResult r = RunCli({"info", "Timepix"});
        EXPECT_EQ(r.exitCode, kExitOk) << rate << r.err;
        EXPECT_EQ(
            r.err.find("ULVARIN_EMULATOR_RATE: \"" + rate + "\" is no rate") != std::string::npos,
            refused)
            << rate << ": " << r.err;
    }
    if (before != nullptr)
        setenv("ULVARIN_EMULATOR_RATE", kept.c_str(), 1);
    else
        unsetenv("ULVARIN_EMULATOR_RATE");
    // Help for each subcommand, with the exit codes, is not a failure.
    const CliResult help = RunCli({"scan", "--help"});
    EXPECT_EQ(help.exitCode, kExitOk);
    EXPECT_NE(help.out.find("--dac"), std::string::npos);
    EXPECT_NE(help.out.find("130 interrupted"), std::string::npos);
}

// The progress line: bar, counts, rate and time left, also before any time has passed and
// past the end.
TEST(CliProgress, LineShowsRateAndTimeLeft) {
    using cli::Progress;
    EXPECT_EQ(Progress::Line(3, 10, 2.0, 10, "frame"),
              "[###.......] 3/10 frames  1.50 frames/s  0:05 left");
    EXPECT_EQ(Progress::Line(120, 200, 60.0, 0, "step"), "120/200 steps  2.00 steps/s  0:40 left");
    EXPECT_EQ(Progress::Line(0, 5, 0.0, 4, "frame"), "[....] 0/5 frames  0.00 frames/s  ? left");
    EXPECT_EQ(Progress::Line(7, 5, 1.0, 4, "frame"), "[####] 7/5 frames  7.00 frames/s  0:00 left");
}

// A run of many quick frames into a log or a pipe writes its first and last state, not a
// line a frame; on a terminal the bar is redrawn a few times a second, not per frame.
TEST(CliProgress, QuickFramesAreNotShownOneLineEach) {
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal);
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        cli::Progress progress(out, terminal, 1500, "frame");
        for (int done = 1; done <= 1500; ++done) progress.Update(done);
        progress.Finish();
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        std::fclose(out);
        const auto shown = std::count(text.begin(), text.end(), terminal ? '\r' : '\n');
        EXPECT_GE(shown, 2);
        EXPECT_LE(shown, 3);
        EXPECT_NE(text.find("1500/1500 frames"), std::string::npos);
    }
}

}  // namespace
}  // namespace ulvarin
