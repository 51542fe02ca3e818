// Hex numbers as the tester's boxes read them, beyond what the window tests type: texts too
// long for 32 bits keep their low digits rather than overflowing, and a sign or a bare
// prefix reads as the C library's "%x" reads it.
#include "tester/hex_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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

// A leading "0x" is matched literally first, and what follows it is read as a number of its
// own when it holds one; otherwise the whole text is read.
TEST(HexText, ALeadingPrefixIsMatchedBeforeTheNumber) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"0x 5", 0x5u},         {"0x0x5", 0x5u},       {"0x+5", 0x5u}, {"0x-5", 0xFFFFFFFBu},
        {"0x -5", 0xFFFFFFFBu}, {"0x0X", 0u},          {"0x", 0u},     {"0xx5", 0u},
        {" 0x5", 0x5u},         {"-0x5", 0xFFFFFFFBu}, {"0X5", 0x5u},  {"0x1FF", 0x1FFu},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ReadHexNumber(text), value) << text;
}

}  // namespace
}  // namespace ulvarin::test
