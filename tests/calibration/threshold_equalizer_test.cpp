// The equalizer against a matrix whose every pixel's edge is known exactly: a line in the
// adjustment value with the pixel's own offset and step. The choices it makes, the pixels it
// gives up on, and the bits it leaves alone can then be checked pixel by pixel.
#include "calibration/threshold_equalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace ulvarin {
namespace {

// One Timepix chip, counting mode; the edge of pixel p at adjustment a is
// base[p] + step[p] * a (the step negative, as the emulated chips have it, except for a few
// pixels whose adjustment works the other way).
struct SyntheticChip {
    static constexpr ChipFamily kFamily = ChipFamily::Timepix;
    std::vector<double> base, step;
    std::vector<uint16_t> words;

    explicit SyntheticChip(uint32_t seed) : base(kChipPixels), step(kChipPixels), words(kChipPixels) {
        std::mt19937 random(seed);
        std::normal_distribution<double> offset(0, 6), gain(1, 0.05);
        for (int p = 0; p < kChipPixels; ++p) {
            base[p] = 560 + offset(random);
            step[p] = -2.4 * gain(random);
            // A pixel word with the test bit and the time-over-threshold mode set.
            words[p] = WithTimepixMode(0x3FFF, 1);
        }
        base[7] = 530, step[7] = 2.4;   // adjustment the other way round
        base[8] = 600;                  // in the scan, but out of the adjustment's reach
        words[9] &= ~MaskBit(kFamily);  // masked: must stay untouched
        words[9] = WithThresholdAdjust(words[9], kFamily, 5);
        step[10] = 0;                   // adjustment without effect
    }
    // Counts at DAC value v: a ramp of width 4 around the edge up to 1000, nothing for a
    // masked pixel.
    std::vector<int32_t> Frame(std::span<const uint16_t> sent, int v) const {
        std::vector<int32_t> counts(kChipPixels);
        for (int p = 0; p < kChipPixels; ++p) {
            if (!IsGoodPixel(sent[p], kFamily)) continue;
            const double edge = base[p] + step[p] * ThresholdAdjustOfWord(sent[p], kFamily);
            counts[p] = static_cast<int32_t>(1000 * std::clamp((v - edge + 2) / 4, 0.0, 1.0));
        }
        return counts;
    }
};

EqualizationResult Equalize(const SyntheticChip& chip, bool maskUnequalizable, int& scansEnded) {
    EqualizeRequest request;
    for (int v = 500; v <= 620; ++v) request.values.push_back(v);
    request.maskUnequalizable = maskUnequalizable;
    ThresholdEqualizer equalizer({1, SyntheticChip::kFamily}, chip.words, request);
    std::vector<uint16_t> sent;
    scansEnded = 0;
    while (equalizer.Next() != ThresholdEqualizer::Action::kDone) {
        if (equalizer.Next() == ThresholdEqualizer::Action::kConfigure) {
            sent.assign(equalizer.words().begin(), equalizer.words().end());
            equalizer.Configured();
        } else if (equalizer.Feed(chip.Frame(sent, equalizer.dacValue()))) {
            ++scansEnded;
        }
    }
    EXPECT_EQ(equalizer.framesTaken(), equalizer.framesInAll());
    return equalizer.result();
}

TEST(ThresholdEqualizer, BringsEveryReachablePixelToTheTargetAndTouchesNothingElse) {
    const SyntheticChip chip(1);
    int scans = 0;
    const EqualizationResult r = Equalize(chip, false, scans);
    EXPECT_EQ(scans, 3);
    ASSERT_EQ(r.chips.size(), 1u);
    const ChipEqualization& c = r.chips[0];
    EXPECT_NEAR(c.target, 560 - 2.4 * 7.5, 0.5) << "the median edge at the middle adjustment";

    // Each equalised pixel got the adjustment whose edge lies nearest the target.
    const uint16_t adjustBits = ThresholdAdjustMask(SyntheticChip::kFamily);
    int checked = 0;
    for (int p = 0; p < kChipPixels; ++p) {
        EXPECT_EQ(r.words[p] & ~adjustBits, chip.words[p] & ~adjustBits) << "pixel " << p;
        if (r.outcome[p] != PixelOutcome::kEqualized) continue;
        const int chosen = ThresholdAdjustOfWord(r.words[p], SyntheticChip::kFamily);
        EXPECT_EQ(chosen, r.adjust[p]);
        const double error = std::abs(chip.base[p] + chip.step[p] * chosen - c.target);
        for (int other = 0; other <= 15; ++other)
            ASSERT_LE(error, std::abs(chip.base[p] + chip.step[p] * other - c.target) + 0.3)
                << "pixel " << p << " chose " << chosen << " over " << other;
        ++checked;
    }
    EXPECT_GT(checked, kChipPixels * 99 / 100);
    EXPECT_EQ(r.outcome[7], PixelOutcome::kEqualized) << "an adjustment working the other way";
    EXPECT_EQ(r.outcome[8], PixelOutcome::kOutOfRange);
    EXPECT_EQ(r.outcome[9], PixelOutcome::kMasked);
    EXPECT_EQ(r.words[9], chip.words[9]);
    EXPECT_EQ(r.outcome[10], PixelOutcome::kNoEdge);
    EXPECT_TRUE(std::isnan(r.after[9]));
    EXPECT_EQ(c.equalized + c.unequalizable, kChipPixels - 1);

    // The spread of the measured edges falls to what the step leaves: 2.4 / sqrt(12).
    EXPECT_NEAR(c.spreadBefore, 6, 0.2);
    EXPECT_LT(c.spreadAfter, 0.8);
    EXPECT_NE(DescribeEqualization(r).find("Equalized 1 chip: spread 6."), std::string::npos)
        << DescribeEqualization(r);
}

TEST(ThresholdEqualizer, MasksWhatItCannotEqualizeOnlyWhenAsked) {
    const SyntheticChip chip(2);
    int scans = 0;
    const EqualizationResult kept = Equalize(chip, false, scans);
    const EqualizationResult masked = Equalize(chip, true, scans);
    for (int p : {8, 10}) {
        EXPECT_TRUE(IsGoodPixel(kept.words[p], SyntheticChip::kFamily));
        EXPECT_FALSE(IsGoodPixel(masked.words[p], SyntheticChip::kFamily));
        EXPECT_EQ(masked.words[p] | MaskBit(SyntheticChip::kFamily), kept.words[p]);
    }
    EXPECT_EQ(masked.words[9], chip.words[9]);
}

// Edges are found walking from the quietest step towards the busiest, so a falling curve,
// a noisy step and a curve that never rises are all told apart.
TEST(ThresholdEqualizer, EdgesOfRisingFallingNoisyAndFlatCurves) {
    const std::vector<int> values{10, 20, 30, 40, 50, 60};
    const std::vector<uint16_t> rising{0, 0, 100, 300, 400, 400};
    const std::vector<uint16_t> falling{400, 400, 300, 100, 0, 0};
    const std::vector<uint16_t> spike{0, 90, 0, 0, 400, 400};  // one noisy step early on
    const std::vector<uint16_t> flat{5, 7, 6, 5, 6, 7};
    EXPECT_FLOAT_EQ(EdgeOf(values, rising.data(), 1), 35.0f);
    EXPECT_FLOAT_EQ(EdgeOf(values, falling.data(), 1), 35.0f);
    EXPECT_NEAR(EdgeOf(values, spike.data(), 1), 45.0f, 5.0f);
    EXPECT_TRUE(std::isnan(EdgeOf(values, flat.data(), 1)));
}

}  // namespace
}  // namespace ulvarin
