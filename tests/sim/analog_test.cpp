// The interface's analog side as the host sees it: ADC monitor readings that follow the
// sensed DAC and the bias, and scope shots that arrive later in a background block.
#include <gtest/gtest.h>

#include <cmath>

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
        const int word = static_cast<uint8_t>(block[2 + 2 * i]) << 8 |
                         static_cast<uint8_t>(block[3 + 2 * i]);
        const int ch = (word >> 12) & 7;
        ASSERT_EQ(ch, static_cast<int>((i - 1) % 2)) << "channels interleave in order";
        channel[ch].push_back(word & 0x0FFF);
    }
    auto [low0, high0] = std::minmax_element(channel[0].begin(), channel[0].end());
    EXPECT_LE(*high0 - *low0, 4) << "channel 0 is flat";
    auto [low1, high1] = std::minmax_element(channel[1].begin(), channel[1].end());
    EXPECT_GT(channel[1].front() - *low1, 100) << "channel 1 shows the back-side pulse";
    EXPECT_LT(*high1 - channel[1].front(), 5);
}

}  // namespace
}  // namespace ulvarin::sim::test
