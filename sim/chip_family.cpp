#include "sim/chip_family.h"

#include <cctype>

namespace ulvarin::sim {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char ch) { return std::tolower(static_cast<unsigned char>(ch)); };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

constexpr ChipFamily kFamilies[] = {ChipFamily::kMedipix2, ChipFamily::kMxr, ChipFamily::kTimepix};

}  // namespace

std::string_view FamilyName(ChipFamily family) {
    switch (family) {
        case ChipFamily::kMedipix2:
            return "Medipix2";
        case ChipFamily::kMxr:
            return "MXR";
        case ChipFamily::kTimepix:
            return "Timepix";
    }
    return "Medipix2";
}

std::optional<ChipFamily> ParseFamily(std::string_view name) {
    for (ChipFamily family : kFamilies)
        if (EqualsIgnoringCase(name, FamilyName(family))) return family;
    return std::nullopt;
}

}  // namespace ulvarin::sim
