// The DAC scan's stepping, captions, saved values and the curves it records.
#include "hardware_process/dac_scan.h"

#include <gtest/gtest.h>

#include <vector>

#include "analog/pulse_store.h"

namespace ulvarin {
namespace {

// The DAC values a scan steps through, and the caption shown while the last one runs.
std::vector<int> Steps(int from, int to, int step, std::string* lastCaption = nullptr) {
    std::array<ChipDacRecord, 1> records{};
    ScanSettings s = BeginScan(8, from, to, step, records, false);
    std::vector<int> values;
    while (true) {
        const std::string caption = ScanCaption(s);
        if (!AdvanceScan(s)) break;
        if (lastCaption != nullptr) *lastCaption = caption;
        values.push_back(s.current);
        if (values.size() > 2000) break;  // a scan that never ends fails below
    }
    return values;
}

TEST(DacScan, StepsThroughTheRangeInOrder) {
    std::string caption;
    const std::vector<int> full = Steps(140, 200, 1, &caption);
    ASSERT_EQ(full.size(), 61u);
    EXPECT_EQ(full.front(), 140);
    EXPECT_EQ(full.back(), 200);
    EXPECT_EQ(caption, "Scanning (98.3%)");
    EXPECT_EQ(Steps(50, 50, 1), (std::vector<int>{50, 51}));
    EXPECT_EQ(Steps(200, 140, 1).size(), 61u);  // swapped into order
    EXPECT_EQ(Steps(0, 10, 4), (std::vector<int>{0, 4, 8}));
    EXPECT_EQ(Steps(0, 10, 0).size(), 11u) << "a step of 0 would never end";
    std::array<ChipDacRecord, 1> records{};
    EXPECT_EQ(ScanCaption(BeginScan(8, 140, 200, 1, records, false)), "Scanning (0%)");
}

TEST(DacScan, SetsAndRestoresTheScannedDacOfEveryChip) {
    std::array<ChipDacRecord, 2> records{};
    records[0].dac[6] = 11;
    records[1].dac[6] = 22;
    ScanSettings s = BeginScan(6, 100, 110, 5, records, true);
    EXPECT_TRUE(s.savedIntegrating);
    ASSERT_TRUE(AdvanceScan(s));
    SetScannedDac(records, s);
    EXPECT_EQ(records[0].dac[6], 100);
    EXPECT_EQ(records[1].dac[6], 100);
    RestoreScannedDac(records, s);
    EXPECT_EQ(records[0].dac[6], 11);
    EXPECT_EQ(records[1].dac[6], 22);
    // An index past the record scans the last DAC instead of writing outside it.
    EXPECT_EQ(BeginScan(99, 0, 1, 1, records, false).dacIndex, kDacSlots - 1);
}

TEST(DacScan, RecordsTheWholeImageAndEachChip) {
    constexpr int kChips = 2;
    std::vector<double> result(kChips * kChipPixels, 4.0);
    std::vector<uint16_t> config(kChips * kChipPixels, 1);  // MXR mask bit: good
    for (int p = 0; p < kChipPixels; ++p) result[kChipPixels + p] = p < 100 ? 1000.0 : 2.0;
    for (int p = 0; p < 100; ++p) config[kChipPixels + p] = 0;  // masked hot pixels of chip 1
    EXPECT_EQ(ChipMaskedMean(result, config, 1, ChipFamily::Mxr), 2.0);
    EXPECT_EQ(
        ChipMaskedMean(result, std::vector<uint16_t>(kChips * kChipPixels, 0), 0, ChipFamily::Mxr),
        0.0);
    ScanPoint point{.median = 3.0, .average = 3.5};
    MeasureChips(result, config, kChips, ChipFamily::Mxr, point);
    ASSERT_EQ(point.chips, 2);
    EXPECT_EQ(point.chipMedian[1], 2.0);  // masked pixels count in the median
    PulseStore store;
    store.BeginScan(0);
    RecordScanPoint(store, point);
    RecordScanPoint(store, point);
    EXPECT_EQ(store.HistorySlot(0).Count(0), 2);
    EXPECT_EQ(store.HistorySlot(0).Samples(1)[0], 3.5);
    EXPECT_EQ(store.HistorySlot(2).Samples(1)[1], 2.0);
    EXPECT_EQ(store.HistorySlot(3).Count(0), 0);
    // With one chip only record 0 is filled.
    ScanPoint single{.median = 1, .average = 1};
    MeasureChips(result, config, 1, ChipFamily::Mxr, single);
    EXPECT_EQ(single.chips, 0);
}

}  // namespace
}  // namespace ulvarin
