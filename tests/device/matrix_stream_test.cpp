#include "device/matrix_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint16_t>;

// ---- Bit-by-bit reference, written from the row layout alone -------------------------

int Planes(bool wide) {
    return wide ? kPlanes14 : kPlanes13;
}
uint32_t Stride(bool wide) {
    return wide ? kChipBlock14 : kChipBlock13;
}

// Position of register bit b of pixel (r, c) in a chip's data, counted MSB first.
int64_t BitIndex(bool wide, int r, int c, int b) {
    const int p = Planes(wide);
    return 8 * int64_t{r * p * kPlaneBytes + (p - 1 - b) * kPlaneBytes + (255 - c) / 8} +
           (255 - c) % 8;
}
bool GetBit(const uint8_t* p, int64_t i) {
    return (p[i / 8] & (0x80 >> (i % 8))) != 0;
}
void SetBit(uint8_t* p, int64_t i) {
    p[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
}

// The stream MatrixToStream should build: 0xFF, then each chip's bits at their layout
// positions, 13-bit chip i moved i bits later within its block.
Bytes ReferenceEncode(bool wide, const Pixels& px, int chips) {
    Bytes s(1 + size_t{Stride(wide)} * chips, 0);
    s[0] = 0xFF;
    for (int i = 0; i < chips; ++i) {
        uint8_t* block = s.data() + 1 + size_t{Stride(wide)} * i;
        for (int r = 0; r < 256; ++r)
            for (int c = 0; c < 256; ++c)
                for (int b = 0; b < Planes(wide); ++b)
                    if (px[i * kChipPixels + r * 256 + c] >> b & 1)
                        SetBit(block, BitIndex(wide, r, c, b) + (wide ? 0 : i));
    }
    return s;
}

// The decoding procedure step by step: shift each 13-bit chip block by 1 - i with
// ShiftBits, then read the bits at their layout positions.
Pixels ReferenceDecode(bool wide, Bytes stream, int chips) {
    Pixels px(size_t{kChipPixels} * chips, 0);
    for (int i = 0; i < chips; ++i) {
        uint8_t* block = stream.data() + chips + size_t{Stride(wide)} * i;
        if (!wide && chips > 1) ShiftBits(block, kChipBlock13, 1 - i);
        for (int r = 0; r < 256; ++r)
            for (int c = 0; c < 256; ++c)
                for (int b = 0; b < Planes(wide); ++b)
                    if (GetBit(block, BitIndex(wide, r, c, b)))
                        px[i * kChipPixels + r * 256 + c] |= static_cast<uint16_t>(1u << b);
    }
    return px;
}

Pixels RandomPixels(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Pixels px(n);
    for (auto& v : px) v = static_cast<uint16_t>(gen());
    return px;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto& v : b) v = static_cast<uint8_t>(gen());
    return b;
}

Pixels Decode(bool wide, Bytes& stream, int chips, bool* ok) {
    Pixels px(size_t{kChipPixels} * chips, 0xABCD);
    *ok = StreamToMatrix(wide, stream.data(), static_cast<uint32_t>(stream.size()), px.data(),
                         static_cast<uint32_t>(px.size()));
    return px;
}

// ---- ShiftBits ----------------------------------------------------------------------

TEST(ShiftBits, MatchesBitSequenceShiftInBothDirectionsAndBeyondTheBuffer) {
    const Bytes original = RandomBytes(5, 7);
    for (int shift = -45; shift <= 45; ++shift) {
        Bytes expected(original.size(), 0);
        for (int64_t i = 0; i < 40; ++i) {
            const int64_t from = i - shift;
            if (from >= 0 && from < 40 && GetBit(original.data(), from)) SetBit(expected.data(), i);
        }
        Bytes shifted = original;
        ShiftBits(shifted.data(), static_cast<uint32_t>(shifted.size()), shift);
        EXPECT_EQ(shifted, expected) << "shift " << shift;
    }
    Bytes one{0x81};
    ShiftBits(one.data(), 1, 1);
    EXPECT_EQ(one[0], 0x40);
}

// ---- Decoding -----------------------------------------------------------------------

TEST(StreamToMatrix, OneChipBitPositions) {
    for (bool wide : {false, true}) {
        Bytes s(FrameStreamBytes(1, wide), 0);
        s[1] = 0x80;  // first bit: top bit of column 255
        s[1 + (Planes(wide) - 1) * kPlaneBytes + 31] =
            0x01;                                  // last plane's last bit: bit 0 of column 0
        s[1 + Planes(wide) * kPlaneBytes] = 0x40;  // row 1, top bit of column 254
        bool ok = false;
        const Pixels px = Decode(wide, s, 1, &ok);
        ASSERT_TRUE(ok);
        Pixels expected(kChipPixels, 0);
        expected[255] = static_cast<uint16_t>(1u << (Planes(wide) - 1));
        expected[0] = 1;
        expected[256 + 254] = expected[255];
        EXPECT_EQ(px, expected) << "wide " << wide;
    }
    Bytes s(FrameStreamBytes(1, false), 0);
    s[1 + 384] = 0x80;  // 13-bit bit-0 plane of row 0
    bool ok = false;
    EXPECT_EQ(Decode(false, s, 1, &ok)[255], 1);
}

// Received 13-bit chips: chip 0 is read one bit before its block, chip 1 at it, chip i
// i - 1 bits into it.
TEST(StreamToMatrix, MultiChip13BitOffsets) {
    for (int chips : {2, 4}) {
        Bytes s(FrameStreamBytes(chips, false), 0);
        for (int i = 0; i < chips; ++i) {
            const size_t block = chips + size_t{kChipBlock13} * i;
            s[block] = i == 0 ? 0x80 : static_cast<uint8_t>(0x80 >> (i - 1));
        }
        s[chips - 1] = 0xFF;  // a leading byte; its last bit is not read as chip 0's first
        bool ok = false;
        const Pixels px = Decode(false, s, chips, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(px[255], 0);
        EXPECT_EQ(px[254], 0x1000);
        for (int i = 1; i < chips; ++i) EXPECT_EQ(px[i * kChipPixels + 255], 0x1000) << i;
    }
}

TEST(StreamToMatrix, MatchesReferenceOnRandomStreams) {
    for (bool wide : {false, true}) {
        for (int chips = 1; chips <= 4; ++chips) {
            Bytes s = RandomBytes(FrameStreamBytes(chips, wide), 100 + chips);
            const Bytes original = s;
            const Pixels expected = ReferenceDecode(wide, s, chips);
            bool ok = false;
            EXPECT_EQ(Decode(wide, s, chips, &ok), expected) << wide << " " << chips;
            EXPECT_TRUE(ok);
            EXPECT_EQ(s, original);  // read in place, never shifted
        }
    }
}

TEST(StreamToMatrix, RefusesShortStreamsAndSmallDestinationsKeepingEarlierChips) {
    bool ok = true;
    Bytes tooShort(kChipBlock13 - 1, 0);
    EXPECT_EQ(Decode(false, tooShort, 1, &ok), Pixels(kChipPixels, 0xABCD));
    EXPECT_FALSE(ok);
    Bytes noLeadingByte(kChipBlock13, 0);  // counts as one chip, one byte short
    Decode(false, noLeadingByte, 1, &ok);
    EXPECT_FALSE(ok);
    Bytes wideTooShort(FrameStreamBytes(1, true) - 1, 0);
    Decode(true, wideTooShort, 1, &ok);
    EXPECT_FALSE(ok);

    Bytes cut(FrameStreamBytes(2, false) - 2, 0);  // two chips by length, chip 1 a byte short
    Pixels px = Decode(false, cut, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(px[kChipPixels - 1], 0);
    EXPECT_EQ(px[kChipPixels], 0xABCD);

    for (bool wide : {false, true}) {
        Bytes whole(FrameStreamBytes(2, wide), 0);
        Pixels small(kChipPixels + 10, 0xABCD);
        EXPECT_FALSE(StreamToMatrix(wide, whole.data(), static_cast<uint32_t>(whole.size()),
                                    small.data(), kChipPixels + 5));
        EXPECT_EQ(small[kChipPixels - 1], 0);
        EXPECT_EQ(small[kChipPixels], 0xABCD);
    }
}

// ---- Encoding -----------------------------------------------------------------------

TEST(MatrixToStream, MatchesReferenceEncoderAndRoundTripsOneChip) {
    for (bool wide : {false, true}) {
        for (int chips = 1; chips <= 4; ++chips) {
            const Pixels px = RandomPixels(size_t{kChipPixels} * chips, 10 + chips);
            Bytes s(1 + size_t{Stride(wide)} * chips, 0x5A);
            ASSERT_TRUE(MatrixToStream(wide, px.data(), static_cast<uint32_t>(px.size()), s.data(),
                                       static_cast<uint32_t>(s.size())));
            EXPECT_EQ(s, ReferenceEncode(wide, px, chips)) << wide << " " << chips;
            if (chips != 1) continue;
            s.resize(FrameStreamBytes(1, wide));
            bool ok = false;
            const Pixels back = Decode(wide, s, 1, &ok);
            ASSERT_TRUE(ok);
            for (size_t i = 0; i < px.size(); ++i) {
                ASSERT_EQ(back[i], px[i] & ((1u << Planes(wide)) - 1)) << i;
            }
        }
    }
}

TEST(MatrixToStream, AllOnesSetOnlyRegisterBitsAndPaddingStaysZero) {
    const Pixels px(kChipPixels, 0xFFFF);
    Bytes s(1 + kChipBlock13, 0x5A);
    ASSERT_TRUE(
        MatrixToStream(false, px.data(), kChipPixels, s.data(), static_cast<uint32_t>(s.size())));
    EXPECT_EQ(Bytes(s.begin() + 1, s.begin() + 1 + kChipData13), Bytes(kChipData13, 0xFF));
    EXPECT_EQ(Bytes(s.begin() + 1 + kChipData13, s.end()), Bytes(kChipBlock13 - kChipData13, 0));
}

TEST(MatrixToStream, TwoChips13BitSecondChipMovesOneBitLater) {
    Pixels px(2 * kChipPixels, 0);
    px[255] = 0x1000;
    px[kChipPixels + 255] = 0x1000;
    Bytes s(1 + 2 * size_t{kChipBlock13}, 0);
    ASSERT_TRUE(MatrixToStream(false, px.data(), static_cast<uint32_t>(px.size()), s.data(),
                               static_cast<uint32_t>(s.size())));
    EXPECT_EQ(s[1], 0x80);
    EXPECT_EQ(s[1 + kChipBlock13], 0x40);
}

TEST(MatrixToStream, RefusesWhatDoesNotFitWithoutWritingBeyondCapacity) {
    const Pixels px(2 * kChipPixels, 0xFFFF);
    for (bool wide : {false, true}) {
        const uint32_t capacity = 1 + 2 * Stride(wide) - 1;
        Bytes s(capacity + 16, 0x5A);
        EXPECT_FALSE(MatrixToStream(wide, px.data(), 2 * kChipPixels, s.data(), capacity));
        EXPECT_EQ(s[1], 0xFF);                 // chip 0 stays encoded
        EXPECT_EQ(s[1 + Stride(wide)], 0x5A);  // chip 1 not started
        EXPECT_EQ(Bytes(s.begin() + capacity, s.end()), Bytes(16, 0x5A));
    }
    Bytes s(1 + kChipBlock13, 0x5A);
    EXPECT_FALSE(MatrixToStream(false, px.data(), kChipPixels - 1, s.data(),
                                static_cast<uint32_t>(s.size())));
    EXPECT_EQ(s[0], 0x5A);
}

}  // namespace
}  // namespace ulvarin
