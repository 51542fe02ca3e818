// The USB driver over a bus of simulated chips (receive FIFO, read deadlines, purge,
// failures, handle lifetime), and over the libftdi bus with no interface attached (in this
// executable libftdi reaches the fake libusb of tests/usb_fake, with nothing plugged in).
#include "device/drivers/ftdi_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ulvarin {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous bound for "returns at once": only a hang or a full timeout exceeds it.
constexpr auto kPrompt = 5s;

// A simulated chip: bytes it holds for the host, bytes the host sent, injected failures.
struct FakeChip {
    std::mutex mutex;
    std::condition_variable changed;
    std::string toHost;
    size_t toHostRead = 0;  // bytes of toHost the host already took
    std::string fromHost;
    FtStatus receiveFailure = FT_OK;
    FtStatus sendFailure = FT_OK;
    size_t sendFailsAfter = 0;  // bytes accepted before sendFailure strikes
    std::vector<uint32_t> flushes;
    uint32_t writeTimeout = 0;
    bool closed = false;

    void Play(const std::string& bytes) {
        std::lock_guard lock(mutex);
        toHost += bytes;
        changed.notify_all();
    }
    void Unplug() {
        std::lock_guard lock(mutex);
        receiveFailure = FT_DEVICE_NOT_FOUND;
        changed.notify_all();
    }
    size_t Held() {
        std::lock_guard lock(mutex);
        return toHost.size() - toHostRead;
    }
};

class FakeLink : public UsbLink {
public:
    explicit FakeLink(std::shared_ptr<FakeChip> chip) : chip_(std::move(chip)) {}

    FtStatus Receive(uint8_t* buffer, uint32_t capacity, uint32_t& got) override {
        std::unique_lock lock(chip_->mutex);
        auto held = [&] { return chip_->toHost.size() - chip_->toHostRead; };
        chip_->changed.wait_for(lock, 2ms,
                                [&] { return held() > 0 || chip_->receiveFailure != FT_OK; });
        got = 0;
        if (chip_->receiveFailure != FT_OK) return chip_->receiveFailure;
        got = static_cast<uint32_t>(std::min<size_t>(capacity, held()));
        std::memcpy(buffer, chip_->toHost.data() + chip_->toHostRead, got);
        chip_->toHostRead += got;
        return FT_OK;
    }
    FtStatus Send(const uint8_t* bytes, uint32_t length, uint32_t& sent) override {
        std::lock_guard lock(chip_->mutex);
        sent = length;
        if (chip_->sendFailure != FT_OK)
            sent = static_cast<uint32_t>(std::min<size_t>(length, chip_->sendFailsAfter));
        chip_->fromHost.append(reinterpret_cast<const char*>(bytes), sent);
        return sent == length ? FT_OK : chip_->sendFailure;
    }
    FtStatus Flush(uint32_t mask) override {
        std::lock_guard lock(chip_->mutex);
        chip_->flushes.push_back(mask);
        if (mask & FT_PURGE_RX) chip_->toHostRead = chip_->toHost.size();
        return FT_OK;
    }
    void SetWriteTimeout(uint32_t ms) override {
        std::lock_guard lock(chip_->mutex);
        chip_->writeTimeout = ms;
    }
    FtStatus Close() override {
        std::lock_guard lock(chip_->mutex);
        chip_->closed = true;
        return FT_OK;
    }
    UsbIdentity Identity() const override {
        return {6, 0x04036010, "FT0001", "Medipix2 ver 3.0 : Bench unit"};
    }

private:
    std::shared_ptr<FakeChip> chip_;
};

class FakeBus : public UsbBus {
public:
    std::vector<UsbListing> listing;
    FtStatus listStatus = FT_OK;
    std::map<std::string, std::shared_ptr<FakeChip>> chips;

    FtStatus List(std::vector<UsbListing>& devices) override {
        devices = listStatus == FT_OK ? listing : std::vector<UsbListing>{};
        return listStatus;
    }
    FtStatus Open(const std::string& description, std::unique_ptr<UsbLink>& link) override {
        auto it = chips.find(description);
        if (it == chips.end()) return FT_DEVICE_NOT_FOUND;
        link = std::make_unique<FakeLink>(it->second);
        return FT_OK;
    }
};

class UsbDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        bus_->chips["unit"] = chip_;
        ASSERT_EQ(driver_->OpenEx("unit", handle_), FT_OK);
        ASSERT_NE(handle_, nullptr);
    }

    std::string ReadAll(uint32_t wanted, FtStatus expected = FT_OK) {
        std::string bytes(wanted, '\0');
        uint32_t got = 0;
        EXPECT_EQ(driver_->Read(handle_, bytes.data(), wanted, got), expected);
        bytes.resize(got);
        return bytes;
    }

    // Waits (bounded) until the receive queue holds `depth` bytes; returns the last depth.
    uint32_t AwaitDepth(uint32_t depth) {
        uint32_t now = 0;
        const auto end = Clock::now() + kPrompt;
        while (driver_->GetStatus(handle_, now) == FT_OK && now != depth && Clock::now() < end)
            std::this_thread::sleep_for(1ms);
        return now;
    }

    std::shared_ptr<FakeBus> bus_ = std::make_shared<FakeBus>();
    std::shared_ptr<FakeChip> chip_ = std::make_shared<FakeChip>();
    std::shared_ptr<FtDriver> driver_ = MakeUsbDriver(bus_);
    FtHandle handle_ = nullptr;
};

TEST_F(UsbDriverTest, ListingKeepsUnreadableDevicesAndRangeChecksTheIndex) {
    const std::string longName(80, 'x');
    bus_->listing = {{"Medipix2 ver 3.0 : A", FT_OK},
                     {"", FT_OK},
                     {"", FT_DEVICE_NOT_OPENED},
                     {longName, FT_OK}};
    uint32_t count = 99;
    ASSERT_EQ(driver_->CreateDeviceInfoList(count), FT_OK);
    ASSERT_EQ(count, 4u);

    char text[kFtStringSize];
    EXPECT_EQ(driver_->GetDeviceInfoDetail(0, text), FT_OK);
    EXPECT_STREQ(text, "Medipix2 ver 3.0 : A");
    EXPECT_EQ(driver_->GetDeviceInfoDetail(1, text), FT_OK);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(driver_->GetDeviceInfoDetail(2, text), FT_DEVICE_NOT_OPENED);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(driver_->GetDeviceInfoDetail(3, text), FT_OK);
    EXPECT_EQ(std::string(text), longName.substr(0, kFtStringSize - 1));
    EXPECT_EQ(driver_->GetDeviceInfoDetail(4, text), FT_DEVICE_NOT_FOUND);

    // A failing bus forgets the old list rather than serving stale entries.
    bus_->listStatus = FT_OTHER_ERROR;
    EXPECT_EQ(driver_->CreateDeviceInfoList(count), FT_OTHER_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(driver_->GetDeviceInfoDetail(0, text), FT_DEVICE_NOT_FOUND);
}

TEST_F(UsbDriverTest, OpenFailuresLeaveNoHandle) {
    int dummy = 0;
    FtHandle other = &dummy;
    EXPECT_EQ(driver_->OpenEx("missing", other), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(other, nullptr);
    other = &dummy;
    EXPECT_EQ(driver_->OpenEx("", other), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(driver_->OpenEx(nullptr, other), FT_INVALID_PARAMETER);
    EXPECT_EQ(other, nullptr);
}

TEST_F(UsbDriverTest, DeviceInfoComesFromTheOpenDevice) {
    uint32_t type = 0, id = 0;
    char serial[kFtStringSize], description[kFtStringSize];
    ASSERT_EQ(driver_->GetDeviceInfo(handle_, type, id, serial, description), FT_OK);
    EXPECT_EQ(type, 6u);
    EXPECT_EQ(id, 0x04036010u);
    EXPECT_STREQ(serial, "FT0001");
    EXPECT_STREQ(description, "Medipix2 ver 3.0 : Bench unit");
}

TEST_F(UsbDriverTest, ReadWaitsForEveryByteUntilTheReadTimeout) {
    chip_->Play("abc");
    auto late = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(50ms);
        chip_->Play("de");
    });
    EXPECT_EQ(ReadAll(5), "abcde");  // default timeout: 1 s
    late.get();

    // Fewer bytes than asked for by the deadline: what arrived, with FT_OK.
    ASSERT_EQ(driver_->SetTimeouts(handle_, 100, 1000), FT_OK);
    chip_->Play("xy");
    EXPECT_EQ(ReadAll(4), "xy");
    EXPECT_EQ(ReadAll(0), "");

    // A zero read timeout takes what is already queued without waiting.
    chip_->Play("z");
    driver_->WaitForData(handle_, 5);
    ASSERT_EQ(driver_->SetTimeouts(handle_, 0, 1000), FT_OK);
    EXPECT_EQ(ReadAll(10), "z");
}

TEST_F(UsbDriverTest, QueueDepthIsExactAndPurgeEmptiesTheRequestedSide) {
    chip_->Play(std::string(1000, 'q'));
    EXPECT_EQ(AwaitDepth(1000), 1000u);

    ASSERT_EQ(driver_->Purge(handle_, FT_PURGE_TX), FT_OK);
    uint32_t depth = 0;
    ASSERT_EQ(driver_->GetStatus(handle_, depth), FT_OK);
    EXPECT_EQ(depth, 1000u);

    ASSERT_EQ(driver_->Purge(handle_, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    ASSERT_EQ(driver_->GetStatus(handle_, depth), FT_OK);
    EXPECT_EQ(depth, 0u);
    EXPECT_EQ(chip_->flushes, (std::vector<uint32_t>{FT_PURGE_TX, FT_PURGE_RX | FT_PURGE_TX}));

    // Bytes arriving after the purge are kept.
    chip_->Play("new");
    EXPECT_EQ(ReadAll(3), "new");
}

TEST_F(UsbDriverTest, WriteSendsEverythingOrSaysHowFarItGot) {
    uint32_t written = 0;
    ASSERT_EQ(driver_->Write(handle_, "hello", 5, written), FT_OK);
    EXPECT_EQ(written, 5u);

    chip_->sendFailure = FT_IO_ERROR;
    chip_->sendFailsAfter = 3;
    EXPECT_EQ(driver_->Write(handle_, "abcdef", 6, written), FT_IO_ERROR);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(chip_->fromHost, "helloabc");

    ASSERT_EQ(driver_->SetTimeouts(handle_, 1000, 250), FT_OK);
    EXPECT_EQ(chip_->writeTimeout, 250u);
}

TEST_F(UsbDriverTest, FullFifoHoldsBytesBackInTheChipUntilRead) {
    chip_->Play(std::string(kUsbFifoLimit + 1000, 'f'));
    EXPECT_EQ(AwaitDepth(kUsbFifoLimit), kUsbFifoLimit);
    std::this_thread::sleep_for(20ms);  // a reader that ignored the limit would take more
    EXPECT_EQ(chip_->Held(), 1000u);

    EXPECT_EQ(ReadAll(5000).size(), 5000u);
    EXPECT_EQ(AwaitDepth(kUsbFifoLimit - 4000), kUsbFifoLimit - 4000);
    EXPECT_EQ(chip_->Held(), 0u);
}

TEST_F(UsbDriverTest, PulledCableFailsLaterCallsAndWakesWaiters) {
    auto waiter = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        driver_->WaitForData(handle_, 60);
        return Clock::now() - start;
    });
    std::this_thread::sleep_for(20ms);
    chip_->Unplug();
    EXPECT_LT(waiter.get(), kPrompt);

    uint32_t depth = 0, written = 0;
    char byte = 0;
    EXPECT_EQ(driver_->GetStatus(handle_, depth), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(ReadAll(1, FT_DEVICE_NOT_FOUND), "");
    EXPECT_EQ(driver_->Write(handle_, &byte, 1, written), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(driver_->Purge(handle_, FT_PURGE_RX), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(driver_->SetTimeouts(handle_, 1000, 1000), FT_DEVICE_NOT_FOUND);

    EXPECT_EQ(driver_->Close(handle_), FT_OK);
    EXPECT_TRUE(chip_->closed);
    EXPECT_EQ(driver_->Close(handle_), FT_INVALID_HANDLE);
}

TEST_F(UsbDriverTest, CloseWakesAWaiterOnAnotherThread) {
    auto waiter = std::async(std::launch::async, [&] {
        const auto start = Clock::now();
        driver_->WaitForData(handle_, 60);
        return Clock::now() - start;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(driver_->Close(handle_), FT_OK);
    EXPECT_LT(waiter.get(), kPrompt);
}

TEST_F(UsbDriverTest, NullForeignAndClosedHandlesAreRejected) {
    ASSERT_EQ(driver_->Close(handle_), FT_OK);
    FtHandle reopened = nullptr;
    ASSERT_EQ(driver_->OpenEx("unit", reopened), FT_OK);
    EXPECT_NE(reopened, handle_);  // a closed handle must not alias the new one

    int foreign = 0;
    for (FtHandle h : {FtHandle{nullptr}, FtHandle{&foreign}, handle_}) {
        uint32_t type = 1, id = 1, depth = 1, got = 1, written = 1;
        char serial[kFtStringSize], description[kFtStringSize], byte = 0;
        EXPECT_EQ(driver_->Purge(h, FT_PURGE_RX), FT_INVALID_HANDLE);
        EXPECT_EQ(driver_->SetTimeouts(h, 1, 1), FT_INVALID_HANDLE);
        EXPECT_EQ(driver_->GetDeviceInfo(h, type, id, serial, description), FT_INVALID_HANDLE);
        EXPECT_EQ(driver_->GetStatus(h, depth), FT_INVALID_HANDLE);
        EXPECT_EQ(driver_->Read(h, &byte, 1, got), FT_INVALID_HANDLE);
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(driver_->Write(h, &byte, 1, written), FT_INVALID_HANDLE);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(driver_->Close(h), FT_INVALID_HANDLE);
        const auto start = Clock::now();
        driver_->WaitForData(h, 60);
        EXPECT_LT(Clock::now() - start, kPrompt);
    }
    EXPECT_EQ(driver_->Close(reopened), FT_OK);
}

// The libftdi bus: without an interface attached (or without USB access at all) everything
// fails cleanly.
TEST(UsbDriverLibftdi, WithoutInterfaceEnumerationAndOpenFailCleanly) {
    auto driver = MakeUsbDriver();
    uint32_t count = 0;
    const FtStatus listed = driver->CreateDeviceInfoList(count);
    EXPECT_TRUE(listed == FT_OK || listed == FT_OTHER_ERROR || listed == FT_IO_ERROR ||
                listed == FT_INSUFFICIENT_RESOURCES)
        << listed;
    if (listed != FT_OK) {
        EXPECT_EQ(count, 0u);
    }
    char text[kFtStringSize];
    for (uint32_t i = 0; i < count; ++i) driver->GetDeviceInfoDetail(i, text);  // must not crash
    EXPECT_EQ(driver->GetDeviceInfoDetail(count, text), FT_DEVICE_NOT_FOUND);

    FtHandle handle = &count;
    const FtStatus opened = driver->OpenEx("Ulvarin test: no such interface", handle);
    EXPECT_EQ(opened, listed == FT_OK ? FT_DEVICE_NOT_FOUND : listed);
    EXPECT_EQ(handle, nullptr);

    uint32_t depth = 0;
    EXPECT_EQ(driver->GetStatus(nullptr, depth), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->Close(nullptr), FT_INVALID_HANDLE);
}

}  // namespace
}  // namespace ulvarin
