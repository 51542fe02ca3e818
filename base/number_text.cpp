#include "base/number_text.h"

#include <locale.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>

namespace ulvarin {

namespace {

// The C locale, for this thread's formatting only: a windowing toolkit applies the user's
// locale to the whole process at start-up, and a decimal comma would not read back.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c;
}

}  // namespace

std::string FormatDouble(const char* format, double value) {
    char text[64];
    const locale_t previous = uselocale(CLocale());
    const int n = std::snprintf(text, sizeof text, format, value + 0.0);  // + 0.0: no "-0"
    uselocale(previous);
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

namespace {

// The text from its first non-blank, a '+' before a digit or point dropped (from_chars
// takes a minus only).
std::string_view NumberStart(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\n\v\f");
    if (begin == std::string_view::npos) return {};
    text.remove_prefix(begin);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

}  // namespace

namespace {

// The number at the start of `text` (already past blanks and a plus) and where it ends.
std::optional<double> ReadDouble(std::string_view text, const char*& end) {
    // A hexadecimal number ("0x1.8p3"), as strtod reads one: from_chars wants it without
    // its prefix, and the sign apart.
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') &&
        digits[2] != '-' && digits[2] != '+') {
        double value = 0.0;
        const auto hex = std::from_chars(digits.data() + 2, digits.data() + digits.size(), value,
                                         std::chars_format::hex);
        if (hex.ptr != digits.data() + 2 && hex.ec == std::errc()) {
            end = hex.ptr;
            return negative ? -value : value;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    end = result.ptr;
    if (end == text.data()) return std::nullopt;
    if (result.ec == std::errc::result_out_of_range) {
        // Too large a magnitude reads as infinite, too small as zero, as strtod gives.
        const size_t exponent = text.find_first_of("eE");
        const bool tiny = exponent != std::string_view::npos && exponent + 1 < text.size() &&
                          text[exponent + 1] == '-';
        if (tiny) return negative ? -0.0 : 0.0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}

}  // namespace

std::optional<double> LeadingDouble(std::string_view text) {
    const char* end = nullptr;
    return ReadDouble(NumberStart(text), end);
}

std::optional<double> WholeNumber(std::string_view text) {
    text = NumberStart(text);
    const char* end = nullptr;
    const std::optional<double> value = ReadDouble(text, end);
    if (!value || end != text.data() + text.size() || std::isnan(*value)) return std::nullopt;
    return value;
}

std::optional<int> LeadingInteger(std::string_view text) {
    text = NumberStart(text);
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end == text.data()) return std::nullopt;
    if (error == std::errc::result_out_of_range || value > INT_MAX || value < INT_MIN)
        return text[0] == '-' ? INT_MIN : INT_MAX;
    return static_cast<int>(value);
}

}  // namespace ulvarin
