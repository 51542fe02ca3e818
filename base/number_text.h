// Number texts of the image controls and labels: one place for how limits and statistics
// are written and how typed limits are read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ulvarin {

// Shortest general decimal form with up to 15 significant digits ("%.15g"): 0, 1234,
// 0.25, 1e+20. Negative zero is written as "0".
std::string FormatNumber(double value);

// `value` formatted by a printf format holding one double conversion, e.g. "%.8g s". Always
// with a decimal point, whatever locale the process runs in; safe on any thread.
std::string FormatDouble(const char* format, double value);

// A typed number: optional blanks, an optional sign, a decimal or exponent form, optional
// blanks, nothing else. Infinite and not-a-number values are refused, as are partial
// numbers such as "12abc". Independent of the locale.
std::optional<double> ParseNumber(std::string_view text);

// The number at the start of `text`, as "%lg" and "%d" read it: optional blanks, a sign,
// the number; whatever follows is ignored. None when no number starts the text. Locale
// independent. LeadingInteger holds numbers beyond int at INT_MAX or INT_MIN instead of
// overflowing; LeadingDouble may return an infinite value for "inf" or a huge exponent.
std::optional<double> LeadingDouble(std::string_view text);
// A number making up the whole of `text` (blanks before it and a sign allowed), as the C
// library reads one: infinities, and magnitudes beyond the double range as infinite or
// zero, are numbers; not-a-number and anything else are not.
std::optional<double> WholeNumber(std::string_view text);
std::optional<int> LeadingInteger(std::string_view text);

}  // namespace ulvarin
