#include "imaging/display_range.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/number_text.h"
#include "tests/support/comma_locale.h"

namespace ulvarin {
namespace {

using Values = std::vector<double>;

DisplayRangeControls Typed(std::string minText, std::string maxText, DisplayRange stored = {}) {
    return {false, std::move(minText), std::move(maxText), stored};
}

TEST(DisplayRange, AutoTakesTheDataRange) {
    const std::pair<Values, DisplayRange> cases[] = {
        {{3, 17.5, 9}, {3, 17.5}},
        {Values(10, 5.0), {0, 5}},  // constant: from 0
        {Values(10, 0.0), {0, 1}},
        {{-3, -1}, {-3, 0}},       // the upper limit starts at 0
        {{5e6, 6e6}, {4e6, 6e6}},  // the lower limit starts at 4000000
        {{}, {0, 1}},
    };
    for (const auto& [values, expected] : cases) {
        DisplayRangeControls c;
        EXPECT_TRUE(ComputeDisplayRange(values, c));
        EXPECT_EQ(c.range, expected);
        EXPECT_EQ(c.minText, FormatNumber(expected.min));
        EXPECT_EQ(c.maxText, FormatNumber(expected.max));
    }
}

// The window runs in the user's locale; limits and labels keep their decimal point there,
// so a limit written into its box reads back.
TEST(DisplayRange, TextsKeepTheDecimalPointInACommaLocale) {
    DisplayRangeControls c;
    std::string volts;
    {
        test::CommaLocale comma;
        if (!comma.active()) GTEST_SKIP() << "no decimal comma locale installed";
        ComputeDisplayRange(Values{0.5, 2.25}, c);
        volts = FormatDouble("%.5lg V", 99.706);
    }
    EXPECT_EQ(c.minText + ".." + c.maxText, "0.5..2.25");
    EXPECT_EQ(ParseNumber(c.minText), 0.5);
    EXPECT_EQ(volts, "99.706 V");
}

TEST(DisplayRange, TypedLimitsAreCorrectedAndOnlyThenWrittenBack) {
    DisplayRangeControls sound = Typed(" 10", "2.5e2 ");
    EXPECT_FALSE(ComputeDisplayRange(Values{1000}, sound));
    EXPECT_EQ(sound.range, (DisplayRange{10, 250}));
    EXPECT_EQ(sound.minText, " 10");

    struct Case {
        const char* minText;
        const char* maxText;
        DisplayRange stored, expected;
    };
    const Case cases[] = {
        {"20", "10", {}, {10, 20}},         // swapped
        {"-5", "8", {}, {0, 8}},            // negative
        {"-5", "-8", {}, {0, 1}},           // both negative, then equal
        {"7", "7", {}, {7, 8}},             // equal
        {"abc", "90", {12, 40}, {12, 90}},  // unreadable keeps its limit
        {"12abc", "1,5", {3, 40}, {3, 40}},
        {"nan", "inf", {3, 40}, {3, 40}},
    };
    for (const Case& t : cases) {
        DisplayRangeControls c = Typed(t.minText, t.maxText, t.stored);
        EXPECT_TRUE(ComputeDisplayRange(Values{}, c)) << t.minText << " " << t.maxText;
        EXPECT_EQ(c.range, t.expected) << t.minText << " " << t.maxText;
        EXPECT_EQ(c.minText, FormatNumber(t.expected.min));
        EXPECT_EQ(c.maxText, FormatNumber(t.expected.max));
    }

    // Equal limits too large to grow by 1 still become a range of some width.
    DisplayRangeControls huge = Typed("1e17", "+1e17");
    ComputeDisplayRange(Values{}, huge);
    EXPECT_LT(huge.range.min, huge.range.max);
}

TEST(DisplayRange, ButtonArithmetic) {
    EXPECT_EQ(WidenRange({0, 100}), (DisplayRange{0, 150}));
    EXPECT_EQ(WidenRange({100, 200}), (DisplayRange{75, 225}));
    EXPECT_EQ(WidenRange({10, 111.5}), (DisplayRange{0, 136.75}));  // width truncated to 101

    EXPECT_EQ(NarrowRange({0, 90}), (DisplayRange{0, 60}));
    EXPECT_EQ(NarrowRange({100, 160}), (DisplayRange{110, 150}));
    EXPECT_EQ(NarrowRange({100, 105}), (DisplayRange{100, 105}));

    EXPECT_EQ(ShiftRangeDown({10, 110}), (DisplayRange{0, 100}));     // step 25 cut to 10
    EXPECT_EQ(ShiftRangeDown({-50, 100}), (DisplayRange{-50, 100}));  // never moves up

    EXPECT_EQ(ShiftRangeUp({10, 110}), (DisplayRange{35, 135}));
    EXPECT_EQ(ShiftRangeUp({0, 3}), (DisplayRange{0, 3}));
}

TEST(DisplayRange, ButtonsStartFromTheDataInAutoAndSwitchAutoOff) {
    const Values data{100, 130, 200};
    DisplayRangeControls c;
    // "<<" decides on the stored lower limit, before the range is brought up to date.
    EXPECT_FALSE(PressRangeButton(RangeButton::Down, data, c));
    EXPECT_TRUE(c.autoRange);
    EXPECT_TRUE(PressRangeButton(RangeButton::Wider, data, c));
    EXPECT_FALSE(c.autoRange);
    EXPECT_EQ(c.range, (DisplayRange{75, 225}));
    EXPECT_EQ(c.maxText, "225");

    c.minText = "10";  // typed now: the next press starts from the texts
    c.maxText = "110";
    EXPECT_TRUE(PressRangeButton(RangeButton::Down, data, c));
    EXPECT_EQ(c.range, (DisplayRange{0, 100}));
}

}  // namespace
}  // namespace ulvarin
