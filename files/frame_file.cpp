#include "files/frame_file.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "base/input_file.h"
#include "base/number_text.h"
#include "files/count_text.h"

namespace ulvarin {
namespace {
constexpr size_t kValuesPerLine = kTileSide;
constexpr size_t kTilePixels = static_cast<size_t>(kTileSide) * kTileSide;
constexpr int kMaxFileChips = 4;
// Value texts are gathered in a small buffer; longer ones (a number with many leading
// zeros or digits) spill into a string up to this length, beyond which a run of characters
// is refused rather than buffered.
constexpr size_t kShortValueChars = 64;
constexpr size_t kMaxValueChars = size_t{1} << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// Four chips of values, each written out in full with its separator, and then some.
constexpr uint64_t kMaxFrameFileBytes = uint64_t{64} << 20;
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Writes `count` values, a line feed after every `perLine` and after the last. `format`
// writes value i into a buffer of 32 characters and returns its length.
template <typename Format>
FrameFileStatus WriteValues(const std::string& path, size_t count, size_t perLine, Format format) {
    FilePtr file(std::fopen(path.c_str(), "w"));
    if (!file) return FrameFileStatus::kOutputOpenFailed;
    std::string line;
    line.reserve(perLine * 18 + 1);
    char value[32];
    for (size_t i = 0; i < count; ++i) {
        line.append(value, format(i, value));
        if ((i + 1) % perLine == 0 || i + 1 == count) {
            line += '\n';
            if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) {
                return FrameFileStatus::kOutputWriteFailed;
            }
            line.clear();
        }
    }
    return std::fclose(file.release()) == 0 ? FrameFileStatus::kOk
                                            : FrameFileStatus::kOutputWriteFailed;
}

// "%.9g " in the C locale.
size_t FormatResult(double value, char* out) {
    const auto end = std::to_chars(out, out + 30, value, std::chars_format::general, 9).ptr;
    *end = ' ';
    return static_cast<size_t>(end - out) + 1;
}

// Buffered characters of a file, read twice (the shape, then the values).
class CharReader {
public:
    explicit CharReader(std::FILE* file) : file_(file) {}

    int Get() {
        if (pos_ == size_) {
            size_ = std::fread(buffer_, 1, sizeof buffer_, file_);
            pos_ = 0;
            if (size_ == 0) return EOF;
        }
        return static_cast<unsigned char>(buffer_[pos_++]);
    }

    void Rewind() {
        std::rewind(file_);
        pos_ = size_ = 0;
    }

private:
    std::FILE* file_;
    char buffer_[1 << 16];
    size_t pos_ = 0;
    size_t size_ = 0;
};

// Blank, tab and the carriage return of a CR LF ending part values; the line feed too.
bool IsSeparator(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct FileShape {
    FrameFileStatus status = FrameFileStatus::kOk;
    size_t valuesPerLine = 0;
    size_t lines = 0;
};

// Counts the values of every line; stops at the first line breaking the count rules.
FileShape ReadShape(CharReader& in) {
    FileShape shape;
    size_t count = 0;
    bool inValue = false;
    bool lineStarted = false;
    auto endLine = [&] {
        if (count % kValuesPerLine != 0) return FrameFileStatus::kWrongItemsPerRow;
        if (shape.lines == 0) shape.valuesPerLine = count;
        if (count != shape.valuesPerLine) return FrameFileStatus::kVariousItemsPerRow;
        ++shape.lines;
        count = 0;
        inValue = lineStarted = false;
        return FrameFileStatus::kOk;
    };
    for (int c = in.Get(); c != EOF; c = in.Get()) {
        if (c == '\n') {
            shape.status = endLine();
            if (shape.status != FrameFileStatus::kOk) return shape;
            continue;
        }
        lineStarted = true;
        if (IsSeparator(c)) {
            inValue = false;
        } else if (!inValue) {
            inValue = true;
            ++count;
        }
    }
    if (lineStarted) shape.status = endLine();  // a last line without a line feed
    return shape;
}

// The file's chip count from its shape, or the failure the shape shows.
FrameFileStatus CheckShape(const FileShape& shape, int& chips) {
    if (shape.lines == 0) return FrameFileStatus::kReadFailed;
    if (shape.lines % kTileSide != 0) return FrameFileStatus::kWrongRows;
    constexpr size_t kMaxValues = kMaxFileChips * kTilePixels;
    // Both factors are bounded before multiplying, so the product cannot overflow.
    if (shape.valuesPerLine > kMaxValues || shape.lines > kMaxValues) {
        return FrameFileStatus::kWrongChips;
    }
    const size_t fileChips = shape.lines * shape.valuesPerLine / kTilePixels;
    if (fileChips < 1 || fileChips > kMaxFileChips) return FrameFileStatus::kWrongChips;
    chips = static_cast<int>(fileChips);
    // An image-order line must be one image row; other widths would scramble the picture.
    if (shape.valuesPerLine != kValuesPerLine &&
        shape.valuesPerLine != GeometryFor(chips).width()) {
        return FrameFileStatus::kWrongItemsPerRow;
    }
    return FrameFileStatus::kOk;
}

// The next value as a count: truncated toward zero and held within int32 (infinities and
// huge magnitudes too). None at the end of the file or for a value that is no number.
std::optional<int32_t> NextCount(CharReader& in) {
    int c = in.Get();
    while (c != EOF && IsSeparator(c)) c = in.Get();
    if (c == EOF) return std::nullopt;
    char text[kShortValueChars];
    std::string longText;
    size_t length = 0;
    bool tooLong = false;
    // Most values are plain integers: they are summed up while read, and only other texts
    // go through the general number reader.
    bool plain = true;
    bool negative = false;
    int digits = 0;
    int64_t magnitude = 0;
    for (; c != EOF && !IsSeparator(c); c = in.Get()) {
        if (length < kShortValueChars) {
            text[length] = static_cast<char>(c);
        } else if (length < kMaxValueChars) {
            if (longText.empty()) longText.assign(text, length);
            longText.push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
        ++length;
        if (!plain) continue;
        if (c >= '0' && c <= '9' && digits < 18) {
            magnitude = magnitude * 10 + (c - '0');
            ++digits;
        } else if ((c == '-' || c == '+') && length == 1) {
            negative = c == '-';
        } else {
            plain = false;
        }
    }
    if (tooLong) return std::nullopt;
    constexpr int64_t kHighest = std::numeric_limits<int32_t>::max();
    constexpr int64_t kLowest = std::numeric_limits<int32_t>::min();
    if (plain && digits > 0) {
        return static_cast<int32_t>(
            std::clamp(negative ? -magnitude : magnitude, kLowest, kHighest));
    }
    const auto value =
        WholeNumber(longText.empty() ? std::string_view(text, length) : longText);
    if (!value) return std::nullopt;
    if (*value >= static_cast<double>(kHighest)) return static_cast<int32_t>(kHighest);
    if (*value <= static_cast<double>(kLowest)) return static_cast<int32_t>(kLowest);
    return static_cast<int32_t>(*value);
}

// Reads the values into counts; image-order files are mapped through `fileLayout`.
FrameFileStatus ReadValues(CharReader& in, size_t valuesPerLine, const ChipLayout& fileLayout,
                           int chipCount, std::span<int32_t> counts, uint32_t& valuesRead) {
    const bool chipOrder = valuesPerLine == kValuesPerLine;
    const size_t inUse = std::min(counts.size(), static_cast<size_t>(chipCount) * kTilePixels);
    const size_t wanted = static_cast<size_t>(chipCount) * kTilePixels;
    const uint32_t filePixels = fileLayout.pixelsInUse();
    // An image-order file is read whole, as its rows mix the chips; fewer chips in the file
    // than in use run out of values.
    const size_t toRead = chipOrder ? wanted : std::max(wanted, size_t{filePixels});
    for (size_t k = 0; k < toRead; ++k) {
        const auto count = NextCount(in);
        // Beyond the file's values only when more chips are in use than the file holds.
        if (!count || (!chipOrder && k >= filePixels)) return FrameFileStatus::kReadFailed;
        const size_t pixel =
            chipOrder ? k : ImageIndexToPixel(static_cast<uint32_t>(k), fileLayout);
        if (pixel < inUse) {
            counts[pixel] = *count;
            ++valuesRead;
        }
    }
    return FrameFileStatus::kOk;
}

}  // namespace

const char* FrameFileMessage(FrameFileStatus status) {
    switch (status) {
        case FrameFileStatus::kOk:
            return "";
        case FrameFileStatus::kOutputOpenFailed:
            return "Error - coldn't open output file";
        case FrameFileStatus::kOutputWriteFailed:
            return "Error - coldn't write to output file";
        case FrameFileStatus::kInputOpenFailed:
            return "Error - coldn't open data file";
        case FrameFileStatus::kReadFailed:
            return "Error - coldn't read data file\nNot compatible data format!";
        case FrameFileStatus::kWrongItemsPerRow:
            return "Error - Not compatible data format! \r(Wrong number of items per row)";
        case FrameFileStatus::kVariousItemsPerRow:
            return "Error - Not compatible data format! \r(Various number of items per row)";
        case FrameFileStatus::kWrongRows:
            return "Error - Not compatible data format! \r(Wrong number of rows)";
        case FrameFileStatus::kWrongChips:
            return "Error - Not compatible data format! \r(Wrong number of chips)";
    }
    return "";
}

std::string ImageWrittenLine(const std::string& path) {
    return "Image written to: " + path;
}
std::string ImageLoadedLine(const std::string& path) {
    return "Image Loaded from: " + path;
}

FrameFileStatus WriteCountFrameFile(const std::string& path, std::span<const int32_t> counts) {
    return CountTextFormatter().WriteFile(path, counts);
}

bool WriteCountFrame(const std::string& path, std::span<const int32_t> counts) {
    return WriteCountFrameFile(path, counts) == FrameFileStatus::kOk;
}

FrameFileStatus WriteResultImage(const std::string& path, std::span<const double> result,
                                 const ChipLayout& layout) {
    const size_t count = layout.pixelsInUse();
    if (result.size() < count) return FrameFileStatus::kOutputWriteFailed;
    if (layout.chipCount <= 1) {
        return WriteValues(path, count, kValuesPerLine,
                           [&](size_t i, char* out) { return FormatResult(result[i], out); });
    }
    return WriteValues(
        path, count, GeometryFor(layout.chipCount).width(), [&](size_t i, char* out) {
            const uint32_t pixel = ImageIndexToPixel(static_cast<uint32_t>(i), layout);
            return FormatResult(result[pixel], out);
        });
}

FrameLoadResult LoadFrameFile(const std::string& path, const ChipLayout& current, bool deviceOpen,
                              std::span<int32_t> counts) {
    FrameLoadResult result;
    // Only regular files, and none larger than four chips of values written out in full.
    InputCheck check{};
    const InputFilePtr file = OpenInputFile(path, kMaxFrameFileBytes, check);
    if (!file) {
        result.status = check == InputCheck::kTooLarge ? FrameFileStatus::kReadFailed
                                                       : FrameFileStatus::kInputOpenFailed;
        return result;
    }
    auto in = std::make_unique<CharReader>(file.get());
    const FileShape shape = ReadShape(*in);
    result.valuesPerLine = shape.valuesPerLine;
    result.status = shape.status;
    if (result.ok()) result.status = CheckShape(shape, result.fileChips);
    if (!result.ok()) {
        result.fileChips = 0;
        return result;
    }
    if (!deviceOpen) result.newChipCount = result.fileChips;
    const int chipCount = deviceOpen ? current.chipCount : result.fileChips;
    in->Rewind();
    result.status = ReadValues(*in, shape.valuesPerLine, {result.fileChips, current.family},
                               chipCount, counts, result.valuesRead);
    return result;
}

}  // namespace ulvarin
