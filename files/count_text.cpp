#include "files/count_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace ulvarin {
namespace {

constexpr size_t kValuesPerLine = 256;
// "-2147483648 " is the widest value text.
constexpr size_t kMaxValueChars = 12;
// Fewer lines than this per block cost more in starting a thread than they save.
constexpr size_t kMinLinesPerBlock = 32;

constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// One value as "%8d " at `out`; returns the end. Values of at most eight characters (nearly
// all counts) are written backwards into a field of blanks, two digits a step; wider ones
// go through to_chars, as printf pads them with nothing.
char* PutCount(int32_t value, char* out) {
    if (value > -10'000'000 && value < 100'000'000) {
        std::memset(out, ' ', 8);
        uint32_t rest = value < 0 ? static_cast<uint32_t>(-value) : static_cast<uint32_t>(value);
        char* digit = out + 8;
        while (rest >= 100) {
            digit -= 2;
            std::memcpy(digit, &kDigitPairs[2 * (rest % 100)], 2);
            rest /= 100;
        }
        if (rest >= 10) {
            digit -= 2;
            std::memcpy(digit, &kDigitPairs[2 * rest], 2);
        } else {
            *--digit = static_cast<char>('0' + rest);
        }
        if (value < 0) *--digit = '-';
        out[8] = ' ';
        return out + 9;
    }
    char* end = std::to_chars(out, out + kMaxValueChars, value).ptr;
    *end = ' ';
    return end + 1;
}

// Characters the text of `values` takes at most.
size_t MostChars(size_t values) {
    return values * kMaxValueChars + (values + kValuesPerLine - 1) / kValuesPerLine;
}

// The text of `values`, which start a line, at `out` (MostChars long): a line feed after
// every 256 and after the last. Returns its length.
size_t FormatBlock(std::span<const int32_t> values, char* out) {
    char* const start = out;
    for (size_t first = 0; first < values.size(); first += kValuesPerLine) {
        const size_t last = std::min(first + kValuesPerLine, values.size());
        for (size_t i = first; i < last; ++i) out = PutCount(values[i], out);
        *out++ = '\n';
    }
    return static_cast<size_t>(out - start);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

CountTextFormatter::CountTextFormatter(int threads)
    : threads_(std::clamp(threads, 1, kMaxThreads)) {}

std::span<const std::span<const char>> CountTextFormatter::Format(std::span<const int32_t> counts) {
    const size_t lines = (counts.size() + kValuesPerLine - 1) / kValuesPerLine;
    const size_t blockCount = std::clamp<size_t>(lines / kMinLinesPerBlock, 1, threads_);
    const size_t linesPerBlock = (lines + blockCount - 1) / blockCount;
    if (buffers_.size() < blockCount) buffers_.resize(blockCount);
    blocks_.assign(blockCount, {});
    std::vector<std::span<const int32_t>> values(blockCount);
    // Every buffer is made large enough here, so the helper threads allocate nothing and
    // cannot fail.
    for (size_t block = 0; block < blockCount; ++block) {
        const size_t first = std::min(counts.size(), block * linesPerBlock * kValuesPerLine);
        values[block] =
            counts.subspan(first, std::min(counts.size() - first, linesPerBlock * kValuesPerLine));
        const size_t most = MostChars(values[block].size());
        if (buffers_[block].size() < most) buffers_[block].resize(most);
    }
    const auto format = [&](size_t block) {
        const size_t length = FormatBlock(values[block], buffers_[block].data());
        blocks_[block] = {buffers_[block].data(), length};
    };
    std::vector<std::jthread> helpers;
    helpers.reserve(blockCount);
    for (size_t block = 1; block < blockCount; ++block) {
        try {
            helpers.emplace_back(format, block);
        } catch (const std::system_error&) {
            format(block);  // no thread to be had: this one formats the block
        }
    }
    format(0);
    helpers.clear();  // joins them
    return blocks_;
}

FrameFileStatus CountTextFormatter::WriteFile(const std::string& path,
                                              std::span<const int32_t> counts) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) return FrameFileStatus::kOutputOpenFailed;
    std::span<const std::span<const char>> blocks;
    try {
        blocks = Format(counts);
    } catch (const std::bad_alloc&) {
        return FrameFileStatus::kOutputWriteFailed;  // no memory for the text
    }
    for (const std::span<const char> block : blocks) {
        if (block.empty()) continue;  // an empty block may carry no buffer at all
        if (std::fwrite(block.data(), 1, block.size(), file.get()) != block.size())
            return FrameFileStatus::kOutputWriteFailed;
    }
    return std::fclose(file.release()) == 0 ? FrameFileStatus::kOk
                                            : FrameFileStatus::kOutputWriteFailed;
}

}  // namespace ulvarin
