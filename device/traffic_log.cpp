#include "device/traffic_log.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "device/protocol.h"

namespace ulvarin {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

LogLineOp Line(std::string text) {
    return {LogLineOp::Kind::Line, false, std::move(text)};
}

std::string ErrorLine(const MpxDevice& handle) {
    char text[32 + kReportTextSize];
    std::snprintf(text, sizeof text, "Error %d: %s", handle.reportKind, handle.reportText);
    return text;
}

// What the first byte of an exchange says it is.
std::string Description(uint8_t first, int direction) {
    switch (first) {
        case '!':
            return "Error message.";
        case '"':
            return "String message.";
        case '[':
            return "Background message begining.";
        case ']':
            return "Background message end.";
        default:
            break;
    }
    return std::string(direction == 1 ? "Command: " : "Response: ") + CommandName(first);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length in bytes of the UTF-8 character starting at text[i] (1 for a stray byte).
size_t CharLength(std::string_view text, size_t i) {
    size_t n = 1;
    while (i + n < text.size() && (static_cast<uint8_t>(text[i + n]) & 0xC0) == 0x80) ++n;
    return n;
}

// The first `limit` characters of a UTF-8 text.
std::string_view FirstChars(std::string_view text, size_t limit) {
    size_t i = 0;
    for (size_t chars = 0; i < text.size() && chars < limit; ++chars) i += CharLength(text, i);
    return text.substr(0, i);
}

}  // namespace

std::string ClockText(double seconds) {
    const double t = std::trunc(seconds);
    const auto whole = static_cast<int64_t>(t);
    const auto millis = static_cast<int64_t>(std::trunc((seconds - t) * 1000.0)) % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(whole / 3600 % 24),
                  static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60),
                  static_cast<int>(millis));
    return text;
}

void TrafficLog::Feed(const MpxDevice& handle, const uint8_t* bytes, uint32_t count, int direction,
                      const TrafficFilters& filters, bool timerRunning,
                      std::vector<LogLineOp>& out) {
    if (count == 0 || bytes == nullptr) return;
    out.push_back({LogLineOp::Kind::Limit, false, {}});
    if (handle.packets == lastPacket_ && direction == lastDirection_) {
        if (handle.reportKind != 0 && handle.reportKind != lastKindShown_) {
            // The error line goes above the unfinished row, which continues below it.
            if (rowShown_) out.push_back({LogLineOp::Kind::DropRow, false, {}});
            out.push_back(Line(ErrorLine(handle)));
            if (rowShown_) out.push_back({LogLineOp::Kind::Row, true, RowText()});
            lastKindShown_ = handle.reportKind;
        }
    } else {
        if (!previousSkipped_) {
            char text[48];
            std::snprintf(text, sizeof text, "Bytes %s: %" PRIu64,
                          lastDirection_ == 0 ? "received" : "transmited", exchangeBytes_);
            out.push_back(Line(text));
            if (lastDirection_ == 0) out.push_back(Line(std::string(kEqualsLine)));
        }
        skipping_ = (filters.skipMonitor && timerRunning) || (filters.skipScope && bytes[0] == '$');
        lastPacket_ = handle.packets;
        lastDirection_ = direction;
        lastKindShown_ = 0;
        previousSkipped_ = skipping_;
        exchangeBytes_ = 0;
        rowFill_ = 0;
        rowShown_ = false;
        if (skipping_) return;
        StartExchange(handle, bytes, direction, out);
    }
    Dump(bytes, count, filters, out);
}

void TrafficLog::StartExchange(const MpxDevice& handle, const uint8_t* bytes, int direction,
                               std::vector<LogLineOp>& out) {
    out.push_back(Line({}));
    char header[64];
    std::snprintf(header, sizeof header, "%s %s [%06d]", ClockText(handle.reportTime).c_str(),
                  direction == 1 ? "Transmited" : "Received  ", handle.packets);
    out.push_back(Line(header));
    out.push_back(Line(Description(bytes[0], direction)));
    if (handle.reportKind != 0) {
        out.push_back(Line(ErrorLine(handle)));
        lastKindShown_ = handle.reportKind;
    }
    out.push_back(Line(std::string(kDashesLine)));
}

// One threshold for both checks: once 256 bytes are shown the exchange is abbreviated, so a
// block ending exactly there cannot start a 33rd row in the next block.
void TrafficLog::Dump(const uint8_t* bytes, uint32_t count, const TrafficFilters& filters,
                      std::vector<LogLineOp>& out) {
    if (filters.filterLong && exchangeBytes_ >= kAbbreviateAt) {
        exchangeBytes_ += count;
        return;
    }
    if (skipping_) return;
    for (uint32_t i = 0; i < count;) {
        row_[rowFill_++] = bytes[i++];
        ++exchangeBytes_;
        if (rowFill_ < kRowBytes && i < count) continue;
        const bool full = rowFill_ == kRowBytes;
        out.push_back({LogLineOp::Kind::Row, !full, RowText()});
        rowShown_ = !full;
        if (full) rowFill_ = 0;
        if (filters.filterLong && exchangeBytes_ >= kAbbreviateAt) {
            out.push_back(Line(std::string(kAbbreviationLine)));
            exchangeBytes_ += count - i;
            return;
        }
    }
}

// "xx " per byte padded to 24 characters, "| ", then the bytes 0x21..0x7F as themselves and
// the others as dots.
std::string TrafficLog::RowText() const {
    std::string text(3 * kRowBytes + 2 + static_cast<size_t>(rowFill_), ' ');
    for (int k = 0; k < rowFill_; ++k) {
        const uint8_t b = row_[k];
        text[3 * k] = kHexDigits[b >> 4];
        text[3 * k + 1] = kHexDigits[b & 15];
        text[3 * kRowBytes + 2 + k] = b >= 0x21 && b <= 0x7F ? static_cast<char>(b) : '.';
    }
    text[3 * kRowBytes] = '|';
    return text;
}

void LogLines::Apply(std::span<const LogLineOp> ops) {
    for (const LogLineOp& op : ops) ApplyOne(op);
    FlushChanged();
    if (lines_.size() > shown_) {
        if (observer_ != nullptr) observer_->BeginInsert(shown_, lines_.size() - 1);
        shown_ = lines_.size();
        if (observer_ != nullptr) observer_->EndInsert();
    }
}

void LogLines::ApplyOne(const LogLineOp& op) {
    switch (op.kind) {
        case LogLineOp::Kind::Line:
            lines_.push_back(op.text);
            openRow_ = -1;
            break;
        case LogLineOp::Kind::Note:
            lines_.push_back(op.text);
            break;
        case LogLineOp::Kind::DropRow:
            DropRow();
            break;
        case LogLineOp::Kind::Limit:
            Trim();
            break;
        case LogLineOp::Kind::Row:
            if (openRow_ < 0) {
                lines_.push_back(op.text);
                if (op.open) openRow_ = static_cast<std::ptrdiff_t>(lines_.size() - 1);
                break;
            }
            const auto row = static_cast<size_t>(openRow_);
            lines_[row] = op.text;
            if (row < shown_) {
                changedFirst_ = std::min(changedFirst_, row);
                changedLast_ = std::max(changedLast_, row);
            }
            if (!op.open) openRow_ = -1;
            break;
    }
}

void LogLines::DropRow() {
    if (openRow_ < 0) return;
    const auto row = static_cast<size_t>(openRow_);
    const auto at = lines_.begin() + openRow_;
    openRow_ = -1;
    if (row >= shown_) {  // not told of yet
        lines_.erase(at);
        return;
    }
    FlushChanged();
    if (observer_ != nullptr) observer_->BeginRemove(row, row);
    lines_.erase(at);
    --shown_;
    if (observer_ != nullptr) observer_->EndRemove();
}

void LogLines::FlushChanged() {
    if (changedFirst_ <= changedLast_ && changedFirst_ < shown_ && observer_ != nullptr)
        observer_->Changed(changedFirst_, std::min(changedLast_, shown_ - 1));
    changedFirst_ = SIZE_MAX;
    changedLast_ = 0;
}

void LogLines::Trim() {
    if (lines_.size() <= kMaxLines) return;
    const size_t excess = lines_.size() - kMaxLines;
    const size_t told = std::min(excess, shown_);
    if (told > 0) {
        if (observer_ != nullptr) observer_->BeginRemove(0, told - 1);
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(told));
        shown_ -= told;
        if (observer_ != nullptr) observer_->EndRemove();
    }
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess - told));
    openRow_ = openRow_ >= static_cast<std::ptrdiff_t>(excess)
                   ? openRow_ - static_cast<std::ptrdiff_t>(excess)
                   : -1;
    if (changedFirst_ <= changedLast_) {
        if (changedLast_ < excess) {
            changedFirst_ = SIZE_MAX;
            changedLast_ = 0;
        } else {
            changedFirst_ = changedFirst_ >= excess ? changedFirst_ - excess : 0;
            changedLast_ -= excess;
        }
    }
}

void LogLines::Clear() {
    if (observer_ != nullptr) observer_->BeginReset();
    lines_.clear();
    shown_ = 0;
    openRow_ = -1;
    changedFirst_ = SIZE_MAX;
    changedLast_ = 0;
    if (observer_ != nullptr) observer_->EndReset();
}

std::vector<uint8_t> DecodeCommandText(std::string_view text) {
    text = FirstChars(text, kMaxCommandChars);
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<uint8_t>(text[i++]));
            continue;
        }
        ++i;
        if (i == text.size()) {
            bytes.push_back(0);
            break;
        }
        int value = HexValue(text[i]);
        if (value < 0) {  // the next character, whole, as itself
            const size_t n = CharLength(text, i);
            bytes.insert(bytes.end(), text.begin() + static_cast<std::ptrdiff_t>(i),
                         text.begin() + static_cast<std::ptrdiff_t>(i + n));
            i += n;
            continue;
        }
        ++i;
        if (i < text.size() && HexValue(text[i]) >= 0) value = value * 16 + HexValue(text[i++]);
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

}  // namespace ulvarin
