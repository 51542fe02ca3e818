#include "sim/chip_state.h"

#include "wire/stream_layout.h"

namespace ulvarin::sim {

uint16_t DefaultCount(int chipIndex, int row, int column) {
    const int level = (chipIndex + 1) * 1000;
    const int square = ((row / 32 + column / 32) % 2) * 500;
    const int ramp = (row + column) % 200;
    return static_cast<uint16_t>(level + square + ramp);
}

ChipState MakeChipState(int chipIndex, ChipFamily family, const ChipId& id) {
    ChipState chip;
    chip.id = id;
    chip.counts.resize(kChipPixels);
    for (int row = 0; row < 256; ++row)
        for (int column = 0; column < 256; ++column)
            chip.counts[row * 256 + column] = DefaultCount(chipIndex, row, column);
    chip.pixelConfig.assign(kChipPixels, IsWide(family) ? 0x3FFF : 0x1FFF);
    chip.dacs = DefaultChipDacs(family);
    return chip;
}

}  // namespace ulvarin::sim
