// Conversion between pixel counter states and counts.
//
// The chips count with linear feedback shift registers that start at all ones, so a
// counter reads out as the register state reached after n steps, not as n itself.
#pragma once

#include <cstdint>

namespace ulvarin {

constexpr uint16_t kMaxCount13 = 8000;   // last count of a 13-bit counter (state 0x0FFF)
constexpr uint16_t kMaxCount14 = 11810;  // last count of a 14-bit counter (state 0x1FFF)
constexpr uint16_t kBadValue = 0xFFFF;   // written for every value out of range

// Converts `count` values in place. `wide` selects 14-bit counters, otherwise 13-bit.
// toCounts: register state -> count. A state outside the counter's cycle gives 0, except
// the 13-bit state 0, which gives 0xFFFF (still no error). States >= 0x2000 (13-bit) or
// >= 0x4000 (14-bit) are out of range.
// !toCounts: count -> register state; counts above kMaxCount13/kMaxCount14 are out of range.
// Out-of-range values become 0xFFFF and make the result false; the rest are converted.
// Thread-safe; the tables are built once per width on first use.
bool ConvertCounterCodes(uint16_t* values, uint32_t count, bool wide, bool toCounts);

}  // namespace ulvarin
