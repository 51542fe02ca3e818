#include "imaging/display_range.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "base/number_text.h"
#include "imaging/corrections.h"
#include "imaging/readable_number.h"

namespace ulvarin {

namespace {

void WriteTexts(DisplayRangeControls& controls) {
    controls.minText = ReadableNumber(controls.range.min);
    controls.maxText = ReadableNumber(controls.range.max);
}

// Equal limits get max + 1; where 1 is lost to rounding (huge limits) the lower limit
// moves down one step instead, so that the range never has zero width.
DisplayRange SeparateEqualLimits(DisplayRange r) {
    if (r.min != r.max) return r;
    r.max += 1.0;
    if (r.max == r.min) r.min = std::nextafter(r.min, 0.0);
    return r;
}

// Equal limits of an automatic range: 0 up to them, or 0 to 1 for 0.
DisplayRange WidenEqualAutoLimits(DisplayRange r) {
    if (r.min == r.max) return {0.0, r.max == 0.0 ? 1.0 : r.max};
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
    // Equal limits (the upper one starts at 0, so they are 0 or positive).
    return WidenEqualAutoLimits(r);
}

DisplayRange AutoRange(std::span<const double> values, bool robust, GoodPixels good) {
    if (robust) {
        const std::optional<DisplayRange> r =
            PercentileRange(values, good, kRobustLowFraction, kRobustHighFraction);
        // Equal negative percentiles are parted upwards: 0 up to them would be no range.
        if (r && r->min == r->max && r->min < 0.0) return SeparateEqualLimits(*r);
        if (r) return WidenEqualAutoLimits(*r);
    }
    return DataRange(values);
}

// Reads the typed limits and corrects them in order; true if anything was corrected.
bool TypedRange(DisplayRangeControls& controls) {
    DisplayRange& r = controls.range;
    bool corrected = false;
    const auto read = [&corrected](const std::string& text, double& limit) {
        // The text written for the stored limit stands for the limit itself, all its digits.
        if (std::isfinite(limit) && text == ReadableNumber(limit)) return;
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

std::optional<DisplayRange> PercentileRange(std::span<const double> values, GoodPixels good,
                                            double low, double high) {
    // Kept between calls: a frame's recomputation allocates nothing once it has run.
    thread_local std::vector<double> kept;
    kept.clear();
    const bool everyPixel = good.config.empty();
    const size_t n = everyPixel ? values.size() : std::min(values.size(), good.config.size());
    for (size_t p = 0; p < n; ++p) {
        const double v = values[p];
        if (v == kBadPixelMarker || std::isnan(v)) continue;
        if (everyPixel || IsGoodPixel(good.config[p], good.family)) kept.push_back(v);
    }
    if (kept.empty()) return std::nullopt;
    const double last = static_cast<double>(kept.size() - 1);
    const auto rank = [&](double at) { return static_cast<size_t>(std::clamp(at, 0.0, last)); };
    const size_t lowRank = rank(std::floor(std::clamp(low, 0.0, 1.0) * last));
    const size_t highRank = std::max(lowRank, rank(std::ceil(std::clamp(high, 0.0, 1.0) * last)));
    const auto highAt = kept.begin() + static_cast<std::ptrdiff_t>(highRank);
    std::nth_element(kept.begin(), highAt, kept.end());
    // Everything before the upper rank is now no larger: the lower rank lies among them.
    const auto lowAt = kept.begin() + static_cast<std::ptrdiff_t>(lowRank);
    if (lowAt != highAt) std::nth_element(kept.begin(), lowAt, highAt);
    return DisplayRange{*lowAt, *highAt};
}

bool ComputeDisplayRange(std::span<const double> values, DisplayRangeControls& controls,
                         GoodPixels good) {
    if (controls.autoRange) {
        controls.range = AutoRange(values, controls.robust, good);
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
                      DisplayRangeControls& controls, GoodPixels good) {
    if (button == RangeButton::Down && controls.range.min == 0.0) return false;
    ComputeDisplayRange(values, controls, good);
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
