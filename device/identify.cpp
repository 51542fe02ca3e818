#include "device/identify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr char kOnLine[] = "!Unit is on line. ";
constexpr size_t kOnLineLength = 18;
constexpr int kChipIdCapacity = 64;
constexpr int kMaxChipIdEntries = kChipIdCapacity / 8;

uint8_t ReverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Parses the chip report after the prefixes; false when it is in neither form.
bool ParseChipReport(DeviceDescr& d, const char* report) {
    int chips = 0;
    if (std::sscanf(report, "Medipix chips: %d Ready", &chips) == 1) {
        if (chips < 0 || chips > kMaxChips) return false;
        d.chipCount = static_cast<uint8_t>(chips);
        return true;
    }
    char type[4] = "   ";
    int second = 0;
    if (std::sscanf(report, "Medipix %c%c%c chips: %d Medipix chips: %d Ready", &type[0], &type[1],
                    &type[2], &chips, &second) != 5)
        return false;
    if (chips < 0 || chips > kMaxChips) return false;
    if (std::strcmp(type, "MXR") == 0) d.isMxr = true;
    if (std::strcmp(type, "TPX") == 0) d.isMxr = d.isTimepix = true;
    d.chipCount = static_cast<uint8_t>(chips);
    return true;
}

// The chip family the identification codes name: Medipix2 chips answer all zeros, which
// names no family; any other code is an MXR, or a Timepix when its bit says so.
struct IdFamily {
    bool named = false;
    bool timepix = false;
};

// Appends one chip's entry to `text` and notes the family its code names.
void AppendChipId(IdFamily& family, const uint8_t* record, char* text, size_t room) {
    const uint8_t a = ReverseBits(record[1]);
    const uint8_t b = ReverseBits(record[2]);
    const uint8_t c = ReverseBits(record[3]);
    const size_t used = std::strlen(text);
    if (a == 0 && b == 0 && (c & 7) == 0) {
        std::snprintf(text + used, room - used, "000-W000 ");
        return;
    }
    family.named = true;
    if (c & 8) family.timepix = true;
    std::snprintf(text + used, room - used, "%c%02d-W%04d ", 0x40 + (a & 0x0F), 12 - (a >> 4),
                  ((c & 7) << 8) | b);
}

void Identify(DeviceDescr& d, bool reset, bool mxr, uint8_t chipCount, bool timepix) {
    if (!reset) {
        d.isMxr = mxr || timepix;
        d.isTimepix = timepix;
        d.chipCount = chipCount;
        return;
    }
    MpxDevice handle(&d);
    const bool mxrFound = ResetInterface(handle) && d.isMxr;
    if (!(mxrFound && ReadChipIds(handle, d.chipIdText, 64)))
        std::strncpy(d.chipIdText, d.displayName, sizeof d.chipIdText - 1);
}

}  // namespace

DeviceDescr* OpenDevice(const char* description, bool reset, bool mxr, uint8_t chipCount,
                        bool timepix) {
    MpxDevice report;
    if (!CheckDescription(report, description)) return nullptr;
    // Every command lays its data out for at most four chips.
    if (!reset && (chipCount < 1 || chipCount > kMaxChips)) {
        ReportError(report, kBadParameter, "Soft open needs 1 to %d chips (%d given).", kMaxChips,
                    chipCount);
        return nullptr;
    }
    DeviceDescr* d = OpenLink(description);
    if (d != nullptr) Identify(*d, reset, mxr, chipCount, timepix);
    return d;
}

bool ResetInterface(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return false;
    if (!ExecuteCommand(handle, record, "_", 1, -1.0, 3)) return false;

    char line[512];
    const int n = ReceiveUntil(handle, line, 511, '\r', 10.0, 2.0);
    if (n <= 0) {
        d->chipCount = 0;
        // Silence leaves only the command's own success on the handle; never report the
        // missing line as anything milder than an unresponsive device.
        const int8_t kind = handle.reportKind > kMessage ? handle.reportKind : kNotResponding;
        ReportError(handle, kind, "Reset command failed. Bad response.");
        return false;
    }
    line[n] = 0;  // drop the CR
    if (std::strncmp(line, kOnLine, kOnLineLength) != 0) {
        ReportError(handle, kFatalError, "Reset command failed. Bad response format: %s", line);
        return false;
    }
    const char* rest = line + kOnLineLength;
    int retries = 0;
    while (std::strncmp(rest, kOnLine, kOnLineLength) == 0) {
        rest += kOnLineLength;
        ++retries;
    }
    if (retries > 0)
        ReportError(handle, kMessage, "%d retries needed to reset the interface.", retries);
    if (!ParseChipReport(*d, rest)) {
        ReportError(handle, kFatalError, "Reset command failed. Bad response format: %s", line);
        return false;
    }
    return true;
}

bool ReadChipIds(MpxDevice& handle, char* buffer, int capacity) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return false;
    if (!ExecuteCommand(handle, record, "|")) return false;

    char text[kChipIdCapacity + 1] = {};
    const int chips =
        std::min<int>({d->chipCount, kMaxChipIdEntries, static_cast<int>(record.count / 4)});
    IdFamily family;
    for (int i = 0; i < chips; ++i)
        AppendChipId(family, record.parameters + 4 * i, text, sizeof text);
    // The family was learnt at the reset (or given at a soft open) and every command is laid
    // out for it; codes naming another one are a spoilt answer, not a new chip.
    if (family.named && (!d->isMxr || family.timepix != d->isTimepix)) {
        ReportError(handle, kDeviceError,
                    "Chip identification names %s chips, the interface has %s chips; "
                    "identification refused.",
                    family.timepix ? "Timepix" : "MXR",
                    !d->isMxr      ? "Medipix2"
                    : d->isTimepix ? "Timepix"
                                   : "MXR");
        return false;
    }
    const size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == ' ') text[length - 1] = 0;
    std::memcpy(d->chipIdText, text, sizeof text);

    if (capacity < 0) capacity = kChipIdCapacity;
    if (buffer != nullptr && capacity > 0 && buffer != d->chipIdText) {
        std::strncpy(buffer, d->chipIdText, static_cast<size_t>(capacity));
        buffer[capacity - 1] = 0;
    }
    return true;
}

bool ReadVersionInfo(MpxDevice& handle, char* buffer, int capacity) {
    MpxStatLeveler level(handle);
    MpxCommandResponse record;
    if (FindDevice(handle) == nullptr) return false;
    if (!ExecuteCommand(handle, record, "i")) return false;
    if (buffer != nullptr && capacity > 0)
        std::snprintf(buffer, static_cast<size_t>(capacity), "%s",
                      reinterpret_cast<const char*>(record.parameters));
    return true;
}

}  // namespace ulvarin
