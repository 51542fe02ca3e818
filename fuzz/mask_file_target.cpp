#include <algorithm>
#include <string_view>
#include <vector>

#include "files/mask_file.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"

namespace ulvarin::fuzz {

namespace {
constexpr size_t kChipWords = 65536;
constexpr uint16_t kUntouched = 0xA5A5;

// One to four whole chips, or a short count that a file can fill quickly.
size_t WordCount(uint8_t choice) {
    if (choice & 0x80) return choice & 0x7F;
    return kChipWords * (1 + (choice & 3));
}
}  // namespace

void MaskFileTarget(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint8_t choice = in.Byte();
    const bool wide = (choice & 0x40) != 0;
    const size_t count = WordCount(choice);
    const std::string_view file(reinterpret_cast<const char*>(in.Rest()), in.Left());

    // Exactly `count` words, so a write past them is caught by the address sanitizer. The
    // content decides the format, so both names must give the same words.
    for (const char* name : {".txt", ".msk"}) {
        std::vector<uint16_t> words(count, kUntouched);
        const MaskReadResult result =
            ReadMaskFile(ScratchFile(file, name), wide, words.data(), count);
        Check(result != MaskReadResult::CannotOpen, "mask file not opened");
        if (result != MaskReadResult::Ok) {
            Check(
                std::all_of(words.begin(), words.end(), [](uint16_t w) { return w == kUntouched; }),
                "a refused mask changed the words");
            continue;
        }
        if (file.size() == count && count > 1)  // one byte a pixel: binary, whatever the name
            for (size_t i = 0; i < count; ++i)
                Check(words[i] == MaskByteToWord(static_cast<uint8_t>(file[i]), wide),
                      "binary word");
    }
}

}  // namespace ulvarin::fuzz
