#include "device/matrix_stream.h"

#include <cstring>

#include "wire/bit_planes.h"
#include "wire/stream_layout.h"

#if defined(__SSE2__) && !defined(ULVARIN_PORTABLE_CODECS)
#include <emmintrin.h>
#define ULVARIN_SSE2_CODECS 1
// The register transposes only pay off when their arrays live in registers.
#define ULVARIN_INLINE [[gnu::always_inline]] inline
#endif

namespace ulvarin {
namespace {

constexpr int kRows = 256;
constexpr int kColumns = 256;
constexpr int kMaxRowBytes = kRowBytes14;
// A received stream's chip count is its length divided by these (a 14-bit chip brings
// its block and one leading byte; the 13-bit count divides by the bare block).
constexpr uint32_t kChipCountDivisor13 = kChipBlock13;
constexpr uint32_t kChipCountDivisor14 = kChipBlock14 + 1;
// Both formats decode 114,688 bytes per chip: the 13-bit block, or the 14-bit data.
constexpr uint32_t kDecodedChipBytes = kChipBlock13;
static_assert(kChipData14 == kDecodedChipBytes);

// ---------------------------------------------------------------------------------------
// Bit matrix helpers

int64_t FloorDiv8(int64_t v) {
    return v >= 0 ? v / 8 : -((-v + 7) / 8);
}

// ---------------------------------------------------------------------------------------
// Reading a chip block at a bit offset

// A chip's data seen at a bit offset: logical byte k is made of the 8 block bits starting
// at bit 8k + bitOffset. Bits outside the block read as 0, as if the block alone had been
// shifted by -bitOffset bits.
struct ChipView {
    const uint8_t* block;
    uint32_t blockBytes;
    int bitOffset;

    int64_t ByteOffset() const { return FloorDiv8(bitOffset); }
    int BitShift() const { return bitOffset - static_cast<int>(8 * ByteOffset()); }
    unsigned ByteAt(int64_t i) const {
        return (i >= 0 && i < static_cast<int64_t>(blockBytes)) ? block[i] : 0u;
    }
};

// Copies logical bytes [start, start + n) of the view to `out`, bounds-checked.
void StageBytes(const ChipView& view, int64_t start, int n, uint8_t* out) {
    const int64_t first = start + view.ByteOffset();
    const int shift = view.BitShift();
    for (int k = 0; k < n; ++k) {
        unsigned byte = view.ByteAt(first + k) << shift;
        if (shift != 0) byte |= view.ByteAt(first + k + 1) >> (8 - shift);
        out[k] = static_cast<uint8_t>(byte);
    }
}

// ---------------------------------------------------------------------------------------
// Row decoders: write the raw register values of one row. A row is P planes of 32 bytes,
// plane 0 holding register bit P - 1. Byte j of every plane covers columns 255 - 8j
// (mask 0x80) down to 248 - 8j (mask 0x01), i.e. bit m is column 248 - 8j + m.

#ifdef ULVARIN_SSE2_CODECS

// The rows decoded straight from the block may start at any bit within a byte.
constexpr bool kReadsShiftedRows = true;

// 16 bytes at `p` moved `shift` bits towards the start, the next byte's bits shifting in.
template <bool kShifted>
ULVARIN_INLINE __m128i LoadPlaneBytes(const uint8_t* p, int shift) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (!kShifted) {
        return here;
    } else {
        // SSE2 has no byte shifts: shift 16-bit lanes and drop the bits that crossed bytes.
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i high =
            _mm_and_si128(_mm_sll_epi16(here, _mm_cvtsi32_si128(shift)),
                          _mm_set1_epi8(static_cast<char>((0xFF << shift) & 0xFF)));
        const __m128i low = _mm_and_si128(_mm_srl_epi16(next, _mm_cvtsi32_si128(8 - shift)),
                                          _mm_set1_epi8(static_cast<char>(0xFF >> (8 - shift))));
        return _mm_or_si128(high, low);
    }
}

// Exchanges bit m + d of every byte of `a` with bit m of the same byte of `b`, for the m
// whose bit d is clear: one step of an 8 x 8 bit transpose across registers.
template <int kDistance>
ULVARIN_INLINE void SwapBitBlocks(__m128i& a, __m128i& b) {
    constexpr int kLowBits = kDistance == 4 ? 0x0F : kDistance == 2 ? 0x33 : 0x55;
    const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi64(a, kDistance), b),
                                    _mm_set1_epi8(static_cast<char>(kLowBits)));
    b = _mm_xor_si128(b, t);
    a = _mm_xor_si128(a, _mm_slli_epi64(t, kDistance));
}

// SwapBitBlocks on every register pair (b, b + d) whose b has bit d clear.
template <int kDistance>
ULVARIN_INLINE void SwapBitBlocksOfPairs(__m128i* r) {
    for (int b = 0; b < 8; ++b) {
        if ((b & kDistance) == 0) SwapBitBlocks<kDistance>(r[b], r[b + kDistance]);
    }
}

// For every byte position j, transposes the 8 x 8 bits (register b, bit m): afterwards
// bit b of byte j of r[m] is the former bit m of byte j of r[b].
ULVARIN_INLINE void TransposeBitsAcross8(__m128i* r) {
    SwapBitBlocksOfPairs<4>(r);
    SwapBitBlocksOfPairs<2>(r);
    SwapBitBlocksOfPairs<1>(r);
}

// One step of a transpose by interleaving: pairs (2i, 2i + 1) go to i and i + 4.
template <__m128i (*kLow)(__m128i, __m128i), __m128i (*kHigh)(__m128i, __m128i)>
ULVARIN_INLINE void InterleavePairs(const __m128i* in, __m128i* out) {
    for (int i = 0; i < 4; ++i) {
        out[i] = kLow(in[2 * i], in[2 * i + 1]);
        out[i + 4] = kHigh(in[2 * i], in[2 * i + 1]);
    }
}

inline __m128i Lo16(__m128i a, __m128i b) {
    return _mm_unpacklo_epi16(a, b);
}
inline __m128i Hi16(__m128i a, __m128i b) {
    return _mm_unpackhi_epi16(a, b);
}
inline __m128i Lo32(__m128i a, __m128i b) {
    return _mm_unpacklo_epi32(a, b);
}
inline __m128i Hi32(__m128i a, __m128i b) {
    return _mm_unpackhi_epi32(a, b);
}
inline __m128i Lo64(__m128i a, __m128i b) {
    return _mm_unpacklo_epi64(a, b);
}
inline __m128i Hi64(__m128i a, __m128i b) {
    return _mm_unpackhi_epi64(a, b);
}

// Transposes 8 x 8 16-bit words (register m, word j) in place, except that the result
// for j sits in register kSlotOfWord[j]: the identical steps bit-reverse the order.
constexpr int kSlotOfWord[8] = {0, 4, 2, 6, 1, 5, 3, 7};

ULVARIN_INLINE void TransposeWords8x8(__m128i* w) {
    __m128i t[8];
    InterleavePairs<Lo16, Hi16>(w, t);
    InterleavePairs<Lo32, Hi32>(t, w);
    InterleavePairs<Lo64, Hi64>(w, t);
    for (int i = 0; i < 8; ++i) w[i] = t[i];
}

// Loads the 16-byte halves of the planes of register bits [firstBit, firstBit + 8).
template <int P, bool kShifted>
ULVARIN_INLINE void LoadPlanes(const uint8_t* row, int half, int shift, int firstBit, __m128i* r) {
    for (int b = firstBit; b < firstBit + 8; ++b) {
        r[b - firstBit] =
            b < P ? LoadPlaneBytes<kShifted>(row + (P - 1 - b) * kPlaneBytes + 16 * half, shift)
                  : _mm_setzero_si128();
    }
}

// Decodes 128 pixels from byte columns 16 * half to 16 * half + 15 of the planes.
template <int P, bool kShifted>
ULVARIN_INLINE void DecodeHalfRow(const uint8_t* row, int half, int shift, uint16_t* rowOut) {
    // low[m] / high[m]: byte j holds the low / high 8 register bits of column
    // 248 - 8 (16 half + j) + m.
    __m128i low[8];
    __m128i high[8];
    LoadPlanes<P, kShifted>(row, half, shift, 0, low);
    TransposeBitsAcross8(low);
    LoadPlanes<P, kShifted>(row, half, shift, 8, high);
    TransposeBitsAcross8(high);
    for (int part = 0; part < 2; ++part) {
        __m128i words[8];  // words[m], word j: column 248 - 8 (16 half + 8 part + j) + m
        for (int m = 0; m < 8; ++m) {
            words[m] =
                part == 0 ? _mm_unpacklo_epi8(low[m], high[m]) : _mm_unpackhi_epi8(low[m], high[m]);
        }
        TransposeWords8x8(words);
        for (int j = 0; j < 8; ++j) {
            const int byteColumn = 16 * half + 8 * part + j;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(rowOut + kColumns - 8 - 8 * byteColumn),
                             words[kSlotOfWord[j]]);
        }
    }
}

template <int P>
void DecodeRow(const uint8_t* row, int shift, uint16_t* rowOut) {
    for (int half = 0; half < 2; ++half) {
        if (shift == 0) {
            DecodeHalfRow<P, false>(row, half, 0, rowOut);
        } else {
            DecodeHalfRow<P, true>(row, half, shift, rowOut);
        }
    }
}

#else  // portable

// This decoder reads whole bytes only; rows at a bit offset are staged first.
constexpr bool kReadsShiftedRows = false;

// Packs byte j of planes for register bits [firstBit, firstBit + 8) into a word, bit b at
// byte b - firstBit; missing planes read as 0.
template <int P>
uint64_t GatherPlaneBytes(const uint8_t* row, int j, int firstBit) {
    uint64_t word = 0;
    for (int b = firstBit; b < firstBit + 8 && b < P; ++b) {
        word |= uint64_t{row[(P - 1 - b) * kPlaneBytes + j]} << (8 * (b - firstBit));
    }
    return word;
}

template <int P>
void DecodeRow(const uint8_t* row, int /*shift, always 0*/, uint16_t* rowOut) {
    for (int j = 0; j < kPlaneBytes; ++j) {
        // After the transposes byte m holds the bits of column 248 - 8j + m.
        const uint64_t low = Transpose8x8(GatherPlaneBytes<P>(row, j, 0));
        const uint64_t high = Transpose8x8(GatherPlaneBytes<P>(row, j, 8));
        uint16_t* out = rowOut + kColumns - 8 - 8 * j;
        for (int m = 0; m < 8; ++m) {
            out[m] = static_cast<uint16_t>(((low >> (8 * m)) & 0xFF) |
                                           (((high >> (8 * m)) & 0xFF) << 8));
        }
    }
}

#endif

// ---------------------------------------------------------------------------------------
// Chip and stream decoding

// Points `row`/`shift` at logical row bytes [start, start + n) inside the block when they
// can be read there directly (including the byte after them for a shifted read).
bool DirectRow(const ChipView& view, int64_t start, int n, const uint8_t** row, int* shift) {
    *shift = view.BitShift();
    if (*shift != 0 && !kReadsShiftedRows) return false;
    const int64_t first = start + view.ByteOffset();
    const int64_t end = first + n + (*shift != 0 ? 1 : 0);
    if (first < 0 || end > static_cast<int64_t>(view.blockBytes)) return false;
    *row = view.block + first;
    return true;
}

template <int P>
void DecodeChip(const ChipView& view, uint16_t* out) {
    constexpr int kRowBytes = P * kPlaneBytes;
    uint8_t staged[kMaxRowBytes];
    for (int r = 0; r < kRows; ++r) {
        const uint8_t* row = nullptr;
        int shift = 0;
        if (!DirectRow(view, int64_t{r} * kRowBytes, kRowBytes, &row, &shift)) {
            StageBytes(view, int64_t{r} * kRowBytes, kRowBytes, staged);
            row = staged;
            shift = 0;
        }
        DecodeRow<P>(row, shift, out + r * kColumns);
    }
}

// ---------------------------------------------------------------------------------------
// Encoding

// Zeroes the chip's block and writes the low `planes` bits of every pixel word.
void EncodeChip(const uint16_t* pixels, int planes, uint8_t* block, uint32_t blockBytes) {
    std::memset(block, 0, blockBytes);
    EncodeBitPlanes(pixels, planes, block);
}

}  // namespace

uint32_t StreamChipCount(bool wide, uint32_t length) {
    return length / (wide ? kChipCountDivisor14 : kChipCountDivisor13);
}

bool StreamToMatrix(bool wide, uint8_t* stream, uint32_t length, uint16_t* pixels,
                    uint32_t capacity) {
    const uint32_t chips = StreamChipCount(wide, length);
    if (chips == 0 || stream == nullptr || pixels == nullptr) return false;
    const uint64_t stride = wide ? kChipBlock14 : kChipBlock13;
    for (uint32_t i = 0; i < chips; ++i) {
        const uint64_t start = chips + i * stride;
        if (start + kDecodedChipBytes > length) return false;
        if (uint64_t{i + 1} * kChipPixels > capacity) return false;
        // 13-bit chips arrive daisy-chained one bit apart: chip i starts i - 1 bits later.
        const int bitOffset = (wide || chips == 1) ? 0 : static_cast<int>(i) - 1;
        const ChipView view{stream + start, kDecodedChipBytes, bitOffset};
        uint16_t* out = pixels + uint64_t{i} * kChipPixels;
        if (wide) {
            DecodeChip<kPlanes14>(view, out);
        } else {
            DecodeChip<kPlanes13>(view, out);
        }
    }
    return true;
}

bool MatrixToStream(bool wide, const uint16_t* pixels, uint32_t count, uint8_t* stream,
                    uint32_t capacity) {
    const uint32_t chips = count / kChipPixels;
    if (chips == 0 || pixels == nullptr || stream == nullptr || capacity == 0) return false;
    const int planes = wide ? kPlanes14 : kPlanes13;
    const uint32_t blockBytes = wide ? kChipBlock14 : kChipBlock13;
    stream[0] = 0xFF;
    for (uint32_t i = 0; i < chips; ++i) {
        const uint64_t start = 1 + uint64_t{i} * blockBytes;
        if (start + blockBytes > capacity) return false;
        uint8_t* block = stream + start;
        EncodeChip(pixels + uint64_t{i} * kChipPixels, planes, block, blockBytes);
        // 13-bit chips are daisy-chained: chip i goes out i bits later.
        if (!wide && i > 0) ShiftBits(block, blockBytes, static_cast<int>(i));
    }
    return true;
}

void ShiftBits(uint8_t* buffer, uint32_t length, int shift) {
    if (shift == 0 || length == 0 || buffer == nullptr) return;
    const uint64_t distance = shift > 0 ? uint64_t(shift) : uint64_t(-int64_t{shift});
    if (distance >= uint64_t{length} * 8) {
        std::memset(buffer, 0, length);
        return;
    }
    const uint32_t bytes = static_cast<uint32_t>(distance / 8);
    const unsigned bits = static_cast<unsigned>(distance % 8);
    // Each output byte takes bits from source bytes k -/+ bytes and the one beyond it;
    // the direction of the loop reads every source byte before it is overwritten.
    if (shift > 0) {
        for (uint32_t k = length; k-- > 0;) {
            unsigned byte = k >= bytes ? buffer[k - bytes] >> bits : 0u;
            if (bits != 0 && k >= bytes + 1) byte |= unsigned{buffer[k - bytes - 1]} << (8 - bits);
            buffer[k] = static_cast<uint8_t>(byte);
        }
    } else {
        for (uint32_t k = 0; k < length; ++k) {
            unsigned byte = uint64_t{k} + bytes < length ? unsigned{buffer[k + bytes]} << bits : 0u;
            if (bits != 0 && uint64_t{k} + bytes + 1 < length) {
                byte |= buffer[k + bytes + 1] >> (8 - bits);
            }
            buffer[k] = static_cast<uint8_t>(byte);
        }
    }
}

}  // namespace ulvarin
