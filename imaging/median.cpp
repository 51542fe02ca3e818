#include "imaging/median.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ulvarin {

double MedianOf(std::span<double> values) {
    if (values.empty()) return 0.0;
    // Not-a-number values break the ordering the selection relies on: move them to the end.
    const auto numbers = std::partition(values.begin(), values.end(),
                                        [](double v) { return !std::isnan(v); });
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    if (middle >= numbers) return std::numeric_limits<double>::quiet_NaN();
    std::nth_element(values.begin(), middle, numbers);
    return *middle;
}

double MedianOfCopy(std::span<const double> values) {
    std::vector<double> copy(values.begin(), values.end());
    return MedianOf(copy);
}

}  // namespace ulvarin
