// Commands that act on the detector chips. Each is one exchange under the device lock;
// those that need chips refuse with "No chip connected." while none is known.
#pragma once

#include <cstdint>

#include "device/dac_tables.h"
#include "device/device.h"

namespace ulvarin {

// Loads the DACs of all chips from `records` (one per chip, chip 0 first); `chips` is the
// number of records given (0: as many as the interface has chips; fewer is refused).
// Timepix interfaces first get a block of 0xFF bytes.
bool SetChipDacs(MpxDevice& handle, const ChipDacRecord* records, int chips = 0);
// Loads the pixel configuration words (at least chipCount x 65,536).
bool SetMatrix(MpxDevice& handle, const uint16_t* pixels, uint32_t count);

// Frame reads decode straight into `pixels` (counts); `time` (seconds of the interface's
// time counter) is written only on success and only when given.
bool ReadMatrix(MpxDevice& handle, uint16_t* pixels, uint32_t capacity, double* time = nullptr);
// The raw stream after the time bytes: at most `capacity` bytes and never more than arrived.
bool ReadMatrixRaw(MpxDevice& handle, uint8_t* bytes, uint32_t capacity, double* time = nullptr);
bool CloseShutterRead(MpxDevice& handle, uint16_t* pixels, uint32_t capacity,
                      double* time = nullptr);
bool GenerateTestPulses(MpxDevice& handle, uint16_t pulses, uint8_t third, uint16_t* pixels,
                        uint32_t capacity, double* time = nullptr);

bool OpenShutter(MpxDevice& handle);
bool ResetChips(MpxDevice& handle);
bool EraseMatrix(MpxDevice& handle);
bool SetDefaultMatrix(MpxDevice& handle);
bool FsrTest(MpxDevice& handle);
bool SelectFsr(MpxDevice& handle, int fsr);  // 0 or 1
bool SetPolarity(MpxDevice& handle, bool positive);
// index 0..3: 10, 20, 40, 80 MHz.
bool SetTimepixClock(MpxDevice& handle, uint8_t index);
bool PowerOn(MpxDevice& handle);
bool PowerOff(MpxDevice& handle);

}  // namespace ulvarin
