// The chips' pixel counters are feedback shift registers: a count shows as the register
// state reached after that many steps from all ones.
#pragma once

#include <cstdint>
#include <span>

namespace ulvarin::sim {

// Highest count a counter can hold before its register cycle repeats: 8,000 (13 bits)
// or 11,810 (14 bits).
constexpr int MaxCount(bool wide) {
    return wide ? 11810 : 8000;
}

// Register state of a counter holding `count`; counts above MaxCount saturate there,
// negative counts read as 0.
uint16_t CountToCode(int count, bool wide);
// CountToCode of every count into `codes` (at least as long as `counts`).
void CountsToCodes(std::span<const uint16_t> counts, bool wide, std::span<uint16_t> codes);

}  // namespace ulvarin::sim
