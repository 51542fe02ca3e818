// The three chip families an emulated interface can carry.
#pragma once

#include <optional>
#include <string_view>

namespace ulvarin::sim {

enum class ChipFamily { kMedipix2, kMxr, kTimepix };

// True for the families with 14-bit counters and the 14-bit stream format (MXR, Timepix).
constexpr bool IsWide(ChipFamily family) {
    return family != ChipFamily::kMedipix2;
}

// Display name: "Medipix2", "MXR" or "Timepix".
std::string_view FamilyName(ChipFamily family);

// Parses a family name, ignoring case ("medipix2", "MXR", "timepix"); nullopt otherwise.
std::optional<ChipFamily> ParseFamily(std::string_view name);

}  // namespace ulvarin::sim
