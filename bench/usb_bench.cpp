// Four-chip frames through the USB driver and the unmodified libftdi1, against a fake
// high-speed chip (tests/usb_fake) whose wire carries 40 MB/s. The interface answers
// several "Read matrix" commands back to back, so the link could stay busy all the time;
// link_fraction is the share of the wire's rate the driver sustained (1 = the whole link).
// The reference is the earlier receive path: one libftdi read at a time.
#include <benchmark/benchmark.h>
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "device/drivers/ftdi_bus.h"
#include "tests/usb_fake/fake_usb.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr double kLinkBytesPerSecond = 40e6;
constexpr double kLinkLatencySeconds = 125e-6;  // one high-speed microframe
constexpr int kFramesPerRound = 4;
constexpr const char* kDescription = "Medipix2 ver 3.0 : USB Timepix x4";

// The earlier receive path, kept as the reference: libftdi's blocking read, one request in
// flight at a time, on a single-channel chip.
class SingleReadLink final : public UsbLink {
public:
    explicit SingleReadLink(ftdi_context* ctx) : ctx_(ctx) {}
    ~SingleReadLink() override { Close(); }

    FtStatus Receive(uint8_t* buffer, uint32_t capacity, uint32_t& got) override {
        got = 0;
        const int rc =
            ftdi_read_data(ctx_, buffer, static_cast<int>(std::min<uint32_t>(capacity, INT_MAX)));
        if (rc >= 0) {
            got = static_cast<uint32_t>(rc);
            return FT_OK;
        }
        return rc == LIBUSB_ERROR_TIMEOUT || rc == LIBUSB_ERROR_INTERRUPTED ? FT_OK : FT_IO_ERROR;
    }
    FtStatus Send(const uint8_t* bytes, uint32_t length, uint32_t& sent) override {
        const int rc = ftdi_write_data(ctx_, bytes, static_cast<int>(length));
        sent = rc > 0 ? static_cast<uint32_t>(rc) : 0;
        return sent == length ? FT_OK : FT_IO_ERROR;
    }
    FtStatus Flush(uint32_t) override { return ftdi_tcioflush(ctx_) == 0 ? FT_OK : FT_IO_ERROR; }
    void SetWriteTimeout(uint32_t ms) override { ctx_->usb_write_timeout = static_cast<int>(ms); }
    FtStatus Close() override {
        if (ctx_ != nullptr) ftdi_free(ctx_);
        ctx_ = nullptr;
        return FT_OK;
    }
    UsbIdentity Identity() const override { return {}; }

private:
    ftdi_context* ctx_;
};

class SingleReadBus final : public UsbBus {
public:
    FtStatus List(std::vector<UsbListing>& devices) override {
        devices = {{kDescription, FT_OK}};
        return FT_OK;
    }
    FtStatus Open(const std::string& description, std::unique_ptr<UsbLink>& link) override {
        ftdi_context* ctx = ftdi_new();
        if (ctx == nullptr) return FT_OTHER_ERROR;
        if (ftdi_usb_open_desc(ctx, 0x0403, 0x6014, description.c_str(), nullptr) < 0) {
            ftdi_free(ctx);
            return FT_DEVICE_NOT_FOUND;
        }
        ctx->usb_read_timeout = 100;
        ftdi_set_bitmode(ctx, 0, BITMODE_RESET);
        ftdi_set_latency_timer(ctx, 2);
        ftdi_read_data_set_chunksize(ctx, 64 * 1024);
        ftdi_write_data_set_chunksize(ctx, 16 * 1024);
        ftdi_tcioflush(ctx);
        link = std::make_unique<SingleReadLink>(ctx);
        return FT_OK;
    }
};

void RunFrames(benchmark::State& state, std::shared_ptr<FtDriver> driver) {
    usbfake::Reset();
    usbfake::DeviceModel model;
    model.description = kDescription;
    model.interfaces = {sim::MakeInterfaceConfig(sim::ChipFamily::kTimepix, 4)};
    const auto id = usbfake::Plug(model);
    usbfake::SetTiming(id, 0, {kLinkBytesPerSecond, kLinkLatencySeconds});
    FtHandle handle = nullptr;
    if (driver->OpenEx(kDescription, handle) != FT_OK) {
        state.SkipWithError("open failed");
        return;
    }
    driver->SetTimeouts(handle, 5000, 1000);
    const uint32_t frameBytes = FrameStreamBytes(4, true) + 10;  // letter, time, frame, "OK\r"
    const std::string commands(kFramesPerRound, 'm');
    std::vector<uint8_t> buffer(frameBytes * kFramesPerRound);
    double seconds = 0, bytes = 0;
    for (auto _ : state) {
        uint32_t n = 0, got = 0;
        // The emulator makes the frames while it takes the commands: that is no link time.
        driver->Write(handle, commands.data(), static_cast<uint32_t>(commands.size()), n);
        const auto start = std::chrono::steady_clock::now();
        driver->Read(handle, buffer.data(), static_cast<uint32_t>(buffer.size()), got);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bytes += got;
        if (got != buffer.size()) {
            state.SkipWithError("frames came short");
            break;
        }
    }
    driver->Close(handle);
    usbfake::Reset();
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["link_fraction"] = seconds > 0 ? bytes / seconds / kLinkBytesPerSecond : 0;
}

void BM_UsbFramesRing(benchmark::State& state) {
    RunFrames(state, MakeUsbDriver());
}
BENCHMARK(BM_UsbFramesRing)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_UsbFramesSingleReadReference(benchmark::State& state) {
    RunFrames(state, MakeUsbDriver(std::make_shared<SingleReadBus>()));
}
BENCHMARK(BM_UsbFramesSingleReadReference)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
}  // namespace ulvarin
