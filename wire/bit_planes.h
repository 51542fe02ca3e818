// A chip's matrix as its shift register sends it, shared by the host's "Set matrix" and the
// emulated chips' frames: row after row, each row one 32-byte plane per register bit (the
// most significant first), and within a plane the first bit (the MSB of its first byte)
// belongs to column 255, the last to column 0.
#pragma once

#include <cstdint>

namespace ulvarin {

// Transposes an 8 x 8 bit matrix held as byte i = row i, bit j = column j.
constexpr uint64_t Transpose8x8(uint64_t x) {
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

// Writes the low `planes` bits (at most 16) of 256 x 256 pixel words (row * 256 + column)
// as the register shifts them out: 256 x planes x 32 bytes from `rows` on, every byte of
// them written.
void EncodeBitPlanes(const uint16_t* words, int planes, uint8_t* rows);

}  // namespace ulvarin
