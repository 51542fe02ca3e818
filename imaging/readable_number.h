// How the image's numbers read on screen: range limits, statistics and the colour bar.
// Counts are whole numbers and are shown whole; other values (flat-field corrected counts,
// averages, factors) with the six or seven significant digits that matter, never the
// fifteen a double carries, so that a box or label never has to clip or grow for them.
#pragma once

#include <string>

namespace ulvarin {

// Below 1e10 in magnitude, whole numbers and numbers of seven or more whole digits in full
// ("0", "1234", "3095340000", "4000000" for 4000000.1); any other value in the first of
// "%.6g" and "%.7g" that reads back exactly, else "%.6g" ("882.074", "100000.5",
// "1.5e+12"). Never "-0"; C locale; "inf", "-inf" and "nan" as
// printf writes them.
std::string ReadableNumber(double value);

// The widest text ReadableNumber gives for the numbers an image usually shows (ten whole
// digits; a fraction of seven significant digits is narrower). Controls reserve room for
// it, so that their width does not change from frame to frame.
inline constexpr char kWidestNumber[] = "8888888888";

}  // namespace ulvarin
