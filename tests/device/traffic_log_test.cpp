#include "device/traffic_log.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace ulvarin::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// Keeps its own copy of the lines from nothing but the change notices, as a list view does.
class MirrorObserver : public LogLines::Observer {
public:
    void BeginRemove(size_t first, size_t last) override { range_ = {first, last}; }
    void EndRemove() override {
        ASSERT_LE(range_.second, copy.size());
        copy.erase(copy.begin() + static_cast<long>(range_.first),
                   copy.begin() + static_cast<long>(range_.second) + 1);
    }
    void BeginInsert(size_t first, size_t last) override {
        EXPECT_EQ(first, copy.size());  // always at the end
        range_ = {first, last};
    }
    void EndInsert() override {
        for (size_t i = range_.first; i <= range_.second; ++i) copy.push_back(store->At(i));
        ++inserts;
    }
    void Changed(size_t first, size_t last) override {
        ASSERT_LT(last, copy.size());
        for (size_t i = first; i <= last; ++i) copy[i] = store->At(i);
    }
    void BeginReset() override {}
    void EndReset() override { copy.clear(); }

    const LogLines* store = nullptr;
    Lines copy;
    int inserts = 0;

private:
    std::pair<size_t, size_t> range_;
};

class TrafficLogTest : public ::testing::Test {
protected:
    TrafficLogTest() { mirror.store = &lines; }

    // Feeds `bytes` as one exchange block after another of the given sizes (the last size
    // repeats), applying each block's changes as the window does.
    void Feed(const Bytes& bytes, int direction, std::vector<size_t> blocks = {}) {
        if (blocks.empty()) blocks.push_back(bytes.size());
        size_t at = 0;
        for (size_t k = 0; at < bytes.size(); ++k) {
            const size_t n = std::min(blocks[std::min(k, blocks.size() - 1)], bytes.size() - at);
            log.Feed(handle, bytes.data() + at, static_cast<uint32_t>(n), direction, filters,
                     timerRunning, ops);
            at += n;
            lines.Apply(ops);
            ops.clear();
            ASSERT_EQ(mirror.copy.size(), lines.Size());
        }
        ASSERT_EQ(mirror.copy, All());
    }
    Lines All() const {
        Lines all;
        for (size_t i = 0; i < lines.Size(); ++i) all.push_back(lines.At(i));
        return all;
    }
    size_t Count(const std::string& text) const {
        Lines all = All();
        return static_cast<size_t>(std::count(all.begin(), all.end(), text));
    }
    size_t Rows() const {
        Lines all = All();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const std::string& l) {
            return l.size() > 24 && l.compare(24, 2, "| ") == 0;
        }));
    }

    MpxDevice handle;
    TrafficFilters filters;
    bool timerRunning = false;
    TrafficLog log;
    MirrorObserver mirror;
    LogLines lines{&mirror};
    std::vector<LogLineOp> ops;
};

Bytes Counting(size_t n, uint8_t first) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), static_cast<uint8_t>(0));
    bytes[0] = first;
    return bytes;
}

TEST_F(TrafficLogTest, CommandAndAnswerAreLoggedLineByLine) {
    handle.reportTime = 19000 * 86400.0 + 13 * 3600 + 4 * 60 + 5.25;  // 13:04:05.250 local
    handle.packets = 7;
    Feed({'x'}, 1);
    ++handle.packets;  // the command's transmission ended
    handle.reportTime += 0.5;
    Feed({'x', 'O', 'K', '\r'}, 0, {1, 3});
    ++handle.packets;
    Feed({'i'}, 1);
    const Lines expected = {
        "",
        "13:04:05.250 Transmited [000007]",
        "Command: Medipix power ON",
        "---------------------------------------",
        "78                      | x",
        "Bytes transmited: 1",
        "",
        "13:04:05.750 Received   [000008]",
        "Response: Medipix power ON",
        "---------------------------------------",
        "78 4f 4b 0d             | xOK.",
        "Bytes received: 4",
        "=======================================",
        "",
    };
    Lines all = All();
    ASSERT_GE(all.size(), expected.size());
    EXPECT_EQ(Lines(all.begin(), all.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(TrafficLogTest, FirstByteDescribesTheExchange) {
    const std::pair<uint8_t, const char*> cases[] = {
        {'!', "Error message."},
        {'"', "String message."},
        {'[', "Background message begining."},
        {']', "Background message end."},
        {0x01, "Response: Unknown command [01]"},
    };
    for (const auto& [first, text] : cases) {
        ++handle.packets;
        Feed({first, ' ', 0x7F, 0x80}, 0);
        EXPECT_EQ(All()[All().size() - 3], text);
    }
    EXPECT_EQ(All().back(), "01 20 7f 80             | ..\x7f.");
}

// However a long answer is cut into blocks, it shows 32 rows, one abbreviation line and its
// true length; and without the filter, the rows do not depend on the cuts either.
TEST_F(TrafficLogTest, BlockBoundariesNeverChangeTheLog) {
    const Bytes frame = Counting(229379, 'm');
    const std::vector<std::vector<size_t>> cuts = {
        {229379},      {1, 65536}, {256, 1000}, {255, 1, 300}, {1, 255, 8, 5000},
        {100, 156, 1}, {7},        {3},         {256},         {8, 4096},
    };
    Lines reference;
    for (bool filterLong : {true, false}) {
        filters.filterLong = filterLong;
        for (const auto& blocks : cuts) {
            if (!filterLong && blocks.back() < 100) continue;  // slow
            SCOPED_TRACE(testing::Message() << filterLong << " first cut " << blocks.front());
            lines.Clear();
            log = TrafficLog();
            handle.packets = 3;
            Feed(frame, 0, blocks);
            ++handle.packets;
            Feed({'m'}, 1);
            if (filterLong) {
                EXPECT_EQ(Rows(), 33u);  // 32 of the answer, 1 of the next command
                EXPECT_EQ(Count(std::string(kAbbreviationLine)), 1u);
            }
            EXPECT_EQ(Count("Bytes received: 229379"), 1u);
            if (blocks == cuts.front()) reference = All();
            EXPECT_EQ(All(), reference);
        }
    }
}

TEST_F(TrafficLogTest, ScopeAndMonitoringExchangesAreSkippedWithTheirSummaries) {
    Feed({'x'}, 1);
    ++handle.packets;
    Feed({'$', 1, 0, 5, 6, 7, 8, 'O', 'K', '\r'}, 0, {2, 3});  // the scope answer
    const Lines afterCommand = All();
    EXPECT_EQ(afterCommand.back(), "Bytes transmited: 1");
    ++handle.packets;
    timerRunning = true;
    Feed({'M'}, 1);  // the main timer's polling
    ++handle.packets;
    Feed({'M', 1, 2}, 0);
    EXPECT_EQ(All(), afterCommand);
    timerRunning = false;
    ++handle.packets;
    Feed({'i'}, 1);
    EXPECT_EQ(All().size(), afterCommand.size() + 5) << "no summary of the skipped exchanges";

    filters.skipScope = filters.skipMonitor = false;
    timerRunning = true;
    ++handle.packets;
    Feed({'$', 0}, 0);
    EXPECT_EQ(All().back(), "24 00                   | $.");
}

// An error reported in the middle of an unfinished row goes above the row, which keeps all
// its bytes; later blocks of the same exchange do not repeat the same error.
TEST_F(TrafficLogTest, ErrorInAContinuingExchangeKeepsItsLineAndTheRow) {
    handle.reportKind = 5;
    std::snprintf(handle.reportText, sizeof handle.reportText, "Timeout");
    Feed({'i', 'A', 'B'}, 0);
    handle.reportKind = 8;
    std::snprintf(handle.reportText, sizeof handle.reportText, "Bad response");
    Feed({'C', 'D'}, 0);
    Feed({'E', 'F', 'G', 'H', 'I'}, 0);
    const Lines expected = {
        "Response: Version info",
        "Error 5: Timeout",
        "---------------------------------------",
        "Error 8: Bad response",
        "69 41 42 43 44 45 46 47 | iABCDEFG",
        "48 49                   | HI",
    };
    Lines all = All();
    EXPECT_EQ(Lines(all.end() - static_cast<long>(expected.size()), all.end()), expected);
}

// Each block first drops the oldest lines beyond 10000, shown or skipped, and then adds its
// own on top; lines from elsewhere (notes) never drop any.
TEST_F(TrafficLogTest, EachBlockFirstKeepsTheNewest10000Lines) {
    filters.filterLong = false;
    Feed(Counting(8 * 12000 + 3, 'm'), 0, {8 * 3000});
    EXPECT_EQ(lines.Size(), LogLines::kMaxLines + 1) << "the last block's row on top";
    EXPECT_EQ(All().back(), "00 01 02                | ...");
    // The unfinished row survives the dropping and keeps being rebuilt in place.
    Feed({4, 5}, 0);
    EXPECT_EQ(lines.Size(), LogLines::kMaxLines);
    EXPECT_EQ(All().back(), "00 01 02 04 05          | .....");

    // A note between row updates stays below the row, which is finished in place.
    lines.Apply(std::vector<LogLineOp>{{LogLineOp::Kind::Note, false, "note"}});
    EXPECT_EQ(lines.Size(), LogLines::kMaxLines + 1);
    Feed({6, 7, 8, 9}, 0);
    Lines all = All();
    EXPECT_EQ(all.size(), LogLines::kMaxLines + 1);
    EXPECT_EQ(all[all.size() - 3], "00 01 02 04 05 06 07 08 | ........");
    EXPECT_EQ(all[all.size() - 2], "note");
    EXPECT_EQ(all.back(), "09                      | .");

    // A skipped exchange limits the log too, below its predecessor's summary.
    lines.Apply(std::vector<LogLineOp>(5, LogLineOp{LogLineOp::Kind::Note, false, "n"}));
    timerRunning = true;
    ++handle.packets;
    Feed({'M'}, 1);
    EXPECT_EQ(lines.Size(), LogLines::kMaxLines + 2);
    EXPECT_EQ(All()[LogLines::kMaxLines], "Bytes received: 96009");

    // One batch far beyond the limit is never told of whole.
    const int before = mirror.inserts;
    std::vector<LogLineOp> many(25000, LogLineOp{LogLineOp::Kind::Line, false, "x"});
    many.push_back({LogLineOp::Kind::Limit, false, {}});
    many.push_back({LogLineOp::Kind::Line, false, "last"});
    lines.Apply(many);
    EXPECT_EQ(mirror.inserts, before + 1);
    EXPECT_EQ(mirror.copy, All());
    EXPECT_EQ(lines.Size(), LogLines::kMaxLines + 1);
    EXPECT_EQ(All().back(), "last");
}

TEST(CommandTextTest, EscapesGiveTheirBytes) {
    const std::pair<std::string, Bytes> cases[] = {
        {"x\\0d", {'x', 0x0D}},
        {"\\7e", {0x7E}},
        {"\\7E\\Ff", {0x7E, 0xFF}},
        {"\\q", {'q'}},
        {"\\\\", {'\\'}},
        {"ab\\", {'a', 'b', 0}},
        {"\\7", {0x07}},
        {"\\7g", {0x07, 'g'}},
        {"\\abc", {0xAB, 'c'}},
        {"\\00\\0", {0, 0}},
        {"\xc3\xa9", {0xC3, 0xA9}},
        {"\\\xc3\xa9!", {0xC3, 0xA9, '!'}},
        {"", {}},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(DecodeCommandText(text), bytes) << text;
}

TEST(CommandTextTest, AtMost255CharactersAreTaken) {
    // 255 backslashes: 127 escaped backslashes and a trailing NUL.
    Bytes expected(127, '\\');
    expected.push_back(0);
    EXPECT_EQ(DecodeCommandText(std::string(255, '\\')), expected);
    EXPECT_EQ(DecodeCommandText(std::string(300, '\\')), expected);
    EXPECT_EQ(DecodeCommandText(std::string(300, 'a')).size(), 255u);
    // Characters, not bytes, are counted; a character is never cut.
    Bytes wide = DecodeCommandText(std::string(254, 'a') +
                                   "\xc3\xa9"
                                   "b");
    EXPECT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide.back(), 0xA9);
    // A stray continuation byte or a cut character is passed on, never read past the end.
    EXPECT_EQ(DecodeCommandText("\xa9"), Bytes{0xA9});
    EXPECT_EQ(DecodeCommandText("\\\xc3"), Bytes{0xC3});
}

}  // namespace
}  // namespace ulvarin::test
