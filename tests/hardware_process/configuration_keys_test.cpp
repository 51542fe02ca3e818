// A configuration file loaded straight onto emulated interfaces, as the command line does:
// what reaches the chips and the interface, and what the process settings keep.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/conversions.h"
#include "device/dac_tables.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"
#include "hardware_process/configuration_keys.h"
#include "wire/pixel_config.h"
#include "wire/stream_layout.h"

namespace ulvarin::process {
namespace {

using config::Configuration;

class ConfigurationKeys : public ::testing::Test {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("timepix:2,medipix2:1");
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& h, void*) { h.Clear(); }, nullptr);
        path = (std::filesystem::temp_directory_path() /
                ("ulvarin_keys_" + std::to_string(::getpid()) + ".ini"))
                   .string();
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
        std::filesystem::remove(path);
    }
    void Open(const char* name) {
        index = *emulator->FindInterface(name);
        handle.device = OpenDevice(name, true, false, 0);
        ASSERT_NE(handle.device, nullptr);
        pixels.assign(static_cast<size_t>(ChipCount(handle)) * kChipPixels, kInitialPixelWord);
    }
    // A file whose every key differs from the start values.
    Configuration Written(ChipType type) {
        Configuration c;
        c.polarity = "Negative";
        c.fsr = 1;
        c.chips = ChipCount(handle);
        for (int chip = 0; chip < c.chips; ++chip) {
            c.records[chip] = DefaultDacRecord(type);
            c.records[chip].dac[0] = static_cast<uint16_t>(100 + chip);
            c.records[chip].testPulseWord = 0xFF00FF00;
        }
        c.biasVolts = 40;
        c.dac0Volts = 1.0;
        c.dac1Volts = 0.5;
        c.actionSet = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20};
        c.frames = 7;
        c.period = 0.25;
        c.interval = 0.05;
        c.triggerItem = 1;
        c.counter = 3;
        c.actionCommand1 = 'a';
        c.actionCommand2 = 'b';
        c.monitor = true;
        return c;
    }
    template <typename F>
    void WithInterface(F f) {
        emulator->WithInterface(index, [&](sim::EmulatedInterface& e) { f(e); });
    }

    std::shared_ptr<EmulatorDriver> emulator;
    size_t index = 0;
    MpxDevice handle;
    std::vector<uint16_t> pixels;
    std::string path;
};

TEST_F(ConfigurationKeys, TimepixFileReachesTheChipsAndTheProcessSettings) {
    Open("Medipix2 ver 3.0 : Emulator Timepix x2");
    const Configuration file = Written(ChipType::Timepix);
    ASSERT_EQ(config::WriteConfiguration(path, file), config::SaveStatus::kOk);

    Configuration c = config::StartConfiguration(2, {});
    DeviceSettings target(handle, pixels);
    ASSERT_TRUE(config::ReadConfiguration(path, c, target).ok());
    EXPECT_TRUE(target.allSent());

    // The counting mode lives in every pixel's word and went out with them.
    EXPECT_EQ(pixels.front(), WithTimepixMode(kInitialPixelWord, 1));
    EXPECT_EQ(pixels.back(), WithTimepixMode(kInitialPixelWord, 1));
    WithInterface([&](sim::EmulatedInterface& e) {
        EXPECT_FALSE(e.State().positivePolarity);
        EXPECT_EQ(e.Analog().BiasCode(), BiasToCode(40));
        EXPECT_EQ(e.Analog().InterfaceDac(0), ConfiguredDacCode(1.0));
        EXPECT_EQ(e.Analog().InterfaceDac(1), ConfiguredDacCode(0.5));
        for (int chip = 0; chip < 2; ++chip) {
            EXPECT_EQ(e.Chip(chip).dacs.dac[0], 100 + chip) << "chip " << chip;
            EXPECT_EQ(e.Chip(chip).pixelConfig[12345] & 0x0240,
                      WithTimepixMode(kInitialPixelWord, 1) & 0x0240);
        }
    });

    const ProcessSettings& s = target.processSettings();
    EXPECT_EQ(s.actionSet, file.actionSet);
    EXPECT_EQ(s.frames, 7);
    EXPECT_DOUBLE_EQ(s.period, 0.25);
    EXPECT_DOUBLE_EQ(s.interval, 0.05);
    EXPECT_DOUBLE_EQ(s.counter, 3);
    EXPECT_EQ(s.actionCommand1, 'a');
    EXPECT_EQ(s.actionCommand2, 'b');
}

TEST_F(ConfigurationKeys, Medipix2TakesTheItemAsItsFsrAndRolesCoverEveryKey) {
    Open("Medipix2 ver 3.0 : Emulator Medipix2 x1");
    ASSERT_EQ(config::WriteConfiguration(path, Written(ChipType::Medipix2)),
              config::SaveStatus::kOk);
    Configuration c = config::StartConfiguration(1, {});
    DeviceSettings target(handle, pixels);
    ASSERT_TRUE(config::ReadConfiguration(path, c, target).ok());
    WithInterface([](sim::EmulatedInterface& e) { EXPECT_EQ(e.State().fsr, 1); });
    // A Medipix2 FSR is no pixel word: the words stay as they were.
    EXPECT_EQ(pixels.front(), kInitialPixelWord);

    // What the window shows itself never reaches the interface or the process settings.
    using config::ConfigKey;
    for (ConfigKey key : {ConfigKey::Monitor, ConfigKey::Scope, ConfigKey::Integral,
                          ConfigKey::ViewRange})
        EXPECT_EQ(RoleOf(key), KeyRole::kDisplay);
    for (ConfigKey key : {ConfigKey::Polarity, ConfigKey::Fsr, ConfigKey::ChipRecords,
                          ConfigKey::Bias, ConfigKey::Dac0, ConfigKey::Dac1})
        EXPECT_EQ(RoleOf(key), KeyRole::kInterface);
}

TEST_F(ConfigurationKeys, RefusedCommandIsCountedAgainstTheLoad) {
    Open("Medipix2 ver 3.0 : Emulator Medipix2 x1");
    ASSERT_EQ(config::WriteConfiguration(path, Written(ChipType::Medipix2)),
              config::SaveStatus::kOk);
    CloseDevice(handle, true);  // every command now fails on the stale handle
    Configuration c = config::StartConfiguration(1, {});
    DeviceSettings target(handle, pixels);
    config::ReadConfiguration(path, c, target);
    EXPECT_FALSE(target.allSent());
    EXPECT_EQ(target.processSettings().frames, 7);  // stored whether or not anything was sent
}

}  // namespace
}  // namespace ulvarin::process
