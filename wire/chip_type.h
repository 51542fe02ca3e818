// The three chip families an interface can carry; each lays out DACs and pixel words its own way.
#pragma once

namespace ulvarin {

enum class ChipType { Medipix2, Mxr, Timepix };

// The type the flags of an open interface name (Timepix chips also set isMxr).
constexpr ChipType ChipTypeOf(bool isMxr, bool isTimepix) {
    if (!isMxr) return ChipType::Medipix2;
    return isTimepix ? ChipType::Timepix : ChipType::Mxr;
}

}  // namespace ulvarin
