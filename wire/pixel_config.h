// The pixel configuration word each chip keeps per pixel: which bit masks the pixel, which
// enables its test-pulse input, the Timepix mode bits, and the bits that move the pixel's own
// threshold. Host and emulator both read the word through this file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/chip_type.h"

namespace ulvarin {

// Word of every pixel at start-up, and the "default matrix" word.
constexpr uint16_t kInitialPixelWord = 0x1FFF;
constexpr uint16_t kDefaultPixelWord = 0xFFFF;

// The bit that, when 0, masks the pixel.
constexpr uint16_t MaskBit(ChipType type) {
    return type == ChipType::Medipix2 ? 0x0800 : type == ChipType::Mxr ? 0x0001 : 0x0080;
}
// The bit that enables the pixel's test-pulse input.
constexpr uint16_t TestBit(ChipType type) {
    return type == ChipType::Timepix ? 0x2000 : 0x0200;
}

// Timepix counting modes, by selector item: 0 Medipix, 1 TOT, 2 TPX 1-hit, 3 Timepix.
// Sets P0 (bit 9) to mode & 1 and P1 (bit 6) to mode & 2, keeps bits 0-5, 7, 8 and 10-13
// and clears bits 14 and 15.
constexpr uint16_t WithTimepixMode(uint16_t word, int mode) {
    return static_cast<uint16_t>((word & 0x3DBF) | ((mode & 1) ? 0x0200 : 0) |
                                 ((mode & 2) ? 0x0040 : 0));
}
// The Timepix mode a word selects, numbered as WithTimepixMode takes it.
constexpr int TimepixModeOf(uint16_t word) {
    return ((word & 0x0200) ? 1 : 0) | ((word & 0x0040) ? 2 : 0);
}
inline void ApplyTimepixMode(uint16_t* words, size_t count, int mode) {
    for (size_t i = 0; i < count; ++i) words[i] = WithTimepixMode(words[i], mode);
}

// The threshold adjustment of a pixel: a small binary number in spare bits of its word that
// moves the pixel's own (low) threshold, by steps whose size the chip's "Ths" DAC sets.
// Higher values move the threshold towards lower energy (higher threshold DAC values); all
// bits set, as in the initial and default words, is the top of the range.
// The bit positions are this program's assumption of the chips' layout, chosen among the
// bits no other role uses that a binary mask file also reaches; this table is the one place
// to correct them.
struct ThresholdAdjustBits {
    uint8_t position[4];  // word bit of adjustment bit 0 (least significant), 1, ...
    int count;            // 3 on Medipix2 and MXR, 4 on Timepix
    int stepDac;          // index of "Ths" in the chip's DAC record
    int stepDacDefault;   // the step DAC's default, where one step is the nominal size
};

constexpr ThresholdAdjustBits ThresholdAdjustOf(ChipType type) {
    switch (type) {
        case ChipType::Mxr:
            return {{8, 12, 10, 0}, 3, 12, 128};
        case ChipType::Timepix:
            return {{8, 12, 10, 11}, 4, 11, 85};
        case ChipType::Medipix2:
            break;
    }
    return {{8, 7, 12, 0}, 3, 4, 128};
}

// Highest adjustment value of the type (7 or 15).
constexpr int MaxThresholdAdjust(ChipType type) {
    return (1 << ThresholdAdjustOf(type).count) - 1;
}

// The word's bits that hold the adjustment.
constexpr uint16_t ThresholdAdjustMask(ChipType type) {
    const ThresholdAdjustBits bits = ThresholdAdjustOf(type);
    uint16_t mask = 0;
    for (int b = 0; b < bits.count; ++b) mask = static_cast<uint16_t>(mask | 1u << bits.position[b]);
    return mask;
}

constexpr int ThresholdAdjustOfWord(uint16_t word, ChipType type) {
    const ThresholdAdjustBits bits = ThresholdAdjustOf(type);
    int value = 0;
    for (int b = 0; b < bits.count; ++b) value |= ((word >> bits.position[b]) & 1) << b;
    return value;
}

// `word` with its adjustment set to `value` (clamped to the type's range); every other bit
// (mask, test, mode and the rest) kept.
constexpr uint16_t WithThresholdAdjust(uint16_t word, ChipType type, int value) {
    const ThresholdAdjustBits bits = ThresholdAdjustOf(type);
    value = value < 0 ? 0 : value > MaxThresholdAdjust(type) ? MaxThresholdAdjust(type) : value;
    auto out = static_cast<uint16_t>(word & ~ThresholdAdjustMask(type));
    for (int b = 0; b < bits.count; ++b)
        if (value & (1 << b)) out = static_cast<uint16_t>(out | 1u << bits.position[b]);
    return out;
}

}  // namespace ulvarin
