// Reading the hexadecimal numbers typed into the tester's boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ulvarin {

// Reads a hexadecimal number at the start of `text` as the C library's sscanf reads it with
// "0x%x", or failing that with "%x": a conversion takes leading blanks, an optional sign and
// "0x" prefix, then hex digits; whatever follows the digits is ignored ("5zz" reads 5), and
// after a leading lower-case "0x" a conversion may start again ("0x 5" and "0x0x5" read 5).
// Returns the number kept to 32 bits (long numbers keep their low digits, a minus sign
// negates in 32 bits), or nullopt when no conversion finds a hex digit.
std::optional<uint32_t> ReadHexNumber(std::string_view text);

}  // namespace ulvarin
