#include "imaging/median.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

namespace ulvarin {

namespace {

constexpr uint64_t kSign = uint64_t{1} << 63;
constexpr uint64_t kNanKey = std::numeric_limits<uint64_t>::max();
constexpr int kTopShift = 48;  // the first selection looks at the top 16 bits of a key
constexpr size_t kBuckets = size_t{1} << (64 - kTopShift);

// An unsigned key in the order of the values: negative numbers have their bits inverted,
// the others their sign bit set. Every not-a-number value gets the largest key.
uint64_t KeyOf(double v) {
    if (v != v) return kNanKey;
    const auto bits = std::bit_cast<uint64_t>(v);
    return (bits & kSign) ? ~bits : bits | kSign;
}

double ValueOf(uint64_t key) {
    if (key == kNanKey) return std::numeric_limits<double>::quiet_NaN();
    return std::bit_cast<double>((key & kSign) ? key & ~kSign : ~key);
}

}  // namespace

double MedianOf(std::span<const double> values) {
    if (values.empty()) return 0.0;
    // Count the keys by their top bits, find the bucket that holds rank n / 2, then select
    // within that bucket's keys only.
    std::vector<uint32_t> counts(kBuckets, 0);
    for (const double v : values) ++counts[KeyOf(v) >> kTopShift];

    size_t rank = values.size() / 2;
    uint64_t bucket = 0;
    while (rank >= counts[bucket]) rank -= counts[bucket++];

    std::vector<uint64_t> keys;
    keys.reserve(counts[bucket]);
    for (const double v : values) {
        const uint64_t key = KeyOf(v);
        if (key >> kTopShift == bucket) keys.push_back(key);
    }
    const auto nth = keys.begin() + static_cast<std::ptrdiff_t>(rank);
    std::nth_element(keys.begin(), nth, keys.end());
    return ValueOf(*nth);
}

}  // namespace ulvarin
