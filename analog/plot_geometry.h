// Shapes the scope monitor, the pulse view and the spectrum are drawn from, and the grid
// step they share. The layout functions return these lists so that painting only walks
// them: every coordinate is already a pixel of the box, (0, 0) at its top left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ulvarin {

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;

    bool operator==(const Rgb&) const = default;
};

struct PlotPoint {
    int x = 0;
    int y = 0;

    bool operator==(const PlotPoint&) const = default;
};

struct PlotLine {
    PlotPoint from;
    PlotPoint to;

    bool operator==(const PlotLine&) const = default;
};

// Which point of its text a label's x names: the left end, the centre or the right end.
// A label's y is always the top of the text.
enum class TextAnchor { Left, Centre, Right };

struct PlotLabel {
    int x = 0;
    int y = 0;
    std::string text;
    TextAnchor anchor = TextAnchor::Left;

    bool operator==(const PlotLabel&) const = default;
};

struct ColouredLabel {
    PlotLabel label;
    Rgb colour;
};

// Grid lines (dotted) and their labels, all in one pen and font colour.
struct PlotGrid {
    std::vector<PlotLine> lines;
    std::vector<PlotLabel> labels;
};

// No grid gets more lines than this in one direction, so that a degenerate axis (a huge
// box, a step lost in rounding) never makes painting slow.
constexpr int kMaxGridLines = 256;

// A round step for about n grid divisions of `span`: 1, 2, 2.5, 5 (as 1, 2, 5, 10, 20, 25,
// 50, 100 times a power of 100) of the magnitude of |span| / n, with n <= 0 taken as 2.
// The choice among them is made in single precision; the step itself is the exact decimal
// (0.2, not the single-precision 0.200000003), so multiples of it on a large axis stay
// round. Always a positive finite number: 1 for a span of 0, an infinite or not-a-number
// span, or a magnitude out of range. NiceStep(7, 8) = 1, NiceStep(30, 8) = 5,
// NiceStep(2500, 8) = 500.
double NiceStep(double span, int n);

// `value` truncated toward zero to a pixel coordinate. Not-a-number gives 0; values are
// first clamped to +-2^24, so far-off points keep their side of the box without overflow.
int ToPixel(double value);

}  // namespace ulvarin
