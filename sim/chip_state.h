// What the emulator keeps for each chip: its identification, pixel counters, pixel
// configuration and the last DAC block it was sent.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/chip_id.h"

namespace ulvarin::sim {

constexpr int kDacBlockBytes = 32;

struct ChipState {
    ChipId id;
    // Counts by pixel (row * 256 + column); frames send these as counter codes.
    std::vector<uint16_t> counts;
    // Register words of the pixel configuration (13 or 14 low bits), as "Set matrix" left them.
    std::vector<uint16_t> pixelConfig;
    // The chip's 32-byte block of the last "Set Medipix DACs" stream, as received.
    std::array<uint8_t, kDacBlockBytes> dacBlock{};
};

// A chip at power-up: counts in the recognisable default pattern, configuration all ones
// in the register's width.
ChipState MakeChipState(int chipIndex, bool wide, const ChipId& id);

// Default count of a pixel: a level per chip ((chip + 1) * 1000), a checkerboard of 32-pixel
// squares (+500) and a slow diagonal ramp (0..199), so a viewer tells chips and orientation
// apart. Always within the 13-bit range.
uint16_t DefaultCount(int chipIndex, int row, int column);

}  // namespace ulvarin::sim
