#include "imaging/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ulvarin {

std::string FormatDouble(const char* format, double value) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, value + 0.0);  // + 0.0: no "-0"
    if (n < 0) return {};
    return std::string(
        text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

std::string FormatNumber(double value) {
    return FormatDouble("%.15g", value);
}

std::optional<double> ParseNumber(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) return std::nullopt;
    text = text.substr(begin, text.find_last_not_of(kBlanks) + 1 - begin);
    // from_chars takes a leading minus but no plus.
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);

    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace ulvarin
