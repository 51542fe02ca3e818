#include "analog/plot_geometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace ulvarin {
namespace {

// Enough rounds of 100 for the whole double range; bounds the loops for any input.
constexpr int kMaxRounds = 400;

// Dividing by an exact power of ten gives the double nearest to a decimal step such as 0.2.
double ScaledStep(double mantissa, int power) {
    if (power >= 0) return mantissa * std::pow(100.0, power);
    return mantissa / std::pow(100.0, -power);
}

// The step for a magnitude `q` = |span| / n, choosing with the arithmetic of T.
template <typename T>
double StepFor(double q) {
    T e = static_cast<T>(q);
    int power = 0;  // the step's unit is 100^power
    for (int i = 0; e > T(100) && i < kMaxRounds; ++i) {
        e *= T(0.01);
        ++power;
    }
    for (int i = 0; e < T(1) && i < kMaxRounds; ++i) {
        e *= T(100);
        --power;
    }
    double mantissa = 1;
    if (e > T(50)) {
        mantissa = 100;
    } else if (e > T(25)) {
        mantissa = 50;
    } else if (e > T(20)) {
        mantissa = 25;
    } else if (e > T(10)) {
        mantissa = 20;
    } else if (e > T(5)) {
        mantissa = 10;
    } else if (e > T(2)) {
        mantissa = 5;
    } else if (e > T(1)) {
        mantissa = 2;
    }
    return ScaledStep(mantissa, power);
}

}  // namespace

double NiceStep(double span, int n) {
    if (span == 0 || !std::isfinite(span)) return 1;
    if (n <= 0) n = 2;
    const double q = std::fabs(span) / n;
    // Single precision where it can hold the magnitude; beyond its range only double can.
    const double step = (q >= FLT_MIN && q <= FLT_MAX) ? StepFor<float>(q) : StepFor<double>(q);
    return step > 0 && std::isfinite(step) ? step : 1;
}

int ToPixel(double value) {
    constexpr double kLimit = 1 << 24;
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

}  // namespace ulvarin
