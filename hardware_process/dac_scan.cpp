#include "hardware_process/dac_scan.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "analog/pulse_store.h"
#include "imaging/median.h"

namespace ulvarin {
namespace {

constexpr int kMedianChannel = 0;
constexpr int kAverageChannel = 1;

int ScannedIndex(int dacIndex) {
    return dacIndex >= 0 && dacIndex < kDacSlots ? dacIndex : kDacSlots - 1;
}

}  // namespace

ScanSettings BeginScan(int dacIndex, int from, int to, int step,
                       std::span<const ChipDacRecord> records, bool integrating) {
    ScanSettings s;
    s.dacIndex = ScannedIndex(dacIndex);
    s.step = std::max(1, step);
    if (to == from)
        to = from + 1;
    else if (to < from)
        std::swap(from, to);
    s.from = from;
    s.to = to;
    s.current = from - s.step;
    for (size_t chip = 0; chip < records.size() && chip < kMaxChips; ++chip)
        s.savedValue[chip] = records[chip].dac[static_cast<size_t>(s.dacIndex)];
    s.savedIntegrating = integrating;
    s.active = true;
    return s;
}

std::string ScanCaption(const ScanSettings& s) {
    const double passed = std::max(0.0, (s.current - s.from) * 100.0 / (s.to - s.from));
    char text[40];
    std::snprintf(text, sizeof text, "Scanning (%.3lg%%)", passed);
    return text;
}

int ScanStepCount(const ScanSettings& s) {
    return (s.to - s.from) / s.step + 1;
}

int ScanStepsDone(const ScanSettings& s) {
    return std::clamp((s.current - s.from) / s.step, 0, ScanStepCount(s));
}

bool AdvanceScan(ScanSettings& s) {
    s.current += s.step;
    return s.current <= s.to;
}

void SetScannedDac(std::span<ChipDacRecord> records, const ScanSettings& s) {
    for (ChipDacRecord& record : records)
        record.dac[static_cast<size_t>(s.dacIndex)] = static_cast<uint16_t>(s.current);
}

void RestoreScannedDac(std::span<ChipDacRecord> records, const ScanSettings& s) {
    for (size_t chip = 0; chip < records.size() && chip < kMaxChips; ++chip)
        records[chip].dac[static_cast<size_t>(s.dacIndex)] =
            static_cast<uint16_t>(s.savedValue[chip]);
}

double ChipMaskedMean(std::span<const double> result, std::span<const uint16_t> config, int chip,
                      ChipFamily family) {
    const size_t first = static_cast<size_t>(chip) * kChipPixels;
    if (chip < 0 || first + kChipPixels > result.size() || first + kChipPixels > config.size())
        return 0;
    double sum = 0;
    uint32_t count = 0;
    for (size_t i = first; i < first + kChipPixels; ++i)
        if (IsGoodPixel(config[i], family)) {
            sum += result[i];
            ++count;
        }
    return count == 0 ? 0 : sum / count;
}

void MeasureChips(std::span<const double> result, std::span<const uint16_t> config, int chipCount,
                  ChipFamily family, ScanPoint& point) {
    point.chips = 0;
    if (chipCount <= 1) return;
    const int chips = std::min(chipCount, kMaxChips);
    for (int c = 0; c < chips; ++c) {
        const size_t first = static_cast<size_t>(c) * kChipPixels;
        if (first + kChipPixels > result.size()) break;
        point.chipMedian[static_cast<size_t>(c)] = MedianOf(result.subspan(first, kChipPixels));
        point.chipMean[static_cast<size_t>(c)] = ChipMaskedMean(result, config, c, family);
        point.chips = c + 1;
    }
}

void RecordScanPoint(PulseStore& store, const ScanPoint& point) {
    store.HistorySlot(0).Append(kMedianChannel, point.median);
    store.HistorySlot(0).Append(kAverageChannel, point.average);
    for (int c = 0; c < point.chips; ++c) {
        store.HistorySlot(c + 1).Append(kMedianChannel, point.chipMedian[static_cast<size_t>(c)]);
        store.HistorySlot(c + 1).Append(kAverageChannel, point.chipMean[static_cast<size_t>(c)]);
    }
}

}  // namespace ulvarin
