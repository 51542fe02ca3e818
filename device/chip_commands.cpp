#include "device/chip_commands.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/link.h"
#include "device/matrix_stream.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {
namespace {

// The handle's record, after checking that chips are known when `needChips`. Callers hold
// the device lock (their response record) from before this on, so no other thread closes
// the interface between the checks and the exchange.
DeviceDescr* Prepare(MpxDevice& handle, bool needChips,
                     const char* noChipText = "No chip connected.") {
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return nullptr;
    if (needChips && d->chipCount == 0) {
        ReportError(handle, kGeneralError, "%s", noChipText);
        return nullptr;
    }
    // Records, streams and buffers are sized for at most four chips.
    if (d->chipCount > kMaxChips) {
        ReportError(handle, kBadParameter, "%d chips are more than an interface carries.",
                    d->chipCount);
        return nullptr;
    }
    return d;
}

bool Simple(MpxDevice& handle, uint8_t letter, bool needChips) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    if (Prepare(handle, needChips) == nullptr) return false;
    return ExecuteCommand(handle, record, &letter, 1);
}

// Sends a frame-reading command with the caller's array as the decoding destination.
bool ReadFrame(MpxDevice& handle, const uint8_t* command, uint32_t length, uint16_t* pixels,
               uint32_t capacity, double* time) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record(true, pixels, pixels != nullptr ? capacity : 0);
    if (Prepare(handle, true) == nullptr) return false;
    if (!ExecuteCommand(handle, record, command, length)) return false;
    if (time != nullptr) *time = record.time;
    return true;
}

}  // namespace

bool SetChipDacs(MpxDevice& handle, const ChipDacRecord* records, int chips) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    DeviceDescr* d = Prepare(handle, true, "Set DACs failed: No chip connected.");
    if (d == nullptr) return false;
    if (records == nullptr) {
        ReportError(handle, kBadParameter, "Set DACs failed: no DAC settings given.");
        return false;
    }
    // The interface always takes a word for each of its chips: a shorter stream would leave
    // it waiting for the rest and swallow the next command.
    if (chips > 0 && chips < d->chipCount) {
        ReportError(handle, kBadParameter, "Set DACs failed: settings for %d of %d chips given.",
                    chips, d->chipCount);
        return false;
    }
    chips = d->chipCount;
    const ChipType type = ChipTypeOf(d->isMxr, d->isTimepix);
    const uint32_t length = 1 + DacStreamBytes(type, chips);
    // Unused bytes after the built stream are 0xFF on Timepix, as after its pre-block.
    std::vector<uint8_t> command(length, type == ChipType::Timepix ? 0xFF : 0x00);
    command[0] = 'd';
    if (type == ChipType::Timepix && !ExecuteCommand(handle, record, command.data(), length))
        return false;
    command[1] = 0xFF;
    for (int i = 0; i < chips; ++i)
        EncodeDacBlock(type, records[i], i, command.data() + 2 + kDacBlockBytes * i);
    return ExecuteCommand(handle, record, command.data(), length);
}

bool SetMatrix(MpxDevice& handle, const uint16_t* pixels, uint32_t count) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    DeviceDescr* d = Prepare(handle, true);
    if (d == nullptr) return false;
    const uint32_t needed = d->chipCount * kChipPixels;
    if (pixels == nullptr || count < needed) {
        ReportError(handle, kBadParameter, "Invalid matrix size");
        return false;
    }
    // Built apart from the receive buffer, which any message arriving while the answer is
    // awaited overwrites: a retry sends the same command again.
    const uint32_t length = FrameStreamLength(handle) + 1;
    std::vector<uint8_t> command(length, 0);
    command[0] = 'S';
    if (!MatrixToStream(d->isMxr, pixels, needed, command.data() + 1, length - 1)) {
        ReportError(handle, kBadParameter, "Matrix to stream conversion failed");
        return false;
    }
    return ExecuteCommand(handle, record, command.data(), length);
}

bool ReadMatrix(MpxDevice& handle, uint16_t* pixels, uint32_t capacity, double* time) {
    const uint8_t command = 'm';
    return ReadFrame(handle, &command, 1, pixels, capacity, time);
}

bool CloseShutterRead(MpxDevice& handle, uint16_t* pixels, uint32_t capacity, double* time) {
    const uint8_t command = 'C';
    return ReadFrame(handle, &command, 1, pixels, capacity, time);
}

bool GenerateTestPulses(MpxDevice& handle, uint16_t pulses, uint8_t third, uint16_t* pixels,
                        uint32_t capacity, double* time) {
    const uint8_t command[4] = {'O', static_cast<uint8_t>(pulses & 0xFF),
                                static_cast<uint8_t>(pulses >> 8), third};
    return ReadFrame(handle, command, 4, pixels, capacity, time);
}

bool ReadMatrixRaw(MpxDevice& handle, uint8_t* bytes, uint32_t capacity, double* time) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    if (Prepare(handle, true) == nullptr) return false;
    const uint8_t command = 'm';
    if (!ExecuteCommand(handle, record, &command, 1)) return false;
    if (bytes != nullptr && record.count > 6)
        std::memcpy(bytes, record.parameters + 6, std::min(capacity, record.count - 6));
    if (time != nullptr) *time = record.time;
    return true;
}

bool OpenShutter(MpxDevice& handle) {
    return Simple(handle, 'o', false);
}
bool ResetChips(MpxDevice& handle) {
    return Simple(handle, 'r', true);
}
bool EraseMatrix(MpxDevice& handle) {
    return Simple(handle, 'e', true);
}
bool SetDefaultMatrix(MpxDevice& handle) {
    return Simple(handle, 'E', true);
}
bool FsrTest(MpxDevice& handle) {
    return Simple(handle, 'f', true);
}
bool SelectFsr(MpxDevice& handle, int fsr) {
    return Simple(handle, fsr == 1 ? '1' : '0', false);
}
bool SetPolarity(MpxDevice& handle, bool positive) {
    return Simple(handle, positive ? 'P' : 'p', false);
}
bool PowerOn(MpxDevice& handle) {
    return Simple(handle, 'x', false);
}
bool PowerOff(MpxDevice& handle) {
    return Simple(handle, 'X', false);
}

bool SetTimepixClock(MpxDevice& handle, uint8_t index) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    if (Prepare(handle, false) == nullptr) return false;
    const uint8_t command[2] = {'3', index};
    return ExecuteCommand(handle, record, command, 2);
}

}  // namespace ulvarin
