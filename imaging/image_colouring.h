// Colouring of a view into a 32-bit image (one uint32_t 0xFFRRGGBB per pixel, rows top to
// bottom), laid out as the chip tiles of chip_layout.h.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/chip_layout.h"
#include "imaging/colour_map.h"
#include "imaging/display_range.h"

namespace ulvarin {

// The default colouring. With d = (value - min) / (max - min): blue when d < 0 or d is not a
// number, red when d > 1, otherwise the grey level trunc(d * 255) in all three channels
// (black at the lower limit, white at the upper).
inline uint32_t PixelColour(double value, DisplayRange range) {
    return Colourer(range, Colouring{})(value);
}

// Colours `result` (indexed by pixel) into `image` (indexed by image position) for every
// image position of the layout's geometry, with `colouring` (the three-band linear map by
// default). Returns false, writing nothing, when `image` holds fewer than
// GeometryFor(chipCount).pixels() entries or `result` fewer than the layout's pixels in use;
// with no chip there is nothing to draw and the result is true.
bool RenderImage(std::span<const double> result, const ChipLayout& layout, DisplayRange range,
                 std::span<uint32_t> image, const Colouring& colouring = {});

}  // namespace ulvarin
