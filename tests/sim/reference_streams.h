// An independent, bit-by-bit model of the host side of the matrix streams, written from the
// stream layout: what the host decodes from a frame and what it sends with "Set matrix".
#pragma once

#include <cstdint>
#include <vector>

namespace ulvarin::sim::test {

// Counter state after `count` steps from all ones.
uint16_t ReferenceCode(int count, bool wide);

// Register values of all pixels (chip * 65536 + row * 256 + column) of a received frame
// stream, decoded the way the host does it (including its per-chip block shifts).
std::vector<uint16_t> ReferenceDecodeFrame(const std::vector<uint8_t>& stream, int chips,
                                           bool wide);

// The parameter bytes of "Set matrix" as the host builds them for these pixel words, with
// zeros after the built stream.
std::vector<uint8_t> ReferenceConfigStream(const std::vector<uint16_t>& words, int chips,
                                           bool wide);

}  // namespace ulvarin::sim::test
