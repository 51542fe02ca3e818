#include "tester/hex_text.h"

namespace ulvarin {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// One "%x" conversion: leading blanks, an optional sign and "0x"/"0X" prefix, hex digits.
std::optional<uint32_t> ScanHex(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // "0x" is a prefix only when a digit follows; "0x" alone reads as the digit 0.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    if (i >= text.size() || HexDigit(text[i]) < 0) return std::nullopt;
    uint32_t value = 0;  // unsigned: overflow wraps, keeping the low digits
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i)
        value = value << 4 | static_cast<uint32_t>(HexDigit(text[i]));
    return negative ? 0u - value : value;
}

}  // namespace

// A literal "0x" first, then a conversion; failing that, a conversion of the whole text. So
// what follows a leading "0x" may itself have blanks, a sign or a second prefix.
std::optional<uint32_t> ReadHexNumber(std::string_view text) {
    if (text.starts_with("0x"))
        if (const std::optional<uint32_t> value = ScanHex(text.substr(2))) return value;
    return ScanHex(text);
}

}  // namespace ulvarin
