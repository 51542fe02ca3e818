// An equalisation as every face runs it, driven here against a model of the chips: each
// pixel's threshold moves with its adjustment bits, and a Timepix pixel counts only in
// counting mode. The scans must count, the pixels get their own mode back, the verdict
// decides what the chips keep, and a run stopped half way keeps nothing.
#include "session/equalization_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

// Keeps the names of the scans written and whether the result was; fails the scan
// `failScan` (counted from 0) when asked to.
class RecordingFile : public EqualizationFile {
public:
    explicit RecordingFile(int failScan = -1) : failScan_(failScan) {}
    bool AddScan(const char* name, std::span<const int>, const StepCounts&) override {
        if (static_cast<int>(scans.size()) == failScan_) {
            error_ = "disk full";
            return false;
        }
        scans.emplace_back(name);
        return true;
    }
    bool Finish(const EqualizationResult&) override {
        finished = true;
        return true;
    }
    const std::string& error() const override { return error_; }

    std::vector<std::string> scans;
    bool finished = false;

private:
    int failScan_;
    std::string error_;
};

enum class Chips {
    kFollow,         // the threshold rises with the adjustment, in every scan
    kWidenOnVerify,  // the verification scan finds it falling: the spread widens
};

// The pixel's threshold in DAC steps: an offset of -5 to 5 moved by up to 12 steps over
// the adjustment's range.
double Threshold(uint32_t pixel, int adjust, ChipType type, bool falling) {
    const double offset = static_cast<double>((pixel * 37) % 11) - 5;
    const double move = 12.0 * adjust / MaxThresholdAdjust(type);
    return 100 + offset + (falling ? -move : move);
}

struct Driven {
    std::vector<std::vector<uint16_t>> sent;  // each configuration the chips were given
    int frames = 0;
};

// Runs `run` until it is done or `stopAfter` frames are taken. A pixel counts 200 at DAC
// values at or above its threshold, when it is good and (on Timepix) counts hits.
Driven Drive(EqualizationRun& run, const ChipLayout& layout, Chips chips,
             std::optional<int> stopAfter = std::nullopt) {
    Driven driven;
    std::vector<uint16_t> held;
    std::vector<int32_t> counts(layout.pixelsInUse());
    while (run.Next() != EqualizationRun::Action::kDone) {
        if (run.Next() == EqualizationRun::Action::kConfigure) {
            held.assign(run.words().begin(), run.words().end());
            driven.sent.push_back(held);
            run.Configured();
            continue;
        }
        if (stopAfter && driven.frames == *stopAfter) break;
        const bool falling =
            chips == Chips::kWidenOnVerify && run.framesTaken() >= 2 * run.stepsPerScan();
        for (uint32_t p = 0; p < layout.pixelsInUse(); ++p) {
            const uint16_t word = held[p];
            const bool counting =
                IsGoodPixel(word, layout.family) &&
                (layout.family != ChipFamily::Timepix || TimepixModeOf(word) == 0);
            const double threshold =
                Threshold(p, ThresholdAdjustOfWord(word, layout.family), layout.family, falling);
            counts[p] = counting && run.dacValue() >= threshold ? 200 : 0;
        }
        run.Feed(counts);
        ++driven.frames;
    }
    return driven;
}

std::vector<int> Values(int from, int to) {
    std::vector<int> values;
    for (int v = from; v <= to; ++v) values.push_back(v);
    return values;
}

// Timepix words in the modes a user may leave them in (mostly Timepix mode with the top
// bits set, as the default word has them, some time over threshold, some counting), a few
// pixels masked; or Medipix2 words with a few masked.
std::vector<uint16_t> StartingWords(const ChipLayout& layout) {
    std::vector<uint16_t> words(layout.pixelsInUse(), kDefaultPixelWord);
    for (uint32_t p = 0; p < words.size(); ++p) {
        if (layout.family == ChipFamily::Timepix && p % 5 == 1)
            words[p] = WithTimepixMode(words[p], 1);
        if (layout.family == ChipFamily::Timepix && p % 7 == 2)
            words[p] = WithTimepixMode(words[p], 0);
        if (p % 1000 == 3) words[p] &= static_cast<uint16_t>(~MaskBit(layout.family));
    }
    return words;
}

TEST(EqualizationRun, ScansCountAndTheVerdictDecidesWhatTheChipsKeep) {
    struct Case {
        const char* what;
        ChipFamily family;
        std::vector<int> values;
        Chips chips;
        std::optional<int> stopAfter;
        bool done, kept;
        const char* reason;  // the start of the reason it is not kept
    };
    const std::vector<Case> cases = {
        {"Timepix in its own modes",
         ChipFamily::Timepix,
         Values(85, 125),
         Chips::kFollow,
         {},
         true,
         true,
         ""},
        {"Medipix2", ChipFamily::Medipix2, Values(85, 125), Chips::kFollow, {}, true, true, ""},
        {"a range below every threshold",
         ChipFamily::Timepix,
         Values(40, 50),
         Chips::kFollow,
         {},
         true,
         false,
         "100.0 % of the pixels are out of reach"},
        {"a spread that widens",
         ChipFamily::Medipix2,
         Values(85, 125),
         Chips::kWidenOnVerify,
         {},
         true,
         false,
         "The spread of chip 1 widened from "},
        {"stopped in the second scan", ChipFamily::Timepix, Values(85, 125), Chips::kFollow, 50,
         false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ChipLayout layout{1, c.family};
        const std::vector<uint16_t> words = StartingWords(layout);
        RecordingFile file;
        EqualizationRun run(layout, words, {40, c.values, false}, &file);
        const Driven driven = Drive(run, layout, c.chips, c.stopAfter);
        EXPECT_TRUE(run.Finish());
        EXPECT_EQ(run.Done(), c.done);
        EXPECT_EQ(run.Kept(), c.kept);
        EXPECT_EQ(run.notKept().rfind(c.reason, 0), 0u) << run.notKept();
        EXPECT_EQ(run.notKept().empty(), !c.done || c.kept);
        EXPECT_EQ(file.finished, c.done);
        EXPECT_EQ(file.scans.size(),
                  c.done ? 3u : static_cast<size_t>(driven.frames) / c.values.size());

        // Every configuration sent for the scans counts hits, and changes nothing but the
        // adjustment and (on Timepix) the mode.
        const ChipType type = c.family;
        const uint16_t changeable =
            ThresholdAdjustMask(type) | (type == ChipType::Timepix ? 0xC240 : 0);
        ASSERT_FALSE(driven.sent.empty());
        for (const std::vector<uint16_t>& sent : driven.sent)
            for (size_t p = 0; p < sent.size(); ++p) {
                if (type == ChipType::Timepix) {
                    ASSERT_EQ(TimepixModeOf(sent[p]), 0) << p;
                }
                ASSERT_EQ(sent[p] & ~changeable, words[p] & ~changeable) << p;
            }

        // What the chips keep: the result, each pixel back in its own mode, only its
        // adjustment changed; or, not kept or not done, the words from before.
        const std::span<const uint16_t> kept = run.KeptWords();
        ASSERT_EQ(kept.size(), words.size());
        if (!c.kept) {
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), words.begin()));
            continue;
        }
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), run.result().words.begin()));
        int moved = 0;
        for (size_t p = 0; p < words.size(); ++p) {
            ASSERT_EQ(kept[p] & ~ThresholdAdjustMask(type), words[p] & ~ThresholdAdjustMask(type))
                << p;
            moved += kept[p] != words[p];
        }
        EXPECT_GT(moved, kChipPixels / 2);
        const ChipEqualization& chip = run.result().chips.at(0);
        EXPECT_LT(chip.spreadAfter, 0.5 * chip.spreadBefore) << DescribeEqualization(run.result());
    }
}

// A results file that fails costs the file, not the run: the scans after it are not
// written, the result is kept all the same, and the run says why the file was given up.
TEST(EqualizationRun, AFileThatFailsIsGivenUpAndTheRunGoesOn) {
    const ChipLayout layout{1, ChipFamily::Mxr};
    const std::vector<uint16_t> words = StartingWords(layout);
    RecordingFile file(1);
    EqualizationRun run(layout, words, {40, Values(85, 125), false}, &file);
    Drive(run, layout, Chips::kFollow);
    EXPECT_TRUE(run.Finish());
    EXPECT_TRUE(run.Kept()) << run.notKept();
    EXPECT_EQ(file.scans, std::vector<std::string>{"scan_lowest_adjust"});
    EXPECT_FALSE(file.finished);
    EXPECT_FALSE(run.HasFile());
    EXPECT_EQ(run.fileError(), "disk full");
}

// The verdict's reason: most pixels out of reach comes before a widened spread, whose
// figures over the few pixels left say little.
TEST(EqualizationRun, TheVerdictGivesTheReasonThatMatters) {
    struct Case {
        std::vector<ChipEqualization> chips;
        const char* reason;  // its start; "" when kept
    };
    const std::vector<Case> cases = {
        {{{500, 6.0, 0.6, 65000, 536}}, ""},
        {{{500, 6.0, 0.6, 65000, 536}, {500, 2.0, 2.5, 65000, 536}},
         "The spread of chip 2 widened from 2 to 2.5 DAC steps"},
        {{{303, 0.2, 0.64, 780, 64756}}, "98.8 % of the pixels are out of reach"},
        {{{500, 6.0, 0.6, 40000, 25536}, {500, 6.0, 0.6, 20000, 45536}},
         "54.2 % of the pixels are out of reach"},
        {{{500, 6.0, 0.6, 40000, 25536}, {500, 6.0, 0.6, 45000, 20536}}, ""},
    };
    for (const Case& c : cases) {
        EqualizationResult result;
        result.chips = c.chips;
        const std::string why = EqualizationNotKept(result);
        EXPECT_EQ(why.rfind(c.reason, 0), 0u) << why;
        EXPECT_EQ(why.empty(), *c.reason == 0) << why;
    }
}

}  // namespace
}  // namespace ulvarin
