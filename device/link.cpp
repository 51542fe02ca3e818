#include "device/link.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "device/clock.h"
#include "device/drivers/driver_registry.h"
#include "device/report.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr double kDefaultWait = 1.5;
constexpr uint32_t kLinkTimeoutMs = 1000;
constexpr size_t kMaxDescription = kFtStringSize - 1;

std::atomic<TrafficHook> gTrafficHook{nullptr};
std::atomic<void*> gTrafficUser{nullptr};

void Traffic(MpxDevice& handle, const void* bytes, uint32_t count, int direction) {
    TrafficHook hook = gTrafficHook.load();
    if (hook != nullptr && count > 0)
        hook(handle, static_cast<const uint8_t*>(bytes), count, direction, gTrafficUser.load());
}

// displayName: two characters after the first ':' (kept inside the text), else the serial.
void SetDisplayName(DeviceDescr& d) {
    const char* colon = std::strchr(d.description, ':');
    if (colon == nullptr) {
        d.displayName = d.serial;
        return;
    }
    const char* name = colon + 1;
    if (*name != 0) ++name;
    d.displayName = name;
}

void ReadDeviceInfo(DeviceDescr& d) {
    MpxDevice& report = d.lastReport;
    FtStatus s = Driver().GetDeviceInfo(d.handle, d.type, d.id, d.serial, d.description);
    d.serial[kMaxDescription] = 0;
    d.description[kMaxDescription] = 0;
    if (s != FT_OK) {
        ReportError(report, kNotResponding, "%s", FtStatusText(s));
        return;
    }
    ReportError(report, kMessage, "Device information acquired succesfully");
    SetDisplayName(d);
}

// Purge, timeouts and device information of a freshly opened record.
void PrepareLink(DeviceDescr& d) {
    MpxDevice& report = d.lastReport;
    if (FtStatus s = Driver().Purge(d.handle, FT_PURGE_RX | FT_PURGE_TX); s != FT_OK)
        ReportError(report, kNotResponding, "%s", FtStatusText(s));
    if (FtStatus s = Driver().SetTimeouts(d.handle, kLinkTimeoutMs, kLinkTimeoutMs); s != FT_OK)
        ReportError(report, kNotResponding, "%s", FtStatusText(s));
    ReadDeviceInfo(d);
}

// Reads the queue depth; false when the driver failed (already reported).
bool QueueDepthChecked(MpxDevice& handle, DeviceDescr& d, uint32_t& depth) {
    depth = 0;
    FtStatus s = Driver().GetStatus(d.handle, depth);
    if (s != FT_OK) {
        depth = 0;
        ReportError(handle, kNotResponding, "Can't determine queue depth - %s", FtStatusText(s));
        return false;
    }
    return true;
}

// The shared deadline logic of the waiting reads.
struct Deadlines {
    double overall;
    double gap;  // 0 when no gap limit is in force
    bool Passed(double now) const { return now >= overall || (gap > 0 && now >= gap); }
    double Remaining(double now) const {
        double until = overall;
        if (gap > 0) until = std::min(until, gap);
        return until - now;
    }
};

enum class Wait { Byte, GaveUp, Failed };

// Waits until a byte is waiting, the deadlines pass, or the driver fails.
Wait AwaitByte(MpxDevice& handle, DeviceDescr& d, const Deadlines& limits) {
    for (;;) {
        double now = Now();
        if (limits.Passed(now)) return Wait::GaveUp;
        uint32_t depth = 0;
        if (!QueueDepthChecked(handle, d, depth)) return Wait::Failed;
        if (depth > 0) return Wait::Byte;
        Driver().WaitForData(d.handle, limits.Remaining(now));
    }
}

// Reads one byte; false when the read failed or nothing came.
bool ReadOne(MpxDevice& handle, uint8_t& byte) {
    return Receive(handle, &byte, 1, 1) == 1;
}

double EffectiveTimeout(double timeout) {
    return timeout > 0 ? timeout : kDefaultWait;
}

// Deadlines of a waiting read that starts now.
Deadlines StartDeadlines(double timeout, double gap) {
    const double start = Now();
    return {start + EffectiveTimeout(timeout), gap > 0 ? start + gap : 0.0};
}

}  // namespace

int EnumerateDevices(uint8_t mode, char* names, int capacity) {
    MpxDevice report;
    uint32_t n = 0;
    if (FtStatus s = Driver().CreateDeviceInfoList(n); s != FT_OK) {
        ReportError(report, kNotResponding, "Can't create device info list: %s", FtStatusText(s));
        n = 0;
    }
    if (n == 0) {
        ReportError(report, kMessage, "No compatible device connected.");
        return 0;
    }
    ReportError(report, kMessage,
                "Connected devices (Number of all FTDI devices = %d):", static_cast<int>(n));

    const bool writing = names != nullptr && capacity > 0;
    long remaining = writing ? capacity : 0;
    bool stopped = !writing;
    char* out = names;
    if (writing) names[0] = 0;

    const char* prefix = CompatiblePrefix(mode);
    int count = 0;
    for (uint32_t i = 0; i < n; ++i) {
        char description[kFtStringSize] = {};
        if (FtStatus s = Driver().GetDeviceInfoDetail(i, description); s != FT_OK) {
            ReportError(report, kNotResponding,
                        "No device information details for %d-th device: %s", static_cast<int>(i),
                        FtStatusText(s));
            continue;
        }
        description[kMaxDescription] = 0;
        if (std::strncmp(description, prefix, std::strlen(prefix)) != 0) {
            ReportError(report, kMessage, "??: %s - Not Medipix", description);
            continue;
        }
        ++count;
        if (!stopped) {
            size_t length = std::strlen(description);
            remaining -= static_cast<long>(length) + 1;
            if (remaining < 0) {
                stopped = true;
            } else {
                std::memcpy(out, description, length + 1);
                out += length + 1;
            }
        }
        ReportError(report, kMessage, "%02d: %s", count, description);
    }
    return count;
}

bool CheckDescription(MpxDevice& report, const char* description) {
    if (description == nullptr) {
        ReportError(report, kBadParameter, "No device description given.");
        return false;
    }
    if (std::strlen(description) > kMaxDescription) {
        ReportError(report, kBadParameter,
                    "Device description too long (%zu characters, at most %zu).",
                    std::strlen(description), kMaxDescription);
        return false;
    }
    return true;
}

DeviceDescr* OpenLink(const char* description) {
    MpxDevice report;
    if (!CheckDescription(report, description)) return nullptr;
    FtHandle h = nullptr;
    if (FtStatus s = Driver().OpenEx(description, h); s != FT_OK || h == nullptr) {
        ReportError(report, kNotResponding, "%s", FtStatusText(s != FT_OK ? s : FT_OTHER_ERROR));
        return nullptr;
    }
    ReportError(report, kMessage, "Device was opened succesfully");

    auto* d = new DeviceDescr(h);
    if (!registry::Append(d)) {
        ReportError(report, kGeneralError, "Can't open device: all %d device slots are in use.",
                    kRegistrySlots);
        Driver().Close(h);
        delete d;
        return nullptr;
    }
    PrepareLink(*d);
    return d;
}

bool CloseDevice(MpxDevice& handle, bool quiet) {
    MpxStatLeveler level(handle);
    MpxCriticalSection lock;
    DeviceDescr* d = handle.device;
    if (!registry::Contains(d)) {
        if (!quiet) ReportError(handle, kBadHandle, "Invalid device handle");
        return false;
    }
    FtStatus s = Driver().Close(d->handle);
    if (!quiet) {
        if (s != FT_OK)
            ReportError(handle, kNotResponding, "%s", FtStatusText(s));
        else
            ReportError(handle, kMessage, "Device closed succesfully");
    }
    registry::Remove(d);
    delete d;
    handle.device = nullptr;
    return true;
}

DeviceDescr* FindDevice(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    if (registry::Contains(handle.device)) return handle.device;
    ReportError(handle, kBadHandle, "Invalid device handle.");
    return nullptr;
}

bool IsAlive(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    MpxCriticalSection lock;
    if (!registry::Contains(handle.device)) return false;
    uint32_t depth = 0;
    return Driver().GetStatus(handle.device->handle, depth) == FT_OK;
}

void AwaitBytes(MpxDevice& handle, double seconds) {
    FtHandle h = nullptr;
    {
        MpxCriticalSection lock;
        if (!registry::Contains(handle.device)) return;
        h = handle.device->handle;
    }
    // Without the lock, so other threads use the interface meanwhile; a handle closed during
    // the wait only ends it early (the drivers check every handle they are given).
    if (seconds > 0) Driver().WaitForData(h, seconds);
}

uint32_t QueueDepth(MpxDevice& handle) {
    uint32_t depth = 0;
    QueueDepth(handle, depth);
    return depth;
}

bool QueueDepth(MpxDevice& handle, uint32_t& depth) {
    MpxStatLeveler level(handle);
    depth = 0;
    DeviceDescr* d = FindDevice(handle);
    return d != nullptr && QueueDepthChecked(handle, *d, depth);
}

uint32_t Receive(MpxDevice& handle, void* buffer, uint32_t wanted, uint32_t capacity) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return 0;
    if (wanted == 0) {
        uint32_t depth = 0;
        if (!QueueDepthChecked(handle, *d, depth)) return 0;
        wanted = depth;
    }
    if (capacity == 0)
        capacity = wanted + 1;
    else if (capacity < wanted)
        wanted = capacity;
    if (wanted == 0) return 0;
    if (buffer == nullptr) {
        ReportError(handle, kBadParameter, "Can't receive - no buffer given");
        return 0;
    }
    uint32_t got = 0;
    FtStatus s = Driver().Read(d->handle, buffer, wanted, got);
    handle.reportTime = Now();
    if (s != FT_OK) {
        ReportError(handle, kNotResponding, "Can't receive - %s", FtStatusText(s));
        return 0;
    }
    got = std::min(got, wanted);
    Traffic(handle, buffer, got, 0);
    if (got < capacity) static_cast<uint8_t*>(buffer)[got] = 0;
    return got;
}

uint32_t Transmit(MpxDevice& handle, const void* bytes, uint32_t length) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return 0;
    if (bytes == nullptr) {
        ReportError(handle, kBadParameter, "Can't transmit - nothing to send");
        return 0;
    }
    if (length == 0) length = static_cast<uint32_t>(std::strlen(static_cast<const char*>(bytes)));
    uint32_t written = 0;
    FtStatus s = Driver().Write(d->handle, bytes, length, written);
    handle.reportTime = Now();
    written = std::min(written, length);
    // What went out before a failure reached the interface all the same.
    Traffic(handle, bytes, written, 1);
    if (s != FT_OK)
        ReportError(handle, kTransmissionFailed, "Can't transmit - %s", FtStatusText(s));
    else if (written < length)
        ReportError(handle, kTransmissionFailed, "Can't transmit - only %u of %u bytes sent",
                    written, length);
    return written;
}

int WaitForByte(MpxDevice& handle, uint8_t value, double timeout, double gap) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return 0;
    Deadlines limits = StartDeadlines(timeout, gap);
    int discarded = 0;
    for (;;) {
        if (AwaitByte(handle, *d, limits) != Wait::Byte) return -discarded;
        uint8_t byte = 0;
        if (!ReadOne(handle, byte)) return -discarded;
        if (byte == value) return discarded + 1;
        ++discarded;
    }
}

int ReceiveUntil(MpxDevice& handle, char* buffer, int capacity, uint8_t terminator, double timeout,
                 double gap) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return 0;
    if (buffer == nullptr || capacity <= 0) {
        ReportError(handle, kBadParameter, "Can't receive - no room in the buffer");
        return -1;
    }
    Deadlines limits = StartDeadlines(timeout, gap);
    int stored = 0;
    while (stored < capacity) {
        uint8_t byte = 0;
        if (AwaitByte(handle, *d, limits) != Wait::Byte || !ReadOne(handle, byte)) {
            buffer[stored] = 0;
            return -stored;
        }
        buffer[stored++] = static_cast<char>(byte);
        if (gap > 0) limits.gap = Now() + gap;
        if (byte == terminator) {
            if (stored < capacity) buffer[stored] = 0;
            return stored - 1;
        }
    }
    return -stored;
}

int SearchString(MpxDevice& handle, const char* pattern, int length, double timeout, double gap) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return 0;
    if (pattern == nullptr) return 0;
    if (length <= 0) length = static_cast<int>(std::strlen(pattern));
    if (length == 0) return 0;
    const double start = Now();
    const Deadlines limits{start + EffectiveTimeout(timeout),
                           gap > 0 ? MpxClock::LastReading() + gap : 0.0};
    const auto first = static_cast<uint8_t>(pattern[0]);
    int total = 0;
    for (;;) {
        // Look for the first character within the time that is left; none left ends it.
        double left = limits.overall - Now();
        int consumed = left > 0 ? WaitForByte(handle, first, left, gap) : 0;
        if (consumed <= 0) {
            total -= consumed;
            ReportError(handle, kNotResponding, "Searched string not detected.");
            return -total;
        }
        total += consumed;
        int matched = 1;
        for (;;) {
            if (matched == length) return total;
            Wait w = AwaitByte(handle, *d, limits);
            if (w == Wait::GaveUp) return -total;
            uint8_t byte = 0;
            if (w == Wait::Failed || !ReadOne(handle, byte)) {
                ReportError(handle, kNotResponding, "Searched string not detected.");
                return -total;
            }
            ++total;
            if (byte != static_cast<uint8_t>(pattern[matched])) break;
            ++matched;
        }
    }
}

const char* DeviceName(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    return d != nullptr ? d->description : "- None -";
}

namespace {
// Runs `get` on the handle's record, or returns `none` (after FindDevice's report).
template <typename T, typename Get>
T Attribute(MpxDevice& handle, T none, Get get) {
    DeviceDescr* d = FindDevice(handle);
    return d != nullptr ? get(*d) : none;
}
}  // namespace

bool IsMxr(MpxDevice& handle) {
    return Attribute(handle, false, [](DeviceDescr& d) { return d.isMxr; });
}
bool IsTimepix(MpxDevice& handle) {
    return Attribute(handle, false, [](DeviceDescr& d) { return d.isTimepix; });
}
uint8_t ChipCount(MpxDevice& handle) {
    return Attribute<uint8_t>(handle, 0, [](DeviceDescr& d) { return d.chipCount; });
}
const char* ChipIdText(MpxDevice& handle) {
    return Attribute<const char*>(handle, "", [](DeviceDescr& d) { return d.chipIdText; });
}
uint32_t FrameStreamLength(MpxDevice& handle) {
    return Attribute<uint32_t>(
        handle, 0, [](DeviceDescr& d) { return FrameStreamBytes(d.chipCount, d.isMxr); });
}
double DefaultTimeout(MpxDevice& handle) {
    return Attribute(handle, -1.0, [](DeviceDescr& d) { return d.defaultTimeout; });
}
int DefaultAttempts(MpxDevice& handle) {
    return Attribute(handle, -1,
                     [](DeviceDescr& d) { return static_cast<int>(d.defaultAttempts); });
}

void SetTrafficHook(TrafficHook hook, void* user) {
    gTrafficUser.store(user);
    gTrafficHook.store(hook);
}

}  // namespace ulvarin
