#include "device/interface_commands.h"

#include <initializer_list>
#include <vector>

#include "device/conversions.h"
#include "device/link.h"
#include "device/lock.h"
#include "device/protocol.h"

namespace ulvarin {
namespace {

// Sends the letter and parameter bytes; `record` receives the response.
bool Send(MpxDevice& handle, MpxCommandResponse& record, std::vector<uint8_t> command) {
    MpxStatLeveler level(handle);
    if (FindDevice(handle) == nullptr) return false;
    return ExecuteCommand(handle, record, command.data(), static_cast<uint32_t>(command.size()));
}

bool Send(MpxDevice& handle, std::vector<uint8_t> command) {
    MpxCommandResponse record;
    return Send(handle, record, std::move(command));
}

// The open interface's clock code, else the default; reports nothing, as the command that
// follows reports a closed handle itself. Read under the device lock, so no other thread
// closes the interface between the look-up and the read.
uint8_t ClockCode(MpxDevice& handle) {
    MpxCriticalSection lock;
    return registry::Contains(handle.device) ? handle.device->clockCode : 3;
}

// Letter, six bytes of time or count, action set.
bool SetupSix(MpxDevice& handle, uint8_t letter, const uint8_t* six, uint8_t actions) {
    return Send(handle, {letter, six[0], six[1], six[2], six[3], six[4], six[5], actions});
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The 14-byte state of a timer or the counter; `asCount` keeps counts as they are.
bool TimerState(MpxDevice& handle, uint8_t letter, bool asCount, bool* running, uint8_t* actions,
                double* value, double* remaining) {
    MpxCommandResponse record;
    if (!Send(handle, record, {letter})) return false;
    const uint8_t* p = record.parameters;
    const uint8_t clock = ClockCode(handle);
    auto convert = [&](const uint8_t* six) {
        return asCount ? static_cast<double>(BytesToNumber48(six)) : BytesToSeconds(six, clock);
    };
    if (running) *running = p[0] != 0;
    if (actions) *actions = p[1];
    if (value) *value = convert(p + 2);
    if (remaining) *remaining = convert(p + 8);
    return true;
}

}  // namespace

bool SetBias(MpxDevice& handle, uint8_t code) {
    return Send(handle, {'b', code});
}

bool SetInterfaceDac(MpxDevice& handle, uint8_t channel, uint16_t code) {
    return Send(handle,
                {'>', channel, static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)});
}

bool ReadAdcs(MpxDevice& handle, uint16_t* values) {
    MpxCommandResponse record;
    if (!Send(handle, record, {'M'})) return false;
    if (values != nullptr)
        for (int i = 0; i < kAdcChannels; ++i)
            values[i] = static_cast<uint16_t>((record.parameters[2 * i] & 0x0F) * 256 +
                                              record.parameters[2 * i + 1]);
    return true;
}

bool ConfigureScope(MpxDevice& handle, uint8_t channelMask, uint16_t samples, uint8_t mode) {
    return Send(handle, {'A', channelMask, static_cast<uint8_t>(samples & 0xFF),
                         static_cast<uint8_t>(samples >> 8), mode});
}

bool ScopeSingleShot(MpxDevice& handle) {
    return Send(handle, {'a'});
}

bool SetupIntervalTimer(MpxDevice& handle, double seconds, uint8_t actions) {
    uint8_t six[6];
    SecondsToBytes(seconds, ClockCode(handle), six);
    return SetupSix(handle, 'Z', six, actions);
}

bool SetupPeriodTimer(MpxDevice& handle, double seconds, uint8_t actions) {
    uint8_t six[6];
    SecondsToBytes(seconds, ClockCode(handle), six);
    return SetupSix(handle, 'V', six, actions);
}

bool SetupCounter(MpxDevice& handle, double count, uint8_t actions) {
    uint8_t six[6];
    CountToBytes(count, six);
    return SetupSix(handle, 'K', six, actions);
}

bool SetupTrigger(MpxDevice& handle, uint8_t actions) {
    return Send(handle, {'Q', actions});
}

bool SetupFrameCounter(MpxDevice& handle, uint32_t count, uint8_t actions) {
    return Send(handle,
                {'(', static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                 static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24), actions});
}

bool MakeTodoMask(MpxDevice& handle, uint8_t actions) {
    return Send(handle, {'~', actions});
}

bool IntervalTimerState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                        double* remaining) {
    return TimerState(handle, 'z', false, running, actions, value, remaining);
}

bool PeriodTimerState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                      double* remaining) {
    return TimerState(handle, 'v', false, running, actions, value, remaining);
}

bool CounterState(MpxDevice& handle, bool* running, uint8_t* actions, double* value,
                  double* remaining) {
    return TimerState(handle, 'k', true, running, actions, value, remaining);
}

bool TriggerState(MpxDevice& handle, bool* running, uint8_t* byte1, uint8_t* byte2,
                  uint32_t* count) {
    MpxCommandResponse record;
    if (!Send(handle, record, {'q'})) return false;
    const uint8_t* p = record.parameters;
    if (running) *running = p[0] != 0;
    if (byte1) *byte1 = p[1];
    if (byte2) *byte2 = p[2];
    if (count) *count = Le32(p + 3);
    return true;
}

bool FrameCounterState(MpxDevice& handle, uint8_t* actions, uint32_t* loaded, uint32_t* current) {
    MpxCommandResponse record;
    if (!Send(handle, record, {')'})) return false;
    const uint8_t* p = record.parameters;
    if (actions) *actions = p[0];
    if (loaded) *loaded = Le32(p + 1);
    if (current) *current = Le32(p + 5);
    return true;
}

bool ReloadIntervalTimer(MpxDevice& handle) {
    return Send(handle, {'H'});
}
bool StopIntervalTimer(MpxDevice& handle) {
    return Send(handle, {'Y'});
}
bool ReloadPeriodTimer(MpxDevice& handle) {
    return Send(handle, {'u'});
}
bool StopPeriodTimer(MpxDevice& handle) {
    return Send(handle, {'U'});
}
bool ReloadCounter(MpxDevice& handle) {
    return Send(handle, {'j'});
}
bool StopCounter(MpxDevice& handle) {
    return Send(handle, {'J'});
}
bool StartTriggerWait(MpxDevice& handle) {
    return Send(handle, {'l'});
}
bool StopTriggerWait(MpxDevice& handle) {
    return Send(handle, {'L'});
}
bool AbortExposition(MpxDevice& handle) {
    return Send(handle, {'G'});
}

bool RunExposition(MpxDevice& handle, Exposition kind) {
    return Send(handle, {static_cast<uint8_t>(kind)});
}

bool CmosTest(MpxDevice& handle, uint8_t pins) {
    return Send(handle, {'I', pins});
}

bool LvdsTest(MpxDevice& handle, bool polarity, bool phase, bool enableIn, uint8_t data,
              uint8_t* received, bool* enableOut) {
    const auto mode = static_cast<uint8_t>((polarity ? 0x08 : 0) | (phase ? 0x04 : 0));
    MpxCommandResponse record;
    if (!Send(handle, record, {':', mode, static_cast<uint8_t>(enableIn ? 1 : 0), data}))
        return false;
    if (received) *received = record.parameters[0];
    if (enableOut) *enableOut = record.parameters[1] != 0;
    return true;
}

bool I2cTest(MpxDevice& handle, bool sda, bool scl, bool* sdaRead, bool* sclRead) {
    const auto lines = static_cast<uint8_t>((sda ? 0x02 : 0) | (scl ? 0x01 : 0));
    MpxCommandResponse record;
    if (!Send(handle, record, {'\'', lines})) return false;
    if (sdaRead) *sdaRead = (record.parameters[0] & 0x02) != 0;
    if (sclRead) *sclRead = (record.parameters[0] & 0x01) != 0;
    return true;
}

}  // namespace ulvarin
