#include "sim/dac_words.h"

#include <algorithm>

namespace ulvarin::sim {
namespace {

// Where a field's bits go in ChipDacs.
enum class Target : uint8_t { kDac, kSenseCode, kSenseEnabled, kBypassEnabled, kTestPulse };

// A run of `width` bits from `start`, most significant bit first, holding the bits of the
// value from `valueShift` up.
struct Field {
    Target target;
    int8_t dac;  // DAC index for kDac
    int16_t start;
    int8_t width;
    int8_t valueShift;
};

constexpr Field Dac(int index, int start, int width = 8, int shift = 0) {
    return {Target::kDac, static_cast<int8_t>(index), static_cast<int16_t>(start),
            static_cast<int8_t>(width), static_cast<int8_t>(shift)};
}
constexpr Field Other(Target target, int start, int width, int shift = 0) {
    return {target, -1, static_cast<int16_t>(start), static_cast<int8_t>(width),
            static_cast<int8_t>(shift)};
}

// DAC 3 is split in two nibbles; the sense code in two bit pairs.
constexpr Field kMedipix2Fields[] = {
    Dac(0, 245), Dac(1, 237), Dac(2, 229), Dac(3, 197, 4, 4), Dac(3, 207, 4), Dac(4, 189),
    Dac(5, 149), Dac(6, 141), Dac(7, 133), Dac(8, 125), Dac(9, 117), Dac(10, 68), Dac(11, 22),
    Dac(12, 14),
    Other(Target::kSenseCode, 214, 2, 2), Other(Target::kSenseCode, 217, 2),
    Other(Target::kSenseEnabled, 213, 1), Other(Target::kBypassEnabled, 212, 1),
};

constexpr Field kMxrFields[] = {
    Dac(0, 245), Dac(1, 237), Dac(2, 229), Dac(3, 197, 4, 4), Dac(3, 207, 4), Dac(4, 189),
    Dac(5, 163), Dac(6, 147, 10), Dac(7, 143, 4), Dac(8, 133, 10), Dac(9, 129, 4),
    Dac(10, 121), Dac(11, 113), Dac(12, 68), Dac(13, 22), Dac(14, 14),
    Other(Target::kTestPulse, 81, 32),
    Other(Target::kSenseCode, 214, 2, 2), Other(Target::kSenseCode, 217, 2),
    Other(Target::kSenseEnabled, 213, 1), Other(Target::kBypassEnabled, 212, 1),
};

constexpr Field kTimepixFields[] = {
    Dac(0, 244), Dac(1, 236), Dac(2, 228), Dac(3, 196, 4, 4), Dac(3, 206, 4), Dac(4, 188),
    Dac(5, 162), Dac(6, 146, 10), Dac(7, 142, 4), Dac(8, 128), Dac(9, 120), Dac(10, 112),
    Dac(11, 67), Dac(12, 21), Dac(13, 13),
    Other(Target::kTestPulse, 80, 32),
    Other(Target::kSenseCode, 213, 2, 2), Other(Target::kSenseCode, 216, 2),
    Other(Target::kSenseEnabled, 212, 1), Other(Target::kBypassEnabled, 211, 1),
};

std::span<const Field> FieldsOf(ChipFamily family) {
    switch (family) {
        case ChipFamily::kMxr:
            return kMxrFields;
        case ChipFamily::kTimepix:
            return kTimepixFields;
        case ChipFamily::kMedipix2:
            break;
    }
    return kMedipix2Fields;
}

// Medipix2 words move later by the chip's position on the board.
int ShiftOf(ChipFamily family, int position) {
    return family == ChipFamily::kMedipix2 ? position : 0;
}

bool BitAt(std::span<const uint8_t, kDacWordBytes> word, int bit) {
    return (word[static_cast<size_t>(bit / 8)] & (0x80u >> (bit % 8))) != 0;
}

uint32_t ReadField(std::span<const uint8_t, kDacWordBytes> word, const Field& f, int shift) {
    uint32_t value = 0;
    for (int i = 0; i < f.width; ++i) value = (value << 1) | (BitAt(word, f.start + shift + i) ? 1u : 0u);
    return value << f.valueShift;
}

void Apply(ChipDacs& dacs, const Field& f, uint32_t bits) {
    switch (f.target) {
        case Target::kDac:
            dacs.dac[static_cast<size_t>(f.dac)] |= static_cast<uint16_t>(bits);
            break;
        case Target::kSenseCode:
            dacs.senseCode = static_cast<uint8_t>(dacs.senseCode | bits);
            break;
        case Target::kSenseEnabled:
            dacs.senseEnabled = bits != 0;
            break;
        case Target::kBypassEnabled:
            dacs.bypassEnabled = bits != 0;
            break;
        case Target::kTestPulse:
            dacs.testPulseWord = bits;
            break;
    }
}

using BitMask = std::array<bool, kDacWordBytes * 8>;

// Bits a correct word may have set.
BitMask AllowedBits(ChipFamily family, int position) {
    BitMask allowed{};
    const int shift = ShiftOf(family, position);
    for (const Field& f : FieldsOf(family))
        for (int i = 0; i < f.width; ++i) allowed[static_cast<size_t>(f.start + shift + i)] = true;
    // Chips 1 and 2 of a Medipix2 chain carry fixed marker bits.
    if (family == ChipFamily::kMedipix2 && (position == 1 || position == 2))
        allowed[static_cast<size_t>(211 + position)] = true;
    if (family == ChipFamily::kMedipix2 && position == 1)
        for (int bit = 220; bit <= 223; ++bit) allowed[static_cast<size_t>(bit)] = true;
    return allowed;
}

constexpr std::array<uint16_t, kDacCount> kMedipix2Defaults = {0,   0,   128, 240, 128, 210, 255, 0,
                                                               200, 250, 128, 128, 128, 0,   0};
constexpr std::array<uint16_t, kDacCount> kMxrDefaults = {20,  128, 128, 128, 128, 128, 400, 7,
                                                          0,   0,   128, 128, 128, 128, 128};
constexpr std::array<uint16_t, kDacCount> kTimepixDefaults = {5,   127, 255, 127, 127, 0,   450, 7,
                                                              130, 128, 80,  85,  128, 128, 0};

}  // namespace

ThresholdDacs ThresholdDacsOf(ChipFamily family) {
    if (family == ChipFamily::kMedipix2) return {8, -1};
    return {6, 7};
}

ChipDacs DefaultChipDacs(ChipFamily family) {
    ChipDacs dacs;
    switch (family) {
        case ChipFamily::kMedipix2:
            dacs.dac = kMedipix2Defaults;
            dacs.senseCode = 11;  // "Thl"
            break;
        case ChipFamily::kMxr:
            dacs.dac = kMxrDefaults;
            dacs.senseCode = 6;
            break;
        case ChipFamily::kTimepix:
            dacs.dac = kTimepixDefaults;
            dacs.senseCode = 6;
            break;
    }
    dacs.senseEnabled = true;
    return dacs;
}

ChipDacs DecodeDacWord(ChipFamily family, std::span<const uint8_t, kDacWordBytes> word,
                       int position) {
    ChipDacs dacs;
    const int shift = ShiftOf(family, position);
    for (const Field& f : FieldsOf(family)) Apply(dacs, f, ReadField(word, f, shift));
    return dacs;
}

bool IsPlausibleDacWord(ChipFamily family, std::span<const uint8_t, kDacWordBytes> word,
                        int position) {
    const BitMask allowed = AllowedBits(family, position);
    for (int bit = 0; bit < static_cast<int>(allowed.size()); ++bit)
        if (BitAt(word, bit) && !allowed[static_cast<size_t>(bit)]) return false;
    return true;
}

DacStreamOutcome DecodeDacStream(ChipFamily family, std::span<const uint8_t> stream,
                                 std::span<ChipDacs> chips) {
    if (std::all_of(stream.begin(), stream.end(), [](uint8_t b) { return b == 0xFF; }))
        return DacStreamOutcome::kPreBlock;
    if (stream.size() < 1 + kDacWordBytes * chips.size() || stream[0] != 0xFF)
        return DacStreamOutcome::kRejected;
    auto word = [&](size_t k) {
        return std::span<const uint8_t, kDacWordBytes>(stream.data() + 1 + kDacWordBytes * k,
                                                       kDacWordBytes);
    };
    for (size_t k = 0; k < chips.size(); ++k)
        if (!IsPlausibleDacWord(family, word(k), static_cast<int>(k)))
            return DacStreamOutcome::kRejected;
    for (size_t k = 0; k < chips.size(); ++k)
        chips[k] = DecodeDacWord(family, word(k), static_cast<int>(k));
    return DacStreamOutcome::kApplied;
}

}  // namespace ulvarin::sim
