// Long commands whose transmit stops part way: the interface is left waiting for the rest of
// the parameters, and the device layer must bring it back in step so that the next command
// is understood.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/chip_commands.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

struct Report {
    int kind;
    std::string text;
};

struct Family {
    const char* set;
    bool mxr;
    bool timepix;
};

class PartialWrite : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        emulator = MakeEmulatorDriver(GetParam().set);
        InstallDriver(emulator);
        SetReportHook(
            [](MpxDevice& h, void* self) {
                static_cast<PartialWrite*>(self)->reports.push_back({h.reportKind, h.reportText});
                h.Clear();
            },
            this);
        handle.device = OpenDevice(emulator->Description(0).c_str(), true, false, 0);
        ASSERT_NE(handle.device, nullptr);
        chips = ChipCount(handle);
        ASSERT_GT(chips, 0);
        type = ChipTypeOf(GetParam().mxr, GetParam().timepix);
        reports.clear();
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }

    void CutNextWrite(size_t accept, bool failed) {
        emulator->WithLink(0, [&](sim::LinkModel& link) { link.CutNextWrite(accept, failed); });
    }
    sim::EmulatedInterface& Emulated() {
        sim::EmulatedInterface* found = nullptr;
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) { found = &e; });
        return *found;  // single-threaded here
    }
    bool Reported(const std::string& start) const {
        for (const Report& r : reports)
            if (r.text.starts_with(start)) return true;
        return false;
    }
    std::vector<uint16_t> Words(uint32_t salt) const {
        std::vector<uint16_t> words(static_cast<size_t>(chips) * kChipPixels);
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<uint16_t>((i + salt) * 2654435761u >> 7);
        return words;
    }
    void ExpectMatrixHolds(const std::vector<uint16_t>& words) {
        const uint16_t mask = GetParam().mxr ? 0x3FFF : 0x1FFF;
        for (int c = 0; c < chips; ++c)
            for (int p = 0; p < kChipPixels; ++p)
                ASSERT_EQ(Emulated().Chip(c).pixelConfig[p], words[c * kChipPixels + p] & mask)
                    << "chip " << c << " pixel " << p;
    }
    std::vector<ChipDacRecord> Dacs(uint16_t first) const {
        std::vector<ChipDacRecord> records(chips, DefaultDacRecord(type));
        for (int c = 0; c < chips; ++c) records[c].dac[1] = static_cast<uint16_t>(first + c);
        return records;
    }

    std::shared_ptr<EmulatorDriver> emulator;
    MpxDevice handle;
    int chips = 0;
    ChipType type = ChipType::Medipix2;
    std::vector<Report> reports;
};

// Where a write is cut: after the letter, in the middle, one byte short.
std::vector<size_t> CutPoints(size_t length) {
    return {1, length / 2, length - 1};
}

TEST_P(PartialWrite, CutSetMatrixFailsAndTheNextCommandsAreUnderstood) {
    const size_t length = FrameStreamLength(handle) + 1;
    const auto words = Words(7);
    for (bool failed : {true, false}) {
        for (size_t cut : CutPoints(length)) {
            SCOPED_TRACE((failed ? "error after " : "short write of ") + std::to_string(cut));
            reports.clear();
            CutNextWrite(cut, failed);
            EXPECT_FALSE(SetMatrix(handle, words.data(), words.size()));
            EXPECT_TRUE(Reported("Command \"Set matrix\" cut after " + std::to_string(cut) +
                                 " of " + std::to_string(length) +
                                 " bytes; completed with filler. Resynchronization OK."));
            EXPECT_EQ(Emulated().PendingCommandBytes(), 0u);
            EXPECT_TRUE(PowerOn(handle)) << "a one-letter command right after";
            ASSERT_TRUE(SetMatrix(handle, words.data(), words.size()));
            ExpectMatrixHolds(words);
        }
    }
}

TEST_P(PartialWrite, CutDacSettingFailsAndTheNextSettingArrivesWhole) {
    uint16_t first = 20;
    for (size_t cut : {size_t{1}, size_t{17}, size_t{33}}) {
        SCOPED_TRACE("cut after " + std::to_string(cut));
        CutNextWrite(cut, true);
        const auto spoilt = Dacs(first);
        EXPECT_FALSE(SetChipDacs(handle, spoilt.data()));
        EXPECT_EQ(Emulated().PendingCommandBytes(), 0u);
        const auto records = Dacs(++first);
        ASSERT_TRUE(SetChipDacs(handle, records.data()));
        for (int c = 0; c < chips; ++c) {
            uint8_t block[kDacBlockBytes];
            EncodeDacBlock(type, records[c], c, block);
            EXPECT_EQ(0, std::memcmp(Emulated().Chip(c).dacBlock.data(), block, kDacBlockBytes))
                << "chip " << c;
        }
    }
}

// With a second attempt the command is sent again whole, so the filler the first attempt
// left in the chips is overwritten and the call succeeds.
TEST_P(PartialWrite, SecondAttemptRestoresWhatTheFillerSpoilt) {
    handle.device->defaultAttempts = 2;
    const auto words = Words(3);
    CutNextWrite(FrameStreamLength(handle) / 3, true);
    EXPECT_TRUE(SetMatrix(handle, words.data(), words.size()));
    ExpectMatrixHolds(words);
    EXPECT_TRUE(Reported("Command \"Set matrix\" failed."));
}

INSTANTIATE_TEST_SUITE_P(Families, PartialWrite,
                         ::testing::Values(Family{"medipix2:1", false, false},
                                           Family{"mxr:2", true, false},
                                           Family{"timepix:4", true, true}),
                         [](const auto& param) {
                             return std::string(param.param.set).substr(0, 3);
                         });

// Transmit counts what went out even when the driver fails, and the traffic log sees those
// bytes: they did reach the interface.
TEST(TransmitCount, PartOfAFailedWriteIsCountedAndLogged) {
    auto emulator = MakeEmulatorDriver("mxr:1");
    InstallDriver(emulator);
    std::vector<Report> reports;
    SetReportHook(
        [](MpxDevice& h, void* user) {
            static_cast<std::vector<Report>*>(user)->push_back({h.reportKind, h.reportText});
            h.Clear();
        },
        &reports);
    std::string logged;
    SetTrafficHook(
        [](MpxDevice&, const uint8_t* bytes, uint32_t count, int direction, void* user) {
            if (direction == 1) static_cast<std::string*>(user)->append(bytes, bytes + count);
        },
        &logged);
    MpxDevice handle(OpenDevice(emulator->Description(0).c_str(), false, true, 1));
    ASSERT_NE(handle.device, nullptr);

    emulator->WithLink(0, [](sim::LinkModel& link) { link.CutNextWrite(2, true); });
    EXPECT_EQ(Transmit(handle, "d1234", 5), 2u);
    EXPECT_EQ(logged, "d1");
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().kind, kTransmissionFailed);
    EXPECT_EQ(reports.back().text, "Can't transmit - IO error");

    emulator->WithLink(0, [](sim::LinkModel& link) { link.CutNextWrite(3, false); });
    EXPECT_EQ(Transmit(handle, "abcde", 5), 3u);
    EXPECT_EQ(reports.back().text, "Can't transmit - only 3 of 5 bytes sent");

    CloseDevice(handle, true);
    SetTrafficHook(nullptr, nullptr);
    SetReportHook(nullptr, nullptr);
    InstallDriver(nullptr);
}

}  // namespace
}  // namespace ulvarin
