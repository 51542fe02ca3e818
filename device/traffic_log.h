// The terminal's traffic log: groups the blocks of bytes moved on the interfaces into
// exchanges and turns them into log lines (header, description, error lines, hexadecimal
// and character rows, summaries), and the line store a view shows them from. Also the
// decoder of the command text a user types to send raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/device.h"

namespace ulvarin {

// One change to the log's lines.
struct LogLineOp {
    enum class Kind : uint8_t {
        Line,     // a finished line at the end; the unfinished row, if any, stays as it is
        Row,      // the current dump row: replaces the unfinished row, or is added at the end
                  // when there is none; `open` keeps it unfinished
        DropRow,  // removes the unfinished row (it is added again below what follows)
        Note,     // a line from elsewhere; an unfinished row stays unfinished where it is
        Limit,    // drops the oldest lines beyond LogLines::kMaxLines, before what follows
    };
    Kind kind = Kind::Line;
    bool open = false;
    std::string text;
};

struct TrafficFilters {
    bool filterLong = true;   // an exchange shows its first 256 bytes, then one abbreviation line
    bool skipScope = true;    // exchanges starting with '$' are not shown
    bool skipMonitor = true;  // exchanges starting while the main timer polls are not shown
};

inline constexpr uint32_t kAbbreviateAt = 256;
inline constexpr int kRowBytes = 8;
inline constexpr std::string_view kAbbreviationLine = ">>    Abreviated     <<           ";
inline constexpr std::string_view kEqualsLine = "=======================================";
inline constexpr std::string_view kDashesLine = "---------------------------------------";

// The exchange state of the log. Not thread-safe: calls must be serialised by the caller.
class TrafficLog {
public:
    // Logs one block of `count` bytes moved on `handle` (direction 0 received, 1 transmitted),
    // reading the handle's packets, reportKind, reportText and reportTime as the link left
    // them, and appends the resulting line changes to `out`. A block continues the current
    // exchange when the handle's packets and the direction are those of the exchange. Every
    // block, shown or skipped, first limits the log (Kind::Limit), so the lines it adds come
    // on top of at most kMaxLines kept ones.
    void Feed(const MpxDevice& handle, const uint8_t* bytes, uint32_t count, int direction,
              const TrafficFilters& filters, bool timerRunning, std::vector<LogLineOp>& out);

    // After a pause: the exchange in progress is not summarised when the next one starts.
    void Resume() { previousSkipped_ = true; }

private:
    void StartExchange(const MpxDevice& handle, const uint8_t* bytes, int direction,
                       std::vector<LogLineOp>& out);
    void Dump(const uint8_t* bytes, uint32_t count, const TrafficFilters& filters,
              std::vector<LogLineOp>& out);
    std::string RowText() const;

    int32_t lastPacket_ = -1;
    int lastDirection_ = 0;
    int lastKindShown_ = 0;
    bool skipping_ = false;
    bool previousSkipped_ = true;  // no exchange to summarise yet
    uint64_t exchangeBytes_ = 0;
    uint8_t row_[kRowBytes] = {};
    int rowFill_ = 0;        // bytes in row_
    bool rowShown_ = false;  // row_ is in the log as its unfinished row
};

// "HH:MM:SS.mmm" of a clock time in seconds (local time of day), truncated.
std::string ClockText(double seconds);

// The lines a view shows. A Kind::Limit change drops the oldest lines beyond kMaxLines; other
// changes add lines without limit. Changes are announced to an observer in the order a list
// model needs them; lines added by one Apply are announced as one insertion at the end, and
// lines both added and dropped by the same Apply are never announced.
class LogLines {
public:
    static constexpr size_t kMaxLines = 10000;

    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void BeginRemove(size_t first, size_t last) = 0;
        virtual void EndRemove() = 0;
        virtual void BeginInsert(size_t first, size_t last) = 0;
        virtual void EndInsert() = 0;
        virtual void Changed(size_t first, size_t last) = 0;
        virtual void BeginReset() = 0;
        virtual void EndReset() = 0;
    };

    explicit LogLines(Observer* observer = nullptr) : observer_(observer) {}

    // Applies `ops` in order.
    void Apply(std::span<const LogLineOp> ops);
    // Deletes every line.
    void Clear();

    size_t Size() const { return lines_.size(); }
    // Lines the observer has been told of (all of them outside Apply).
    size_t Shown() const { return shown_; }
    const std::string& At(size_t index) const { return lines_[index]; }

private:
    void ApplyOne(const LogLineOp& op);
    void DropRow();
    void FlushChanged();
    void Trim();

    Observer* observer_;
    std::deque<std::string> lines_;
    size_t shown_ = 0;                // lines the observer has been told of
    std::ptrdiff_t openRow_ = -1;     // index of the unfinished row, or -1
    size_t changedFirst_ = SIZE_MAX;  // range of told-of lines rewritten in this Apply
    size_t changedLast_ = 0;
};

inline constexpr size_t kMaxCommandChars = 255;

// Bytes of a typed command text (UTF-8): at most its first kMaxCommandChars characters are
// taken. Each character stands for its own bytes (non-ASCII ones for their UTF-8 bytes),
// except that a backslash starts an escape: one or two hexadecimal digits give one byte of
// that value; any other character after it is sent once as itself; a backslash at the very
// end gives one NUL byte.
std::vector<uint8_t> DecodeCommandText(std::string_view text);

}  // namespace ulvarin
