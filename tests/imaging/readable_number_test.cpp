#include "imaging/readable_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/number_text.h"
#include "tests/support/comma_locale.h"

namespace ulvarin {
namespace {

TEST(ReadableNumber, CountsWholeOtherValuesWithTheDigitsThatMatter) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1234, "1234"},
        {11808, "11808"},
        {3095340000, "3095340000"},  // a long sum of counts stays whole
        {-20000000, "-20000000"},
        {1e10, "1e+10"},  // past ten digits: six significant ones
        {12345678901, "1.23457e+10"},
        {882.074380165289, "882.074"},  // a flat-field corrected limit
        {0.123456789012345, "0.123457"},
        {100000.5, "100000.5"},  // seven digits when they are the whole value
        {100000.55, "100001"},
        {4e6 + 0.1, "4000000"},  // seven whole digits are enough
        {3095340000.7, "3095340001"},
        {0.25, "0.25"},
        {2.5e-7, "2.5e-07"},
        {1e300, "1e+300"},
        {std::numeric_limits<double>::infinity(), "inf"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(ReadableNumber(value), text) << value;
    EXPECT_EQ(ReadableNumber(std::nan("")).find("nan") != std::string::npos, true);
}

// Never wider than the room controls keep, for the values an image usually holds.
TEST(ReadableNumber, FitsTheRoomKeptForIt) {
    const double values[] = {9999999999, -999999999,     882.074380165289,
                             1.0 / 3,    2.0 / 3 * 1000, 0.00123456789,
                             65535.4999, 4e6 + 0.1,      std::sqrt(2.0)};
    for (const double v : values)
        EXPECT_LE(ReadableNumber(v).size(), std::string(kWidestNumber).size()) << v;
}

TEST(ReadableNumber, KeepsTheDecimalPointInACommaLocale) {
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal comma locale installed";
    EXPECT_EQ(ReadableNumber(882.074380165289), "882.074");
    EXPECT_EQ(ParseNumber(ReadableNumber(0.5)), 0.5);
}

}  // namespace
}  // namespace ulvarin
