// What the emulator keeps for each chip: its identification, pixel counters, pixel
// configuration, DACs and the last DAC word it was sent.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/chip_family.h"
#include "sim/chip_id.h"
#include "sim/dac_words.h"

namespace ulvarin::sim {

struct ChipState {
    ChipId id;
    // Counts by pixel (row * 256 + column); frames send these as counter codes.
    std::vector<uint16_t> counts;
    // Register words of the pixel configuration (13 or 14 low bits), as "Set matrix" left them.
    std::vector<uint16_t> pixelConfig;
    // DACs as decoded from the last DAC word the chip took.
    ChipDacs dacs;
    // The chip's 32-byte word of the last accepted "Set Medipix DACs" stream, as received.
    std::array<uint8_t, kDacWordBytes> dacBlock{};
};

// A chip at power-up: counts in the recognisable default pattern, configuration all ones
// in the register's width, the family's default DACs.
ChipState MakeChipState(int chipIndex, ChipFamily family, const ChipId& id);

// Default count of a pixel: a level per chip ((chip + 1) * 1000), a checkerboard of 32-pixel
// squares (+500) and a slow diagonal ramp (0..199), so a viewer tells chips and orientation
// apart. Always within the 13-bit range.
uint16_t DefaultCount(int chipIndex, int row, int column);

}  // namespace ulvarin::sim
