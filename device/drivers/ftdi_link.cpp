// An open FTDI device's data path, through libusb on libftdi's device handle: a ring of bulk
// reads kept in flight on the IN endpoint, bulk writes with one deadline on the OUT endpoint,
// and the purges and close of the open device.
//
// How libftdi 1.5 / libusb results become driver status codes:
//
//   call                         result                               status
//   ---------------------------  -----------------------------------  -------------------------
//   ftdi_tciflush/tcoflush/      "USB device unavailable"             FT_DEVICE_NOT_FOUND
//   ftdi_tcioflush               other                                FT_IO_ERROR
//   ring of bulk reads (libusb)  transfer completed, timed out,       data kept, read sent again
//                                cancelled
//                                stall (endpoint cleared), overflow,  data kept, read sent again;
//                                other transfer error, failed submit  FT_IO_ERROR after many in
//                                                                     a row with no success
//                                no device (transfer or event loop)   FT_DEVICE_NOT_FOUND
//   bulk write (libusb)          timeout (the one deadline passed)    FT_IO_ERROR, exact count
//                                pipe (endpoint cleared), interrupted tried again until deadline
//                                no device                            FT_DEVICE_NOT_FOUND
//                                other                                FT_IO_ERROR
//   ftdi_usb_close               -1 interface not released            FT_IO_ERROR, or FT_OK when
//                                                                     the device is already gone
// A read failure ends the device's reader thread and sticks to the handle; a write failure
// is reported for that write only.
#include "device/drivers/ftdi_link.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace ulvarin {
namespace {

using Clock = std::chrono::steady_clock;

// Bulk reads kept in flight: while one is being emptied the others still take what the chip
// sends, so its small buffer never fills between reads. Their size is a multiple of every
// packet size (64 or 512).
constexpr int kRingTransfers = 8;
constexpr int kTransferBytes = 32 * 1024;
constexpr uint32_t kWritePiece = 64 * 1024;
// How long the reader waits for a read to end before it looks at its own state again.
constexpr int kPollTimeoutMs = kFtdiPollTimeoutMs;
// Transfer errors in a row after which the device counts as broken. A halt ends every read
// in flight, so this allows several rounds of the whole ring.
constexpr int kMaxTransferErrors = 4 * kRingTransfers;
constexpr int kModemStatusBytes = 2;  // at the start of every packet from the chip

// Receiving through a ring of bulk reads kept in flight on the chip's IN endpoint, through
// libusb on libftdi's device handle. Runs on the device's reader thread only; libusb may
// run a completion callback on another thread that happens to handle events, so the
// callback only raises a flag.
class ReceiveRing {
public:
    ReceiveRing(libusb_context* usb, libusb_device_handle* device, unsigned char endpoint,
                unsigned packetSize)
        : usb_(usb), device_(device), endpoint_(endpoint), packetSize_(packetSize) {}

    ~ReceiveRing() { Stop(); }

    ReceiveRing(const ReceiveRing&) = delete;
    ReceiveRing& operator=(const ReceiveRing&) = delete;

    // Allocates the transfers; false when memory runs out.
    bool Start() {
        for (auto& slot : slots_) {
            slot.transfer = libusb_alloc_transfer(0);
            slot.buffer.resize(kTransferBytes);
            if (slot.transfer == nullptr) return false;
            libusb_fill_bulk_transfer(slot.transfer, device_, endpoint_, slot.buffer.data(),
                                      kTransferBytes, &ReceiveRing::Completed, &slot, 0);
        }
        return true;
    }

    // Copies the data of the reads that ended, in order, into `buffer` and sends each
    // emptied read out again; waits up to kPollTimeoutMs for the oldest read when none has
    // ended. Any status but FT_OK is final.
    FtStatus Receive(uint8_t* buffer, uint32_t capacity, uint32_t& got) {
        got = 0;
        if (failure_ != FT_OK) return failure_;
        SubmitIdle();
        Slot& head = slots_[head_];
        if (failure_ == FT_OK && head.inFlight && !head.ended.load(std::memory_order_acquire))
            HandleEvents(kPollTimeoutMs);
        while (got < capacity && failure_ == FT_OK) {
            Slot& slot = slots_[head_];
            if (!slot.inFlight || !slot.ended.load(std::memory_order_acquire)) break;
            got += TakeData(slot, buffer + got, capacity - got);
            if (slot.offset < slot.transfer->actual_length) break;  // the caller's buffer is full
            Finish(slot);
            head_ = (head_ + 1) % slots_.size();
            SubmitIdle();
        }
        // Bytes taken before a failure still go to the caller; the failure comes next call.
        return got > 0 ? FT_OK : failure_;
    }

    // Drops everything received so far, including reads in flight (they are cancelled and
    // sent out afresh by the next Receive).
    void Drop() {
        CancelAll();
        for (const auto& slot : slots_)
            if (slot.inFlight && failure_ == FT_OK) failure_ = FT_IO_ERROR;  // never came back
        head_ = 0;
    }

    // Cancels the reads in flight and frees them once libusb has given them back.
    void Stop() {
        CancelAll();
        for (auto& slot : slots_) {
            if (slot.inFlight) continue;  // still owned by libusb: leaked rather than freed early
            libusb_free_transfer(slot.transfer);
            slot.transfer = nullptr;
        }
    }

private:
    struct Slot {
        libusb_transfer* transfer = nullptr;
        std::vector<uint8_t> buffer;
        std::atomic<bool> ended{false};
        bool inFlight = false;  // submitted and not yet emptied
        int offset = 0;         // bytes of the ended read already taken
    };

    static void LIBUSB_CALL Completed(libusb_transfer* transfer) {
        static_cast<Slot*>(transfer->user_data)->ended.store(true, std::memory_order_release);
    }

    void HandleEvents(int ms) {
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        const int rc = libusb_handle_events_timeout_completed(usb_, &tv, nullptr);
        if (rc == LIBUSB_ERROR_NO_DEVICE) failure_ = FT_DEVICE_NOT_FOUND;
    }

    void SubmitIdle() {
        for (size_t i = 0; i < slots_.size() && failure_ == FT_OK; ++i) {
            Slot& slot = slots_[(head_ + i) % slots_.size()];
            if (slot.inFlight) continue;
            slot.ended.store(false, std::memory_order_relaxed);
            slot.offset = 0;
            const int rc = libusb_submit_transfer(slot.transfer);
            if (rc == 0) {
                slot.inFlight = true;
            } else if (rc == LIBUSB_ERROR_NO_DEVICE) {
                failure_ = FT_DEVICE_NOT_FOUND;
            } else {
                if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(device_, endpoint_);
                CountError();
                return;  // tried again on the next call
            }
        }
    }

    // What an ended read means for the device, once, before its data is taken.
    void Judge(Slot& slot) {
        switch (slot.transfer->status) {
            case LIBUSB_TRANSFER_COMPLETED:
                errors_ = 0;
                break;
            case LIBUSB_TRANSFER_TIMED_OUT:  // its data is still good
            case LIBUSB_TRANSFER_CANCELLED:
                break;
            case LIBUSB_TRANSFER_STALL:
                libusb_clear_halt(device_, endpoint_);
                CountError();
                break;
            case LIBUSB_TRANSFER_NO_DEVICE:
                failure_ = FT_DEVICE_NOT_FOUND;
                break;
            default:  // overflow, transfer error: tried again
                CountError();
                break;
        }
    }

    void CountError() {
        if (++errors_ >= kMaxTransferErrors && failure_ == FT_OK) failure_ = FT_IO_ERROR;
    }

    // Copies the data bytes of an ended read from its current offset, skipping the modem
    // status at the start of each packet.
    uint32_t TakeData(Slot& slot, uint8_t* out, uint32_t room) {
        if (slot.offset == 0) Judge(slot);
        const int length = slot.transfer->actual_length;
        const int packet = static_cast<int>(packetSize_);
        uint32_t copied = 0;
        while (slot.offset < length && copied < room) {
            const int inPacket = slot.offset % packet;
            if (inPacket < kModemStatusBytes) {
                slot.offset = std::min(length, slot.offset + kModemStatusBytes - inPacket);
                continue;
            }
            const int packetEnd = std::min(slot.offset - inPacket + packet, length);
            const auto n =
                std::min<uint32_t>(static_cast<uint32_t>(packetEnd - slot.offset), room - copied);
            std::memcpy(out + copied, slot.buffer.data() + slot.offset, n);
            copied += n;
            slot.offset += static_cast<int>(n);
        }
        return copied;
    }

    void Finish(Slot& slot) {
        slot.inFlight = false;
        slot.offset = 0;
    }

    // Cancels every read in flight and handles events (for a bounded time) until libusb has
    // given every one back: a read that ended but was not yet reaped cannot be cancelled,
    // and must still come back before its memory is reused or freed.
    void CancelAll() {
        auto outstanding = [&] {
            return std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
                return slot.inFlight && !slot.ended.load(std::memory_order_acquire);
            });
        };
        for (auto& slot : slots_)
            if (slot.inFlight && !slot.ended.load(std::memory_order_acquire))
                libusb_cancel_transfer(slot.transfer);
        for (int round = 0; round < 20 && outstanding(); ++round) HandleEvents(kPollTimeoutMs);
        for (auto& slot : slots_)
            if (slot.ended.load(std::memory_order_acquire)) slot.inFlight = false;
    }

    libusb_context* const usb_;
    libusb_device_handle* const device_;
    const unsigned char endpoint_;
    const unsigned packetSize_;
    std::array<Slot, kRingTransfers> slots_;
    size_t head_ = 0;  // the oldest read: reads end in the order they were sent
    FtStatus failure_ = FT_OK;
    int errors_ = 0;
};

// Receive and Flush run on the reader thread, Send on the caller's: reads go through the
// ring on the IN endpoint, writes are synchronous bulk transfers on the OUT endpoint, which
// libusb allows from different threads.
class LibftdiLink final : public UsbLink {
public:
    LibftdiLink(FtdiContext ctx, UsbIdentity identity)
        : ctx_(std::move(ctx)),
          identity_(std::move(identity)),
          ring_(ctx_->usb_ctx, ctx_->usb_dev, static_cast<unsigned char>(ctx_->out_ep),
                std::max(ctx_->max_packet_size, 64u)) {}

    ~LibftdiLink() override { Close(); }

    bool Start() { return ring_.Start(); }

    FtStatus Receive(uint8_t* buffer, uint32_t capacity, uint32_t& got) override {
        return ring_.Receive(buffer, capacity, got);
    }

    FtStatus Send(const uint8_t* bytes, uint32_t length, uint32_t& sent) override {
        // One deadline for the whole buffer; each piece may wait only for what is left.
        sent = 0;
        const auto deadline = Clock::now() + writeTimeout_;
        while (sent < length) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return FT_IO_ERROR;
            const auto piece = static_cast<int>(std::min(length - sent, kWritePiece));
            int actual = 0;
            const int rc = libusb_bulk_transfer(
                ctx_->usb_dev, static_cast<unsigned char>(ctx_->in_ep),
                const_cast<uint8_t*>(bytes + sent), piece, &actual,
                static_cast<unsigned>(std::min<int64_t>(left.count(), INT_MAX)));
            sent += static_cast<uint32_t>(std::clamp(actual, 0, piece));
            if (rc == 0 || rc == LIBUSB_ERROR_INTERRUPTED) continue;
            if (rc == LIBUSB_ERROR_NO_DEVICE) return FT_DEVICE_NOT_FOUND;
            if (rc == LIBUSB_ERROR_PIPE) {  // a halted endpoint: clear it and go on
                if (libusb_clear_halt(ctx_->usb_dev, static_cast<unsigned char>(ctx_->in_ep)) ==
                    LIBUSB_ERROR_NO_DEVICE)
                    return FT_DEVICE_NOT_FOUND;
                continue;
            }
            return FT_IO_ERROR;  // timed out: the deadline has passed
        }
        return FT_OK;
    }

    FtStatus Flush(uint32_t mask) override {
        const bool rx = mask & FT_PURGE_RX;
        const bool tx = mask & FT_PURGE_TX;
        if (rx) ring_.Drop();
        if (rx && tx) {
            const int rc = ftdi_tcioflush(ctx_.get());
            return rc == 0 ? FT_OK : rc == -3 ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
        }
        if (!rx && !tx) return FT_OK;
        const int rc = rx ? ftdi_tciflush(ctx_.get()) : ftdi_tcoflush(ctx_.get());
        return rc == 0 ? FT_OK : rc == -2 ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
    }

    void SetWriteTimeout(uint32_t ms) override {
        if (ms == 0) ms = kUsbDefaultTimeoutMs;
        writeTimeout_ = std::chrono::milliseconds(ms);
        ctx_->usb_write_timeout = static_cast<int>(std::min<uint32_t>(ms, INT_MAX));
    }

    void Wake() override { libusb_interrupt_event_handler(ctx_->usb_ctx); }

    FtStatus Close() override {
        if (!open_) return FT_OK;
        open_ = false;
        ring_.Stop();
        return ftdi_usb_close(ctx_.get()) == 0 ? FT_OK : FT_IO_ERROR;
    }

    UsbIdentity Identity() const override { return identity_; }

private:
    FtdiContext ctx_;
    const UsbIdentity identity_;
    ReceiveRing ring_;
    std::chrono::milliseconds writeTimeout_{kUsbDefaultTimeoutMs};
    bool open_ = true;
};

}  // namespace

std::unique_ptr<UsbLink> OpenLibftdiLink(FtdiContext ctx, UsbIdentity identity) {
    auto opened = std::make_unique<LibftdiLink>(std::move(ctx), std::move(identity));
    if (!opened->Start()) return nullptr;  // closes on release
    return opened;
}

}  // namespace ulvarin
