// How a value becomes a colour: a colour map over the display range, on a linear or a
// logarithmic scale. The three-band map is the default: grey levels inside the range, blue
// below it, red above it. Grey and viridis (a perceptually uniform map, dark blue to
// yellow) show values beyond the range in their end colours instead.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "imaging/display_range.h"

namespace ulvarin {

// The three-band map's colours beyond the display range.
constexpr uint32_t kBelowRangeColour = 0xFF0000FF;  // blue
constexpr uint32_t kAboveRangeColour = 0xFFFF0000;  // red

// In the order of the window's colour map selector; the item index is the enumerator's value.
enum class ColourMap : int { ThreeBand = 0, Grey = 1, Viridis = 2 };
constexpr int kColourMapCount = 3;

// The selector's item texts: "Three-band", "Grey", "Viridis"; unknown maps read "".
std::string_view ColourMapName(ColourMap map);

struct Colouring {
    ColourMap map = ColourMap::ThreeBand;
    bool log = false;  // logarithmic scale

    bool operator==(const Colouring&) const = default;
};

// 256 colours (0xFFRRGGBB) from the lower limit to the upper one, and the colours of values
// below the range (or not a number) and above it.
struct ColourTable {
    std::array<uint32_t, 256> levels{};
    uint32_t below = 0;
    uint32_t above = 0;
};

// The table of `map`; an unknown map gives the three-band table.
const ColourTable& TableOf(ColourMap map);

// Where `value` lies in the range: 0 at the lower limit, 1 at the upper, below 0 or not a
// number under it, above 1 over it. Linear: (value - min) / (max - min). Log:
// log(1 + value - min) / log(1 + max - min), so the lower limit is the start of the scale
// whatever its sign, a count of 0 needs no special case, and a narrow range (flat-field
// factors near 1) is shown nearly linearly rather than not at all.
inline double RangeFraction(double value, DisplayRange range, bool log) {
    if (!log) return (value - range.min) / (range.max - range.min);
    return std::log1p(value - range.min) / std::log1p(range.max - range.min);
}

// The value at `fraction` of the scale (0: the lower limit, 1: the upper): the inverse of
// RangeFraction, for the numbers along a colour bar.
inline double RangeValueAt(double fraction, DisplayRange range, bool log) {
    if (!log) return range.min + fraction * (range.max - range.min);
    return range.min + std::expm1(fraction * std::log1p(range.max - range.min));
}

// Colours values of one display range with one colouring.
class Colourer {
public:
    Colourer(DisplayRange range, const Colouring& colouring)
        : range_(range), log_(colouring.log), table_(TableOf(colouring.map)) {}

    // The table's below colour for a fraction under 0 or not a number, its above colour
    // over 1, otherwise level trunc(fraction * 255).
    uint32_t operator()(double value) const {
        const double d = RangeFraction(value, range_, log_);
        if (!(d >= 0.0)) return table_.below;
        if (d > 1.0) return table_.above;
        return table_.levels[static_cast<uint32_t>(d * 255.0)];
    }

private:
    DisplayRange range_;
    bool log_;
    const ColourTable& table_;
};

}  // namespace ulvarin
