#include "imaging/display_range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "imaging/number_text.h"

namespace ulvarin {
namespace {

DisplayRangeControls Typed(std::string minText, std::string maxText, DisplayRange stored = {}) {
    return {false, std::move(minText), std::move(maxText), stored};
}

DisplayRangeControls Auto() { return {}; }

TEST(DisplayRange, AutoTakesTheDataRangeWithMaskedPixelsIncluded) {
    DisplayRangeControls c = Auto();
    EXPECT_TRUE(ComputeDisplayRange(std::vector<double>{3, 17.5, 9}, c));
    EXPECT_EQ(c.range, (DisplayRange{3, 17.5}));
    EXPECT_EQ(c.minText, "3");
    EXPECT_EQ(c.maxText, "17.5");

    // Constant images: 5 -> 0..5, 0 -> 0..1, a negative constant up to 0.
    for (auto [value, expected] : {std::pair{5.0, DisplayRange{0, 5}}, {0.0, DisplayRange{0, 1}},
                                   {-1.5, DisplayRange{-1.5, 0}}}) {
        c = Auto();
        ComputeDisplayRange(std::vector<double>(10, value), c);
        EXPECT_EQ(c.range, expected) << value;
    }

    // The lower limit starts at 4000000, the upper at 0.
    ComputeDisplayRange(std::vector<double>{5e6, 6e6}, c);
    EXPECT_EQ(c.range, (DisplayRange{4e6, 6e6}));
    EXPECT_EQ(c.minText, "4000000");
    ComputeDisplayRange(std::vector<double>{-3, -1}, c);
    EXPECT_EQ(c.range, (DisplayRange{-3, 0}));

    // Nothing to range over.
    ComputeDisplayRange(std::vector<double>{}, c);
    EXPECT_EQ(c.range, (DisplayRange{0, 1}));
}

TEST(DisplayRange, TypedLimitsAreKeptAsTypedWhenSound) {
    DisplayRangeControls c = Typed(" 10", "2.5e2 ");
    EXPECT_FALSE(ComputeDisplayRange(std::vector<double>{1000}, c));
    EXPECT_EQ(c.range, (DisplayRange{10, 250}));
    EXPECT_EQ(c.minText, " 10");  // not rewritten: no correction
}

TEST(DisplayRange, TypedLimitsAreCorrectedAndWrittenBack) {
    struct Case {
        const char* minText;
        const char* maxText;
        DisplayRange stored, expected;
        const char* expectedMin;
        const char* expectedMax;
    };
    const Case cases[] = {
        {"20", "10", {}, {10, 20}, "10", "20"},               // swapped
        {"-5", "8", {}, {0, 8}, "0", "8"},                     // negative min
        {"-5", "-8", {}, {0, 1}, "0", "1"},                    // both negative, then equal
        {"7", "7", {}, {7, 8}, "7", "8"},                      // equal
        {"abc", "90", {12, 40}, {12, 90}, "12", "90"},         // unreadable: keeps the limit
        {"12abc", "", {3, 40}, {3, 40}, "3", "40"},            // partial numbers too
        {"nan", "inf", {3, 40}, {3, 40}, "3", "40"},           // not finite
    };
    for (const Case& t : cases) {
        DisplayRangeControls c = Typed(t.minText, t.maxText, t.stored);
        EXPECT_TRUE(ComputeDisplayRange(std::vector<double>{}, c)) << t.minText << " " << t.maxText;
        EXPECT_EQ(c.range, t.expected) << t.minText << " " << t.maxText;
        EXPECT_EQ(c.minText, t.expectedMin);
        EXPECT_EQ(c.maxText, t.expectedMax);
    }

    // Equal limits too large to grow by 1 still become a range of some width.
    DisplayRangeControls c = Typed("1e17", "1e17");
    ComputeDisplayRange(std::vector<double>{}, c);
    EXPECT_LT(c.range.min, c.range.max);
    EXPECT_EQ(c.range.max, 1e17);
}

TEST(DisplayRange, NumberTexts) {
    EXPECT_EQ(FormatNumber(0.0), "0");
    EXPECT_EQ(FormatNumber(-0.0), "0");
    EXPECT_EQ(FormatNumber(1234), "1234");
    EXPECT_EQ(FormatNumber(0.1), "0.1");
    EXPECT_EQ(FormatNumber(20000000), "20000000");
    EXPECT_EQ(FormatNumber(123456789012345678.0), "1.23456789012346e+17");
    EXPECT_EQ(ParseNumber("+4.5"), 4.5);
    EXPECT_EQ(ParseNumber("\t-1e3 "), -1000);
    EXPECT_FALSE(ParseNumber(""));
    EXPECT_FALSE(ParseNumber("  "));
    EXPECT_FALSE(ParseNumber("1,5"));
    EXPECT_FALSE(ParseNumber("+-1"));
    EXPECT_FALSE(ParseNumber("1e999"));
}

TEST(DisplayRange, ButtonArithmetic) {
    EXPECT_EQ(WidenRange({0, 100}), (DisplayRange{0, 150}));
    EXPECT_EQ(WidenRange({100, 200}), (DisplayRange{75, 225}));
    EXPECT_EQ(WidenRange({10, 110}), (DisplayRange{0, 135}));
    EXPECT_EQ(WidenRange({10, 111.5}), (DisplayRange{0, 136.75}));  // width truncated to 101

    EXPECT_EQ(NarrowRange({0, 90}), (DisplayRange{0, 60}));
    EXPECT_EQ(NarrowRange({100, 160}), (DisplayRange{110, 150}));
    EXPECT_EQ(NarrowRange({100, 111}), (DisplayRange{101, 110}));  // sixth of 11 is 1
    EXPECT_EQ(NarrowRange({100, 105}), (DisplayRange{100, 105}));

    EXPECT_EQ(ShiftRangeDown({0, 100}), (DisplayRange{0, 100}));
    EXPECT_EQ(ShiftRangeDown({10, 110}), (DisplayRange{0, 100}));
    EXPECT_EQ(ShiftRangeDown({40, 140}), (DisplayRange{15, 115}));
    EXPECT_EQ(ShiftRangeDown({-50, 100}), (DisplayRange{-50, 100}));  // never moves up

    EXPECT_EQ(ShiftRangeUp({10, 110}), (DisplayRange{35, 135}));
    EXPECT_EQ(ShiftRangeUp({0, 3}), (DisplayRange{0, 3}));
}

TEST(DisplayRange, ButtonsStartFromTheDataInAutoAndSwitchAutoOff) {
    const std::vector<double> data{100, 130, 200};
    DisplayRangeControls c = Auto();
    EXPECT_TRUE(PressRangeButton(RangeButton::Wider, data, c));
    EXPECT_FALSE(c.autoRange);
    EXPECT_EQ(c.range, (DisplayRange{75, 225}));
    EXPECT_EQ(c.minText, "75");
    EXPECT_EQ(c.maxText, "225");

    // Now typed: the next press starts from the texts.
    c.minText = "10";
    c.maxText = "110";
    EXPECT_TRUE(PressRangeButton(RangeButton::Up, data, c));
    EXPECT_EQ(c.range, (DisplayRange{35, 135}));
    EXPECT_EQ(c.maxText, "135");
}

TEST(DisplayRange, ShiftDownWithAStoredLowerLimitOfZeroDoesNothingAtAll) {
    // Auto is on and the data would give a range starting above 0, but the stored lower
    // limit decides before the range is brought up to date.
    DisplayRangeControls c = Auto();
    c.minText = "untouched";
    EXPECT_FALSE(PressRangeButton(RangeButton::Down, std::vector<double>{50, 150}, c));
    EXPECT_TRUE(c.autoRange);
    EXPECT_EQ(c.minText, "untouched");
    EXPECT_EQ(c.range, (DisplayRange{0, 0}));

    c.range = {1, 2};
    EXPECT_TRUE(PressRangeButton(RangeButton::Down, std::vector<double>{50, 150}, c));
    EXPECT_EQ(c.range, (DisplayRange{25, 125}));
}

TEST(DisplayRange, ButtonThatWouldOverflowKeepsTheRange) {
    const double big = std::numeric_limits<double>::max() / 1.2;
    DisplayRangeControls c = Typed("0", FormatNumber(big));
    PressRangeButton(RangeButton::Wider, std::vector<double>{}, c);
    EXPECT_EQ(c.range.min, 0.0);
    EXPECT_EQ(c.maxText, FormatNumber(big));
    EXPECT_TRUE(std::isfinite(c.range.max));
}

}  // namespace
}  // namespace ulvarin
