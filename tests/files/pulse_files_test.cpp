#include "files/pulse_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

namespace ulvarin {
namespace {

class PulseFilesTest : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("ulvarin_pulse_files_" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

std::string Lines(int count, const std::string& value, const std::string& end) {
    std::string text;
    for (int i = 0; i < count; ++i) text += value + end;
    return text;
}

TEST_F(PulseFilesTest, SpectrumRoundTripAndLineEnds) {
    Spectrum s{};
    for (int k = 0; k < kSpectrumBins; ++k) s[static_cast<size_t>(k)] = (k * 7919) % 1000;
    s[4095] = std::numeric_limits<int32_t>::max();
    ASSERT_EQ(WriteSpectrumFile(Path("s.txt"), s), TextFileResult::Ok);
    EXPECT_EQ(Read("s.txt").substr(0, 10), "0\n919\n838\n");

    PulseStore store;
    ASSERT_EQ(LoadSpectrum(Path("s.txt"), store), TextFileResult::Ok);
    EXPECT_EQ(store.GetSpectrum(), s);
    EXPECT_EQ(store.PulseCount(), std::numeric_limits<int32_t>::max());  // the sum, saturated

    Spectrum crlf{};
    const SpectrumRead read = ReadSpectrumFile(Write("w.txt", Lines(4096, "+3", "\r\n")), crlf);
    EXPECT_EQ(read.result, TextFileResult::Ok);
    EXPECT_EQ(read.pulseCount, 3 * 4096);
    EXPECT_EQ(crlf[4095], 3);

    EXPECT_EQ(WriteSpectrumFile(dir.string(), s), TextFileResult::CannotOpenOutput);
    EXPECT_EQ(WriteSpectrumFile("/dev/full", s), TextFileResult::CannotWrite);
    EXPECT_EQ(FileErrorText(TextFileResult::CannotWrite), "Error - coldn't write to output file");
}

TEST_F(PulseFilesTest, BadSpectrumFilesStopAndKeepWhatWasRead) {
    struct Case {
        std::string content;
        TextFileResult result;
        int valuesRead;
    };
    const std::string longWord(1 << 20, '9');
    const Case cases[] = {
        {"", TextFileResult::TooShort, 0},
        {"5\n6\n", TextFileResult::TooShort, 2},
        {"5 6 abc 8", TextFileResult::BadNumber, 2},
        {"5 1.5", TextFileResult::BadNumber, 1},
        {"5 -3", TextFileResult::BadNumber, 1},
        {"5 2147483648", TextFileResult::BadNumber, 1},
        {"5 99999999999999999999999", TextFileResult::BadNumber, 1},
        {"5 " + longWord + "\n", TextFileResult::BadNumber, 1},
        {"5 " + std::string(1 << 20, ' ') + "6", TextFileResult::TooShort, 2},
    };
    for (const Case& c : cases) {
        PulseStore store;
        store.MutableSpectrum().fill(7);
        const TextFileResult result = LoadSpectrum(Write("bad.txt", c.content), store);
        EXPECT_EQ(result, c.result) << c.content.substr(0, 40);
        EXPECT_EQ(FileErrorText(result), "Error - coldn't read input file");
        const Spectrum& s = store.GetSpectrum();
        if (c.valuesRead > 0) {
            EXPECT_EQ(s[0], 5);
        }
        EXPECT_EQ(s[static_cast<size_t>(c.valuesRead)], 7) << c.content.substr(0, 40);
        EXPECT_EQ(store.PulseCount(), c.valuesRead == 2 ? 11 : 5 * c.valuesRead);
    }

    PulseStore store;
    store.SetPulseCount(12);
    EXPECT_EQ(LoadSpectrum(Path("absent.txt"), store), TextFileResult::CannotOpenInput);
    EXPECT_EQ(store.PulseCount(), 12);  // nothing changes when the file cannot be opened
}

TEST_F(PulseFilesTest, PulseFileColumns) {
    PulseRecord pulse;
    pulse.Append(0, 1.9);
    pulse.Append(0, 2);
    pulse.Append(3, -1.5);
    ASSERT_EQ(WritePulseFile(Path("p.txt"), pulse), TextFileResult::Ok);
    EXPECT_EQ(Read("p.txt"), "     1    -1\n     2     0\n");
    EXPECT_EQ(PulseFileName(42), "Pulse_00042.txt");
    EXPECT_EQ(PulseWriteErrorText(42, "Pulse_00042.txt"),
              "Error writing pulse 42 to file \"Pulse_00042.txt\"");
}

TEST_F(PulseFilesTest, CurvesFileOfPulsesAndScans) {
    PulseStore store;
    // Before the first pulse nothing is shown: an empty file, no read past the history.
    ASSERT_EQ(WriteCurvesFile(Path("none.txt"), store), TextFileResult::Ok);
    EXPECT_EQ(Read("none.txt"), "");

    for (const double v : {0.1, 1.0 / 3}) {
        store.CurrentPulse().Clear();
        store.CurrentPulse().Append(2, v);
        store.CurrentPulse().Append(2, 4095);
        store.ProcessPulse({});
    }
    ASSERT_EQ(WriteCurvesFile(Path("adc.txt"), store), TextFileResult::Ok);
    EXPECT_EQ(Read("adc.txt"), "[ADC2]\n0.1 4095 \n0.333333333 4095 \n\n");

    // A fresh scan of two chips with 64 points per curve: slots 0 to 2.
    store.BeginScan(0);
    for (int slot = 0; slot < 3; ++slot)
        for (int j = 0; j < 64; ++j) {
            store.HistorySlot(slot).Append(0, j);
            store.HistorySlot(slot).Append(1, 0.5);
        }
    ASSERT_EQ(WriteCurvesFile(Path("scan.txt"), store), TextFileResult::Ok);
    std::istringstream lines(Read("scan.txt"));
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(got[0], "[Median]");
    EXPECT_EQ(got[4], "");
    EXPECT_EQ(got[5], "[Average]");
    EXPECT_EQ(got[1].substr(0, 8), "0 1 2 3 ");
    std::istringstream numbers(got[6]);
    EXPECT_EQ(std::distance(std::istream_iterator<double>(numbers), {}), 64);
}

}  // namespace
}  // namespace ulvarin
