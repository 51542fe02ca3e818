// Pixel mask files: an ASCII matrix of integers, or a binary pixel configuration file with
// one byte per pixel, both in pixel order (chip, row, column).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ulvarin {

enum class MaskFormat { Ascii, Binary };

// Binary when the file name (not the folders) has an extension other than ".txt" (in any
// case); ASCII otherwise, also without extension. A hint only: ReadMaskFile goes by content.
MaskFormat MaskFormatFor(const std::string& path);

// The configuration word of a binary mask byte for MXR/Timepix (`wide`) or Medipix2 chips.
uint16_t MaskByteToWord(uint8_t byte, bool wide);

enum class MaskReadResult { Ok, CannotOpen, CannotRead, NotRegular, NotAMask };

// Reads `count` words into `words`, which change only when the whole mask was read. Only a
// regular file is read, and its content decides the format: exactly `count` bytes is binary
// (an ASCII mask needs two bytes a value; for one value the name decides, MaskFormatFor),
// numbers and spaces are ASCII; anything else, or a file larger than any ASCII mask, is
// NotAMask.
// ASCII numbers are read like C's %i (decimal, 0x hexadecimal, leading-0 octal) and keep
// their low 16 bits; CannotRead when there are fewer than `count`.
MaskReadResult ReadMaskFile(const std::string& path, bool wide, uint16_t* words, size_t count);

// Why a mask was refused, as a clause: "it is not a regular file ...".
const char* MaskReadReason(MaskReadResult result);

// Writes `words` as an ASCII mask file (decimal, one line per chip row of 256 pixels), which
// ReadMaskFile reads back word for word. False with `error` set (the system's reason) when
// the file cannot be written whole.
bool WriteMaskFile(const std::string& path, std::span<const uint16_t> words, std::string& error);

}  // namespace ulvarin
