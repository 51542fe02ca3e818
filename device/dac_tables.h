// The chips' DACs: names, maxima and defaults by chip type, the sense/bypass names, and
// the 32-byte DAC word each chip takes.
#pragma once

#include <cstdint>

#include "device/device.h"
#include "wire/chip_type.h"

namespace ulvarin {

constexpr int kDacSlots = 15;
constexpr int kDacBlockBytes = 32;

// The settings of one chip's DACs.
struct ChipDacRecord {
    uint16_t dac[kDacSlots] = {};
    uint8_t senseCode = 0;  // DAC sensed by ADC0 or bypassed by the external DAC
    uint8_t senseEnabled = 0;
    uint8_t bypassEnabled = 0;
    uint32_t testPulseWord = 0;  // sent for MXR and Timepix only

    bool operator==(const ChipDacRecord&) const = default;
};

// Table look-ups by type; out-of-range indexes give nullptr (names) or 0 (values).
int DacCountOf(ChipType type);
const char* DacNameOf(ChipType type, int index);
uint16_t DacMaxValueOf(ChipType type, int index);
uint16_t DacDefaultOf(ChipType type, int index);
const char* SenseDacNameOf(ChipType type, int code);
// The code that names "Thl" for the type (the initial sense DAC).
uint8_t DefaultSenseCode(ChipType type);
// A record with the type's default DACs and sense settings.
ChipDacRecord DefaultDacRecord(ChipType type);

// The same for the handle's open interface; without one: 0, nullptr, 0, nullptr.
int DacCount(MpxDevice& handle);
const char* DacName(MpxDevice& handle, int index);
uint16_t DacMaxValue(MpxDevice& handle, int index);
const char* SenseDacName(MpxDevice& handle, int code);

// Writes chip `position`'s 32-byte DAC word (Medipix2 chips shift with their position);
// a position outside 0 to 3 leaves the block all zeros.
void EncodeDacBlock(ChipType type, const ChipDacRecord& record, int position, uint8_t* block);

// Bytes sent after the letter of "Set Medipix DACs" for `chips` chips of `type`.
uint32_t DacStreamBytes(ChipType type, int chips);

}  // namespace ulvarin
