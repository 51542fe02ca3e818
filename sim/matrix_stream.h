// The chips' matrix streams in both directions: frames the interface sends (counter codes)
// and the pixel configuration the host sends with "Set matrix".
//
// Every chip shifts out 256 rows; a row is 13 or 14 bit planes of 32 bytes, the most
// significant register bit first, each plane from column 255 down to column 0, most
// significant bit of a byte first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ulvarin::sim {

// Appends one frame stream exactly as the chips deliver it: FrameStreamBytes(n, wide) bytes
// for n = chipCounts.size() (1..4), each span holding one chip's 65,536 counts (row * 256 +
// column). Counts are turned into counter codes (saturating at MaxCount). Layout: n leading
// bytes, then one block per chip; on 13-bit multi-chip streams chip i's bits sit i - 1 bits
// later than its block start, as the daisy chain delivers them (the receiver shifts each
// block back by 1 - i bits). The one bit that falls before chip 0's block lands in the last
// leading byte.
// With `registerStates` the values are sent as the register states they are, not as counts.
void AppendFrameStream(std::vector<uint8_t>& out,
                       std::span<const std::span<const uint16_t>> chipCounts, bool wide,
                       bool registerStates = false);

// Decodes the parameter bytes of "Set matrix" (FrameStreamBytes(n, wide) bytes for
// n = chipWords.size()) into each chip's 65,536 configuration words: the host's first byte
// 0xFF, then one block per chip, chip i shifted i bits later on 13-bit streams. Words get
// the 13 or 14 register bits; higher bits are 0. A shorter stream leaves the words as they
// were.
void DecodeConfigStream(std::span<const uint8_t> stream, bool wide,
                        std::span<const std::span<uint16_t>> chipWords);

// True when a "Set matrix" stream for `chipCount` chips looks as the host builds it: the
// leading 0xFF and every chip block's unused tail zero. A stream that lost or gained a byte
// on the way fails this (except in the bytes after the last chip's block, which carry
// nothing).
bool IsPlausibleConfigStream(std::span<const uint8_t> stream, bool wide, int chipCount);

}  // namespace ulvarin::sim
