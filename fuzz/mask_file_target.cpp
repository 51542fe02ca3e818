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

    // Exactly `count` words, so a write past them is caught by the address sanitizer.
    std::vector<uint16_t> words(count, kUntouched);
    ReadMaskFile(ScratchFile(file, ".txt"), wide, words.data(), count);

    std::fill(words.begin(), words.end(), kUntouched);
    const MaskReadResult binary =
        ReadMaskFile(ScratchFile(file, ".msk"), wide, words.data(), count);
    Check(binary != MaskReadResult::CannotOpen, "binary mask file not opened");
    Check((binary == MaskReadResult::Ok) == (file.size() >= count), "binary result vs length");
    const size_t read = std::min(count, file.size());
    for (size_t i = 0; i < read; ++i)
        Check(words[i] == MaskByteToWord(static_cast<uint8_t>(file[i]), wide), "binary word");
}

}  // namespace ulvarin::fuzz
