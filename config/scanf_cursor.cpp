#include "config/scanf_cursor.h"

#include <charconv>
#include <climits>

namespace ulvarin::config {

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void ScanCursor::SkipWhite() {
    while (!AtEnd() && IsWhite(text_[pos_])) ++pos_;
}

bool ScanCursor::Literal(std::string_view pattern) {
    for (const char p : pattern) {
        if (p == ' ' || p == '\n') {
            SkipWhite();
            continue;
        }
        if (AtEnd() || text_[pos_] != p) return false;
        ++pos_;
    }
    return true;
}

bool ScanCursor::Int(long long& value) {
    SkipWhite();
    bool negative = false;
    if (!AtEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) negative = text_[pos_++] == '-';
    if (AtEnd() || !IsDigit(text_[pos_])) return false;
    // Accumulated towards the sign's side so LLONG_MIN itself is representable.
    long long result = 0;
    bool saturated = false;
    for (; !AtEnd() && IsDigit(text_[pos_]); ++pos_) {
        const int digit = text_[pos_] - '0';
        if (saturated) continue;
        if (negative ? result < (LLONG_MIN + digit) / 10 : result > (LLONG_MAX - digit) / 10) {
            saturated = true;
            result = negative ? LLONG_MIN : LLONG_MAX;
            continue;
        }
        result = result * 10 + (negative ? -digit : digit);
    }
    value = result;
    return true;
}

bool ScanCursor::Hex2(unsigned& value) {
    SkipWhite();
    unsigned result = 0;
    int digits = 0;
    for (; digits < 2 && !AtEnd() && HexDigit(text_[pos_]) >= 0; ++digits, ++pos_)
        result = result * 16 + static_cast<unsigned>(HexDigit(text_[pos_]));
    if (digits == 0) return false;
    value = result;
    return true;
}

bool ScanCursor::Double(double& value) {
    SkipWhite();
    const char* begin = text_.data() + pos_;
    const char* const end = text_.data() + text_.size();
    // from_chars takes a minus but no plus.
    const char* number = begin;
    if (number != end && *number == '+') ++number;
    if (number != end && *number == '-' && number != begin) return false;
    double result = 0.0;
    const auto [stop, error] = std::from_chars(number, end, result);
    if (stop == number) return false;
    pos_ += static_cast<size_t>(stop - begin);
    if (error != std::errc()) return false;
    value = result;
    return true;
}

std::optional<std::string_view> ScanCursor::Word(size_t maxLength) {
    SkipWhite();
    if (AtEnd()) return std::nullopt;
    const size_t begin = pos_;
    while (!AtEnd() && !IsWhite(text_[pos_])) ++pos_;
    const size_t length = pos_ - begin;
    return text_.substr(begin, length < maxLength ? length : maxLength);
}

std::optional<std::string_view> ScanCursor::Line(size_t maxLength) {
    if (AtEnd()) return std::nullopt;
    const size_t begin = pos_;
    while (!AtEnd() && pos_ - begin < maxLength) {
        if (text_[pos_++] == '\n') break;
    }
    return text_.substr(begin, pos_ - begin);
}

}  // namespace ulvarin::config
