// Reading the hexadecimal numbers typed into the tester's boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ulvarin {

// Reads a hexadecimal number at the start of `text`: leading blanks, an optional sign and
// "0x" prefix, then hex digits; whatever follows the digits is ignored ("5zz" reads 5).
// Returns the number kept to 32 bits (long numbers keep their low digits, a minus sign
// negates in 32 bits), or nullopt when no hex digit starts the text.
std::optional<uint32_t> ReadHexNumber(std::string_view text);

}  // namespace ulvarin
