#include "files/pulse_files.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>

#include "base/input_file.h"

namespace ulvarin {
namespace {

constexpr size_t kMaxWord = 32;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
// Only regular files are read as spectra, and none larger than every bin written out in
// full with room to spare.
constexpr uint64_t kMaxSpectrumFileBytes = uint64_t{16} << 20;

TextFileResult WriteText(const std::string& path, const std::string& text) {
    File file(std::fopen(path.c_str(), "w"));
    if (!file) return TextFileResult::CannotOpenOutput;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    const bool closed = std::fclose(file.release()) == 0;
    return written && closed ? TextFileResult::Ok : TextFileResult::CannotWrite;
}

void Append(std::string& text, const char* format, auto value) {
    char field[48];
    const int n = std::snprintf(field, sizeof field, format, value);
    if (n > 0) text.append(field, std::min(static_cast<size_t>(n), sizeof field - 1));
}

// A sample truncated toward zero to a 32-bit integer; not-a-number as 0.
int TruncatedSample(double v) {
    if (std::isnan(v)) return 0;
    constexpr double kLow = std::numeric_limits<int>::min();
    constexpr double kHigh = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(v), kLow, kHigh));
}

// The next word of blank-separated text; false at the end of the file. A word longer than
// kMaxWord is cut there (and then fails to parse) without reading the rest of it.
bool NextWord(std::FILE* f, std::string& word) {
    int c;
    do {
        c = std::getc(f);
    } while (c != EOF && std::isspace(c));
    if (c == EOF) return false;
    word.clear();
    while (c != EOF && !std::isspace(c) && word.size() <= kMaxWord) {
        word += static_cast<char>(c);
        c = std::getc(f);
    }
    return true;
}

bool ParseCount(std::string_view word, int32_t& count) {
    if (word.size() > kMaxWord) return false;
    if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return false;
    if (value < 0 || value > std::numeric_limits<int32_t>::max()) return false;
    count = static_cast<int32_t>(value);
    return true;
}

}  // namespace

std::string FileErrorText(TextFileResult result) {
    switch (result) {
        case TextFileResult::Ok:
            return "";
        case TextFileResult::CannotOpenOutput:
            return "Error - coldn't open output file";
        case TextFileResult::CannotWrite:
            return "Error - coldn't write to output file";
        case TextFileResult::CannotOpenInput:
            return "Error - coldn't open input file";
        case TextFileResult::TooShort:
        case TextFileResult::BadNumber:
            return "Error - coldn't read input file";
    }
    return "";
}

std::string PulseWriteErrorText(int32_t pulseCount, const std::string& fileName) {
    return "Error writing pulse " + std::to_string(pulseCount) + " to file \"" + fileName + "\"";
}

TextFileResult WriteSpectrumFile(const std::string& path, const Spectrum& spectrum) {
    std::string text;
    text.reserve(spectrum.size() * 4);
    for (const int32_t count : spectrum) Append(text, "%d\n", count);
    return WriteText(path, text);
}

SpectrumRead ReadSpectrumFile(const std::string& path, Spectrum& spectrum) {
    SpectrumRead read;
    InputCheck check{};
    const InputFilePtr file = OpenInputFile(path, kMaxSpectrumFileBytes, check);
    if (!file) {
        read.result = TextFileResult::CannotOpenInput;
        return read;
    }
    int64_t sum = 0;
    std::string word;
    for (int32_t& bin : spectrum) {
        int32_t count = 0;
        if (!NextWord(file.get(), word)) {
            read.result = TextFileResult::TooShort;
            break;
        }
        if (!ParseCount(word, count)) {
            read.result = TextFileResult::BadNumber;
            break;
        }
        bin = count;
        sum += count;
        ++read.valuesRead;
    }
    read.pulseCount =
        static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
    return read;
}

TextFileResult LoadSpectrum(const std::string& path, PulseStore& store) {
    const SpectrumRead read = ReadSpectrumFile(path, store.MutableSpectrum());
    if (read.result != TextFileResult::CannotOpenInput) store.SetPulseCount(read.pulseCount);
    return read.result;
}

TextFileResult WritePulseFile(const std::string& path, const PulseRecord& pulse) {
    std::string text;
    const int rows = pulse.LongestCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < kPulseChannels; ++c) {
            const std::span<const double> samples = pulse.Samples(c);
            if (samples.empty()) continue;
            const size_t row = static_cast<size_t>(r);
            Append(text, " %5d", row < samples.size() ? TruncatedSample(samples[row]) : 0);
        }
        text += '\n';
    }
    return WriteText(path, text);
}

TextFileResult WriteCurvesFile(const std::string& path, const PulseStore& store) {
    std::string text;
    const PulseRecord* shown = store.ShownRecord();
    for (int c = 0; shown && c < kPulseChannels; ++c) {
        if (!shown->HasSamples(c)) continue;
        if (store.HistoryHoldsScan()) {
            text += '[' + std::string(ScanCurveName(c)) + "]\n";
        } else {
            Append(text, "[ADC%d]\n", c);
        }
        for (int slot = 0; slot < kHistorySlots && store.HistorySlot(slot).HasSamples(c); ++slot) {
            for (const double v : store.HistorySlot(slot).Samples(c)) Append(text, "%.9g ", v);
            text += '\n';
        }
        text += '\n';
    }
    return WriteText(path, text);
}

}  // namespace ulvarin
