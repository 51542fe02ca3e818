// Wafer-position codes of the chips, as the "Chipboard ID" command reports them.
#pragma once

#include <array>
#include <cstdint>

#include "sim/chip_family.h"

namespace ulvarin::sim {

struct ChipId {
    bool present = false;      // false: the chip has no code (its record is all zeros)
    char column = 'A';         // 'A'..'O'
    int row = 5;               // 0..12
    int wafer = 0;             // 0..2047
    bool timepixMark = false;  // set on Timepix chips
};

// A plausible code for chip `index` of a family: column 'A' + index, row 5, wafer 1234.
// Medipix2 chips carry no code; MXR chips carry one without the Timepix mark.
ChipId DefaultChipId(ChipFamily family, int index);

// True when every field fits its bits in the record.
bool IsEncodable(const ChipId& id);

// The four record bytes as sent on the wire: byte 0 unused (0), bytes 1-3 least significant
// bit first. An absent code gives four zeros. Fields out of range are cut to their bits.
std::array<uint8_t, 4> EncodeChipId(const ChipId& id);

}  // namespace ulvarin::sim
