#include "device/counter_codes.h"

#include <vector>

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

}  // namespace

const uint16_t* CodeToCountTable(bool wide) { return Tables(wide).codeToCount.data(); }

bool ConvertCounterCodes(uint16_t* values, uint32_t count, bool wide, bool toCounts) {
    const std::vector<uint16_t>& table =
        toCounts ? Tables(wide).codeToCount : Tables(wide).countToCode;
    const uint16_t* lookup = table.data();
    const uint32_t limit = static_cast<uint32_t>(table.size());
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t v = values[i];
        if (v < limit) {
            values[i] = lookup[v];
        } else {
            values[i] = kBadValue;
            ok = false;
        }
    }
    return ok;
}

}  // namespace ulvarin
