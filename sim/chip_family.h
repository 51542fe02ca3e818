// The three chip families an emulated interface can carry.
#pragma once

#include <optional>
#include <string_view>

#include "wire/chip_type.h"

namespace ulvarin::sim {

enum class ChipFamily { kMedipix2, kMxr, kTimepix };

// True for the families with 14-bit counters and the 14-bit stream format (MXR, Timepix).
constexpr bool IsWide(ChipFamily family) {
    return family != ChipFamily::kMedipix2;
}

// The same family as the wire names it.
constexpr ChipType WireType(ChipFamily family) {
    return family == ChipFamily::kMedipix2 ? ChipType::Medipix2
           : family == ChipFamily::kMxr    ? ChipType::Mxr
                                           : ChipType::Timepix;
}

// Display name: "Medipix2", "MXR" or "Timepix".
std::string_view FamilyName(ChipFamily family);

// Parses a family name, ignoring case ("medipix2", "MXR", "timepix"); nullopt otherwise.
std::optional<ChipFamily> ParseFamily(std::string_view name);

}  // namespace ulvarin::sim
