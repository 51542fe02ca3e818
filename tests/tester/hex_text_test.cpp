// Hex numbers as the tester's boxes read them, beyond what the window tests type: texts too
// long for 32 bits keep their low digits rather than overflowing, and a sign or a bare
// prefix reads as the C library's "%x" reads it.
#include "tester/hex_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ulvarin::test {
namespace {

TEST(HexText, LongNumbersKeepTheirLowDigitsAndSignsWrap) {
    EXPECT_EQ(ReadHexNumber("123456789abcdef0"), 0x9ABCDEF0u);
    EXPECT_EQ(ReadHexNumber(std::string(5000, 'f') + "a5 pins"), 0xFFFFFFA5u);
    EXPECT_EQ(ReadHexNumber("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ReadHexNumber("0xg"), 0u) << "a prefix without digits is the digit 0";
    for (const char* text : {"", "   ", "x5", "-", " - 5"})
        EXPECT_EQ(ReadHexNumber(text), std::nullopt) << '"' << text << '"';
}

}  // namespace
}  // namespace ulvarin::test
