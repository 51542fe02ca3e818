// The USB driver: every open device gets a reader thread that moves what the chip delivers
// into a host-side receive FIFO, and writes with one deadline, on top of any UsbBus (the
// libftdi1 bus of ftdi_bus.cpp, or the simulated devices of the tests). A read failure ends
// the device's reader thread and sticks to the handle; a write failure is reported for that
// write only (the reader notices a vanished device by itself).
#include "device/drivers/usb_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "device/drivers/byte_fifo.h"

namespace ulvarin {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from the chip per reader-thread call.
constexpr uint32_t kHostReadChunk = 64 * 1024;

void CopyText(const std::string& text, char (&out)[kFtStringSize]) {
    const size_t n = std::min(text.size(), static_cast<size_t>(kFtStringSize - 1));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// One open device: its link, the reader thread and the receive FIFO.
class UsbSession {
public:
    explicit UsbSession(std::unique_ptr<UsbLink> link)
        : link_(std::move(link)), identity_(link_->Identity()) {
        reader_ = std::thread([this] { ReaderLoop(); });
    }

    ~UsbSession() { Close(); }

    UsbSession(const UsbSession&) = delete;
    UsbSession& operator=(const UsbSession&) = delete;

    // Stops the reader, wakes every waiter and releases the device. Later calls on the
    // session return FT_INVALID_HANDLE; a second Close returns FT_OK and does nothing.
    FtStatus Close() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        link_->Wake();
        if (reader_.joinable()) reader_.join();
        std::lock_guard sendLock(sendMutex_);
        if (linkClosed_) return FT_OK;
        linkClosed_ = true;
        const FtStatus status = link_->Close();
        std::lock_guard lock(mutex_);
        // Releasing a device that has already vanished cannot succeed and need not.
        return failure_ != FT_OK ? FT_OK : status;
    }

    FtStatus Purge(uint32_t mask) {
        // The reader thread does the flush, between two receives, so that bytes it has
        // already taken from the chip are dropped with the rest and libftdi's read state
        // is never touched by two threads.
        std::lock_guard purgeLock(purgeMutex_);
        std::unique_lock lock(mutex_);
        if (FtStatus s = Usable(); s != FT_OK) return s;
        mask &= FT_PURGE_RX | FT_PURGE_TX;
        if (mask == 0) return FT_OK;
        purgeMask_ = mask;
        const uint64_t ticket = purgesDone_ + 1;
        changed_.notify_all();
        link_->Wake();
        changed_.wait(lock, [&] { return purgesDone_ >= ticket || Usable() != FT_OK; });
        return purgesDone_ >= ticket ? purgeResult_ : Usable();
    }

    FtStatus SetTimeouts(uint32_t readMs, uint32_t writeMs) {
        // Not during a purge: the chip's flush request uses the write timeout.
        std::lock_guard purgeLock(purgeMutex_);
        {
            std::lock_guard lock(mutex_);
            if (FtStatus s = Usable(); s != FT_OK) return s;
            readTimeout_ = std::chrono::milliseconds(readMs);
        }
        std::lock_guard sendLock(sendMutex_);
        if (linkClosed_) return FT_INVALID_HANDLE;
        link_->SetWriteTimeout(writeMs);
        return FT_OK;
    }

    FtStatus Identity(UsbIdentity& identity) {
        std::lock_guard lock(mutex_);
        if (FtStatus s = Usable(); s != FT_OK) return s;
        identity = identity_;
        return FT_OK;
    }

    FtStatus QueueDepth(uint32_t& depth) {
        std::lock_guard lock(mutex_);
        if (FtStatus s = Usable(); s != FT_OK) return s;
        depth = static_cast<uint32_t>(fifo_.Size());
        return FT_OK;
    }

    FtStatus Read(uint8_t* buffer, uint32_t wanted, uint32_t& got) {
        std::unique_lock lock(mutex_);
        if (FtStatus s = Usable(); s != FT_OK) return s;
        const auto deadline = Clock::now() + readTimeout_;
        changed_.wait_until(lock, deadline,
                            [&] { return fifo_.Size() >= wanted || Usable() != FT_OK; });
        if (FtStatus s = Usable(); s != FT_OK) return s;
        got = static_cast<uint32_t>(fifo_.Take(buffer, wanted));
        lock.unlock();
        changed_.notify_all();  // the reader may be waiting for room
        return FT_OK;
    }

    FtStatus Write(const uint8_t* bytes, uint32_t length, uint32_t& written) {
        {
            std::lock_guard lock(mutex_);
            if (FtStatus s = Usable(); s != FT_OK) return s;
        }
        std::lock_guard sendLock(sendMutex_);
        if (linkClosed_) return FT_INVALID_HANDLE;
        while (written < length) {
            uint32_t sent = 0;
            const FtStatus s = link_->Send(bytes + written, length - written, sent);
            written += std::min(sent, length - written);
            if (s != FT_OK) return s;
            if (sent == 0) return FT_IO_ERROR;  // no progress: never spin, never claim success
        }
        return FT_OK;
    }

    void WaitForData(double seconds) {
        if (!(seconds > 0)) return;  // also NaN
        const auto span = std::chrono::duration<double>(std::min(seconds, 86400.0));
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, span, [&] { return fifo_.Size() > 0 || Usable() != FT_OK; });
    }

private:
    // Requires mutex_.
    FtStatus Usable() const { return closing_ ? FT_INVALID_HANDLE : failure_; }

    void ReaderLoop() {
        std::vector<uint8_t> chunk(kHostReadChunk);
        std::unique_lock lock(mutex_);
        while (!closing_) {
            if (purgeMask_ != 0) {
                RunPurge(lock);
                continue;
            }
            if (fifo_.Size() >= kUsbFifoLimit) {
                changed_.wait(lock);
                continue;
            }
            const auto room = static_cast<uint32_t>(
                std::min<size_t>(kHostReadChunk, kUsbFifoLimit - fifo_.Size()));
            lock.unlock();
            uint32_t got = 0;
            const FtStatus status = link_->Receive(chunk.data(), room, got);
            lock.lock();
            if (status != FT_OK) {
                failure_ = status;
                changed_.notify_all();
                return;
            }
            if (got > 0) {
                fifo_.Append(chunk.data(), std::min(got, room));
                changed_.notify_all();
            }
        }
    }

    // Runs on the reader thread with `lock` held; releases it during the flush.
    void RunPurge(std::unique_lock<std::mutex>& lock) {
        const uint32_t mask = purgeMask_;
        lock.unlock();
        const FtStatus status = link_->Flush(mask);
        lock.lock();
        if (mask & FT_PURGE_RX) fifo_.Clear();
        purgeResult_ = status;
        purgeMask_ = 0;
        ++purgesDone_;
        changed_.notify_all();
    }

    const std::unique_ptr<UsbLink> link_;
    const UsbIdentity identity_;

    std::mutex mutex_;  // everything below up to sendMutex_
    std::condition_variable changed_;
    ByteFifo fifo_;
    FtStatus failure_ = FT_OK;
    bool closing_ = false;
    uint32_t purgeMask_ = 0;  // non-zero while a purge waits for the reader
    uint64_t purgesDone_ = 0;
    FtStatus purgeResult_ = FT_OK;
    std::chrono::milliseconds readTimeout_{kUsbDefaultTimeoutMs};

    std::mutex purgeMutex_;  // one purge at a time
    std::mutex sendMutex_;   // Send and SetWriteTimeout against Close of the link
    bool linkClosed_ = false;

    std::thread reader_;
};

// Hands out handle values that are addresses inside one block owned by the table, in
// rotation: no other driver's handle can equal one of ours, and a closed handle's value
// comes back only after all the other slots have been used.
class HandleTable {
public:
    // nullptr when every slot is taken.
    FtHandle Add(std::shared_ptr<UsbSession> session) {
        for (size_t i = 0; i < kSlots; ++i) {
            const size_t slot = (next_ + i) % kSlots;
            if (!slots_[slot]) {
                slots_[slot] = std::move(session);
                next_ = (slot + 1) % kSlots;
                return block_.get() + slot;
            }
        }
        return nullptr;
    }

    std::shared_ptr<UsbSession> Find(FtHandle handle) const {
        const auto slot = SlotOf(handle);
        return slot ? slots_[*slot] : nullptr;
    }

    std::shared_ptr<UsbSession> Remove(FtHandle handle) {
        const auto slot = SlotOf(handle);
        return slot ? std::exchange(slots_[*slot], nullptr) : nullptr;
    }

    std::vector<std::shared_ptr<UsbSession>> RemoveAll() {
        std::vector<std::shared_ptr<UsbSession>> all;
        for (auto& slot : slots_)
            if (slot) all.push_back(std::exchange(slot, nullptr));
        return all;
    }

private:
    static constexpr size_t kSlots = 256;

    std::optional<size_t> SlotOf(FtHandle handle) const {
        const auto address = reinterpret_cast<uintptr_t>(handle);
        const auto base = reinterpret_cast<uintptr_t>(block_.get());
        if (address < base || address >= base + kSlots) return std::nullopt;
        return address - base;
    }

    std::unique_ptr<char[]> block_ = std::make_unique<char[]>(kSlots);
    std::vector<std::shared_ptr<UsbSession>> slots_ =
        std::vector<std::shared_ptr<UsbSession>>(kSlots);
    size_t next_ = 0;
};

class UsbDriver final : public FtDriver {
public:
    explicit UsbDriver(std::shared_ptr<UsbBus> bus) : bus_(std::move(bus)) {}

    ~UsbDriver() override {
        std::vector<std::shared_ptr<UsbSession>> open;
        {
            std::lock_guard lock(mutex_);
            open = handles_.RemoveAll();
        }
        for (auto& session : open) session->Close();
    }

    FtStatus CreateDeviceInfoList(uint32_t& count) override {
        count = 0;
        std::vector<UsbListing> found;
        const FtStatus status = bus_->List(found);
        std::lock_guard lock(mutex_);
        if (status != FT_OK) found.clear();
        listing_ = std::move(found);
        count = static_cast<uint32_t>(listing_.size());
        return status;
    }

    FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) override {
        description[0] = '\0';
        std::lock_guard lock(mutex_);
        if (index >= listing_.size()) return FT_DEVICE_NOT_FOUND;
        const UsbListing& entry = listing_[index];
        if (entry.status == FT_OK) CopyText(entry.description, description);
        return entry.status;
    }

    FtStatus OpenEx(const char* description, FtHandle& handle) override {
        handle = nullptr;
        if (description == nullptr) return FT_INVALID_PARAMETER;
        if (*description == '\0') return FT_DEVICE_NOT_FOUND;
        std::unique_ptr<UsbLink> link;
        const FtStatus status = bus_->Open(description, link);
        if (status != FT_OK) return status;
        if (!link) return FT_OTHER_ERROR;
        std::shared_ptr<UsbSession> session;
        try {
            session = std::make_shared<UsbSession>(std::move(link));
        } catch (const std::system_error&) {  // no thread could be started
            return FT_INSUFFICIENT_RESOURCES;
        }
        std::lock_guard lock(mutex_);
        handle = handles_.Add(session);
        if (handle == nullptr) return FT_INSUFFICIENT_RESOURCES;  // session closes on release
        return FT_OK;
    }

    FtStatus Purge(FtHandle handle, uint32_t mask) override {
        auto session = Find(handle);
        return session ? session->Purge(mask) : FT_INVALID_HANDLE;
    }

    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override {
        auto session = Find(handle);
        return session ? session->SetTimeouts(readMs, writeMs) : FT_INVALID_HANDLE;
    }

    FtStatus GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                           char (&serial)[kFtStringSize],
                           char (&description)[kFtStringSize]) override {
        UsbIdentity identity;
        auto session = Find(handle);
        const FtStatus status = session ? session->Identity(identity) : FT_INVALID_HANDLE;
        type = identity.type;
        id = identity.id;
        CopyText(identity.serial, serial);
        CopyText(identity.description, description);
        return status;
    }

    FtStatus GetStatus(FtHandle handle, uint32_t& rxQueue) override {
        rxQueue = 0;
        auto session = Find(handle);
        return session ? session->QueueDepth(rxQueue) : FT_INVALID_HANDLE;
    }

    FtStatus Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) override {
        got = 0;
        auto session = Find(handle);
        if (!session) return FT_INVALID_HANDLE;
        if (buffer == nullptr && wanted > 0) return FT_INVALID_PARAMETER;
        return session->Read(static_cast<uint8_t*>(buffer), wanted, got);
    }

    FtStatus Write(FtHandle handle, const void* bytes, uint32_t length,
                   uint32_t& written) override {
        written = 0;
        auto session = Find(handle);
        if (!session) return FT_INVALID_HANDLE;
        if (bytes == nullptr && length > 0) return FT_INVALID_PARAMETER;
        return session->Write(static_cast<const uint8_t*>(bytes), length, written);
    }

    FtStatus Close(FtHandle handle) override {
        std::shared_ptr<UsbSession> session;
        {
            std::lock_guard lock(mutex_);
            session = handles_.Remove(handle);
        }
        return session ? session->Close() : FT_INVALID_HANDLE;
    }

    void WaitForData(FtHandle handle, double seconds) override {
        if (auto session = Find(handle)) session->WaitForData(seconds);
    }

private:
    // Callers keep the session alive while they use it, even if another thread closes
    // the handle meanwhile (the session then answers FT_INVALID_HANDLE).
    std::shared_ptr<UsbSession> Find(FtHandle handle) {
        std::lock_guard lock(mutex_);
        return handles_.Find(handle);
    }

    const std::shared_ptr<UsbBus> bus_;
    std::mutex mutex_;
    std::vector<UsbListing> listing_;
    HandleTable handles_;
};

}  // namespace

std::shared_ptr<FtDriver> MakeUsbDriver(std::shared_ptr<UsbBus> bus) {
    return std::make_shared<UsbDriver>(std::move(bus));
}

}  // namespace ulvarin
