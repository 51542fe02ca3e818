// The chips' side of "Set Medipix DACs": each chip takes a 32-byte DAC word (256 bits,
// bit 0 = the most significant bit of the first byte) whose field positions depend on the
// chip family. Medipix2 chips sit in a daisy chain and expect their word moved later by
// their position on the board.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/chip_family.h"

namespace ulvarin::sim {

constexpr int kDacCount = 15;
constexpr size_t kDacWordBytes = 32;

// What one chip's DAC word sets.
struct ChipDacs {
    std::array<uint16_t, kDacCount> dac{};  // by DAC index; unused indexes stay 0
    uint8_t senseCode = 0;                  // DAC sensed by ADC0 or bypassed, 0..15
    bool senseEnabled = false;
    bool bypassEnabled = false;
    uint32_t testPulseWord = 0;  // MXR and Timepix only

    bool operator==(const ChipDacs&) const = default;
};

// DAC indexes the chips' front ends depend on.
struct ThresholdDacs {
    int fine;    // Medipix2 "Thl"; MXR and Timepix "Thl Fine"
    int coarse;  // MXR and Timepix "Thl Coarse"; -1 on Medipix2
};
ThresholdDacs ThresholdDacsOf(ChipFamily family);

// The DACs a chip holds at power-up: the family's usual settings, "Thl" sensed.
ChipDacs DefaultChipDacs(ChipFamily family);

// Reads the DAC word of the chip at `position` (0..3) on the board.
ChipDacs DecodeDacWord(ChipFamily family, std::span<const uint8_t, kDacWordBytes> word,
                       int position);

// True when no bit is set outside the family's fields (and, on Medipix2, outside the
// marker bits the board's chips 1 and 2 carry). A word shifted by a lost or extra byte
// almost always fails this.
bool IsPlausibleDacWord(ChipFamily family, std::span<const uint8_t, kDacWordBytes> word,
                        int position);

// What a received DAC stream does.
enum class DacStreamOutcome {
    kApplied,    // every chip took its word
    kPreBlock,   // all bytes 0xFF: the flush Timepix boards get first; nothing changes
    kRejected,   // leading byte not 0xFF or a word implausible: nothing changes
};

// Decodes the parameter bytes of "Set Medipix DACs" (a leading 0xFF, one word per chip,
// then padding) into `chips` (one entry per chip). Leaves `chips` untouched unless the
// outcome is kApplied.
DacStreamOutcome DecodeDacStream(ChipFamily family, std::span<const uint8_t> stream,
                                 std::span<ChipDacs> chips);

}  // namespace ulvarin::sim
