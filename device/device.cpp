#include "device/device.h"

#include <algorithm>
#include <cstdio>

#include "device/lock.h"

namespace ulvarin {

DeviceDescr::DeviceDescr(FtHandle handle_)
    : handle(handle_),
      receiveBuffer(new uint8_t[kReceiveBufferSize]()),
      backgroundFrame(new uint16_t[kMaxPixels]()),
      backgroundResponse(false, backgroundFrame.get(), kMaxPixels) {}

namespace registry {
namespace {
DeviceDescr* gSlots[kRegistrySlots];
int gCount = 0;
}  // namespace

bool Contains(const DeviceDescr* device) {
    if (device == nullptr) return false;
    std::lock_guard lock(MCriticalSection());
    return std::find(gSlots, gSlots + gCount, device) != gSlots + gCount;
}

bool Append(DeviceDescr* device) {
    std::lock_guard lock(MCriticalSection());
    if (gCount >= kRegistrySlots) return false;
    gSlots[gCount++] = device;
    return true;
}

bool Remove(const DeviceDescr* device) {
    std::lock_guard lock(MCriticalSection());
    auto* end = gSlots + gCount;
    auto* it = std::find(gSlots, end, device);
    if (it == end) return false;
    std::copy(it + 1, end, it);
    --gCount;
    return true;
}

int Count() {
    std::lock_guard lock(MCriticalSection());
    return gCount;
}

DeviceDescr* At(int index) {
    std::lock_guard lock(MCriticalSection());
    return index >= 0 && index < gCount ? gSlots[index] : nullptr;
}

}  // namespace registry

const char* FtStatusText(uint32_t status) {
    static const char* const kTexts[] = {
        "OK",
        "Invalid handle",
        "Device not found",
        "Device not opened",
        "IO error",
        "Insuficient resources",
        "Invalid parameter",
        "Invalid baud rate",
        "Device not opened for erase",
        "Device not opened for write",
        "Failed to write device",
        "EEPROM read failed",
        "EEPROM write failed",
        "EEPROM erase failed",
        "EEPROM not present",
        "EEPROM not programmed",
        "Invalid Args",
        "Not supported",
        "Other Error",
    };
    if (status < std::size(kTexts)) return kTexts[status];
    thread_local char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown status (%u)", status);
    return unknown;
}

const char* CompatiblePrefix(uint8_t mode) {
    static const char* const kPrefixes[] = {"", "Medipix2 ver ", "Medipix2 3V ver ", "Medipix2 "};
    return kPrefixes[mode & 3];
}

}  // namespace ulvarin
