// Corrections of the shown frame: flat-field factors captured from a view, masking pixels
// by their value in a view, and filling masked pixels of the "Result" view from good
// neighbours.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/frame_store.h"

namespace ulvarin {

// Value of a masked pixel of the result array while interpolating, and of one that could
// not be filled afterwards.
constexpr double kBadPixelMarker = -1.23456789e300;

// The word ANDed into a pixel's configuration word to mask it: the family's mask bit and
// bits 14 and 15 cleared (Medipix2 0x37FF, MXR 0x3FFE, Timepix 0x3F7F).
constexpr uint16_t MaskClearingWord(ChipFamily family) {
    return static_cast<uint16_t>(0x3FFF & ~MaskBit(family));
}

// Flat-field factors from the view as shown (store.result(), pixels in use): with m the
// median of those values, factor = m / value where value != 0, else 0. A pixel still
// holding kBadPixelMarker (masked, not filled) counts as 0 for both, as it would without
// interpolation. Does not recompute the view.
void CaptureFlatField(FrameStore& store);

// Which pixels the two mask buttons take.
enum class MaskRule {
    Nonzero,       // value != 0
    OutsideRange,  // value > max, or not value >= min (so not-a-number is taken too)
};

// ANDs MaskClearingWord into the configuration word of every in-use pixel whose value in
// store.result() matches the rule, and returns how many matched. Only clears bits, so
// masks accumulate. min and max are read by OutsideRange only.
uint32_t MaskPixels(FrameStore& store, MaskRule rule, double min = 0, double max = 0);

// Pixels in use whose mask bit is clear.
uint32_t MaskedPixelCount(const FrameStore& store);

// The message line of a mask action named `action`: how many pixels it masked and how
// many are masked in all, each also as a share of the `inUse` pixels, e.g.
// "Mask outer pixels: 1234 pixel(s) masked (0.471 %), 1300 (0.496 %) masked in all".
std::string MaskedPixelsLine(const std::string& action, uint32_t masked, uint32_t maskedInAll,
                             uint32_t inUse);

// Fills the masked pixels of store.result() (a "Result" view just computed) from the good
// pixels within `radius` image positions, pass by pass: every masked pixel first gets
// kBadPixelMarker; in a pass, a bad pixel whose window (the pixel included, clipped to the
// image) is at least 3/8 good gets the average of the good values weighted by
// 1 / distance. Each pass reads the values as they were at its start, so the order of the
// pixels does not matter; passes repeat until none is left or a pass fills none. Neighbours
// are image neighbours (see ImageIndexToPixel). A pixel that cannot be filled keeps the
// marker; a radius below 1 fills nothing. Good pixels are never written, whatever they
// hold. Returns true when every masked pixel was filled (or none was masked). Cost grows
// with the masked pixels, beyond one walk over the mask bits.
bool InterpolateBadPixels(FrameStore& store, int radius = 1);

}  // namespace ulvarin
