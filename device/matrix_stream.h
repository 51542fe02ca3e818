// Encoder and decoder of the chips' serial matrix streams.
//
// A chip's matrix travels as rows of bit planes: each row holds one 32-byte plane per
// register bit, most significant bit first; within a plane the first bit (the MSB of the
// first byte) belongs to column 255 and the last to column 0. Pixel arrays hold 65,536
// values per chip, index chip * 65536 + row * 256 + column. Layout constants are in
// wire/stream_layout.h.
#pragma once

#include <cstdint>

namespace ulvarin {

// Number of chips a received stream of `length` bytes is taken to hold: length / 114,688
// (13-bit) or length / 114,721 (14-bit).
uint32_t StreamChipCount(bool wide, uint32_t length);

// Decodes a matrix stream as received (FrameStreamBytes long: one leading byte per chip,
// then the chip blocks) into raw register values, which for counters are still register
// states; see ConvertCounterCodes. `wide` selects the 14-bit format.
// In the 13-bit format with more than one chip, chip i is read i - 1 bits further on than
// its block start; bits that would come from before the block's start read as 0.
// Every value decoded is below 2^13 (2^14 when wide).
// Returns false, with the chips before it decoded and nothing written for it or after it,
// at the first chip whose block does not fit the stream or whose 65,536 values do not fit
// `capacity`; also false when the stream holds no chip at all.
// The stream is only read, never modified (the offsets are applied while reading).
bool StreamToMatrix(bool wide, uint8_t* stream, uint32_t length, uint16_t* pixels,
                    uint32_t capacity);

// Encodes count / 65,536 chips of pixel words (only their low 13 or 14 bits) into `stream`:
// byte 0 is 0xFF, then one zero-padded block per chip (114,688 or 114,720 bytes). In the
// 13-bit format chip i is moved i bits towards the end of its block.
// Returns false when no whole chip is given, or at the first chip whose block does not fit
// `capacity` (chips before it stay encoded). Never writes beyond `capacity`.
bool MatrixToStream(bool wide, const uint16_t* pixels, uint32_t count, uint8_t* stream,
                    uint32_t capacity);

// Shifts `buffer`, seen as one bit sequence with each byte's MSB first, by `shift` bits:
// towards the end for shift > 0, towards the start for shift < 0. Bits shifted in are 0,
// bits shifted out are lost; a shift of the whole buffer's bit length or more clears it.
void ShiftBits(uint8_t* buffer, uint32_t length, int shift);

}  // namespace ulvarin
