#include "reference_streams.h"

#include <algorithm>

#include "wire/stream_layout.h"

namespace ulvarin::sim::test {
namespace {

// Shifts a buffer, read as one bit sequence (most significant bit first), by `shift` bits
// towards its end (positive) or its start (negative); bits that leave are lost.
void ShiftBits(std::vector<uint8_t>& bytes, int shift) {
    for (; shift > 0; --shift) {
        for (size_t k = bytes.size() - 1; k > 0; --k)
            bytes[k] = static_cast<uint8_t>((bytes[k - 1] << 7) | (bytes[k] >> 1));
        bytes[0] = static_cast<uint8_t>(bytes[0] >> 1);
    }
    for (; shift < 0; ++shift) {
        for (size_t k = 0; k + 1 < bytes.size(); ++k)
            bytes[k] = static_cast<uint8_t>((bytes[k] << 1) | (bytes[k + 1] >> 7));
        bytes.back() = static_cast<uint8_t>(bytes.back() << 1);
    }
}

struct Layout {
    int planes;
    int rowBytes;
    size_t stride;  // chip block distance in the stream
};

Layout LayoutOf(bool wide) {
    return wide ? Layout{14, 448, 114720} : Layout{13, 416, 114688};
}

size_t ByteOf(const Layout& l, int row, int column, int bit) {
    return static_cast<size_t>(row) * l.rowBytes + static_cast<size_t>(l.planes - 1 - bit) * 32 +
           static_cast<size_t>((255 - column) / 8);
}

uint8_t MaskOf(int column) {
    return static_cast<uint8_t>(0x80 >> ((255 - column) % 8));
}

}  // namespace

uint16_t ReferenceCode(int count, bool wide) {
    // Walked once per width: code of count n at entry n.
    static const auto walk = [](bool w) {
        std::vector<uint16_t> codes;
        unsigned s = w ? 0x3FFF : 0x1FFF;
        for (int n = 0; n <= (w ? 11810 : 8000); ++n) {
            codes.push_back(static_cast<uint16_t>(s));
            s = w ? ((s << 1) & 0x3FFF) | (((s >> 13) ^ s) & 1)
                  : ((s << 1) & 0x1FFF) | (((s >> 12) ^ (s >> 9)) & 1);
        }
        return codes;
    };
    static const std::vector<uint16_t> narrow = walk(false), broad = walk(true);
    return (wide ? broad : narrow).at(static_cast<size_t>(count));
}

std::vector<uint16_t> ReferenceDecodeFrame(const std::vector<uint8_t>& stream, int chips,
                                           bool wide) {
    const Layout l = LayoutOf(wide);
    std::vector<uint16_t> values(static_cast<size_t>(chips) * 65536, 0);
    for (int chip = 0; chip < chips; ++chip) {
        const auto begin = stream.begin() + static_cast<std::ptrdiff_t>(chips + l.stride * chip);
        std::vector<uint8_t> block(begin, begin + 114688);
        if (!wide && chips > 1) ShiftBits(block, 1 - chip);
        for (int row = 0; row < 256; ++row)
            for (int column = 0; column < 256; ++column)
                for (int bit = 0; bit < l.planes; ++bit)
                    if (block[ByteOf(l, row, column, bit)] & MaskOf(column))
                        values[chip * 65536 + row * 256 + column] |=
                            static_cast<uint16_t>(1 << bit);
    }
    return values;
}

std::vector<uint8_t> ReferenceConfigStream(const std::vector<uint16_t>& words, int chips,
                                           bool wide) {
    const Layout l = LayoutOf(wide);
    std::vector<uint8_t> stream(FrameStreamBytes(chips, wide), 0);
    stream[0] = 0xFF;
    for (int chip = 0; chip < chips; ++chip) {
        std::vector<uint8_t> block(l.stride, 0);
        for (int row = 0; row < 256; ++row)
            for (int column = 0; column < 256; ++column)
                for (int bit = 0; bit < l.planes; ++bit)
                    if (words[chip * 65536 + row * 256 + column] & (1 << bit))
                        block[ByteOf(l, row, column, bit)] |= MaskOf(column);
        if (!wide) ShiftBits(block, chip);
        std::copy(block.begin(), block.end(),
                  stream.begin() + 1 + static_cast<std::ptrdiff_t>(l.stride * chip));
    }
    return stream;
}

}  // namespace ulvarin::sim::test
