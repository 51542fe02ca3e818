#include "device/counter_codes.h"

#include <cstring>
#include <vector>

#if defined(__SSE2__) && !defined(ULVARIN_PORTABLE_CODECS)
#include <emmintrin.h>
#define ULVARIN_SSE2_CODES 1
#endif

namespace ulvarin {
namespace {

struct CounterTables {
    std::vector<uint16_t> countToCode;  // one entry per count of the cycle
    std::vector<uint16_t> codeToCount;  // one entry per register state
};

// Walks the register once around its cycle from the all-ones start state.
CounterTables BuildTables(bool wide) {
    const unsigned bits = wide ? 14 : 13;
    const unsigned mask = (1u << bits) - 1;
    const unsigned feedbackTap = wide ? 0 : 9;
    const unsigned cycle = (wide ? kMaxCount14 : kMaxCount13) + 1u;

    CounterTables t;
    t.countToCode.assign(cycle, 0);
    // States never reached read as 0; the 13-bit dead state 0 is marked with 0xFFFF.
    t.codeToCount.assign(mask + 1, 0);
    if (!wide) t.codeToCount[0] = kBadValue;

    unsigned state = mask;
    for (unsigned n = 0; n < cycle; ++n) {
        t.countToCode[n] = static_cast<uint16_t>(state);
        t.codeToCount[state] = static_cast<uint16_t>(n);
        const unsigned feedback = ((state >> (bits - 1)) ^ (state >> feedbackTap)) & 1u;
        state = ((state << 1) & mask) | feedback;
    }
    return t;
}

const CounterTables& Tables(bool wide) {
    // Function-local statics: each width is built once on its first use (thread-safe),
    // then only read.
    if (wide) {
        static const CounterTables wideTables = BuildTables(true);
        return wideTables;
    }
    static const CounterTables narrowTables = BuildTables(false);
    return narrowTables;
}

// Replaces every value with its table entry, or with kBadValue when it is >= limit.
bool ConvertChecked(uint16_t* values, uint32_t count, const uint16_t* table, uint32_t limit) {
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t v = values[i];
        if (v < limit) {
            values[i] = table[v];
        } else {
            values[i] = kBadValue;
            ok = false;
        }
    }
    return ok;
}

#ifdef ULVARIN_SSE2_CODES

constexpr uint32_t kBlockValues = 64;

bool AllBelow(const uint16_t* values, uint32_t limit) {
    // Unsigned 16-bit compare via the signed one, both sides moved by 0x8000.
    const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i highest = _mm_set1_epi16(static_cast<short>((limit - 1) ^ 0x8000));
    __m128i above = _mm_setzero_si128();
    for (uint32_t k = 0; k < kBlockValues; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + k));
        above = _mm_or_si128(above, _mm_cmpgt_epi16(_mm_xor_si128(v, bias), highest));
    }
    return _mm_movemask_epi8(above) == 0;
}

// Looks up 8 values known to be in range. Fetching indices 4 at a time and gathering
// the results in a register saves most of the loads and stores of a plain loop, which
// bound it.
__m128i Lookup8(const uint16_t* values, const uint16_t* table) {
    uint64_t low = 0;
    uint64_t high = 0;
    std::memcpy(&low, values, 8);
    std::memcpy(&high, values + 4, 8);
    __m128i r = _mm_cvtsi32_si128(table[low & 0xFFFF]);
    r = _mm_insert_epi16(r, table[(low >> 16) & 0xFFFF], 1);
    r = _mm_insert_epi16(r, table[(low >> 32) & 0xFFFF], 2);
    r = _mm_insert_epi16(r, table[low >> 48], 3);
    r = _mm_insert_epi16(r, table[high & 0xFFFF], 4);
    r = _mm_insert_epi16(r, table[(high >> 16) & 0xFFFF], 5);
    r = _mm_insert_epi16(r, table[(high >> 32) & 0xFFFF], 6);
    r = _mm_insert_epi16(r, table[high >> 48], 7);
    return r;
}

bool ConvertAll(uint16_t* values, uint32_t count, const uint16_t* table, uint32_t limit) {
    bool ok = true;
    uint32_t i = 0;
    for (; count - i >= kBlockValues; i += kBlockValues) {
        uint16_t* block = values + i;
        if (!AllBelow(block, limit)) {
            ok = ConvertChecked(block, kBlockValues, table, limit) && ok;
            continue;
        }
        for (uint32_t k = 0; k < kBlockValues; k += 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + k), Lookup8(block + k, table));
        }
    }
    return ConvertChecked(values + i, count - i, table, limit) && ok;
}

#else

bool ConvertAll(uint16_t* values, uint32_t count, const uint16_t* table, uint32_t limit) {
    return ConvertChecked(values, count, table, limit);
}

#endif

}  // namespace

bool ConvertCounterCodes(uint16_t* values, uint32_t count, bool wide, bool toCounts) {
    const std::vector<uint16_t>& table =
        toCounts ? Tables(wide).codeToCount : Tables(wide).countToCode;
    return ConvertAll(values, count, table.data(), static_cast<uint32_t>(table.size()));
}

}  // namespace ulvarin
