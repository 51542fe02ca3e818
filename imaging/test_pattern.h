// The pattern the pixel-configuration test writes: a cross through the middle of each chip,
// both diagonals and the central square, so a working configuration path shows it whole.
#pragma once

#include <cstdint>
#include <span>

namespace ulvarin {

// Sets chip 0's 65,536 words of `config` to 0 and then to `value` on columns 127 and 128,
// rows 127 and 128, the diagonal and the anti-diagonal, and rows and columns 64 to 191;
// copies chip 0 over the chips 1 to chipCount - 1. Words beyond chipCount chips (or beyond
// `config`) are not touched.
void WriteTestPattern(std::span<uint16_t> config, int chipCount, uint16_t value);

}  // namespace ulvarin
