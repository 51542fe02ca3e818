// Threshold equalisation against the emulated chips: the command line clusters every family's
// thresholds, writes its results and a mask that loads back; a run stopped half way gives
// the chips back what they held.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "standard_drivers/emulator_driver.h"
#include "cli/commands.h"
#include "session/frame_runs.h"
#include "session/run_rules.h"
#include "wire/pixel_config.h"
#include "device/drivers/driver_registry.h"
#include "files/mask_file.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/file_readers.h"

namespace ulvarin::cli {
namespace {

using test::CliResult;
using test::Hdf5Reader;
using test::RunCli;
using test::TestFolder;

struct FamilyCase {
    std::string emulator, dac, from, to, step;
    ChipFamily family;
    double shrinksAtLeast;  // three adjustment bits leave about step / sqrt(12); four, less
};

// Each family scanned across its noise edge: the spread of the pixels' edges shrinks by what
// its adjustment bits allow, few pixels stay out of reach, and the mask written holds the
// new words, differing from the old only in the adjustment bits, and loads back through
// --mask word for word.
TEST(Equalize, EveryFamilyClustersAndItsMaskLoadsBack) {
    const std::string folder = TestFolder("equalize");
    const std::vector<FamilyCase> cases = {
        {"timepix:4", "Thl Fine", "490", "590", "2", ChipFamily::Timepix, 5},
        {"mxr:2", "Thl Fine", "490", "590", "2", ChipFamily::Mxr, 3},
        {"medipix2:1", "Thl", "200", "255", "1", ChipFamily::Medipix2, 3},
    };
    for (const FamilyCase& c : cases) {
        SCOPED_TRACE(c.emulator);
        const std::string out = folder + "/" + c.emulator.substr(0, 3) + ".h5";
        const std::string mask = folder + "/" + c.emulator.substr(0, 3) + "_mask.txt";
        const CliResult r = RunCli({"equalize", "--dac", c.dac, "--from", c.from, "--to", c.to,
                                    "--step", c.step, "--exposure", "0.01", "--out", out,
                                    "--mask-out", mask},
                                   c.emulator);
        ASSERT_EQ(r.exitCode, kExitOk) << r.err;
        EXPECT_NE(r.out.find("Results written to " + out + ", the mask to " + mask),
                  std::string::npos)
            << r.out;

        Hdf5Reader h5(out);
        ASSERT_TRUE(h5.ok());
        const std::vector<double> before = h5.Doubles("entry/equalization/spread_before");
        const std::vector<double> after = h5.Doubles("entry/equalization/spread_after");
        const std::vector<int32_t> outOfReach = h5.Ints("entry/equalization/unequalizable");
        ASSERT_FALSE(before.empty());
        for (size_t chip = 0; chip < before.size(); ++chip)
            EXPECT_GT(before[chip], c.shrinksAtLeast * after[chip])
                << "chip " << chip << ": " << before[chip] << " -> " << after[chip];
        const int lost = std::accumulate(outOfReach.begin(), outOfReach.end(), 0);
        EXPECT_LE(lost, 0.005 * kChipPixels * static_cast<double>(before.size()));
        EXPECT_EQ(h5.Dims("entry/thresholds/after").size(), 2u);

        const std::vector<uint32_t> oldWords = h5.Counts("entry/instrument/detector/pixel_configuration");
        const std::vector<uint32_t> newWords = h5.Counts("entry/equalization/pixel_configuration");
        ASSERT_EQ(oldWords.size(), newWords.size());
        std::vector<uint16_t> loaded(newWords.size());
        ASSERT_EQ(ReadMaskFile(mask, c.family != ChipFamily::Medipix2, loaded.data(), loaded.size()),
                  MaskReadResult::Ok);
        const uint16_t adjustBits = ThresholdAdjustMask(c.family);
        size_t moved = 0;
        for (size_t p = 0; p < newWords.size(); ++p) {
            ASSERT_EQ(loaded[p], newWords[p]) << "pixel " << p;
            ASSERT_EQ(oldWords[p] & ~adjustBits, newWords[p] & ~adjustBits) << "pixel " << p;
            moved += oldWords[p] != newWords[p];
        }
        EXPECT_GT(moved, newWords.size() / 2);

        const std::string run = folder + "/" + c.emulator.substr(0, 3) + "_run.h5";
        const CliResult acquired = RunCli(
            {"acquire", "--frames", "1", "--exposure", "0.01", "--mask", mask, "--out", run},
            c.emulator);
        ASSERT_EQ(acquired.exitCode, kExitOk) << acquired.err;
        EXPECT_EQ(Hdf5Reader(run).Counts("entry/instrument/detector/pixel_configuration"),
                  newWords);
    }
}

class NoFile final : public EqualizationFile {
public:
    bool AddScan(const char*, std::span<const int>, const StepCounts&) override {
        ++scans;
        return true;
    }
    bool Finish(const EqualizationResult&) override {
        finished = true;
        return true;
    }
    const std::string& error() const override { return error_; }
    int scans = 0;
    bool finished = false;

private:
    std::string error_;
};

// Stopped in the middle of its scan with every adjustment at the bottom, the run leaves the
// chips with their DACs and pixel configuration as they were: a frame at the noise edge
// counts as it did before.
TEST(Equalize, AStoppedRunGivesTheChipsBackWhatTheyHeld) {
    InstallDriver(MakeEmulatorDriver("medipix2:1"));
    {
        InterfaceSession session;
        std::string error;
        ASSERT_TRUE(session.Open("Medipix2 ver 3.0 : Emulator Medipix2 x1", error)) << error;
        std::string refusal;
        const int thl = DacByName(ChipFamily::Medipix2, "Thl", refusal);
        const std::vector<ChipDacRecord> dacs = session.records();
        const std::vector<uint16_t> words = session.pixelConfig();
        const auto countingAt = [&](int value) {
            for (ChipDacRecord& record : session.records()) record.dac[thl] = static_cast<uint16_t>(value);
            EXPECT_TRUE(session.SendDacs());
            FrameTaker taker(session);
            std::vector<int32_t> sum(session.layout().pixelsInUse());
            double time = 0;
            std::string why;
            const StopFlag never = 0;
            EXPECT_EQ(taker.Take(0.01, sum, time, why, never), FrameTaker::Result::kTaken) << why;
            session.records() = dacs;
            EXPECT_TRUE(session.SendDacs());
            return std::count_if(sum.begin(), sum.end(), [](int32_t c) { return c > 100; }) /
                   double(sum.size());
        };
        const double countingBefore = countingAt(225);
        ASSERT_GT(countingBefore, 0.1);
        ASSERT_LT(countingBefore, 0.9);

        EqualizeRun request;
        for (int v = 200; v <= 255; ++v) request.request.values.push_back(v);
        request.request.dacIndex = thl;
        request.exposure = 0.01;
        StopFlag stop = 0;
        NoFile file;
        const EqualizeOutcome outcome = RunEqualize(
            session, file, request, [&](int taken) { stop = taken >= 30; }, stop);
        EXPECT_EQ(outcome.run.end, RunEnd::kStopped);
        EXPECT_EQ(file.scans, 0);
        EXPECT_FALSE(file.finished);
        EXPECT_EQ(session.pixelConfig(), words);
        EXPECT_EQ(session.records(), dacs);
        EXPECT_NEAR(countingAt(225), countingBefore, 0.05);
    }
    InstallDriver(nullptr);
}

// Pixels left timing arrivals are equalised by counting and keep their mode; a range that
// misses the noise edge gives a result that is not kept, and the chips have the pixel
// configuration they held before.
TEST(Equalize, OnlyAResultWorthKeepingIsKeptAndPixelsKeepTheirMode) {
    InstallDriver(MakeEmulatorDriver("timepix:1"));
    {
        InterfaceSession session;
        std::string error;
        ASSERT_TRUE(session.Open("Medipix2 ver 3.0 : Emulator Timepix x1", error)) << error;
        ASSERT_EQ(session.SetTimepixMode(3, error), InterfaceSession::Load::kOk) << error;
        std::string refusal;
        const int thl = DacByName(ChipFamily::Timepix, "Thl Fine", refusal);
        struct Case {
            int from, to;
            bool kept;
        };
        for (const Case c : {Case{490, 590, true}, Case{100, 140, false}}) {
            SCOPED_TRACE(std::to_string(c.from) + ".." + std::to_string(c.to));
            const std::vector<uint16_t> before = session.pixelConfig();
            EqualizeRun request;
            request.request.values = PlanScan(c.from, c.to, 2).values;
            request.request.dacIndex = thl;
            request.exposure = 0.01;
            const StopFlag never = 0;
            NoFile file;
            const EqualizeOutcome outcome = RunEqualize(session, file, request, nullptr, never);
            ASSERT_EQ(outcome.run.end, RunEnd::kDone) << outcome.run.error;
            EXPECT_TRUE(file.finished);
            EXPECT_EQ(outcome.notKept.empty(), c.kept) << outcome.notKept;
            if (!c.kept) {
                EXPECT_NE(outcome.notKept.find("out of reach"), std::string::npos) << outcome.notKept;
                EXPECT_EQ(session.pixelConfig(), before);
                continue;
            }
            const ChipEqualization& chip = outcome.result.chips.at(0);
            EXPECT_GT(chip.spreadBefore, 3 * chip.spreadAfter);
            EXPECT_EQ(session.pixelConfig(), outcome.result.words);
            EXPECT_NE(session.pixelConfig(), before);
            for (uint16_t word : session.pixelConfig()) ASSERT_EQ(TimepixModeOf(word), 3);
        }
    }
    InstallDriver(nullptr);
}

TEST(Equalize, AResultThatWidensTheSpreadIsNotKept) {
    EqualizationResult result;
    result.chips = {ChipEqualization{500, 6.0, 0.6, 65000, 536}, ChipEqualization{500, 2.0, 2.5, 65000, 536}};
    EXPECT_EQ(EqualizationNotKept(result),
              "The spread of chip 2 widened from 2 to 2.5 DAC steps: the chips keep their pixel "
              "configuration from before.");
    result.chips = {ChipEqualization{500, 2.73, 1.85, 19000, 46536}};
    EXPECT_EQ(EqualizationNotKept(result).rfind("71.0 % of the pixels are out of reach", 0), 0u)
        << EqualizationNotKept(result);
    result.chips = {ChipEqualization{500, 6.0, 0.6, 40000, 25536}};
    EXPECT_EQ(EqualizationNotKept(result), "");
}

}  // namespace
}  // namespace ulvarin::cli
