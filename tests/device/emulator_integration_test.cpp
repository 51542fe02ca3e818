// The device layer against the emulated interfaces: open with reset, identify, load DACs
// and pixel configuration, read frames, and check what arrived on either side.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/chip_commands.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {
namespace {

struct Expected {
    const char* description;
    int chips;
    bool mxr;
    bool timepix;
};

class EmulatorIntegration : public ::testing::TestWithParam<Expected> {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver("medipix2:1,mxr:2,timepix:4");
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& h, void*) { h.Clear(); }, nullptr);
        index = *emulator->FindInterface(GetParam().description);
        handle.device = OpenDevice(GetParam().description, true, false, 0);
        ASSERT_NE(handle.device, nullptr);
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }
    sim::ChipState& Chip(int i) {
        sim::ChipState* chip = nullptr;
        emulator->WithInterface(index, [&](sim::EmulatedInterface& e) { chip = &e.Chip(i); });
        return *chip;
    }

    std::shared_ptr<EmulatorDriver> emulator;
    size_t index = 0;
    MpxDevice handle;
};

TEST_P(EmulatorIntegration, ResetLearnsChipsAndIdentities) {
    const Expected& e = GetParam();
    EXPECT_EQ(ChipCount(handle), e.chips);
    EXPECT_EQ(IsMxr(handle), e.mxr);
    EXPECT_EQ(IsTimepix(handle), e.timepix);
    if (e.mxr) {
        // One "Xrr-Wwwww" entry per chip, separated by single blanks.
        std::string ids = ChipIdText(handle);
        EXPECT_EQ(ids.size(), static_cast<size_t>(10 * e.chips - 1)) << ids;
        EXPECT_EQ(ids.find("000-W000"), std::string::npos) << ids;
    } else {
        EXPECT_STREQ(ChipIdText(handle), handle.device->displayName);
    }
    char version[256] = {};
    EXPECT_TRUE(ReadVersionInfo(handle, version, sizeof version));
    EXPECT_GT(std::string(version).size(), 0u);
}

TEST_P(EmulatorIntegration, FrameCarriesExactlyTheEmulatorsCounts) {
    const Expected& e = GetParam();
    const int last = e.mxr ? 11810 : 8000;
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> count(0, last);
    for (int c = 0; c < e.chips; ++c)
        for (auto& v : Chip(c).counts) v = static_cast<uint16_t>(count(random));
    Chip(0).counts[0] = static_cast<uint16_t>(last);  // the saturated count travels too

    std::vector<uint16_t> pixels(kMaxPixels, 0xABCD);
    double time = -1;
    ASSERT_TRUE(ReadMatrix(handle, pixels.data(), pixels.size(), &time));
    EXPECT_GE(time, 0.0);
    for (int c = 0; c < e.chips; ++c) {
        const auto& counts = Chip(c).counts;
        for (int p = 0; p < kChipPixels; ++p)
            ASSERT_EQ(pixels[c * kChipPixels + p], counts[p]) << "chip " << c << " pixel " << p;
    }
    if (e.chips < kMaxChips) {  // nothing written past the chips
        EXPECT_EQ(pixels[e.chips * kChipPixels], 0xABCD);
    }
    EXPECT_EQ(handle.device->frameCounter, 1);
}

TEST_P(EmulatorIntegration, PixelConfigurationAndDacsArriveChipByChip) {
    const Expected& e = GetParam();
    std::vector<uint16_t> words(e.chips * kChipPixels);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
    ASSERT_TRUE(SetMatrix(handle, words.data(), words.size()));
    const uint16_t mask = e.mxr ? 0x3FFF : 0x1FFF;
    for (int c = 0; c < e.chips; ++c)
        for (int p = 0; p < kChipPixels; ++p)
            ASSERT_EQ(Chip(c).pixelConfig[p], words[c * kChipPixels + p] & mask)
                << "chip " << c << " pixel " << p;

    const ChipType type = ChipTypeOf(e.mxr, e.timepix);
    std::vector<ChipDacRecord> records(e.chips, DefaultDacRecord(type));
    for (int c = 0; c < e.chips; ++c) records[c].dac[1] = static_cast<uint16_t>(10 + c);
    ASSERT_TRUE(SetChipDacs(handle, records.data()));
    for (int c = 0; c < e.chips; ++c) {
        uint8_t block[kDacBlockBytes];
        EncodeDacBlock(type, records[c], c, block);
        EXPECT_EQ(0, std::memcmp(Chip(c).dacBlock.data(), block, kDacBlockBytes)) << "chip " << c;
    }
    // The link is still in step after the long streams.
    EXPECT_TRUE(PowerOn(handle));
}

INSTANTIATE_TEST_SUITE_P(
    Families, EmulatorIntegration,
    ::testing::Values(Expected{"Medipix2 ver 3.0 : Emulator Medipix2 x1", 1, false, false},
                      Expected{"Medipix2 ver 3.0 : Emulator MXR x2", 2, true, false},
                      Expected{"Medipix2 ver 3.0 : Emulator Timepix x4", 4, true, true}),
    [](const auto& param) { return std::to_string(param.param.chips) + "chips"; });

}  // namespace
}  // namespace ulvarin
