// A stand-in for the libusb-1.0 functions that libftdi1 and the USB driver call. An
// executable that links this folder's objects and exports its symbols (ENABLE_EXPORTS) makes
// the unmodified libftdi1 shared library talk to these fake devices instead of the machine's
// buses.
//
// Each fake device is a high-speed FTDI chip with one, two or four channels; behind a channel
// sits an emulated interface (sim/). Bytes the host writes reach the interface at once; its
// answers come back in max-packet-size packets, each starting with the two modem-status
// bytes, through a chip buffer of 4 KiB that is emptied only while the host has a bulk read
// waiting, at the channel's rate and latency. The chip's latency timer ends a read with a
// short (or status-only) packet as the real chip does.
//
// Time moves with the host's calls: whatever the host does not wait for happens when it next
// calls in, with the elapsed time accounted for. Every function here is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulated_interface.h"
#include "sim/interface_config.h"
#include "sim/link_model.h"

namespace ulvarin::usbfake {

struct DeviceModel {
    // 0x6010 has two channels, 0x6011 four, the others one.
    uint16_t product = 0x6014;
    std::string manufacturer = "FTDI";
    std::string description;  // empty: the device has no product string
    std::string serial;
    // The interface behind each channel; a channel without one never answers.
    std::vector<sim::InterfaceConfig> interfaces;
    uint16_t maxPacketSize = 512;
};

// One vendor request as the chip received it.
struct ControlRequest {
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
};

using DeviceId = int;

// Plugs a device in; it is listed from now on.
DeviceId Plug(DeviceModel model);
// Pulls the cable: transfers in flight end with "no device", later calls fail likewise.
void Unplug(DeviceId device);
// Unplugs and forgets every device, forgets counters and faults (between tests).
void Reset();

// The wire from channel `channel` (0 = A) to the host.
void SetTiming(DeviceId device, int channel, sim::LinkTiming timing);
// Runs `action` on the channel's interface under the fake's lock.
void WithInterface(DeviceId device, int channel,
                   const std::function<void(sim::EmulatedInterface&)>& action);

// --- faults on a channel -----------------------------------------------------------------
// The next bulk read ends with a timeout as soon as it holds at least `bytes` data bytes
// (whole packets), keeping what it holds.
void TimeOutNextRead(DeviceId device, int channel, size_t bytes);
// As TimeOutNextRead, but the read ends with a stall and the endpoint stays halted (every
// read fails at once) until the host clears the halt.
void StallNextRead(DeviceId device, int channel, size_t bytes);
// Failures that end a read at once, holding no data, as a host controller reports them.
enum class ReadFailure { kTransferError, kOverflow };
// The next `count` bulk reads fail with `failure` (after any failures already queued).
void FailNextReads(DeviceId device, int channel, size_t count, ReadFailure failure);
// The cable is pulled once `bytes` more data bytes have reached the host on this channel.
void UnplugAfterRead(DeviceId device, int channel, size_t bytes);
// The chip takes the host's bytes at this rate (0: at once); a write that cannot finish
// within its timeout ends with a timeout, counting the bytes taken.
void SetWriteRate(DeviceId device, int channel, double bytesPerSecond);

// --- what happened -----------------------------------------------------------------------
// Calls of the libusb function `name` since the last Reset.
size_t Calls(const std::string& name);
// The vendor requests the device received, in order.
std::vector<ControlRequest> ControlLog(DeviceId device);
// Bytes the interface on a channel received from the host.
size_t BytesWritten(DeviceId device, int channel);
// Data bytes that reached the host on a channel.
size_t BytesRead(DeviceId device, int channel);

}  // namespace ulvarin::usbfake
