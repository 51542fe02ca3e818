// Finding, opening and closing interfaces, and moving raw bytes to and from them.
// Every failure is reported through ReportError on the handle concerned.
#pragma once

#include <cstdint>

#include "device/device.h"

namespace ulvarin {

// Counts the compatible interfaces (description starts with CompatiblePrefix(mode)) and
// writes their descriptions, each NUL-terminated, one after the other into `names` as far
// as `capacity` allows (never a partial name). A null buffer or zero capacity only counts.
int EnumerateDevices(uint8_t mode, char* names, int capacity);

// False after reporting when `description` is missing or longer than a driver description.
bool CheckDescription(MpxDevice& report, const char* description);

// Opens the interface with this description: empties its buffers, sets the link's timeouts
// and reads its device information. Learns nothing of its chips (see OpenDevice). Returns
// the open record or nullptr after reporting why.
DeviceDescr* OpenLink(const char* description);

// Closes the handle's interface and forgets it; false when it was not open.
bool CloseDevice(MpxDevice& handle, bool quiet = false);

// The handle's open record, or nullptr after reporting "Invalid device handle.".
DeviceDescr* FindDevice(MpxDevice& handle);
// True when the handle's interface is open and its driver answers; reports nothing.
bool IsAlive(MpxDevice& handle);
// Sleeps until bytes wait in the receive queue of the handle's interface or `seconds` have
// passed, whichever comes first; at once when the handle has no open interface. Reports
// nothing and holds no lock while it sleeps.
void AwaitBytes(MpxDevice& handle, double seconds);
// Bytes waiting in the receive queue (0 after reporting a driver failure).
uint32_t QueueDepth(MpxDevice& handle);
// The same into `depth`; false after reporting a driver failure or a handle not open.
bool QueueDepth(MpxDevice& handle, uint32_t& depth);

// Reads up to `wanted` bytes (0: all waiting) into `buffer` of `capacity` bytes (0: room
// for wanted + 1); stores a NUL after them when there is room. Returns the count read.
uint32_t Receive(MpxDevice& handle, void* buffer, uint32_t wanted, uint32_t capacity);
// Writes `length` bytes (0: up to the NUL). Returns the count that went out: all of them on
// success; fewer (0 when none, or when the handle or bytes are invalid) when the driver
// failed or took only part, after reporting it. A short count is a failed transmit, and the
// bytes it counts did reach the interface, which then waits for the rest of the command.
uint32_t Transmit(MpxDevice& handle, const void* bytes, uint32_t length);

// Waiting reads. `timeout` <= 0 means 1.5 s; `gap` <= 0 means no limit on silence.
// Discards bytes until `value` arrives: count consumed including it, or minus the count
// discarded on giving up.
int WaitForByte(MpxDevice& handle, uint8_t value, double timeout, double gap);
// Reads into `buffer` until `terminator` (kept in the buffer): bytes before it, or minus
// the count stored when the buffer filled or the wait gave up.
int ReceiveUntil(MpxDevice& handle, char* buffer, int capacity, uint8_t terminator, double timeout,
                 double gap);
// Reads until `pattern` (length 0: up to the NUL) has arrived whole: the count of all bytes
// consumed, or minus it on giving up.
int SearchString(MpxDevice& handle, const char* pattern, int length, double timeout, double gap);

// The interface's description, or "- None -" when the handle has none open.
const char* DeviceName(MpxDevice& handle);

// Read-only attributes of the handle's interface (values for "no device" in brackets).
bool IsMxr(MpxDevice& handle);                  // [false]
bool IsTimepix(MpxDevice& handle);              // [false]
uint8_t ChipCount(MpxDevice& handle);           // [0]
const char* ChipIdText(MpxDevice& handle);      // [""]
uint32_t FrameStreamLength(MpxDevice& handle);  // [0]
double DefaultTimeout(MpxDevice& handle);       // [-1.0]
int DefaultAttempts(MpxDevice& handle);         // [-1]

// Sees every block of bytes moved on any interface: direction 0 received, 1 transmitted.
using TrafficHook = void (*)(MpxDevice& handle, const uint8_t* bytes, uint32_t count, int direction,
                             void* user);
void SetTrafficHook(TrafficHook hook, void* user);

}  // namespace ulvarin
