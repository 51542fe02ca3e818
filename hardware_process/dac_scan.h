// The DAC scan: one DAC of all chips stepped through a range, one hardware process per
// step, and the median and average of each step's summed image recorded as curves.
// Plain state and arithmetic; the scan panel drives it from the end of each process.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "device/dac_tables.h"
#include "imaging/chip_layout.h"
#include "wire/stream_layout.h"

namespace ulvarin {

class PulseStore;

struct ScanSettings {
    bool active = false;
    int32_t dacIndex = 0;
    int32_t from = 0;
    int32_t to = 0;
    int32_t step = 0;
    int32_t current = 0;
    std::array<uint32_t, kMaxChips> savedValue{};
    bool savedIntegrating = false;
};

// A scan about to start: the range put in order (equal ends get to = from + 1, a reversed
// range is swapped), current one step before `from`, and every chip's value of the DAC
// and the integration state saved. A step below 1 counts as 1, and a DAC index outside the
// record as the last DAC, so the scan always ends and never writes outside a record.
ScanSettings BeginScan(int dacIndex, int from, int to, int step,
                       std::span<const ChipDacRecord> records, bool integrating);

// Whether a step has run whose results are to be recorded (every step but the first).
inline bool HasStepToRecord(const ScanSettings& s) {
    return s.current >= s.from;
}

// "Scanning (%.3lg%%)" with the larger of 0 and the share of the range already passed.
std::string ScanCaption(const ScanSettings& s);

// The number of steps from `from` to `to`, and of those already recorded (the step being
// exposed not counted).
int ScanStepCount(const ScanSettings& s);
int ScanStepsDone(const ScanSettings& s);

// Moves to the next value; false (scan over) when it lies beyond `to`.
bool AdvanceScan(ScanSettings& s);

// Sets the scanned DAC of every record to the current value (low 16 bits), or back to
// the values saved when the scan began.
void SetScannedDac(std::span<ChipDacRecord> records, const ScanSettings& s);
void RestoreScannedDac(std::span<ChipDacRecord> records, const ScanSettings& s);

// The average of chip `chip`'s values over its good pixels (mask bit set); 0 without any.
double ChipMaskedMean(std::span<const double> result, std::span<const uint16_t> config, int chip,
                      ChipFamily family);

// The results of one step: the median and average of the whole image, and with more than
// one chip the median (masked pixels included) and masked mean of each chip.
struct ScanPoint {
    double median = 0;
    double average = 0;
    int chips = 0;  // per-chip values given; 0 with one chip
    std::array<double, kMaxChips> chipMedian{};
    std::array<double, kMaxChips> chipMean{};
};

// Per-chip medians and means of the result image for `chipCount` chips, when more than one.
void MeasureChips(std::span<const double> result, std::span<const uint16_t> config, int chipCount,
                  ChipFamily family, ScanPoint& point);

// Appends the point to the scan curves: record 0 gets the image's median (channel 0) and
// average (channel 1), record c + 1 chip c's. Samples past 1024 are dropped.
void RecordScanPoint(PulseStore& store, const ScanPoint& point);

}  // namespace ulvarin
