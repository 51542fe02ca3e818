// The rules every face applies to a request: tables of accepted and refused values, and the
// reasons the faces show.
#include "session/run_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace ulvarin {
namespace {

TEST(RunRules, ScanPlansFollowTheWindowsRange) {
    struct Case {
        int64_t from, to, step;
        std::vector<int> values;
    };
    const std::vector<Case> cases = {
        {0, 10, 4, {0, 4, 8}},           // stops before passing the end
        {50, 50, 1, {50, 51}},           // one value is widened to two
        {200, 196, 2, {196, 198, 200}},  // reversed: swapped, scanned upwards
        {5, 6, 100, {5}},                // a step past the end keeps the first value
    };
    for (const Case& c : cases) {
        const ScanPlan plan = PlanScan(c.from, c.to, c.step);
        EXPECT_EQ(plan.values, c.values) << c.from << ".." << c.to << " by " << c.step;
        EXPECT_EQ(plan.refusal, "");
    }
    EXPECT_EQ(PlanScan(140, 200, 1).values.size(), 61u);
}

TEST(RunRules, ScanPlansRefuseBadStepsAndHugeRangesWithoutListingThem) {
    EXPECT_EQ(PlanScan(1, 5, 0).refusal, "The scan's step is 1 or more, not 0.");
    EXPECT_EQ(PlanScan(1, 5, -2).refusal, "The scan's step is 1 or more, not -2.");
    // The whole of int in steps of 1 would be 4 G values: counted and refused, not listed.
    const ScanPlan huge = PlanScan(-2147483648LL, 2147483647LL, 1);
    EXPECT_TRUE(huge.values.empty());
    EXPECT_NE(huge.refusal.find("at most 65536 values"), std::string::npos) << huge.refusal;
    EXPECT_EQ(PlanScan(0, kMaxScanValues - 1, 1).values.size(), size_t(kMaxScanValues));
}

TEST(RunRules, NumbersOfARunAreCheckedWithTheirReason) {
    struct Case {
        std::string refusal, expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {ExposureRefusal(0.5), ""},
        {ExposureRefusal(3600), ""},
        {ExposureRefusal(3600.5),
         "The exposure is at most 3600 s unless a longer one is allowed, not 3600.5 s."},
        {ExposureRefusal(7200, true), ""},
        {ExposureRefusal(0), "The exposure is a number of seconds above 0, not 0."},
        {ExposureRefusal(nan, true), "The exposure is a number of seconds above 0, not nan."},
        {ExposureRefusal(std::numeric_limits<double>::infinity(), true),
         "The exposure is a number of seconds above 0, not inf."},
        {FramesRefusal(1), ""},
        {FramesRefusal(0), "Frames are 1 to 2147483647, not 0."},
        {FramesRefusal(int64_t{1} << 40), "Frames are 1 to 2147483647, not 1099511627776."},
        {PeriodRefusal(0, 5), ""},
        {PeriodRefusal(2, 1), ""},
        {PeriodRefusal(1, 1), "The period (1 s) must be longer than the exposure (1 s)."},
        {PeriodRefusal(-1, 1), "The period is 0 (back to back) or a number of seconds, not -1."},
        {PeriodRefusal(nan, 1), "The period is 0 (back to back) or a number of seconds, not nan."},
        {BiasRefusal(0), ""},
        {BiasRefusal(104.5), ""},
        {BiasRefusal(22.9), "The bias is 0 (off) or 23 to 104.5 V, not 22.9."},
        {BiasRefusal(nan), "The bias is 0 (off) or 23 to 104.5 V, not nan."},
        {StreamWaitRefusal(601), "The stream wait is 0 to 600 s, not 601."},
        {StreamEndpointRefusal("localhost:5"),
         "The stream endpoint is tcp://HOST:PORT or ipc://PATH, not \"localhost:5\"."},
        {EqualizeValuesRefusal(2), "An equalisation scans at least three values, not 2."},
        {EqualizeValuesRefusal(3), ""},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].refusal, cases[i].expected) << "case " << i;
}

TEST(RunRules, NamesOfDacsAndCountModes) {
    std::string refusal;
    EXPECT_GE(DacByName(ChipFamily::Timepix, "thl FINE", refusal), 0);
    EXPECT_EQ(DacByName(ChipFamily::Timepix, "Thl", refusal), -1);
    EXPECT_EQ(refusal.rfind("No DAC \"Thl\" on Timepix chips; they have Ikrum, ", 0), 0u)
        << refusal;
    const int thl = DacByName(ChipFamily::Medipix2, "Thl", refusal);
    const std::vector<int> values{0, 255, 256};
    EXPECT_EQ(DacValuesRefusal(ChipFamily::Medipix2, thl, values),
              "Thl takes values 0 to 255, not 256.");
    refusal.clear();
    EXPECT_EQ(CountModeByName(ChipFamily::Timepix, "TOT", refusal), 1);
    EXPECT_EQ(CountModeByName(ChipFamily::Timepix, "fast", refusal), -1);
    EXPECT_EQ(refusal, "The count mode is counting, tot, 1-hit or toa, not \"fast\".");
    EXPECT_EQ(CountModeByName(ChipFamily::Mxr, "tot", refusal), -1);
    EXPECT_EQ(refusal, "Count modes are Timepix chips' only.");
}

TEST(RunRules, OutputsAreNeverReplacedUnasked) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ulvarin_rules_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string h5 = (folder / "run.h5").string(), txt = (folder / "run.txt").string();
    std::ofstream(h5) << "x";
    // A text run of three frames writes run0000.txt to run0002.txt: the last one existing
    // is enough to refuse it.
    std::ofstream(folder / "run0002.txt") << "x";
    std::string existing;
    EXPECT_EQ(OutputRefusal(h5, 1, ExistingOutput::kRefuse, &existing), h5 + " exists.");
    EXPECT_EQ(existing, h5);
    EXPECT_EQ(OutputRefusal(h5, 1, ExistingOutput::kReplace), "");
    EXPECT_EQ(OutputRefusal(h5, 1, ExistingOutput::kAppend), "");
    EXPECT_EQ(OutputRefusal(txt, 3, ExistingOutput::kRefuse),
              (folder / "run0002.txt").string() + " exists.");
    EXPECT_EQ(OutputRefusal(txt, 2, ExistingOutput::kRefuse), "");
    EXPECT_EQ(OutputRefusal(txt, 3, ExistingOutput::kAppend),
              "Frames are added to .h5 runs only: " + txt);
    const std::string missing = (folder / "none.h5").string();
    EXPECT_EQ(OutputRefusal(missing, 1, ExistingOutput::kAppend),
              missing + " does not exist: there is no run to add to.");
    EXPECT_EQ(OutputRefusal((folder / ".h5").string(), 1, ExistingOutput::kRefuse),
              "The output file needs a name before its extension: " + (folder / ".h5").string());
    EXPECT_EQ(OutputRefusal("x.png", 1, ExistingOutput::kReplace),
              "The output file ends in .h5, .tif or .txt: x.png");
    EXPECT_EQ(EqualizeOutputRefusal(txt, ExistingOutput::kReplace),
              "An equalisation writes its results to an .h5 file, not " + txt);
    EXPECT_EQ(EqualizeOutputRefusal(h5, ExistingOutput::kRefuse), h5 + " exists.");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace ulvarin
