#include "imaging/display_range.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "base/number_text.h"
#include "imaging/corrections.h"
#include "imaging/readable_number.h"
#include "tests/support/comma_locale.h"

namespace ulvarin {
namespace {

using Values = std::vector<double>;

DisplayRangeControls Typed(std::string minText, std::string maxText, DisplayRange stored = {}) {
    return {false, std::move(minText), std::move(maxText), stored};
}

DisplayRangeControls Robust() {
    DisplayRangeControls c;
    c.robust = true;
    return c;
}

constexpr uint16_t kGood = 0x1FFF;
constexpr uint16_t kMasked = MaskClearingWord(ChipFamily::Medipix2);

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

// Limits shown shortened in their boxes keep their digits while the boxes show what was
// written for them; an edited text is read as typed.
TEST(DisplayRange, ShortenedTextsStandForTheirWholeLimits) {
    const DisplayRange stored{0.123456789012345, 882.074380165289};
    DisplayRangeControls c = Typed(ReadableNumber(stored.min), ReadableNumber(stored.max), stored);
    EXPECT_EQ(c.maxText, "882.074");
    EXPECT_FALSE(ComputeDisplayRange(Values{}, c));
    EXPECT_EQ(c.range, stored);

    c.maxText = "882.075";
    EXPECT_FALSE(ComputeDisplayRange(Values{}, c));
    EXPECT_EQ(c.range, (DisplayRange{stored.min, 882.075}));

    // Equal huge limits, parted by a step too small to show, stay parted: no correction
    // comes back on every recomputation.
    DisplayRangeControls huge = Typed("1e17", "1e17");
    EXPECT_TRUE(ComputeDisplayRange(Values{}, huge));
    EXPECT_LT(huge.range.min, huge.range.max);
    const DisplayRange parted = huge.range;
    EXPECT_FALSE(ComputeDisplayRange(Values{}, huge));
    EXPECT_EQ(huge.range, parted);
}

TEST(DisplayRange, RobustAutoLeavesHotAndMaskedPixelsOut) {
    // Ten pixels of each count from 300 to 1299, five of those at 1299 hot instead: min-max
    // is ruled by the hot ones, the percentiles (ranks 9 and 9990 of 10000) are not.
    Values frame(10000);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = 300 + static_cast<double>(i % 1000);
    for (size_t i = 999; i < 5000; i += 1000) frame[i] = 5800;
    DisplayRangeControls plain;
    ComputeDisplayRange(frame, plain);
    EXPECT_EQ(plain.range, (DisplayRange{300, 5800}));

    // The ten pixels at 300 masked (one of them huge), or left unfilled by interpolation.
    std::vector<uint16_t> lowMasked(frame.size(), kGood);
    Values huge = frame;
    Values marked = frame;
    for (size_t i = 0; i < frame.size(); i += 1000) {
        lowMasked[i] = kMasked;
        marked[i] = kBadPixelMarker;
    }
    huge[0] = 1e9;
    struct Case {
        const char* what;
        Values values;
        std::vector<uint16_t> config;
        DisplayRange expected;
    };
    const Case cases[] = {
        {"hot", frame, {}, {300, 1299}},
        {"masked", huge, lowMasked, {301, 1299}},  // ranks 9 and 9980 of 9990
        {"marker", marked, {}, {301, 1299}},
        {"constant", Values(50, 7.0), {}, {0, 7}},
        {"zeros", Values(50, 0.0), {}, {0, 1}},
        {"negative", Values(50, -4.0), {}, {-4, -3}},
        {"all masked", {1, 2, 3}, {kMasked, kMasked, kMasked}, {1, 3}},  // plain Auto
        {"no pixel", {}, {}, {0, 1}},
    };
    for (const Case& t : cases) {
        DisplayRangeControls c = Robust();
        EXPECT_TRUE(ComputeDisplayRange(t.values, c, {t.config, ChipFamily::Medipix2}));
        EXPECT_EQ(c.range, t.expected) << t.what;
        EXPECT_EQ(c.maxText, ReadableNumber(t.expected.max)) << t.what;
    }
    // The buttons start from the robust range.
    DisplayRangeControls c = Robust();
    EXPECT_TRUE(PressRangeButton(RangeButton::Up, frame, c));
    EXPECT_EQ(c.range, (DisplayRange{549, 1548}));
}

// Selection finds the same ranks a full sort does, on frame-sized data with many ties and
// on masks of any share.
TEST(DisplayRange, PercentilesMatchAFullSort) {
    std::mt19937 gen(11);
    std::poisson_distribution<int> counts(40);
    std::bernoulli_distribution masked(0.2);
    for (const size_t n : {size_t{1}, size_t{2}, size_t{999}, size_t{262144}}) {
        Values values(n);
        std::vector<uint16_t> config(n);
        Values good;
        for (size_t i = 0; i < n; ++i) {
            values[i] = counts(gen);
            config[i] = masked(gen) && n > 2 ? kMasked : kGood;
            if (config[i] == kGood) good.push_back(values[i]);
        }
        std::sort(good.begin(), good.end());
        const double last = static_cast<double>(good.size() - 1);
        for (const auto& [low, high] : {std::pair{0.001, 0.999}, {0.0, 1.0}, {0.5, 0.5}}) {
            const auto r = PercentileRange(values, {config, ChipFamily::Medipix2}, low, high);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->min, good[static_cast<size_t>(std::floor(low * last))]) << n;
            EXPECT_EQ(r->max, good[static_cast<size_t>(std::ceil(high * last))]) << n;
        }
    }
    EXPECT_FALSE(PercentileRange(Values{1, 2}, {std::vector<uint16_t>{kMasked, kMasked}}, 0, 1));
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
