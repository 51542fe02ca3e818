// The display range (the values shown from black to white), from the data or typed, and
// the four buttons that widen, narrow and shift it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "imaging/chip_layout.h"

namespace ulvarin {

struct DisplayRange {
    double min = 0.0;
    double max = 0.0;

    bool operator==(const DisplayRange&) const = default;
};

// What the window's range controls hold: the Auto check box, the two limit texts and the
// limits last computed. The window mirrors its controls into this and back.
struct DisplayRangeControls {
    bool autoRange = true;
    std::string minText = "0";
    std::string maxText = "0";
    DisplayRange range;
    // Auto takes the percentiles of the good pixels instead of the lowest and highest value.
    bool robust = false;
};

// Start of the lower limit in Auto mode: data above it keep it as the lower limit.
constexpr double kAutoRangeStartMin = 4000000.0;

// Which pixels of a view are good: the configuration words of the pixels in use and the
// family whose mask bit marks a good pixel. Without words every pixel counts as good.
struct GoodPixels {
    std::span<const uint16_t> config;
    ChipFamily family = ChipFamily::Medipix2;
};

// The robust range's percentiles: a few hot (or dead) pixels beyond them do not stretch it.
constexpr double kRobustLowFraction = 0.001;
constexpr double kRobustHighFraction = 0.999;

// The values at `low` and `high` (fractions from 0 to 1) of the good pixels' values in
// ascending order, by the nearest rank below and above: ranks floor(low * (n - 1)) and
// ceil(high * (n - 1)) of the n good values that are numbers (masked pixels, the
// bad-pixel marker and not-a-number values do not count). None without such a value.
// Selection, not a sort: linear in n on average.
std::optional<DisplayRange> PercentileRange(std::span<const double> values, GoodPixels good,
                                            double low, double high);

// Brings controls.range up to date; always leaves min < max.
// Texts are written by ReadableNumber.
// Auto: lowest and highest of `values` (all in-use pixels, masked ones included), the
// lower limit starting at kAutoRangeStartMin and the upper at 0; equal limits become 0 to
// their value, or 0 to 1 for 0; without any number the range is 0 to 1. Both texts are
// rewritten.
// Auto and robust: the kRobustLowFraction and kRobustHighFraction percentiles of the good
// pixels (PercentileRange with `good`); equal limits as above; without a good pixel the
// range is the plain Auto one.
// Typed: the texts are read; a text that is not a number keeps its limit. A text that is
// what ReadableNumber writes for the stored limit keeps the stored limit with all its
// digits, so a limit shown shortened is not cut to what its box shows. Then a negative
// limit becomes 0, min > max are swapped, and equal limits get max + 1. The texts are
// rewritten only if one of these corrections (or an unreadable text) happened.
// Returns true when the texts were rewritten.
bool ComputeDisplayRange(std::span<const double> values, DisplayRangeControls& controls,
                         GoodPixels good = {});

// The arithmetic of the range buttons on an up-to-date range; truncation is toward zero.
// "-": 0..m -> 0..1.5m; else both limits move out by a quarter of the (whole) width, the
//      lower one not below 0.
DisplayRange WidenRange(DisplayRange r);
// "+": 0..m -> 0..2m/3; else both limits move in by a sixth of the (whole) width; equal
//      limits then get max + 1.
DisplayRange NarrowRange(DisplayRange r);
// "<<": both limits move down by a quarter of the (whole) width, at most until min is 0.
//      A lower limit of 0 (or below) stays where it is.
DisplayRange ShiftRangeDown(DisplayRange r);
// ">>": both limits move up by a quarter of the (whole) width.
DisplayRange ShiftRangeUp(DisplayRange r);

// The step of one Up/Down key press or wheel notch in a range box: the power of ten just
// below a tenth of the range's width (1 for an empty or non-finite range).
double LimitStep(DisplayRange r);

enum class RangeButton { Wider, Narrower, Down, Up };

// A click on a range button: brings the range up to date from `values` (so in Auto mode
// the button starts from the data range), applies the button, writes both texts and
// switches Auto off. "<<" does nothing at all, returning false, when the stored lower
// limit is 0. A step whose result would not be finite leaves the range as it was.
// Returns true when the controls changed (the caller then redraws).
bool PressRangeButton(RangeButton button, std::span<const double> values,
                      DisplayRangeControls& controls, GoodPixels good = {});

}  // namespace ulvarin
