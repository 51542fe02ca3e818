// Real interfaces on USB: the driver over any bus of FTDI devices.
//
// The driver keeps one reader thread per open device that moves every byte the chip
// delivers into a host-side receive FIFO, so that:
//  - GetStatus reports the exact number of bytes waiting,
//  - Read waits up to the read timeout for all requested bytes and then returns what
//    arrived (FT_OK with fewer bytes when the time ran out),
//  - WaitForData sleeps on the FIFO instead of polling.
// Once the device fails (cable pulled, transfer error), every later call on its handle
// except Close returns the failure status (FT_DEVICE_NOT_FOUND or FT_IO_ERROR), and
// waiters wake at once. Close always releases the handle; a second Close of the same
// handle returns FT_INVALID_HANDLE.
//
// Enumeration when USB itself is unusable (libusb cannot start or cannot list the buses)
// returns a failure status with a count of 0; the composite driver then shows the other
// drivers' devices as usual.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/drivers/ft_driver.h"

namespace ulvarin {

// The receive FIFO of one open device holds at most this many bytes; while it is full the
// driver takes nothing more from the chip, whose own buffer then holds the data back.
constexpr uint32_t kUsbFifoLimit = 16u << 20;
// Read and write timeout of a freshly opened device, in milliseconds.
constexpr uint32_t kUsbDefaultTimeoutMs = 1000;

// One device as enumeration found it. status is FT_OK when its description could be asked
// (the description is empty when the device has none); otherwise it says why not, and the
// device stays listed so that the indices of the others do not shift.
struct UsbListing {
    std::string description;
    FtStatus status = FT_OK;
};

// What an opened device says about itself.
struct UsbIdentity {
    uint32_t type = 0;  // FTDI device type code
    uint32_t id = 0;    // (vendor ID << 16) | product ID
    std::string serial;
    std::string description;
};

// Raw access to one opened device, without host-side queueing. The driver calls Receive
// and Flush from the device's reader thread only; Send, SetWriteTimeout and Close come
// from callers' threads, never concurrently with each other, and Close only after the
// reader thread has ended. Send has one deadline, the write timeout, for all its bytes.
class UsbLink {
public:
    virtual ~UsbLink() = default;
    // Moves up to `capacity` bytes that the chip has ready into `buffer`, waiting only a
    // short while when it has none. FT_OK with got == 0 means "nothing yet"; any other
    // status means the device can no longer be used.
    virtual FtStatus Receive(uint8_t* buffer, uint32_t capacity, uint32_t& got) = 0;
    // Sends bytes; `sent` counts those the chip took before any failure.
    virtual FtStatus Send(const uint8_t* bytes, uint32_t length, uint32_t& sent) = 0;
    // Empties the chip's receive (FT_PURGE_RX) and/or transmit (FT_PURGE_TX) buffers.
    virtual FtStatus Flush(uint32_t mask) = 0;
    // 0 selects kUsbDefaultTimeoutMs (a USB transfer cannot be told "do not wait").
    virtual void SetWriteTimeout(uint32_t ms) = 0;
    // Makes a Receive that is waiting return soon; callable from any thread.
    virtual void Wake() {}
    // Releases the device; nothing else is called afterwards.
    virtual FtStatus Close() = 0;
    virtual UsbIdentity Identity() const = 0;
};

// The FTDI devices attached to this machine.
class UsbBus {
public:
    virtual ~UsbBus() = default;
    // Lists the devices attached now, in bus order.
    virtual FtStatus List(std::vector<UsbListing>& devices) = 0;
    // Opens the first device whose description equals `description` and prepares it for
    // use (buffers emptied, latency timer low, default timeouts). FT_DEVICE_NOT_FOUND when
    // no device matches; `link` stays empty on any failure.
    virtual FtStatus Open(const std::string& description, std::unique_ptr<UsbLink>& link) = 0;
};

// A driver for the devices of `bus` (tests pass a bus of simulated devices). Read timeouts
// of 0 make Read return at once with what is waiting; an empty description never opens.
std::shared_ptr<FtDriver> MakeUsbDriver(std::shared_ptr<UsbBus> bus);

}  // namespace ulvarin
