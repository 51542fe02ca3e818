// Opening an interface and learning how many chips hang on it and of which family.
#pragma once

#include <cstdint>

#include "device/device.h"

namespace ulvarin {

// Opens the interface with this description. With `reset`, resets it and learns its chips;
// without (a soft open), takes `mxr`, `chipCount` and `timepix` (which implies mxr) as given,
// so a running Timepix interface is reattached as Timepix; a soft open of other than 1 to 4
// chips is refused. Returns the open record (also when the reset failed) or nullptr.
DeviceDescr* OpenDevice(const char* description, bool reset, bool mxr, uint8_t chipCount,
                        bool timepix = false);

// Sends the global reset (3 attempts) and reads the interface's restart line, which sets
// chipCount and, for MXR and Timepix chips, isMxr / isTimepix.
bool ResetInterface(MpxDevice& handle);

// Reads the chips' identification codes into chipIdText, then
// copies the text into `buffer`: at most `capacity` characters (negative: 64), the rest of
// the buffer NUL-filled and its last byte always NUL.
// Codes naming another chip family than the open interface's are refused (reported, false,
// chipIdText and the family unchanged): every command is laid out for the family found at
// the reset.
bool ReadChipIds(MpxDevice& handle, char* buffer, int capacity);

// Reads the firmware's version text into `buffer` (cut to capacity - 1, NUL-terminated).
bool ReadVersionInfo(MpxDevice& handle, char* buffer, int capacity);

}  // namespace ulvarin
