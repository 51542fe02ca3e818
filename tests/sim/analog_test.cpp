// The interface's analog side as the host sees it: ADC monitor readings that follow the
// sensed DAC and the bias, and scope shots that arrive later in a background block, each with
// a back-side pulse whose heights form an energy spectrum.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "device/conversions.h"
#include "sim/analog_side.h"
#include "timed_interface.h"

namespace ulvarin::sim::test {
namespace {

// The 13 readings of one "M" answer.
std::vector<int> ReadAdcs(TimedInterface& t) {
    const std::string answer = t.Ask("M");
    EXPECT_EQ(answer.size(), 1 + 26 + 3u);
    EXPECT_EQ(answer.front(), 'M');
    std::vector<int> values;
    for (size_t i = 0; i + 1 < 26 && answer.size() >= 30; i += 2)
        values.push_back((static_cast<uint8_t>(answer[1 + i]) & 0x0F) * 256 +
                         static_cast<uint8_t>(answer[2 + i]));
    return values;
}

int SensedReading(TimedInterface& t, int fine) {
    const int dac = ThresholdDacsOf(t.e.Family()).fine;
    t.SetAllDacs([&](ChipDacRecord& r) { r.dac[dac] = static_cast<uint16_t>(fine); });
    return ReadAdcs(t).at(0);
}

TEST(AdcMonitor, Channel0FollowsTheSensedDac) {
    for (auto [family, low, mid, high] : {std::tuple{ChipFamily::kMedipix2, 20, 120, 220},
                                          std::tuple{ChipFamily::kTimepix, 100, 500, 900}}) {
        SCOPED_TRACE(std::string(FamilyName(family)));
        TimedInterface t(family, 2);
        const int a = SensedReading(t, low), b = SensedReading(t, mid), c = SensedReading(t, high);
        EXPECT_GT(b - a, 40);
        EXPECT_NEAR(c - b, b - a, 6) << "linear in the DAC value";

        // Only a chip whose sense flag is set drives the line.
        std::vector<ChipDacRecord> records(2, DefaultDacRecord(TimedInterface::TypeOf(family)));
        records[0].senseEnabled = 0;
        records[1].dac[ThresholdDacsOf(family).fine] = static_cast<uint16_t>(high);
        t.SetDacs(records);
        EXPECT_NEAR(ReadAdcs(t).at(0), c, 3);
        records[1].senseEnabled = 0;
        t.SetDacs(records);
        EXPECT_LT(ReadAdcs(t).at(0), 20) << "nothing sensed";
    }
}

TEST(AdcMonitor, Channel2FollowsTheBiasVoltage) {
    TimedInterface t(ChipFamily::kMxr);
    auto expected = [](uint8_t code) {
        return CodeToBias(code) / kBiasMonitorDivider * 4096 / 2.5;
    };
    for (uint8_t code : {255, 128, 1}) {
        t.Send(std::string("b") + static_cast<char>(code));
        ASSERT_EQ(t.Output(), "bOK\r");
        EXPECT_NEAR(ReadAdcs(t).at(2), expected(code), 3) << "code " << int(code);
    }
    ASSERT_EQ(t.Ask("B"), "BOK\r");
    EXPECT_NEAR(ReadAdcs(t).at(2), expected(0), 3);
}

TEST(Scope, SingleShotArrivesLaterAsABackgroundItem) {
    TimedInterface t(ChipFamily::kTimepix);
    // Channels 0 and 1, 200 samples at 2 us.
    t.Send(std::string("A\x03\xC8\x00\x0F", 5));
    ASSERT_EQ(t.Output(), "AOK\r");
    EXPECT_EQ(t.Ask("aa"), "aOK\raOK\r") << "the samples are not in the answer";
    t.Wait(0.0003);
    EXPECT_EQ(t.Output(), "") << "the shot takes 400 us";
    t.Wait(0.0002);
    const std::string block = t.Output();
    const size_t k = 400;
    ASSERT_EQ(block.size(), 2 + 1 + 2 + 2 * (k + 1) + 3) << "one shot only";
    EXPECT_EQ(block.substr(0, 2), "[$");
    EXPECT_EQ(static_cast<uint8_t>(block[2]) | static_cast<uint8_t>(block[3]) << 8, k);
    EXPECT_EQ(block.substr(block.size() - 4), "OK\r]");

    std::vector<int> channel[2];
    for (size_t i = 1; i <= k; ++i) {
        const int word =
            static_cast<uint8_t>(block[2 + 2 * i]) << 8 | static_cast<uint8_t>(block[3 + 2 * i]);
        const int ch = (word >> 12) & 7;
        ASSERT_EQ(ch, static_cast<int>((i - 1) % 2)) << "channels interleave in order";
        channel[ch].push_back(word & 0x0FFF);
    }
    auto [low0, high0] = std::minmax_element(channel[0].begin(), channel[0].end());
    EXPECT_LE(*high0 - *low0, 4) << "channel 0 is flat";
    auto [low1, high1] = std::minmax_element(channel[1].begin(), channel[1].end());
    EXPECT_GT(*high1 - channel[1].front(), 100) << "channel 1 shows the back-side pulse";
    EXPECT_LT(channel[1].front() - *low1, 8);
}

void ConfigureScope(TimedInterface& t, uint8_t mask, uint16_t samples, uint8_t mode) {
    t.Send(std::string{'A', static_cast<char>(mask), static_cast<char>(samples & 0xFF),
                       static_cast<char>(samples >> 8), static_cast<char>(mode)});
    ASSERT_EQ(t.Output(), "AOK\r");
}

using Channels = std::array<std::vector<int>, kScopeChannels>;

// Fires one shot, waits `seconds` and decodes the scope block that came in the meantime.
Channels Shot(TimedInterface& t, double seconds) {
    t.background.clear();
    EXPECT_EQ(t.Ask("a"), "aOK\r");
    t.Wait(seconds);
    EXPECT_EQ(t.Answers(), "");
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(t.background.at(i)); };
    Channels channels;
    for (size_t i = 1, k = byte(2) | byte(3) << 8; i <= k; ++i)
        channels[byte(2 + 2 * i) >> 4 & 7].push_back((byte(2 + 2 * i) & 0x0F) << 8 |
                                                     byte(3 + 2 * i));
    return channels;
}

int Median(std::vector<int> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values.at(values.size() / 2);
}

// The pulse height as the host takes it: the base line moved to 300 through the median,
// then the largest sample.
int HostHeight(const std::vector<int>& trace) {
    const int base = Median(trace) - 300;
    int height = 0;
    for (int v : trace) height = std::max(height, std::clamp(v - base, 0, 4095));
    return height;
}

int Quantile(const std::vector<int>& sorted, double q) {
    return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

// The host's default scope (the pulse channel only, 450 samples of 2 us) at a bias code.
struct PulseScope : TimedInterface {
    static constexpr double kWindow = 450 * 2e-6;
    explicit PulseScope(uint8_t biasCode) : TimedInterface(ChipFamily::kTimepix) {
        ConfigureScope(*this, 0x02, 450, 0x0F);
        EXPECT_EQ(Ask(std::string("b") + static_cast<char>(biasCode)), "bOK\r");
    }
    std::vector<int> Trace() { return Shot(*this, kWindow)[1]; }
};

TEST(BackSidePulse, HeightsFormAPhotoPeakThatGrowsWithTheBiasAndATail) {
    std::vector<double> peaks;
    for (uint8_t bias : std::array<uint8_t, 4>{0, 255, BiasToCode(60), BiasToCode(100)}) {
        SCOPED_TRACE("bias code " + std::to_string(bias));
        PulseScope t(bias);
        const int shots = bias == BiasToCode(100) ? 2000 : 300;
        std::vector<int> heights;
        for (int shot = 0; shot < shots; ++shot) {
            const std::vector<int> trace = t.Trace();
            ASSERT_EQ(trace.size(), 450u);
            EXPECT_NEAR(Median(trace), 81, 3) << "base line";
            heights.push_back(HostHeight(trace) - 300);
        }
        std::sort(heights.begin(), heights.end());
        // Photo-peak events are the upper three quarters, the tail the rest.
        const auto photo = heights.begin() + shots / 4;
        const double peak = PhotoPeakCodes(CodeToBias(bias));
        EXPECT_NEAR(photo[(heights.end() - photo) / 2], peak, 0.015 * peak + 5);
        peaks.push_back(peak);
        if (shots < 2000) continue;

        EXPECT_NEAR(photo[-25], 0.85 * peak, 0.05 * peak) << "top of the tail";
        EXPECT_NEAR(heights[shots / 8], 0.45 * peak, 0.08 * peak) << "tail spreads evenly";
        const std::vector<int> peakOnly(photo + 25, heights.end());
        const double fwhm = 2.355 * (Quantile(peakOnly, 0.84) - Quantile(peakOnly, 0.16)) / 2;
        EXPECT_GT(fwhm, 50);
        EXPECT_LT(fwhm, 120);
    }
    EXPECT_GT(peaks[0], 100) << "pulses stay visible with the bias off";
    EXPECT_LT(peaks[0], 0.3 * peaks[3]);
    EXPECT_LT(peaks[1], 0.8 * peaks[2]);
    EXPECT_GT(peaks[2], 0.9 * peaks[3]) << "saturates";
    EXPECT_GT(peaks[3], 1900);
}

TEST(BackSidePulse, RisesFastDecaysSlowlyAndFollowsThePolarity) {
    PulseScope t(BiasToCode(80)), twin(BiasToCode(80));
    EXPECT_EQ(t.Trace(), twin.Trace()) << "the seed decides";
    for (int shot = 0; shot < 20; ++shot) {
        const std::vector<int> trace = t.Trace();
        const auto top = std::max_element(trace.begin(), trace.end());
        const auto start = std::find_if(trace.begin(), trace.end(), [](int v) { return v > 95; });
        const int height = *top - 81;
        ASSERT_GT(height, 200);
        EXPECT_GE(start - trace.begin(), 44) << "starts 10 to 20 % into the window";
        EXPECT_LE(start - trace.begin(), 91);
        EXPECT_LE(top - start, 3) << "fast rise";
        const auto fallen = std::find_if(top, trace.end(),
                                         [&](int v) { return v - 81 < height / std::numbers::e; });
        EXPECT_GE(fallen - top, 18) << "decay of some tens of samples";
        EXPECT_LE(fallen - top, 32);
        EXPECT_NEAR(trace.back(), 81, 6);
    }
    // Negative polarity mirrors the trace; inverted as the host can, it is a pulse again.
    ASSERT_EQ(t.Ask("p"), "pOK\r");
    std::vector<int> trace = t.Trace();
    EXPECT_NEAR(Median(trace), 4095 - 81, 3);
    EXPECT_LT(HostHeight(trace), 320) << "nothing above the base line";
    for (int& v : trace) v = 4095 - v;
    EXPECT_GT(HostHeight(trace), 500);
}

TEST(Scope, OtherChannelsSampleWhatTheMonitorReadsWithinTheBuffer) {
    TimedInterface t(ChipFamily::kMedipix2);
    const int fine = ThresholdDacsOf(ChipFamily::kMedipix2).fine;
    t.SetAllDacs([&](ChipDacRecord& r) { r.dac[fine] = 150; });
    ASSERT_EQ(t.Ask("x"), "xOK\r");
    for (auto [channel, code] : {std::pair{0, 1000}, std::pair{1, 3000}})
        ASSERT_EQ(t.Ask(std::string{'>', static_cast<char>(channel), static_cast<char>(code & 0xFF),
                                    static_cast<char>(code >> 8)}),
                  ">OK\r");
    const std::vector<int> adc = ReadAdcs(t);
    EXPECT_NEAR(adc.at(1), 1000, 2) << "DAC0";
    EXPECT_NEAR(adc.at(3), 3000, 2) << "DAC1";

    // All channels, more samples than the buffer holds: cut to 1024, 2 us each.
    ConfigureScope(t, 0xFF, 5000, 0x0F);
    t.Wait(0);
    EXPECT_EQ(t.Ask("a"), "aOK\r");
    t.Wait(1023 * 2e-6);
    EXPECT_EQ(t.Answers(), "");
    const Channels shot = Shot(t, 2e-6);  // this "a" comes while the shot runs: ignored
    for (int c = 0; c < kScopeChannels; ++c) {
        const std::vector<int>& samples = shot[static_cast<size_t>(c)];
        ASSERT_EQ(samples.size(), 1024u) << c;
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        if (c == 1) continue;  // the pulse
        EXPECT_LE(*high - *low, 4) << c;
        EXPECT_NEAR(Median(samples), adc[static_cast<size_t>(c)], 3) << c;
    }
    ConfigureScope(t, 0xFF, 0, 0x0C);
    EXPECT_EQ(Shot(t, 32e-6), Channels{}) << "no samples, but the shot still ends";
}

}  // namespace
}  // namespace ulvarin::sim::test
