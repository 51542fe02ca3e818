// The driver seam: the handful of USB-serial driver calls the link layer uses.
// Drivers (real USB, the emulator, test peers) implement FtDriver; the link layer
// talks to whichever one is installed.
#pragma once

#include <cstdint>
#include <memory>

namespace ulvarin {

// Driver status codes; values 0..18 have texts in the link layer.
enum FtStatus : uint32_t {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
};

// Purge masks.
constexpr uint32_t FT_PURGE_RX = 1;
constexpr uint32_t FT_PURGE_TX = 2;

// Opaque per-open handle; each driver hands out its own unique pointers.
using FtHandle = void*;

// Size of description and serial buffers, NUL included.
constexpr int kFtStringSize = 64;

class FtDriver {
public:
    virtual ~FtDriver() = default;

    // Number of devices the driver can see now.
    virtual FtStatus CreateDeviceInfoList(uint32_t& count) = 0;
    // Description of device i (as listed by the last CreateDeviceInfoList), NUL-terminated.
    virtual FtStatus GetDeviceInfoDetail(uint32_t index, char (&description)[kFtStringSize]) = 0;
    // Opens the device whose description equals `description` exactly.
    virtual FtStatus OpenEx(const char* description, FtHandle& handle) = 0;
    virtual FtStatus Purge(FtHandle handle, uint32_t mask) = 0;
    virtual FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) = 0;
    virtual FtStatus GetDeviceInfo(FtHandle handle, uint32_t& type, uint32_t& id,
                                   char (&serial)[kFtStringSize],
                                   char (&description)[kFtStringSize]) = 0;
    // Bytes waiting in the receive queue.
    virtual FtStatus GetStatus(FtHandle handle, uint32_t& rxQueue) = 0;
    // Waits up to the read timeout for all `wanted` bytes; `got` tells how many arrived.
    virtual FtStatus Read(FtHandle handle, void* buffer, uint32_t wanted, uint32_t& got) = 0;
    virtual FtStatus Write(FtHandle handle, const void* bytes, uint32_t length,
                           uint32_t& written) = 0;
    virtual FtStatus Close(FtHandle handle) = 0;

    // Sleeps until at least one byte is waiting or `seconds` have passed (whichever comes
    // first); returns early too when the handle is no longer usable. Never reads.
    virtual void WaitForData(FtHandle handle, double seconds) = 0;
};

}  // namespace ulvarin
