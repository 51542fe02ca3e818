// Colouring of a view into a 32-bit image (one uint32_t 0xFFRRGGBB per pixel, rows top to
// bottom), laid out as the chip tiles of chip_layout.h.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include "imaging/chip_layout.h"
#include "imaging/display_range.h"

namespace ulvarin {

constexpr uint32_t kBelowRangeColour = 0xFF0000FF;  // blue
constexpr uint32_t kAboveRangeColour = 0xFFFF0000;  // red

// With d = (value - min) / (max - min): blue when d < 0 or d is not a number, red when
// d > 1, otherwise the grey level trunc(d * 255) in all three channels (black at the
// lower limit, white at the upper).
inline uint32_t PixelColour(double value, DisplayRange range) {
    const double d = (value - range.min) / (range.max - range.min);
    if (!(d >= 0.0)) return kBelowRangeColour;
    if (d > 1.0) return kAboveRangeColour;
    const auto grey = static_cast<uint32_t>(d * 255.0);
    return 0xFF000000u | grey << 16 | grey << 8 | grey;
}

// Colours `result` (indexed by pixel) into `image` (indexed by image position) for every
// image position of the layout's geometry. Returns false, writing nothing, when `image`
// holds fewer than GeometryFor(chipCount).pixels() entries or `result` fewer than the
// layout's pixels in use; with no chip there is nothing to draw and the result is true.
bool RenderImage(std::span<const double> result, const ChipLayout& layout, DisplayRange range,
                 std::span<uint32_t> image);

}  // namespace ulvarin
