// Reset and identification: how many chips hang on an interface and of which family.
#pragma once

#include "device/device.h"

namespace ulvarin {

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
