#include "files/mask_file.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/input_file.h"
#include "files/file_names.h"
#include "files/frame_writer.h"

namespace ulvarin {
namespace {

// Word bit for each byte bit; a negative entry means "inverted, at bit ~entry".
constexpr int kMedipix2Bits[8] = {9, 8, 7, 12, 5, 4, 10, 11};
constexpr int kWideBits[8] = {7, 6, 8, 12, 10, 11, ~9, 0};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void ReadBinary(std::string_view bytes, bool wide, uint16_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) words[i] = MaskByteToWord(static_cast<uint8_t>(bytes[i]), wide);
}

MaskReadResult ReadAscii(const std::string& text, uint16_t* words, size_t count) {
    const char* p = text.c_str();
    std::string token;
    for (size_t i = 0; i < count; ++i) {
        while (std::isspace(static_cast<unsigned char>(*p))) ++p;
        // The number is read from a copy of its own token: checked builds look at the whole
        // rest of the text on every call, which made a four-chip mask take minutes there.
        const char* start = p;
        while (*p != 0 && !std::isspace(static_cast<unsigned char>(*p))) ++p;
        token.assign(start, p);
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(token.c_str(), &end, 0);  // out-of-range values saturate
        if (end == token.c_str()) return MaskReadResult::CannotRead;
        words[i] = static_cast<uint16_t>(static_cast<unsigned long long>(value) & 0xFFFF);
        p = start + (end - token.c_str());  // what follows the number in its token is read next
    }
    return MaskReadResult::Ok;
}

// Whether every byte could belong to an ASCII mask: numbers (decimal, hexadecimal, octal,
// signed) and white space.
bool LooksLikeText(std::string_view bytes) {
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isxdigit(u) && !std::isspace(u) && c != 'x' && c != 'X' && c != '+' && c != '-')
            return false;
    }
    return true;
}

// The largest ASCII mask: every value written out in full ("-0x000000000000FFFF") with room
// for separators and line ends.
uint64_t MaxMaskBytes(size_t count) {
    return std::max<uint64_t>(count, uint64_t{count} * 24 + 4096);
}

}  // namespace

MaskFormat MaskFormatFor(const std::string& path) {
    const std::string extension = FileExtension(path);
    return extension.empty() || strcasecmp(extension.c_str(), ".txt") == 0 ? MaskFormat::Ascii
                                                                          : MaskFormat::Binary;
}

uint16_t MaskByteToWord(uint8_t byte, bool wide) {
    const int* bits = wide ? kWideBits : kMedipix2Bits;
    unsigned word = 0;
    for (int b = 0; b < 8; ++b) {
        const bool set = (byte >> b) & 1;
        if (bits[b] >= 0) {
            if (set) word |= 1u << bits[b];
        } else if (!set) {
            word |= 1u << ~bits[b];
        }
    }
    return static_cast<uint16_t>(word);
}

MaskReadResult ReadMaskFile(const std::string& path, bool wide, uint16_t* words, size_t count) {
    const uint64_t limit = MaxMaskBytes(count);
    InputCheck check{};
    const InputFilePtr file = OpenInputFile(path, limit, check);
    if (check == InputCheck::kCannotOpen) return MaskReadResult::CannotOpen;
    if (check == InputCheck::kNotRegular) return MaskReadResult::NotRegular;
    if (check == InputCheck::kTooLarge) return MaskReadResult::NotAMask;
    std::string bytes;
    if (!ReadInputFile(file.get(), limit, bytes)) return MaskReadResult::CannotRead;
    // The content decides: a binary mask is one byte per pixel, an ASCII one holds only
    // numbers and spaces, at least two bytes a value. A file of one byte a pixel is therefore
    // binary even when every byte is a digit; only for a single value does the name decide.
    const bool text = LooksLikeText(bytes), binarySize = bytes.size() == count;
    const bool binary =
        binarySize && (count > 1 || !text || MaskFormatFor(path) == MaskFormat::Binary);
    if (!binary && !text) return MaskReadResult::NotAMask;
    // Read aside: a file that ends early leaves the caller's words as they were.
    std::vector<uint16_t> read(count);
    if (binary) {
        ReadBinary(bytes, wide, read.data(), count);
    } else if (ReadAscii(bytes, read.data(), count) != MaskReadResult::Ok) {
        return MaskReadResult::CannotRead;
    }
    std::copy(read.begin(), read.end(), words);
    return MaskReadResult::Ok;
}

const char* MaskReadReason(MaskReadResult result) {
    switch (result) {
        case MaskReadResult::Ok:
            return "";
        case MaskReadResult::CannotOpen:
            return "it cannot be opened";
        case MaskReadResult::NotRegular:
            return "it is not a regular file (a folder, device or pipe)";
        case MaskReadResult::NotAMask:
            return "it is neither an ASCII mask (numbers) nor a binary one (one byte per pixel)";
        default:
            return "it holds too few values for the chips";
    }
}

bool WriteMaskFile(const std::string& path, std::span<const uint16_t> words, std::string& error) {
    std::string text;
    text.reserve(words.size() * 6);
    for (size_t i = 0; i < words.size(); ++i) {
        text += std::to_string(words[i]);
        text += (i + 1) % 256 == 0 ? '\n' : ' ';
    }
    errno = 0;
    File f(std::fopen(path.c_str(), "w"));
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    ok = f && std::fclose(f.release()) == 0 && ok;
    if (!ok) error = "Cannot write the mask file " + path + SystemReason(errno);
    return ok;
}

}  // namespace ulvarin
