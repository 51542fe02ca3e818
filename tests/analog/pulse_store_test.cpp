#include "analog/pulse_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "analog/pulse_record.h"

namespace ulvarin {
namespace {

using Bytes = std::vector<uint8_t>;

// A scope data message: K little-endian, then the words big-endian.
Bytes ScopeMessage(uint16_t k, const std::vector<uint16_t>& words) {
    Bytes bytes{static_cast<uint8_t>(k & 0xFF), static_cast<uint8_t>(k >> 8)};
    for (const uint16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w >> 8));
        bytes.push_back(static_cast<uint8_t>(w & 0xFF));
    }
    return bytes;
}

void FillChannel(PulseRecord& pulse, int channel, const std::vector<double>& samples) {
    for (const double v : samples) pulse.Append(channel, v);
}

TEST(ScopeData, WordsGoToTheirChannelsAndNeverPastTheMessage) {
    PulseRecord pulse;
    pulse.Append(4, 1.0);
    // Channel 7 value 2748 inverted; channel 1 twice, the second word with bit 15 set.
    EXPECT_EQ(FillPulseFromScopeData(ScopeMessage(3, {0x7ABC, 0x1005, 0x9006}), 0x80, pulse), 3);
    EXPECT_EQ(pulse.Count(4), 0);  // emptied first
    ASSERT_EQ(pulse.Count(7), 1);
    EXPECT_EQ(pulse.Samples(7)[0], 1347.0);
    ASSERT_EQ(pulse.Count(1), 2);
    EXPECT_EQ(pulse.Samples(1)[1], 6.0);

    EXPECT_EQ(FillPulseFromScopeData(ScopeMessage(0, {0x1005}), 0, pulse), 0);
    EXPECT_EQ(pulse.LongestCount(), 0);

    // K claims more words than the parameters hold: only those present are taken.
    EXPECT_EQ(FillPulseFromScopeData(ScopeMessage(500, {0x2001, 0x2002}), 0, pulse), 2);
    EXPECT_EQ(pulse.Count(2), 2);
    Bytes odd = ScopeMessage(9, {0x2001});
    odd.push_back(0x20);
    EXPECT_EQ(FillPulseFromScopeData(odd, 0, pulse), 1);
    EXPECT_EQ(FillPulseFromScopeData(Bytes{9}, 0, pulse), 0);

    // A channel keeps its first 1024 values.
    EXPECT_EQ(FillPulseFromScopeData(ScopeMessage(1030, std::vector<uint16_t>(1030, 0x3FFF)), 0x08,
                                     pulse),
              1030);
    EXPECT_EQ(pulse.Count(3), kPulseSamples);
    EXPECT_EQ(pulse.Samples(3)[1023], 0.0);
    EXPECT_FALSE(pulse.Append(3, 1.0));
    EXPECT_FALSE(pulse.Append(8, 1.0));
    EXPECT_TRUE(pulse.Samples(-1).empty());
}

TEST(ProcessPulse, BaseLineRestoreHeightAndSpectrum) {
    PulseStore store;
    std::vector<double> shot(63, 500.0);
    shot.push_back(1500.0);
    FillChannel(store.CurrentPulse(), 1, shot);
    PulseOutcome outcome = store.ProcessPulse({});
    EXPECT_EQ(outcome.spectrumBin, 1300);  // base 500 - 300
    EXPECT_EQ(store.GetSpectrum()[1300], 1);
    EXPECT_EQ(store.PulseCount(), 1);
    EXPECT_EQ(outcome.repaint, (ViewsToRepaint{true, true}));
    EXPECT_TRUE(outcome.autosaveFile.empty());
    EXPECT_EQ(store.HistorySlot(0).Samples(1)[0], 300.0);

    // Restored samples are held to 0..4095, and the stored copy shows it.
    store.CurrentPulse().Clear();
    FillChannel(store.CurrentPulse(), 1, {500, 500, 500, 5000, 250});
    outcome = store.ProcessPulse({.restoreBaseLine = true, .autosave = true});
    EXPECT_EQ(outcome.spectrumBin, 4095);
    EXPECT_EQ(store.HistorySlot(1).Samples(1)[3], 4095.0);
    EXPECT_EQ(store.HistorySlot(1).Samples(1)[4], 50.0);
    EXPECT_EQ(outcome.autosaveFile, "Pulse_00002.txt");

    // Without restore: truncated toward zero; nothing above 0 counts in bin 0.
    store.CurrentPulse().Clear();
    FillChannel(store.CurrentPulse(), 1, {-20, 3.9});
    EXPECT_EQ(store.ProcessPulse({.restoreBaseLine = false}).spectrumBin, 3);
    store.CurrentPulse().Clear();
    FillChannel(store.CurrentPulse(), 1, {-20, -1});
    EXPECT_EQ(store.ProcessPulse({.restoreBaseLine = false}).spectrumBin, 0);

    // No channel 1: the spectrum stays, the count grows.
    store.CurrentPulse().Clear();
    store.CurrentPulse().Append(0, 700);
    const Spectrum before = store.GetSpectrum();
    outcome = store.ProcessPulse({});
    EXPECT_FALSE(outcome.spectrumBin.has_value());
    EXPECT_EQ(store.GetSpectrum(), before);
    EXPECT_EQ(store.PulseCount(), 5);

    // Counts saturate instead of overflowing (a loaded spectrum can hold the largest count).
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    store.MutableSpectrum()[0] = kMax;
    store.SetPulseCount(kMax);
    store.CurrentPulse().Clear();
    store.CurrentPulse().Append(1, 0);
    store.ProcessPulse({});
    EXPECT_EQ(store.GetSpectrum()[0], kMax);
    EXPECT_EQ(store.PulseCount(), kMax);
}

TEST(ProcessPulse, HistoryRotatesAndAScanGivesItBack) {
    PulseStore store;
    EXPECT_FALSE(store.HistoryIndex().has_value());
    EXPECT_EQ(store.ShownRecord(), nullptr);
    for (int i = 0; i < 17; ++i) {
        store.CurrentPulse().Clear();
        store.CurrentPulse().Append(2, i);
        store.ProcessPulse({});
    }
    EXPECT_EQ(store.HistoryIndex(), 0);  // the 17th pulse overwrote slot 0
    EXPECT_EQ(store.HistorySlot(0).Samples(2)[0], 16.0);
    EXPECT_EQ(store.HistorySlot(15).Samples(2)[0], 15.0);

    store.BeginScan(4);
    EXPECT_TRUE(store.HistoryHoldsScan());
    EXPECT_EQ(store.HistorySlot(0).LongestCount(), 0);
    store.HistorySlot(4).Append(0, 12.5);
    EXPECT_EQ(store.ShownRecord(), &store.HistorySlot(4));
    store.ProcessPulse({});  // a real pulse ends the scan's hold
    EXPECT_FALSE(store.HistoryHoldsScan());
    EXPECT_EQ(store.HistoryIndex(), 5);
    EXPECT_EQ(store.HistorySlot(4).LongestCount(), 0);
    EXPECT_EQ(store.HistorySlot(5).Samples(2)[0], 16.0);

    EXPECT_EQ(store.ClearHistory(), (ViewsToRepaint{true, false}));
    EXPECT_EQ(store.HistoryIndex(), 0);
    store.ProcessPulse({});
    EXPECT_EQ(store.HistoryIndex(), 1);

    EXPECT_EQ(store.ForgetPulses(), (ViewsToRepaint{true, false}));
    EXPECT_EQ(store.PulseCount(), 0);
    EXPECT_EQ(store.HistorySlot(1).LongestCount(), 0);
    store.ProcessPulse({});
    EXPECT_EQ(store.ResetSpectrum(), (ViewsToRepaint{true, true}));
    EXPECT_EQ(store.PulseCount(), 0);
    EXPECT_EQ(store.HistorySlot(2).LongestCount(), 0);

    store.BeginScan(99);  // held to the last slot
    EXPECT_EQ(store.HistoryIndex(), kHistorySlots - 1);
    EXPECT_STREQ(ScanCurveName(1), "Average");
    EXPECT_STREQ(ScanCurveName(8), "");
}

}  // namespace
}  // namespace ulvarin
