// How the emulated pixels count: exposure, illumination, saturation, masks, test pulses,
// thresholds, power, polarity and the Timepix modes. Exposures run on a hand-moved clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/counter_code.h"
#include "sim/pixel_physics.h"
#include "timed_interface.h"
#include "wire/pixel_config.h"

namespace ulvarin::sim::test {
namespace {

// Opens the shutter for `seconds` on erased counters and closes it without reading.
void Expose(TimedInterface& t, double seconds) {
    ASSERT_EQ(t.Ask("eo"), "eOK\roOK\r");
    t.Wait(seconds);
    ASSERT_EQ(t.Ask("c"), "cOK\r");
}

void Uniform(TimedInterface& t, double level = Illumination::kDefaultLevel) {
    t.e.ChangeIllumination(
        [&](Illumination& light) {
            light.SetUniform();
            light.SetLevel(level);
        },
        t.now);
}

TEST(PixelCounting, CountsOnlyWhileTheShutterIsOpenInProportionToTimeAndLight) {
    TimedInterface t(ChipFamily::kMedipix2);
    Uniform(t);
    ASSERT_EQ(t.Ask("e"), "eOK\r");
    t.Wait(1.0);
    EXPECT_EQ(t.MeanCount(), 0.0) << "a closed shutter counts nothing";

    Expose(t, 0.1);
    const double base = t.MeanCount();
    EXPECT_GT(base, 20);
    t.Wait(1.0);
    EXPECT_EQ(t.MeanCount(), base) << "counting stops when the shutter closes";

    Expose(t, 0.2);
    EXPECT_NEAR(t.MeanCount() / base, 2.0, 0.1);

    Uniform(t, 2 * Illumination::kDefaultLevel);
    Expose(t, 0.1);
    EXPECT_NEAR(t.MeanCount() / base, 2.0, 0.1);

    // The exposure is counted up to each command that changes the counting: a light change
    // in the middle of an opening applies from then on.
    ASSERT_EQ(t.Ask("eo"), "eOK\roOK\r");
    t.Wait(0.1);
    Uniform(t, 0);
    t.Wait(10);
    ASSERT_EQ(t.Ask("c"), "cOK\r");
    EXPECT_NEAR(t.MeanCount() / base, 2.0, 0.1);
}

TEST(PixelCounting, CountersSaturateAtTheFamilysLastCount) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kTimepix}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family);
        Uniform(t);
        Expose(t, 100);
        const auto& counts = t.e.Chip(0).counts;
        const int last = MaxCount(IsWide(family));
        EXPECT_EQ(*std::max_element(counts.begin(), counts.end()), last);
        EXPECT_GT(std::count(counts.begin(), counts.end(), last), kChipPixels * 99 / 100);
        // And the frame carries them as the last count.
        const auto frame = t.DecodeFrame(t.Ask("m"));
        EXPECT_EQ(frame[1000], counts[1000]);
    }
}

// Pixel words with every bit set except those given per pixel.
std::vector<uint16_t> Words(int chips, uint16_t clear, const std::vector<int>& pixels) {
    std::vector<uint16_t> words(static_cast<size_t>(chips) * kChipPixels, 0xFFFF);
    for (int p : pixels) words[static_cast<size_t>(p)] &= static_cast<uint16_t>(~clear);
    return words;
}

TEST(PixelCounting, MaskedPixelsStaySilentInEveryFamily) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family, 2);
        Uniform(t);
        // With the threshold deep in the noise every unmasked pixel counts, whatever the light.
        const int fine = ThresholdDacsOf(family).fine;
        t.SetAllDacs([&](ChipDacRecord& r) {
            r.dac[fine] = DacMaxValueOf(TimedInterface::TypeOf(family), fine);
        });
        const std::vector<int> masked = {0, 255, 300, 65535, 65536 + 12345};
        t.SetMatrix(Words(2, PixelBitsOf(family).mask, masked));
        Expose(t, 0.5);
        for (int p : masked)
            EXPECT_EQ(t.e.Chip(p / kChipPixels).counts[static_cast<size_t>(p % kChipPixels)], 0)
                << "pixel " << p;
        const auto& counts = t.e.Chip(1).counts;
        EXPECT_EQ(std::count(counts.begin(), counts.end(), 0), 1);
    }
}

TEST(PixelCounting, TestPulsesReachOnlyUnmaskedPixelsWithTheirTestBit) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family);
        const PixelBits bits = PixelBitsOf(family);
        // Test bit on row 10 only; pixel (10, 20) also masked.
        std::vector<uint16_t> words(kChipPixels, static_cast<uint16_t>(~bits.test));
        for (int column = 0; column < 256; ++column) words[10 * 256 + column] = 0xFFFF;
        words[10 * 256 + 20] &= static_cast<uint16_t>(~bits.mask);
        t.SetMatrix(words);
        t.SetAllDacs([](ChipDacRecord& r) { r.testPulseWord = 0xFFFFFFFF; });
        // Counters not erased and the shutter open under light: the run still counts the
        // pulses alone.
        Uniform(t);
        ASSERT_EQ(t.Ask("o"), "oOK\r");
        t.Wait(0.1);
        ASSERT_GT(t.MeanCount(), 0.0);

        t.Send(std::string("O\xE8\x03\x0A", 4));  // 1000 pulses
        const std::string answer = t.Output();
        EXPECT_EQ(answer.substr(1, 6), std::string(6, '\0')) << "no exposure";
        const auto frame = t.DecodeFrame(answer);
        for (int p = 0; p < kChipPixels; ++p) {
            const bool pulsed = p / 256 == 10 && p != 10 * 256 + 20;
            ASSERT_EQ(frame[static_cast<size_t>(p)], pulsed ? 1000 : 0) << "pixel " << p;
        }
        EXPECT_EQ(t.MeanCount(), 0.0) << "the frame of a test pulse run ends the measurement";
        ASSERT_EQ(t.Ask("c"), "cOK\r");

        // The next run counts its own pulses, up to the counter's last count.
        t.Send(std::string("O\x07\x00\x0A", 4));
        EXPECT_EQ(t.DecodeFrame(t.Output())[10 * 256 + 21], 7);
        t.Send(std::string("O\xFF\xFF\x0A", 4));
        EXPECT_EQ(t.DecodeFrame(t.Output())[10 * 256 + 21], MaxCount(IsWide(family)));
    }
}

TEST(PixelCounting, TestPulseWordEnablesColumnGroupsOnMxrAndTimepix) {
    TimedInterface t(ChipFamily::kMxr);
    t.SetAllDacs([](ChipDacRecord& r) { r.testPulseWord = 0x80000001; });
    ASSERT_EQ(t.Ask("e"), "eOK\r");
    t.Send(std::string("O\x05\x00\x0A", 4));
    const auto frame = t.DecodeFrame(t.Output());
    for (int column : {0, 7, 248, 255}) EXPECT_EQ(frame[static_cast<size_t>(column)], 5);
    for (int column : {8, 100, 247}) EXPECT_EQ(frame[static_cast<size_t>(column)], 0);
}

// Median count of chip 0 after a 0.1 s exposure at each value of DAC `dac`, the other DACs
// at their defaults but for `other` set to `otherValue`.
std::vector<double> MedianScan(TimedInterface& t, int dac, const std::vector<int>& values,
                               int other = -1, int otherValue = 0) {
    std::vector<double> medians;
    for (int value : values) {
        t.SetAllDacs([&](ChipDacRecord& r) {
            r.dac[dac] = static_cast<uint16_t>(value);
            if (other >= 0) r.dac[other] = static_cast<uint16_t>(otherValue);
        });
        Expose(t, 0.1);
        std::vector<uint16_t> counts = t.e.Chip(0).counts;
        std::nth_element(counts.begin(), counts.begin() + kChipPixels / 2, counts.end());
        medians.push_back(counts[kChipPixels / 2]);
    }
    return medians;
}

// The scan a user runs by default (140 to 200 on "Thl", or "Thl Fine" with "Thl Coarse" at
// 7) goes from nothing to every photon, half of them at the documented midpoint; the
// default threshold counts every photon; the top of the DAC's range counts noise.
TEST(PixelCounting, ThresholdScanShowsTheNoiseEdgeAndAnSCurve) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family);
        Uniform(t);
        if (family == ChipFamily::kTimepix)
            t.SetMatrix(std::vector<uint16_t>(kChipPixels, 0x3FFF & ~0x0240));  // counting mode
        const ChipType type = TimedInterface::TypeOf(family);
        const DacPoint mid = PixelPhysics::ThresholdScanMidpoint(family);
        EXPECT_STREQ(DacNameOf(type, mid.dac),
                     family == ChipFamily::kMedipix2 ? "Thl" : "Thl Fine");

        std::vector<int> values;
        for (int v = 140; v <= 200; v += 2) values.push_back(v);
        const auto medians = MedianScan(t, mid.dac, values);
        const double full = medians.back();
        EXPECT_GT(full, 30);
        EXPECT_EQ(medians.front(), 0);
        double crossing = 0;
        for (size_t i = 1; i < medians.size(); ++i) {
            EXPECT_GE(medians[i], medians[i - 1] - 1) << "at " << values[i];
            if (medians[i - 1] < full / 2 && medians[i] >= full / 2)
                crossing =
                    values[i - 1] + 2 * (full / 2 - medians[i - 1]) / (medians[i] - medians[i - 1]);
        }
        EXPECT_NEAR(crossing, mid.value, 1.5);

        const double atDefault = MedianScan(t, mid.dac, {DacDefaultOf(type, mid.dac)})[0];
        EXPECT_NEAR(atDefault / full, 1.0, 0.1);
        const double noise = MedianScan(t, mid.dac, {DacMaxValueOf(type, mid.dac)})[0];
        EXPECT_GT(noise, 20 * full);
    }
}

// Where the median pixel of chip 0 counts half of what it counts at the top of `values`.
double MedianCrossing(TimedInterface& t, int dac, const std::vector<int>& values, int other = -1,
                      int otherValue = 0) {
    const auto medians = MedianScan(t, dac, values, other, otherValue);
    const double half = medians.back() / 2;
    for (size_t i = 1; i < medians.size(); ++i)
        if (medians[i - 1] < half && medians[i] >= half)
            return values[i - 1] + (values[i] - values[i - 1]) * (half - medians[i - 1]) /
                                       (medians[i] - medians[i - 1]);
    return -1;
}

// The adjustment bits of the pixel word move every pixel's threshold: from the top of their
// range (the initial word) to the bottom by the family's span, scaled by the "Ths" DAC, and
// not at all with "Ths" at 0.
TEST(PixelCounting, AdjustmentBitsMoveTheThresholdByStepsThsScales) {
    for (ChipFamily family : {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family);
        Uniform(t);
        const ChipType type = WireType(family);
        const int dac = PixelPhysics::ThresholdScanMidpoint(family).dac;
        const ThresholdAdjustBits bits = ThresholdAdjustOf(type);
        const uint16_t top = family == ChipFamily::kTimepix ? WithTimepixMode(0x3FFF, 0) : 0x1FFF;
        std::vector<int> values;  // up to below the noise edge (Medipix2) or past every S-curve
        for (int v = 140; v <= (family == ChipFamily::kMedipix2 ? 214 : 230); v += 2)
            values.push_back(v);
        t.SetMatrix(std::vector<uint16_t>(kChipPixels, top));
        const double atTop = MedianCrossing(t, dac, values);
        EXPECT_NEAR(atTop, 170, 1.5);
        t.SetMatrix(std::vector<uint16_t>(kChipPixels, WithThresholdAdjust(top, type, 0)));
        const double span = MaxThresholdAdjust(type) * PixelPhysics::ScaleOf(family).adjustStep;
        EXPECT_NEAR(MedianCrossing(t, dac, values) - atTop, span, 2.0);
        const double half = MedianCrossing(t, dac, values, bits.stepDac, bits.stepDacDefault / 2);
        EXPECT_NEAR(half - atTop, span / 2, 2.0);
        EXPECT_NEAR(MedianCrossing(t, dac, values, bits.stepDac, 0), atTop, 1.5);
    }
}

TEST(PixelCounting, PowerPolarityAndBiasShapeTheSignal) {
    TimedInterface t(ChipFamily::kMxr);
    Uniform(t);
    Expose(t, 0.1);
    const double biasOff = t.MeanCount();

    ASSERT_EQ(t.Ask("X"), "XOK\r");
    Expose(t, 0.1);
    EXPECT_EQ(t.MeanCount(), 0.0) << "unpowered chips count nothing";

    ASSERT_EQ(t.Ask("xp"), "xOK\rpOK\r");
    Expose(t, 0.1);
    EXPECT_LT(t.MeanCount(), 0.01 * biasOff) << "the wrong polarity sees no photons";

    ASSERT_EQ(t.Ask("P"), "POK\r");
    t.Send("b\x01");
    ASSERT_EQ(t.Output(), "bOK\r");
    Expose(t, 0.1);
    EXPECT_GT(t.MeanCount(), 2 * biasOff) << "a depleted sensor collects more";

    ASSERT_EQ(t.Ask("oR"), "oOK\rROK\r");
    t.Wait(0.1);
    EXPECT_EQ(t.MeanCount(), 0.0) << "a chip reset clears the counters and closes the shutter";
}

TEST(PixelCounting, TimepixModesCountHitsTimeOverThresholdOneHitOrArrivalTime) {
    TimedInterface t(ChipFamily::kTimepix);
    Uniform(t);
    // Rows 0-63 counting, 64-127 time over threshold, 128-191 one hit, 192-255 arrival time.
    std::vector<uint16_t> words(kChipPixels);
    for (int p = 0; p < kChipPixels; ++p) {
        const int mode = p / 256 / 64;
        words[static_cast<size_t>(p)] =
            static_cast<uint16_t>((0x3FFF & ~0x0240) | (mode & 1) << 9 | (mode & 2) << 5);
    }
    t.SetMatrix(words);
    Expose(t, 0.01);
    auto band = [&](int mode) {
        const auto& c = t.e.Chip(0).counts;
        std::vector<uint16_t> v(c.begin() + mode * 64 * 256, c.begin() + (mode + 1) * 64 * 256);
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto counting = band(0), tot = band(1), oneHit = band(2), arrival = band(3);
    const double hits = counting[counting.size() / 2];
    EXPECT_GT(hits, 3);
    EXPECT_GT(tot[tot.size() / 2], 20 * hits) << "several clock ticks per hit";
    EXPECT_EQ(oneHit.back(), 1);
    EXPECT_EQ(oneHit[oneHit.size() / 2], 1);
    EXPECT_GT(arrival[arrival.size() / 2], 1000) << "ticks from the first hit to the close";
}

}  // namespace
}  // namespace ulvarin::sim::test
