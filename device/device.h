// The handle through which every device operation is called, the state record of one
// open interface, and the process-wide registry of open interfaces.
#pragma once

#include <cstdint>
#include <memory>

#include "device/command_response.h"
#include "device/drivers/ft_driver.h"
#include "wire/stream_layout.h"

namespace ulvarin {

struct DeviceDescr;

constexpr int kReportTextSize = 259;

// A handle: the open interface it speaks to, the last report made on it, the nesting
// level of running operations and a count of completed exchanges.
struct MpxDevice {
    explicit MpxDevice(DeviceDescr* device_ = nullptr) : device(device_) {}

    // Forgets the last report and the nesting level; keeps device and packets.
    void Clear() {
        reportTime = 0.0;
        reportKind = 0;
        reportText[0] = 0;
        level = 0;
    }
    // A report is pending while its text is not empty.
    bool HasPendingReport() const { return reportText[0] != 0; }

    DeviceDescr* device = nullptr;
    double reportTime = 0.0;
    int8_t reportKind = 0;
    char reportText[kReportTextSize] = {};
    int32_t level = 0;
    int32_t packets = 0;
};

// The state record of one open interface; owned by the registry.
struct DeviceDescr {
    explicit DeviceDescr(FtHandle handle_);
    DeviceDescr(const DeviceDescr&) = delete;
    DeviceDescr& operator=(const DeviceDescr&) = delete;

    FtHandle handle;
    uint32_t id = 0;
    uint32_t type = 0;
    char description[kFtStringSize] = {};
    char serial[kFtStringSize] = {};
    const char* displayName = serial;  // points into description or serial
    char chipIdText[65] = {};
    uint8_t clockCode = 3;
    bool isMxr = false;
    bool isTimepix = false;
    uint8_t chipCount = 0;
    std::unique_ptr<uint8_t[]> receiveBuffer;
    uint32_t receivedCount = 0;
    MpxDevice lastReport;
    int32_t frameCounter = 0;
    std::unique_ptr<uint16_t[]> backgroundFrame;
    MpxCommandResponse backgroundResponse;
    double defaultTimeout = 0.5;
    uint32_t defaultAttempts = 1;
};

// Adds 1 to the handle's level for the lifetime of the guard.
class MpxStatLeveler {
public:
    explicit MpxStatLeveler(MpxDevice& handle) : handle_(handle) { ++handle_.level; }
    ~MpxStatLeveler() { --handle_.level; }
    MpxStatLeveler(const MpxStatLeveler&) = delete;
    MpxStatLeveler& operator=(const MpxStatLeveler&) = delete;

private:
    MpxDevice& handle_;
};

// Registry of open interfaces, in the order of opening.
constexpr int kRegistrySlots = 512;

namespace registry {
// True when `device` is open (in the registry).
bool Contains(const DeviceDescr* device);
// Appends; false when all slots are taken.
bool Append(DeviceDescr* device);
// Removes and moves later entries down; false when absent.
bool Remove(const DeviceDescr* device);
int Count();
// The record at `index`, or nullptr past the end.
DeviceDescr* At(int index);
}  // namespace registry

// Text of a driver status, or "Unknown status (%u)" above the table.
const char* FtStatusText(uint32_t status);

// Description prefix that `mode & 3` accepts as compatible.
const char* CompatiblePrefix(uint8_t mode);

}  // namespace ulvarin
