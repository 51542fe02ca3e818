// Median of a set of values, as used for the image statistics and flat-field normalising.
#pragma once

#include <span>

namespace ulvarin {

// The element at index n / 2 (integer division) of the values in ascending order: for an
// even count the upper of the two middle values (1, 2, 3, 4 -> 3). Not-a-number values
// order after all others. Reorders `values` (a partial ordering, not a full sort) in
// linear expected time. Returns 0 for no values.
double MedianOf(std::span<double> values);

// The same median of a copy; `values` stay untouched.
double MedianOfCopy(std::span<const double> values);

}  // namespace ulvarin
