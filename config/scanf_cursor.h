// A cursor over a text that matches it the way scanf patterns do, one directive at a time,
// without scanf's buffers, locale or undefined behaviour on overflow. Every function skips
// nothing but what it says and leaves the cursor after what it consumed, also on failure
// (a mismatching character itself is not consumed).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ulvarin::config {

// Blank, tab, line feed, vertical tab, form feed and carriage return (the C locale's).
bool IsWhite(char c);

class ScanCursor {
public:
    explicit ScanCursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    void SkipWhite();

    // `pattern` as a scanf literal: a blank or line break skips any run of white space
    // (none too, empty lines too); every other character must match exactly, in case.
    // False at the first mismatch or at the end of the text.
    bool Literal(std::string_view pattern);

    // "%d": white space, an optional sign, one or more decimal digits. Values beyond the
    // range of long long are held at its limit (so a caller's range check refuses them).
    bool Int(long long& value);

    // "%02x": white space, then one or two hexadecimal digits (no sign, no 0x prefix).
    bool Hex2(unsigned& value);

    // "%lg": white space, an optional sign, a decimal or exponent number, "inf", "infinity"
    // or "nan" (any case). Independent of the locale. A magnitude that no double holds
    // (overflow to infinity, underflow to zero) is refused rather than silently changed.
    bool Double(double& value);

    // "%s": white space, then the whole run of non-white characters, of which the first
    // `maxLength` are returned (a longer word is cut, never written beyond a buffer). None at
    // the end of the text.
    std::optional<std::string_view> Word(size_t maxLength);

    // A line as fgets reads it: up to and including the next line feed, at most
    // `maxLength` characters. None at the end of the text.
    std::optional<std::string_view> Line(size_t maxLength);

private:
    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace ulvarin::config
