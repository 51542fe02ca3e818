// What raw command bytes tell the window about the interface's settings, and the voltages the
// window stores for codes sent by the tester: converted back, they give the same codes, so
// the up-downs step on from them and a saved configuration loads them again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/conversions.h"
#include "panels/shared/window_shared.h"

namespace ulvarin::test {
namespace {

SentSettings Decode(const std::string& bytes) {
    return SettingsInCommandBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

TEST(SentSettingsTest, CommandBytesCarryTheSettingsTheWindowShows) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<uint8_t> biasCode;
        std::optional<uint16_t> dac0, dac1;
        std::optional<bool> negative;
        std::optional<int> fsr;
    };
    const std::vector<Case> cases = {
        {"bias code", std::string("b\x80", 2), 0x80, {}, {}, {}, {}},
        {"bias reset", "B", 0, {}, {}, {}, {}},
        {"bias off", std::string("b\0", 2), 0, {}, {}, {}, {}},
        {"DAC1, low byte first", std::string(">\x01\x34\x02", 4), {}, {}, 0x234, {}, {}},
        {"DAC of no channel", std::string(">\x02\x34\x02", 4), {}, {}, {}, {}, {}},
        {"polarity and counter", "p1", {}, {}, {}, true, 1},
        {"the last of a kind wins", std::string("Pp0b\x10P1b\x20", 9), 0x20, {}, {}, false, 1},
        {"commands without settings pass", std::string("xo>\0\xff\x0f", 6), {}, 0xFFF, {}, {}, {}},
        {"a command cut short", std::string(">\x00\x10", 3), {}, {}, {}, {}, {}},
        {"an unknown letter ends the decoding",
         std::string{'p', '\x01', 'b', '\x10'},
         {},
         {},
         {},
         true,
         {}},
        {"so does a DAC stream", "Pd" + std::string(33, '\x55') + "b\x10", {}, {}, {}, false, {}},
        {"and a matrix stream", "SP", {}, {}, {}, {}, {}},
        {"nothing", "", {}, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        const SentSettings s = Decode(c.bytes);
        SCOPED_TRACE(c.what);
        ASSERT_EQ(s.biasVolts.has_value(), c.biasCode.has_value());
        if (c.biasCode) {
            EXPECT_EQ(BiasToCode(*s.biasVolts), *c.biasCode);
        }
        for (const auto& [shown, code] : {std::pair{s.interfaceDacVolts[0], c.dac0},
                                          std::pair{s.interfaceDacVolts[1], c.dac1}}) {
            ASSERT_EQ(shown.has_value(), code.has_value());
            if (code) {
                EXPECT_EQ(DacVoltsToCode(*shown), *code);
            }
        }
        EXPECT_EQ(s.negativePolarity, c.negative);
        EXPECT_EQ(s.fsr, c.fsr);
        EXPECT_FALSE(s.chipDacs);
        EXPECT_EQ(s.Empty(), !c.biasCode && !c.dac0 && !c.dac1 && !c.negative && !c.fsr);
    }

    const SentSettings scope = Decode(std::string("A\x05\xc2\x01\x0e", 5));
    ASSERT_TRUE(scope.scope.has_value());
    EXPECT_EQ(scope.scope->channelMask, 0x05);
    EXPECT_EQ(scope.scope->samples, 450);
    EXPECT_EQ(scope.scope->mode, 0x0E);
}

TEST(SentSettingsTest, EveryCodeSentComesBackFromTheVoltageStored) {
    for (int code = 0; code <= 255; ++code) {
        const SentSettings s = SentSettings::BiasCode(static_cast<uint8_t>(code));
        ASSERT_TRUE(s.biasVolts.has_value());
        EXPECT_EQ(BiasToCode(*s.biasVolts), code) << code;
    }
    EXPECT_EQ(*SentSettings::BiasCode(0).biasVolts, 0.0) << "off is stored as 0 V";
    for (int channel = 0; channel < 2; ++channel)
        for (int code = 0; code <= 4095; ++code) {
            const SentSettings s =
                SentSettings::InterfaceDacCode(channel, static_cast<uint16_t>(code));
            ASSERT_TRUE(s.interfaceDacVolts[static_cast<size_t>(channel)].has_value());
            EXPECT_EQ(ConfiguredDacCode(*s.interfaceDacVolts[static_cast<size_t>(channel)]), code);
            EXPECT_FALSE(s.interfaceDacVolts[static_cast<size_t>(1 - channel)].has_value());
        }
    EXPECT_TRUE(SentSettings::InterfaceDacCode(2, 100).Empty());
}

}  // namespace
}  // namespace ulvarin::test
