#include "device/background_reader.h"

#include <chrono>

#include "device/command_response.h"
#include "device/link.h"
#include "device/lock.h"
#include "device/protocol.h"

namespace ulvarin {
namespace {

// How long one sleep on the link lasts at most: a new Follow or a stop is seen at once, so
// this only bounds how late a closed interface is noticed.
constexpr double kWaitSlice = 0.1;
constexpr auto kRetryPause = std::chrono::milliseconds(50);

}  // namespace

BackgroundReader::BackgroundReader() : thread_([this] { Run(); }) {}

BackgroundReader::~BackgroundReader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    told_.notify_all();
    thread_.join();
}

void BackgroundReader::Follow(DeviceDescr* device) {
    {
        std::lock_guard lock(mutex_);
        if (device_ == device) return;
    }
    {
        // Under the device lock: a message being read is finished first, none after.
        MpxCriticalSection exchange;
        std::lock_guard lock(mutex_);
        device_ = device;
    }
    told_.notify_all();
}

long BackgroundReader::messagesRead() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void BackgroundReader::Run() {
    MpxDevice handle;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (device_ == nullptr) {
            told_.wait(lock);
            continue;
        }
        handle.device = device_;
        lock.unlock();
        // Sleeps on the link itself, without the device lock, so others use it meanwhile.
        AwaitBytes(handle, kWaitSlice);
        const bool pause = !ReadWaiting(handle);
        lock.lock();
        // A closed interface, a failed link or bytes that cannot be read: rest until told or
        // a while has passed rather than asking again at once.
        if (pause && !stop_ && device_ == handle.device) told_.wait_for(lock, kRetryPause);
    }
}

// False when the interface is closed, its link failed, or bytes wait that could not be read.
bool BackgroundReader::ReadWaiting(MpxDevice& handle) {
    MpxCommandResponse record(false);
    for (bool any = false;; any = true) {
        // The lock keeps the interface open and the record's buffer unchanged until the hook
        // has taken the message.
        MpxCriticalSection exchange;
        if (!StillFollowing(handle)) return true;
        if (!registry::Contains(handle.device)) return false;
        handle.Clear();
        uint32_t waiting = 0;
        // A link that fails is reported (the program reacts to it) and rested on.
        if (!QueueDepth(handle, waiting)) return false;
        if (waiting == 0) return true;
        if (!ReceiveMessage(handle, record)) return any;
        if (record.letter != 0) CallBackgroundHook(handle, record);
        std::lock_guard lock(mutex_);
        ++messages_;
    }
}

bool BackgroundReader::StillFollowing(const MpxDevice& handle) const {
    std::lock_guard lock(mutex_);
    return !stop_ && device_ == handle.device;
}

}  // namespace ulvarin
