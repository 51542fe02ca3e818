#include "sim/matrix_stream.h"

#include <cassert>

#include "sim/counter_code.h"
#include "wire/bit_planes.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim {
namespace {

// Bits of a byte buffer are numbered most significant bit of byte 0 first.
bool GetBit(std::span<const uint8_t> bytes, size_t bit) {
    return (bytes[bit / 8] & (0x80u >> (bit % 8))) != 0;
}

struct Format {
    int planes;
    int rowBytes;
    size_t blockBytes;  // distance between chip blocks in a stream
};

Format FormatOf(bool wide) {
    if (wide) return {kPlanes14, kRowBytes14, kChipBlock14};
    return {kPlanes13, kRowBytes13, kChipBlock13};
}

// ORs `bits` into `stream` from stream bit `origin` on (bits numbered MSB of byte 0 first).
void OrBitsAt(std::span<uint8_t> stream, size_t origin, std::span<const uint8_t> bits) {
    const size_t first = origin / 8;
    const unsigned shift = origin % 8;
    for (size_t k = 0; k < bits.size(); ++k) {
        stream[first + k] |= static_cast<uint8_t>(bits[k] >> shift);
        if (shift != 0 && bits[k] != 0)
            stream[first + k + 1] |= static_cast<uint8_t>(bits[k] << (8 - shift));
    }
}

// Position of register bit `bit` of pixel (row, column) counted from the chip data's first bit.
size_t PixelBit(const Format& f, int row, int column, int bit) {
    const size_t planeStart = static_cast<size_t>(row) * f.rowBytes +
                              static_cast<size_t>(f.planes - 1 - bit) * kPlaneBytes;
    return planeStart * 8 + static_cast<size_t>(255 - column);
}

// Stream bit holding chip `chip`'s first data bit in a frame the interface sends.
size_t FrameChipOrigin(const Format& f, int chipCount, bool wide, int chip) {
    const size_t blockStart = static_cast<size_t>(chipCount) + f.blockBytes * chip;
    const int skew = (!wide && chipCount > 1) ? chip - 1 : 0;
    return blockStart * 8 + skew;  // chipCount >= 1 keeps chip 0's skew of -1 in range
}

// Stream bit holding chip `chip`'s first data bit in a "Set matrix" stream.
size_t ConfigChipOrigin(const Format& f, bool wide, int chip) {
    const size_t blockStart = 1 + f.blockBytes * chip;
    return blockStart * 8 + (wide ? 0 : chip);
}

}  // namespace

void AppendFrameStream(std::vector<uint8_t>& out,
                       std::span<const std::span<const uint16_t>> chipCounts, bool wide,
                       bool registerStates) {
    const Format f = FormatOf(wide);
    const int chipCount = static_cast<int>(chipCounts.size());
    const size_t start = out.size();
    out.resize(start + FrameStreamBytes(chipCount, wide), 0);
    const std::span<uint8_t> stream(out.data() + start, out.size() - start);
    std::vector<uint16_t> codes(kChipPixels);
    std::vector<uint8_t> planes(static_cast<size_t>(256) * f.rowBytes);
    for (int chip = 0; chip < chipCount; ++chip) {
        const auto counts = chipCounts[chip];
        assert(counts.size() >= static_cast<size_t>(kChipPixels));
        const uint16_t* words = counts.data();
        if (!registerStates) {
            CountsToCodes(counts.first(kChipPixels), wide, codes);
            words = codes.data();
        }
        EncodeBitPlanes(words, f.planes, planes.data());
        OrBitsAt(stream, FrameChipOrigin(f, chipCount, wide, chip), planes);
    }
}

void DecodeConfigStream(std::span<const uint8_t> stream, bool wide,
                        std::span<const std::span<uint16_t>> chipWords) {
    const Format f = FormatOf(wide);
    const int chipCount = static_cast<int>(chipWords.size());
    if (stream.size() < FrameStreamBytes(chipCount, wide)) return;
    for (int chip = 0; chip < chipCount; ++chip) {
        const size_t origin = ConfigChipOrigin(f, wide, chip);
        const auto words = chipWords[chip];
        assert(words.size() >= static_cast<size_t>(kChipPixels));
        for (int row = 0; row < 256; ++row) {
            for (int column = 0; column < 256; ++column) {
                uint16_t word = 0;
                for (int bit = 0; bit < f.planes; ++bit)
                    if (GetBit(stream, origin + PixelBit(f, row, column, bit)))
                        word = static_cast<uint16_t>(word | (1u << bit));
                words[row * 256 + column] = word;
            }
        }
    }
}

bool IsPlausibleConfigStream(std::span<const uint8_t> stream, bool wide, int chipCount) {
    const Format f = FormatOf(wide);
    if (stream.size() < FrameStreamBytes(chipCount, wide) || stream.empty() || stream[0] != 0xFF)
        return false;
    const size_t dataBits = static_cast<size_t>(256) * f.rowBytes * 8;
    for (int chip = 0; chip < chipCount; ++chip) {
        const size_t blockEnd = 1 + f.blockBytes * (chip + 1);
        // The first whole byte after the chip's data (13-bit chips sit `chip` bits late).
        const size_t tail = (ConfigChipOrigin(f, wide, chip) + dataBits + 7) / 8;
        for (size_t i = tail; i < blockEnd; ++i)
            if (stream[i] != 0) return false;
    }
    return true;
}

}  // namespace ulvarin::sim
