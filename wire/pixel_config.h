// The pixel configuration word each chip keeps per pixel: which bit masks the pixel, which
// enables its test-pulse input, and the Timepix mode bits.
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

}  // namespace ulvarin
