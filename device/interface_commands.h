// Commands for the interface's own hardware: bias, the two analog outputs, the ADC
// monitor, the scope, and the timers, counters and trigger that run processes.
// State queries write each result only on success and only where a place is given.
#pragma once

#include <cstdint>

#include "device/device.h"

namespace ulvarin {

constexpr int kAdcChannels = 13;

bool SetBias(MpxDevice& handle, uint8_t code);
bool SetInterfaceDac(MpxDevice& handle, uint8_t channel, uint16_t code);
// 13 twelve-bit readings.
bool ReadAdcs(MpxDevice& handle, uint16_t* values);
bool ConfigureScope(MpxDevice& handle, uint8_t channelMask, uint16_t samples, uint8_t mode);
bool ScopeSingleShot(MpxDevice& handle);

bool SetupIntervalTimer(MpxDevice& handle, double seconds, uint8_t actions);
bool SetupPeriodTimer(MpxDevice& handle, double seconds, uint8_t actions);
bool SetupCounter(MpxDevice& handle, double count, uint8_t actions);
bool SetupTrigger(MpxDevice& handle, uint8_t actions);
bool SetupFrameCounter(MpxDevice& handle, uint32_t count, uint8_t actions);
bool MakeTodoMask(MpxDevice& handle, uint8_t actions);

// Running flag, action set, value and remaining value (seconds; counts for the counter).
bool IntervalTimerState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                        double* remaining);
bool PeriodTimerState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                      double* remaining);
bool CounterState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                  double* remaining);
// Running flag, bytes 1 and 2 as they came, and the 32-bit count.
bool TriggerState(MpxDevice& handle, bool* running, uint8_t* byte1, uint8_t* byte2,
                  uint32_t* count);
// Action set, loaded count and current count.
bool FrameCounterState(MpxDevice& handle, uint8_t* actions, uint32_t* loaded, uint32_t* current);

bool ReloadIntervalTimer(MpxDevice& handle);
bool StopIntervalTimer(MpxDevice& handle);
bool ReloadPeriodTimer(MpxDevice& handle);
bool StopPeriodTimer(MpxDevice& handle);
bool ReloadCounter(MpxDevice& handle);
bool StopCounter(MpxDevice& handle);
bool StartTriggerWait(MpxDevice& handle);
bool StopTriggerWait(MpxDevice& handle);
bool AbortExposition(MpxDevice& handle);

// The interface's built-in expositions. Each erases the counters first, opens the shutter
// for the interval timer's time per exposure and sends every frame in the background as
// soon as it is read out; the sources' action sets take no part.
enum class Exposition : uint8_t {
    kSingle = 'g',    // one exposure
    kMultiple = 'h',  // frame counter + 1 exposures back to back
    kPeriodic = '&',  // frame counter + 1 exposures, one at the start of every period
};
bool RunExposition(MpxDevice& handle, Exposition kind);

// Line tests with a dummy chipboard in place of the detector.

// Drives the eight CMOS control pins: bit i of `pins` sets pin i.
bool CmosTest(MpxDevice& handle, uint8_t pins);
// Sends `data` over the LVDS lines with the given polarity, phase and enable-in. On
// success writes the byte the board sent back and its enable-out flag where places are
// given.
bool LvdsTest(MpxDevice& handle, bool polarity, bool phase, bool enableIn, uint8_t data,
              uint8_t* received, bool* enableOut);
// Drives the clock synthesizer's two I2C lines. On success writes the levels read back
// where places are given.
bool I2cTest(MpxDevice& handle, bool sda, bool scl, bool* sdaRead, bool* sclRead);

}  // namespace ulvarin
