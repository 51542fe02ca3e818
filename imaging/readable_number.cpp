#include "imaging/readable_number.h"

#include <cmath>

#include "base/number_text.h"

namespace ulvarin {

std::string ReadableNumber(double value) {
    if (!std::isfinite(value)) return FormatDouble("%g", value);
    const double magnitude = std::fabs(value);
    // Whole numbers, and values whose whole part alone has seven digits or more, in full.
    if (magnitude < 1e10 && (value == std::trunc(value) || magnitude >= 1e6))
        return FormatDouble("%.0f", value);
    const std::string six = FormatDouble("%.6g", value);
    if (ParseNumber(six) == value) return six;
    std::string seven = FormatDouble("%.7g", value);
    if (ParseNumber(seven) == value) return seven;
    return six;
}

}  // namespace ulvarin
