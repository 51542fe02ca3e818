#include "files/mask_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

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

MaskReadResult ReadBinary(std::FILE* f, bool wide, uint16_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int c = std::fgetc(f);
        if (c == EOF) return MaskReadResult::CannotRead;
        words[i] = MaskByteToWord(static_cast<uint8_t>(c), wide);
    }
    return MaskReadResult::Ok;
}

MaskReadResult ReadAscii(std::FILE* f, uint16_t* words, size_t count) {
    std::string text;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
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

}  // namespace

MaskFormat MaskFormatFor(const std::string& path) {
    const std::string extension = FileExtension(path);
    return extension.empty() || extension == ".txt" ? MaskFormat::Ascii : MaskFormat::Binary;
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
    const bool binary = MaskFormatFor(path) == MaskFormat::Binary;
    File f(std::fopen(path.c_str(), binary ? "rb" : "r"));
    if (!f) return MaskReadResult::CannotOpen;
    return binary ? ReadBinary(f.get(), wide, words, count) : ReadAscii(f.get(), words, count);
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
