#include "sim/chip_id.h"

namespace ulvarin::sim {
namespace {

// The record's bytes 1-3 travel least significant bit first, so they are mirrored here.
uint8_t ReverseBits(uint8_t value) {
    uint8_t out = 0;
    for (int i = 0; i < 8; ++i)
        if (value & (1u << i)) out |= static_cast<uint8_t>(0x80u >> i);
    return out;
}

}  // namespace

ChipId DefaultChipId(ChipFamily family, int index) {
    ChipId id;
    id.present = family != ChipFamily::kMedipix2;
    id.column = static_cast<char>('A' + index);
    id.row = 5;
    id.wafer = 1234;
    id.timepixMark = family == ChipFamily::kTimepix;
    return id;
}

bool IsEncodable(const ChipId& id) {
    return id.column >= 'A' && id.column <= 'O' && id.row >= 0 && id.row <= 12 && id.wafer >= 0 &&
           id.wafer <= 2047;
}

std::array<uint8_t, 4> EncodeChipId(const ChipId& id) {
    if (!id.present) return {0, 0, 0, 0};
    // A: column number (1 = 'A') in the low nibble, 12 - row in the high nibble.
    const unsigned column = static_cast<unsigned>(id.column - 0x40) & 0x0F;
    const unsigned rowCode = static_cast<unsigned>(12 - id.row) & 0x0F;
    const auto a = static_cast<uint8_t>(rowCode << 4 | column);
    // B: low byte of the wafer; C: its top three bits and the Timepix mark (bit 3).
    const auto b = static_cast<uint8_t>(id.wafer & 0xFF);
    const auto c = static_cast<uint8_t>(((id.wafer >> 8) & 7) | (id.timepixMark ? 8 : 0));
    return {0, ReverseBits(a), ReverseBits(b), ReverseBits(c)};
}

}  // namespace ulvarin::sim
