// A thread that takes in what one interface sends on its own as soon as it arrives, so a
// program's own thread (a window's) never waits on the link for it. It sleeps until bytes
// come, then hands each message to the background hook under the device lock, as the
// monitoring thread does when it sweeps every interface.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/device.h"

namespace ulvarin {

class BackgroundReader {
public:
    BackgroundReader();
    // Stops the thread and waits for it; a message being read is finished first.
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    // Reads from `device` from now on; nullptr: from none (the thread sleeps until told).
    // Once it returns nothing more is read from the device followed before. A device
    // closed meanwhile is noticed and rested on, never used after its close.
    void Follow(DeviceDescr* device);
    // Messages handed to the hook since the start.
    long messagesRead() const;

private:
    void Run();
    // Reads and hands on what is waiting; false when nothing could be read.
    bool ReadWaiting(MpxDevice& handle);
    bool StillFollowing(const MpxDevice& handle) const;

    mutable std::mutex mutex_;
    std::condition_variable told_;
    DeviceDescr* device_ = nullptr;
    bool stop_ = false;
    long messages_ = 0;
    std::thread thread_;
};

}  // namespace ulvarin
