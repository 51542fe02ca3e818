#include "sim/counter_code.h"

#include <algorithm>
#include <vector>

namespace ulvarin::sim {
namespace {

uint16_t NextState13(uint16_t s) {
    const unsigned feedback = ((s >> 12) ^ (s >> 9)) & 1u;
    return static_cast<uint16_t>(((s << 1) & 0x1FFF) | feedback);
}

uint16_t NextState14(uint16_t s) {
    const unsigned feedback = ((s >> 13) ^ s) & 1u;
    return static_cast<uint16_t>(((s << 1) & 0x3FFF) | feedback);
}

std::vector<uint16_t> WalkRegister(bool wide) {
    std::vector<uint16_t> codes(static_cast<size_t>(MaxCount(wide)) + 1);
    uint16_t state = wide ? 0x3FFF : 0x1FFF;
    for (uint16_t& code : codes) {
        code = state;
        state = wide ? NextState14(state) : NextState13(state);
    }
    return codes;
}

const std::vector<uint16_t>& Codes(bool wide) {
    static const std::vector<uint16_t> codes13 = WalkRegister(false);
    static const std::vector<uint16_t> codes14 = WalkRegister(true);
    return wide ? codes14 : codes13;
}

}  // namespace

uint16_t CountToCode(int count, bool wide) {
    return Codes(wide)[static_cast<size_t>(std::clamp(count, 0, MaxCount(wide)))];
}

void CountsToCodes(std::span<const uint16_t> counts, bool wide, std::span<uint16_t> codes) {
    const uint16_t* table = Codes(wide).data();
    const uint16_t last = static_cast<uint16_t>(MaxCount(wide));
    for (size_t i = 0; i < counts.size(); ++i) codes[i] = table[std::min(counts[i], last)];
}

}  // namespace ulvarin::sim
