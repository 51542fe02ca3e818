// The USB driver and the device layer over the real libftdi1, which runs here against the
// fake libusb devices of tests/usb_fake (emulated interfaces behind high-speed FTDI chips).
#include <ftdi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/dac_tables.h"
#include "device/drivers/driver_registry.h"
#include "device/drivers/ftdi_bus.h"
#include "device/identify.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "tests/usb_fake/fake_usb.h"

namespace ulvarin {
namespace {

using namespace std::chrono_literals;
namespace fake = usbfake;

constexpr const char* kQuad = "Medipix2 ver 3.0 : USB Timepix x4";

struct Family {
    sim::ChipFamily family;
    int chips;
    bool mxr;
    bool timepix;
    const char* description;
};
constexpr Family kTimepixQuad{sim::ChipFamily::kTimepix, 4, true, true, kQuad};

// A single-channel high-speed chip with the interface `f` behind it.
fake::DeviceModel InterfaceModel(const Family& f) {
    fake::DeviceModel model;
    model.product = 0x6014;
    model.description = f.description;
    model.serial = "ULV0001";
    model.interfaces = {sim::MakeInterfaceConfig(f.family, f.chips)};
    return model;
}

fake::DeviceModel QuadModel() {
    return InterfaceModel(kTimepixQuad);
}

class UsbLibftdi : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override { fake::Reset(); }
};

// libftdi's own calls land in the fake: it lists the device, opens it with its usual vendor
// requests, and the bytes it reads arrive without their modem-status bytes.
TEST_F(UsbLibftdi, LibftdiItselfTalksToTheFakeDevice) {
    const auto id = fake::Plug(QuadModel());
    ftdi_context* ctx = ftdi_new();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(fake::Calls("libusb_init"), 1u);
    ASSERT_EQ(ftdi_usb_open_desc(ctx, 0x0403, 0x6014, kQuad, "ULV0001"), 0) << ctx->error_str;
    EXPECT_EQ(ctx->type, TYPE_232H);
    EXPECT_EQ(ctx->max_packet_size, 512u);
    ASSERT_EQ(ftdi_set_latency_timer(ctx, 2), 0);
    bool latencySet = false;
    for (const auto& r : fake::ControlLog(id)) latencySet |= r.request == 0x09 && r.value == 2;
    EXPECT_TRUE(latencySet);

    const uint8_t version = 'i';  // asks for the version text
    ASSERT_EQ(ftdi_write_data(ctx, &version, 1), 1);
    std::string answer;
    uint8_t buffer[4096];
    for (int tries = 0; tries < 200 && answer.find("OK\r") == std::string::npos; ++tries) {
        const int got = ftdi_read_data(ctx, buffer, sizeof buffer);
        ASSERT_GE(got, 0);
        answer.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(got));
    }
    ASSERT_GE(answer.size(), 5u);
    EXPECT_EQ(answer.front(), 'i');
    EXPECT_EQ(answer.substr(answer.size() - 4), "\rOK\r") << answer;
    EXPECT_EQ(answer.find('\x60'), std::string::npos) << "status bytes left in the data";
    ftdi_free(ctx);
    EXPECT_GE(fake::Calls("libusb_bulk_transfer"), 2u);
    EXPECT_EQ(fake::Calls("libusb_exit"), 1u);
}

// The device layer on an interface of each family behind a high-speed chip, through
// MakeUsbDriver().
class UsbDeviceLayer : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        fake::Reset();
        id = fake::Plug(InterfaceModel(GetParam()));
        InstallDriver(MakeUsbDriver());
        SetReportHook(
            [](MpxDevice& h, void* self) {
                if (h.reportKind > 1)
                    static_cast<UsbDeviceLayer*>(self)->errors.push_back(h.reportText);
                h.Clear();
            },
            this);
        SetBackgroundHook(
            [](MpxDevice&, MpxCommandResponse& r, void* self) {
                if (r.frameNumber != 0 && r.destination != nullptr)
                    static_cast<UsbDeviceLayer*>(self)->frames.push_back(r.frameNumber);
            },
            this);
        handle.device = OpenDevice(GetParam().description, true, false, 0);
        ASSERT_NE(handle.device, nullptr);
        // These tests are about bytes arriving whole, not about deadlines (the soak test
        // keeps those): a checked build on a busy machine may answer later than usual.
        handle.device->defaultTimeout = 5.0;
    }
    void TearDown() override {
        CloseDevice(handle, true);
        SetBackgroundHook(nullptr, nullptr);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
        fake::Reset();
    }
    // Random counts in every chip; returns them.
    std::vector<uint16_t> LoadRandomCounts(unsigned seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> count(0, GetParam().mxr ? 11810 : 8000);
        std::vector<std::vector<uint16_t>> counts(static_cast<size_t>(GetParam().chips),
                                                  std::vector<uint16_t>(kChipPixels));
        std::vector<uint16_t> all;
        for (auto& chip : counts) {
            for (auto& v : chip) v = static_cast<uint16_t>(count(random));
            all.insert(all.end(), chip.begin(), chip.end());
        }
        fake::WithInterface(id, 0, [&](sim::EmulatedInterface& e) { e.LoadCounts(counts); });
        return all;
    }
    // Reads a frame and checks it against the counts loaded.
    void ExpectFrame(const std::vector<uint16_t>& expected) {
        std::vector<uint16_t> pixels(kMaxPixels, 0xABCD);
        ASSERT_TRUE(ReadMatrix(handle, pixels.data(), static_cast<uint32_t>(pixels.size())));
        for (size_t p = 0; p < expected.size(); ++p) ASSERT_EQ(pixels[p], expected[p]) << p;
    }

    std::string Reports() const {
        std::string all;
        for (const auto& e : errors) all += e + "\n";
        return all;
    }

    fake::DeviceId id = 0;
    MpxDevice handle;
    std::vector<std::string> errors;
    std::vector<int32_t> frames;
};

TEST_P(UsbDeviceLayer, ResetIdentifyDacsAndFramesGoThroughLibftdi) {
    const Family& f = GetParam();
    EXPECT_EQ(ChipCount(handle), f.chips);
    EXPECT_EQ(IsMxr(handle), f.mxr);
    EXPECT_EQ(IsTimepix(handle), f.timepix);
    char version[256] = {};
    EXPECT_TRUE(ReadVersionInfo(handle, version, sizeof version));
    EXPECT_GT(std::string(version).size(), 0u);

    const ChipType type = ChipTypeOf(f.mxr, f.timepix);
    std::vector<ChipDacRecord> records(static_cast<size_t>(f.chips), DefaultDacRecord(type));
    for (int c = 0; c < f.chips; ++c) records[c].dac[1] = static_cast<uint16_t>(20 + c);
    ASSERT_TRUE(SetChipDacs(handle, records.data()));
    fake::WithInterface(id, 0, [&](sim::EmulatedInterface& e) {
        for (int c = 0; c < f.chips; ++c) {
            uint8_t block[kDacBlockBytes];
            EncodeDacBlock(type, records[c], c, block);
            EXPECT_EQ(0, std::memcmp(e.Chip(c).dacBlock.data(), block, kDacBlockBytes)) << c;
        }
    });
    for (unsigned seed = 1; seed <= 3; ++seed) ExpectFrame(LoadRandomCounts(seed));
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// A stall and a read that timed out half-filled each end a transfer holding frame bytes:
// the driver keeps them, clears the halt and goes on, so the frame arrives whole.
TEST_P(UsbDeviceLayer, StallAndHalfFilledTimeoutLoseNoByte) {
    fake::TimeOutNextRead(id, 0, 3000);
    ExpectFrame(LoadRandomCounts(7));
    fake::StallNextRead(id, 0, 20000);
    ExpectFrame(LoadRandomCounts(8));
    EXPECT_GE(fake::Calls("libusb_clear_halt"), 1u);
    EXPECT_TRUE(IsAlive(handle));
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// The cable goes while a frame is on its way: the read fails promptly (no hang) and the
// handle reports the device gone from then on.
TEST_P(UsbDeviceLayer, PulledCableMidFrameFailsCleanly) {
    LoadRandomCounts(9);
    fake::UnplugAfterRead(id, 0, 100000);
    std::vector<uint16_t> pixels(kMaxPixels);
    auto read = std::async(std::launch::async, [&] {
        return ReadMatrix(handle, pixels.data(), static_cast<uint32_t>(pixels.size()));
    });
    ASSERT_EQ(read.wait_for(10s), std::future_status::ready) << "the read hangs";
    EXPECT_FALSE(read.get());
    EXPECT_FALSE(IsAlive(handle));
    uint32_t depth = 0;
    EXPECT_EQ(Driver().GetStatus(handle.device->handle, depth), FT_DEVICE_NOT_FOUND);
}

// A hardware process streams frames by itself; every one of them arrives, in order.
TEST_P(UsbDeviceLayer, ProcessStreamsFrames) {
    constexpr uint8_t kClose = 0x01, kOpen = 0x02, kInterval = 0x04;
    ASSERT_TRUE(SetupFrameCounter(handle, 5 - 1, 0)) << Reports();
    ASSERT_TRUE(SetupIntervalTimer(handle, 0.01, kClose)) << Reports();
    ASSERT_TRUE(SetupPeriodTimer(handle, 0.03, kOpen | kInterval)) << Reports();
    ASSERT_TRUE(MakeTodoMask(handle, kOpen | kInterval)) << Reports();
    ASSERT_TRUE(ReloadPeriodTimer(handle)) << Reports();
    for (const double until = Now() + 5; frames.size() < 5 && Now() < until;) {
        MpxCommandResponse record;
        DrainBackground(handle, record);
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(frames.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(frames[static_cast<size_t>(i)], i + 1);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

INSTANTIATE_TEST_SUITE_P(UsbFamilies, UsbDeviceLayer,
                         ::testing::Values(Family{sim::ChipFamily::kMedipix2, 1, false, false,
                                                  "Medipix2 ver 3.0 : USB Medipix2 x1"},
                                           Family{sim::ChipFamily::kMxr, 2, true, false,
                                                  "Medipix2 ver 3.0 : USB MXR x2"},
                                           kTimepixQuad),
                         [](const auto& param) {
                             return std::to_string(param.param.chips) + "chips";
                         });

// The driver seam itself: channels of multi-channel chips, writes against one deadline.
class UsbDriverOverLibftdi : public UsbLibftdi {
protected:
    void SetUp() override {
        UsbLibftdi::SetUp();
        driver = MakeUsbDriver();
    }
    std::vector<std::string> List() {
        uint32_t count = 0;
        EXPECT_EQ(driver->CreateDeviceInfoList(count), FT_OK);
        std::vector<std::string> names;
        for (uint32_t i = 0; i < count; ++i) {
            char text[kFtStringSize];
            EXPECT_EQ(driver->GetDeviceInfoDetail(i, text), FT_OK);
            names.push_back(text);
        }
        return names;
    }
    // Sends the version command and reads the answer's first byte.
    uint8_t Ask(FtHandle h) {
        uint32_t n = 0;
        EXPECT_EQ(driver->Write(h, "i", 1, n), FT_OK);
        uint8_t first = 0;
        EXPECT_EQ(driver->Read(h, &first, 1, n), FT_OK);
        return first;
    }
    std::shared_ptr<FtDriver> driver;
};

TEST_F(UsbDriverOverLibftdi, EveryChannelOfAMultiChannelChipListsAndOpens) {
    fake::DeviceModel dual;
    dual.product = 0x6010;
    dual.description = "Dual";
    dual.serial = "D1";
    dual.interfaces = {sim::MakeInterfaceConfig(sim::ChipFamily::kMxr, 1),
                       sim::MakeInterfaceConfig(sim::ChipFamily::kMedipix2, 1)};
    const auto dualId = fake::Plug(dual);
    fake::Plug(QuadModel());
    EXPECT_EQ(List(), (std::vector<std::string>{"Dual A", "Dual B", kQuad}));

    FtHandle a = nullptr, b = nullptr, plain = nullptr;
    ASSERT_EQ(driver->OpenEx("Dual B", b), FT_OK);
    // The name without a letter, as stored before channels were listed apart, is channel A.
    ASSERT_EQ(driver->OpenEx("Dual", plain), FT_OK);
    EXPECT_EQ(driver->OpenEx("Dual A", a), FT_DEVICE_NOT_OPENED) << "channel A opened twice";
    ASSERT_EQ(driver->Close(plain), FT_OK);
    ASSERT_EQ(driver->OpenEx("Dual A", a), FT_OK);
    uint32_t type = 0, devId = 0;
    char serial[kFtStringSize], description[kFtStringSize];
    ASSERT_EQ(driver->GetDeviceInfo(b, type, devId, serial, description), FT_OK);
    EXPECT_STREQ(description, "Dual B");
    EXPECT_STREQ(serial, "D1B");
    EXPECT_EQ(devId, 0x04036010u);
    // Each handle talks to its own channel's interface.
    EXPECT_EQ(Ask(a), 'i');
    EXPECT_EQ(Ask(b), 'i');
    EXPECT_GT(fake::BytesRead(dualId, 0), 0u);
    EXPECT_GT(fake::BytesRead(dualId, 1), 0u);
    bool channelB = false;
    for (const auto& r : fake::ControlLog(dualId)) channelB |= r.request == 0x09 && r.index == 2;
    EXPECT_TRUE(channelB) << "channel B was never set up";
    EXPECT_EQ(driver->Close(a), FT_OK);
    EXPECT_EQ(driver->Close(b), FT_OK);
}

// The queue depth counts every byte that arrived, exactly; a purge drops them together with
// whatever the reads in flight hold, and the next answer arrives whole.
TEST_F(UsbDriverOverLibftdi, QueueDepthIsExactAndPurgeDropsWhatArrived) {
    const auto id = fake::Plug(QuadModel());
    FtHandle h = nullptr;
    ASSERT_EQ(driver->OpenEx(kQuad, h), FT_OK);
    uint32_t n = 0, depth = 0;
    ASSERT_EQ(driver->Write(h, "i", 1, n), FT_OK);
    // Once nothing more comes, the depth is every byte the chip sent.
    for (uint32_t last = 1, tries = 0; (depth == 0 || depth != last) && tries < 200; ++tries) {
        last = depth;
        std::this_thread::sleep_for(30ms);
        ASSERT_EQ(driver->GetStatus(h, depth), FT_OK);
    }
    EXPECT_EQ(depth, fake::BytesRead(id, 0));
    std::string answer(depth, '\0');
    ASSERT_EQ(driver->Read(h, answer.data(), depth, n), FT_OK);
    ASSERT_EQ(n, depth);
    ASSERT_GE(answer.size(), 5u);
    EXPECT_EQ(answer.substr(answer.size() - 4), "\rOK\r");

    fake::SetTiming(id, 0, {20e3, 0});  // the next answer trickles in
    ASSERT_EQ(driver->Write(h, "i", 1, n), FT_OK);
    driver->WaitForData(h, 1.0);
    ASSERT_EQ(driver->Purge(h, FT_PURGE_RX), FT_OK);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(driver->GetStatus(h, depth), FT_OK);
    EXPECT_EQ(depth, 0u) << "bytes from before the purge came back";
    fake::SetTiming(id, 0, {});
    EXPECT_EQ(Ask(h), 'i');
    EXPECT_EQ(driver->Close(h), FT_OK);
}

// Reads that end in a transfer error or an overflow hold nothing: a run of them is retried and
// the next answer arrives whole; reads that never succeed again end in an I/O error, promptly,
// instead of being retried forever.
TEST_F(UsbDriverOverLibftdi, FailedReadsAreRetriedUntilTheyNeverSucceed) {
    const auto id = fake::Plug(QuadModel());
    FtHandle h = nullptr;
    ASSERT_EQ(driver->OpenEx(kQuad, h), FT_OK);
    fake::FailNextReads(id, 0, 12, fake::ReadFailure::kTransferError);
    fake::FailNextReads(id, 0, 12, fake::ReadFailure::kOverflow);
    EXPECT_EQ(Ask(h), 'i');
    uint32_t n = 0, depth = 0;
    ASSERT_EQ(driver->Purge(h, FT_PURGE_RX), FT_OK);

    fake::FailNextReads(id, 0, 1000, fake::ReadFailure::kTransferError);
    ASSERT_EQ(driver->Write(h, "i", 1, n), FT_OK);
    FtStatus status = FT_OK;
    const auto start = std::chrono::steady_clock::now();
    while (status == FT_OK && std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(10ms);
        status = driver->GetStatus(h, depth);
    }
    EXPECT_EQ(status, FT_IO_ERROR);
    uint8_t byte = 0;
    EXPECT_NE(driver->Read(h, &byte, 1, n), FT_OK);
    EXPECT_EQ(driver->Close(h), FT_OK);
}

// A chip that takes a long write slowly: the write ends at its one deadline for the whole
// buffer (not one per piece), and the count says exactly what went out.
TEST_F(UsbDriverOverLibftdi, SlowWriteKeepsOneDeadlineAndCountsExactly) {
    const auto id = fake::Plug(QuadModel());
    FtHandle h = nullptr;
    ASSERT_EQ(driver->OpenEx(kQuad, h), FT_OK);
    ASSERT_EQ(driver->SetTimeouts(h, 1000, 300), FT_OK);
    const size_t before = fake::BytesWritten(id, 0);
    fake::SetWriteRate(id, 0, 100e3);        // 16 KiB pieces would each finish within 300 ms
    std::vector<uint8_t> matrix(458752, 0);  // "Set matrix" of four chips
    uint32_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(driver->Write(h, matrix.data(), static_cast<uint32_t>(matrix.size()), written),
              FT_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "took all the pieces' time";
    EXPECT_GT(written, 0u);
    EXPECT_EQ(written, fake::BytesWritten(id, 0) - before);
    EXPECT_EQ(driver->Close(h), FT_OK);
}

}  // namespace
}  // namespace ulvarin
