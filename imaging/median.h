// Median of a set of values, as used for the image statistics and flat-field normalising.
#pragma once

#include <span>

namespace ulvarin {

// The element at index n / 2 (integer division) of the values in ascending order: for an
// even count the upper of the two middle values (1, 2, 3, 4 -> 3). Not-a-number values
// order after all others. The values are left untouched; linear time (a radix selection
// on the bits of the values). Returns 0 for no values.
double MedianOf(std::span<const double> values);

}  // namespace ulvarin
