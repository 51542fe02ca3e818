#include "imaging/display_range.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "base/number_text.h"
#include "imaging/corrections.h"

namespace ulvarin {

namespace {

void WriteTexts(DisplayRangeControls& controls) {
    controls.minText = FormatNumber(controls.range.min);
    controls.maxText = FormatNumber(controls.range.max);
}

// Equal limits get max + 1; where 1 is lost to rounding (huge limits) the lower limit
// moves down one step instead, so that the range never has zero width.
DisplayRange SeparateEqualLimits(DisplayRange r) {
    if (r.min != r.max) return r;
    r.max += 1.0;
    if (r.max == r.min) r.min = std::nextafter(r.min, 0.0);
    return r;
}

DisplayRange DataRange(std::span<const double> values) {
    DisplayRange r{kAutoRangeStartMin, 0.0};
    for (const double v : values) {
        if (v == kBadPixelMarker) continue;  // a masked pixel left unfilled shows below
        if (v > r.max) r.max = v;
        if (v < r.min) r.min = v;
    }
    if (r.max < r.min) return {0.0, 1.0};  // no number at all
    // Equal limits (the upper one starts at 0, so they are 0 or positive): 0 up to them.
    if (r.min == r.max) return {0.0, r.max == 0.0 ? 1.0 : r.max};
    return r;
}

// Reads the typed limits and corrects them in order; true if anything was corrected.
bool TypedRange(DisplayRangeControls& controls) {
    DisplayRange& r = controls.range;
    bool corrected = false;
    const auto read = [&corrected](const std::string& text, double& limit) {
        const std::optional<double> typed = ParseNumber(text);
        if (typed) limit = *typed;
        // A kept limit may be anything the caller stored; an unusable one restarts at 0.
        if (!typed || !std::isfinite(limit)) corrected = true;
        if (!std::isfinite(limit)) limit = 0.0;
    };
    read(controls.minText, r.min);
    read(controls.maxText, r.max);
    if (r.min < 0.0) {
        r.min = 0.0;
        corrected = true;
    }
    if (r.max < 0.0) {
        r.max = 0.0;
        corrected = true;
    }
    if (r.max < r.min) {
        std::swap(r.min, r.max);
        corrected = true;
    }
    if (r.min == r.max) {
        r = SeparateEqualLimits(r);
        corrected = true;
    }
    return corrected;
}

// Whole width toward zero; std::trunc keeps huge widths defined where an integer cast
// would not be.
double WholeWidth(DisplayRange r) {
    return std::trunc(r.max - r.min);
}

}  // namespace

bool ComputeDisplayRange(std::span<const double> values, DisplayRangeControls& controls) {
    if (controls.autoRange) {
        controls.range = DataRange(values);
    } else if (!TypedRange(controls)) {
        return false;
    }
    WriteTexts(controls);
    return true;
}

DisplayRange WidenRange(DisplayRange r) {
    if (r.min == 0.0) return {0.0, r.max * 1.5};
    const double a = WholeWidth(r);
    r.min -= 0.25 * a;
    if (r.min < 0.0) r.min = 0.0;
    r.max += 0.25 * a;
    return r;
}

DisplayRange NarrowRange(DisplayRange r) {
    if (r.min == 0.0) {
        r.max = r.max * 2.0 / 3.0;
    } else {
        const double sixth = std::trunc(WholeWidth(r) / 6.0);
        r.min += sixth;
        r.max -= sixth;
    }
    return SeparateEqualLimits(r);
}

DisplayRange ShiftRangeDown(DisplayRange r) {
    double a = std::trunc((r.max - r.min) * 0.25);
    // Stop at 0. A lower limit already below 0 does not move at all: the step cut to the
    // lower limit would be negative and move the range up.
    if (a > r.min) a = std::max(std::trunc(r.min), 0.0);
    r.min -= a;
    r.max -= a;
    return r;
}

DisplayRange ShiftRangeUp(DisplayRange r) {
    const double a = std::trunc((r.max - r.min) * 0.25);
    r.min += a;
    r.max += a;
    return r;
}

bool PressRangeButton(RangeButton button, std::span<const double> values,
                      DisplayRangeControls& controls) {
    if (button == RangeButton::Down && controls.range.min == 0.0) return false;
    ComputeDisplayRange(values, controls);
    DisplayRange next = controls.range;
    switch (button) {
        case RangeButton::Wider:
            next = WidenRange(next);
            break;
        case RangeButton::Narrower:
            next = NarrowRange(next);
            break;
        case RangeButton::Down:
            next = ShiftRangeDown(next);
            break;
        case RangeButton::Up:
            next = ShiftRangeUp(next);
            break;
    }
    if (std::isfinite(next.min) && std::isfinite(next.max)) controls.range = next;
    WriteTexts(controls);
    controls.autoRange = false;
    return true;
}

double LimitStep(DisplayRange r) {
    const double width = r.max - r.min;
    if (!std::isfinite(width) || width <= 0) return 1.0;
    return std::pow(10.0, std::floor(std::log10(width / 10)));
}

}  // namespace ulvarin
