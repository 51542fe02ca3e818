// Action captions, the normalisation of the typed values, the times read back (sent again,
// they load the same ticks), and the template table.
#include "hardware_process/process_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "device/conversions.h"
#include "hardware_process/process_templates.h"

namespace ulvarin::process {
namespace {

TEST(ProcessActions, CaptionsListTheLettersInBitOrder) {
    EXPECT_EQ(ActionCaption(0x06), "OI");
    EXPECT_EQ(ActionCaption(0), "");
    EXPECT_EQ(ActionCaption(0xFF), "COISTW12");
    EXPECT_STREQ(ActionItemCaption(3), "Trigger scope (S)");
    EXPECT_STREQ(ActionItemCaption(8), "");
}

std::string Joined(const ValueTexts& t) {
    return t.frames + "|" + t.period + "|" + t.interval + "|" + t.counter;
}

TEST(ProcessValueTexts, TypedValuesAreNormalised) {
    ProcessSettings s;
    s.frames = 7;
    ValueTexts texts{"xyz", "abc", "0.25000001", "2.5"};
    NormaliseValues(s, texts, kAllSources);
    EXPECT_EQ(Joined(texts), "7|Off|0.25|2.5");  // frames not a number: the previous stay
    EXPECT_EQ(s.period, 0.0);
    EXPECT_DOUBLE_EQ(s.interval, 0.25000001);
    EXPECT_EQ(s.counter, 2.5);

    texts = {" 12abc", "-2", "None", "inf"};  // an infinite count would be sent as garbage
    NormaliseValues(s, texts, kAllSources);
    EXPECT_EQ(Joined(texts), "12|Off|Off|Off");
    EXPECT_EQ(s.interval, 0.0);
    EXPECT_EQ(s.counter, 0.0);

    // Beyond what the 48-bit timers and counter hold: their largest value, not a wrap.
    texts = {"99999999999", "1e30", "nan", "1e20"};
    NormaliseValues(s, texts, kAllSources);
    EXPECT_EQ(Joined(texts), "2147483647|1.4074e+07|Off|281474976710655");
    EXPECT_LT(TimerTicks(s.period, 3), uint64_t{1} << 48);
    EXPECT_GT(TimerTicks(s.period, 3), (uint64_t{1} << 48) - 200);

    // One source only: the others keep their texts.
    texts = {"junk", "0.5", "junk", "junk"};
    NormaliseValues(s, texts, kPeriod);
    EXPECT_EQ(Joined(texts), "junk|0.5|junk|junk");

    EXPECT_EQ(FrameCounterLoad(1), 0u);
    EXPECT_EQ(FrameCounterLoad(0), 0xFFFFFFFFu);
    EXPECT_EQ(FrameCounterLoad(INT_MIN), 0x7FFFFFFFu);
}

// A time read back is a whole number of ticks without the start-up delay: 1 s reads back
// as 0.9999947 s. Kept as read, every start would load a shorter time. Kept as
// ReadBackTime, it shows as typed and loads the same ticks again.
TEST(ProcessStateTexts, ReadBackTimesLoadTheSameTicksAgain) {
    for (const uint8_t clock : {uint8_t{3}, uint8_t{2}}) {
        const double f = TimerClock(clock);
        for (const double typed : {0.001, 0.01, 0.05, 0.1, 0.25, 0.5, 1.0, 5.0, 300.0, 86400.0}) {
            SCOPED_TRACE(testing::Message() << typed << " s at clock code " << int(clock));
            const uint64_t ticks = TimerTicks(typed, clock);
            const double read = static_cast<double>(ticks) / f;
            EXPECT_TRUE(SameTimerLoad(read, typed, clock));
            const double kept = ReadBackTime(read, clock);
            EXPECT_EQ(TimerTicks(kept, clock), ticks);
            EXPECT_EQ(StateTimeText(kept), TimeText(typed));
        }
    }
    EXPECT_FALSE(SameTimerLoad(0.0, 0.0, 3));  // nothing loaded: not the one tick of off
    EXPECT_TRUE(SameTimerLoad(0.00000005, 0.0, 3));
}

TEST(ProcessTemplates, TableHoldsTheElevenConfigurations) {
    const auto& table = ProcessTemplates();
    // Action sets as captions: Manual, Frames, Period, Interval, Trigger, Counter.
    const std::array<std::array<const char*, kActionSources>, kTemplateCount> captions = {{
        {"", "", "", "", "", ""},
        {"", "", "", "", "", ""},
        {"OI", "", "", "C", "", ""},
        {"OI", "OI", "", "C", "", ""},
        {"OI", "", "OI", "C", "", ""},
        {"T", "T", "", "C", "OI", ""},
        {"OT", "OT", "", "", "CS", ""},
        {"2", "2", "", "2", "S2", ""},
        {"OW", "OW", "", "", "", "C"},
        {"T", "", "", "", "ST", ""},
        {"", "", "S", "", "", ""},
    }};
    for (int item = 0; item < kTemplateCount; ++item)
        for (int s = 0; s < kActionSources; ++s)
            EXPECT_EQ(ActionCaption(table[item].actionSet[s]), captions[item][s])
                << table[item].name << " source " << s;
    EXPECT_STREQ(table[0].name, "");
    EXPECT_STREQ(table[7].name, "Trigger stops, periodic erase");
    EXPECT_EQ(Joined(TemplateTexts(table[10])), "0|0.05|Off|Off");
}

}  // namespace
}  // namespace ulvarin::process
