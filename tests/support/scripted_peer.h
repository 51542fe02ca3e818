// A driver for tests: plays scripted byte sequences (with delays) to the host and records
// every byte the host writes, so link and protocol tests can check exact bytes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "device/drivers/ft_driver.h"

namespace ulvarin::test {

class ScriptedPeer : public FtDriver {
public:
    using Clock = std::chrono::steady_clock;

    struct DeviceEntry {
        std::string description;
        std::string serial;
    };

    // Devices listed by CreateDeviceInfoList, in order. Any of them can be opened.
    void AddDevice(std::string description, std::string serial = "S000");
    // Makes the next call of the named driver function fail with `status`
    // (names: "CreateDeviceInfoList", "GetDeviceInfoDetail", "OpenEx", "Purge",
    // "SetTimeouts", "GetDeviceInfo", "GetStatus", "Read", "Write", "Close").
    void FailNext(const std::string& call, FtStatus status);
    // Makes every later call of `call` fail with `status` (FT_OK clears).
    void FailAlways(const std::string& call, FtStatus status);

    // Bytes that arrive `delay` seconds after the previously scheduled bytes arrive
    // (or after now, when nothing is pending).
    void Play(const std::string& bytes, double delay = 0);
    // Bytes that arrive `delay` seconds after the host's next write (queued in order:
    // each write triggers the oldest waiting reply).
    void ReplyToWrite(const std::string& bytes, double delay = 0);

    // Everything the host wrote, concatenated.
    std::string Written() const;
    void ClearWritten();
    int WriteCalls() const;
    int ReadCalls() const;
    int OpenCalls() const;
    int DetailCalls() const;
    // Bytes scheduled but not yet read by the host.
    size_t Pending() const;
    // Read timeout the host last set (ms).
    uint32_t ReadTimeoutMs() const;

    FtStatus CreateDeviceInfoList(uint32_t& count) override;
    FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) override;
    FtStatus OpenEx(const char* description, FtHandle& handle) override;
    FtStatus Purge(FtHandle handle, uint32_t mask) override;
    FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
    FtStatus GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                           char (&serial)[kFtStringSize],
                           char (&description)[kFtStringSize]) override;
    FtStatus GetStatus(FtHandle handle, uint32_t& rxQueue) override;
    FtStatus Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) override;
    FtStatus Write(FtHandle handle, const void* bytes, uint32_t length, uint32_t& written) override;
    FtStatus Close(FtHandle handle) override;
    void WaitForData(FtHandle handle, double seconds) override;

private:
    // Bytes are consumed by moving `taken` forward, never by erasing from the front, so a
    // large answer read a byte at a time stays linear.
    struct Chunk {
        Clock::time_point at;
        std::string bytes;
        size_t taken = 0;
        size_t Left() const { return bytes.size() - taken; }
    };
    struct Reply {
        std::string bytes;
        double delay;
    };

    FtStatus Injected(const std::string& call);  // under mutex_
    size_t AvailableLocked(Clock::time_point now) const;
    Clock::time_point NextArrivalLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<DeviceEntry> devices_;
    std::vector<std::pair<std::string, FtStatus>> failNext_;
    std::vector<std::pair<std::string, FtStatus>> failAlways_;
    std::deque<Chunk> chunks_;  // ordered by arrival time
    std::deque<Reply> replies_;
    std::string written_;
    int writeCalls_ = 0;
    int readCalls_ = 0;
    int openCalls_ = 0;
    int detailCalls_ = 0;
    uint32_t readTimeoutMs_ = 1000;
    int openIndex_ = -1;
    bool open_ = false;
    char handleToken_ = 0;  // its address is the handle
};

}  // namespace ulvarin::test
