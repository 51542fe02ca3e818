#include "device/counter_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ulvarin {
namespace {

struct Width {
    bool wide;
    uint32_t states;  // register states, 2^bits
    uint16_t maxCount;
};
constexpr Width kNarrow{false, 0x2000, kMaxCount13};
constexpr Width kWide{true, 0x4000, kMaxCount14};

std::vector<uint16_t> Convert(std::vector<uint16_t> values, bool wide, bool toCounts, bool* ok) {
    *ok = ConvertCounterCodes(values.data(), static_cast<uint32_t>(values.size()), wide, toCounts);
    return values;
}

TEST(CounterCodes, CycleCornersMapBothWays) {
    bool ok = false;
    EXPECT_EQ(Convert({0x1FFF, 0x1FFE, 0x1FFC, 0x0FFF}, false, true, &ok),
              (std::vector<uint16_t>{0, 1, 2, 8000}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert({0x3FFF, 0x3FFE, 0x3FFD, 0x1FFF}, true, true, &ok),
              (std::vector<uint16_t>{0, 1, 2, 11810}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert({0, 1, 2, 8000}, false, false, &ok),
              (std::vector<uint16_t>{0x1FFF, 0x1FFE, 0x1FFC, 0x0FFF}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert({0, 1, 2, 11810}, true, false, &ok),
              (std::vector<uint16_t>{0x3FFF, 0x3FFE, 0x3FFD, 0x1FFF}));
    EXPECT_TRUE(ok);
}

TEST(CounterCodes, OutOfRangeValuesBecomeBadButOthersConvert) {
    bool ok = true;
    // 13-bit state 0 is the register's dead state: marked 0xFFFF, yet not an error.
    EXPECT_EQ(Convert({0, 0x1FFF}, false, true, &ok), (std::vector<uint16_t>{0xFFFF, 0}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Convert({0x2000, 0x1FFE, 0xFFFF}, false, true, &ok),
              (std::vector<uint16_t>{0xFFFF, 1, 0xFFFF}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Convert({0, 0x4000, 0x3FFE}, true, true, &ok), (std::vector<uint16_t>{0, 0xFFFF, 1}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Convert({8001, 8000}, false, false, &ok), (std::vector<uint16_t>{0xFFFF, 0x0FFF}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Convert({11811, 11810}, true, false, &ok), (std::vector<uint16_t>{0xFFFF, 0x1FFF}));
    EXPECT_FALSE(ok);

    // Bad values deep inside long arrays are caught too, the rest still converted.
    std::vector<uint16_t> many(300, 0x3FFE);
    many[130] = 0x4000;
    many[131] = 0xFFFF;
    const std::vector<uint16_t> out = Convert(many, true, true, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out[130], 0xFFFF);
    EXPECT_EQ(out[131], 0xFFFF);
    EXPECT_EQ(std::count(out.begin(), out.end(), 1), 298);
}

// Every count maps to a distinct state and back; states off the cycle read as count 0.
TEST(CounterCodes, TablesAreInverseOverTheWholeCycle) {
    for (const Width& w : {kNarrow, kWide}) {
        std::vector<uint16_t> counts(w.maxCount + 1u);
        for (uint32_t n = 0; n < counts.size(); ++n) counts[n] = static_cast<uint16_t>(n);
        bool ok = false;
        const std::vector<uint16_t> codes = Convert(counts, w.wide, false, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(Convert(codes, w.wide, true, &ok), counts) << "wide " << w.wide;

        std::vector<uint16_t> allStates(w.states);
        for (uint32_t s = 0; s < w.states; ++s) allStates[s] = static_cast<uint16_t>(s);
        const std::vector<uint16_t> all = Convert(allStates, w.wide, true, &ok);
        EXPECT_TRUE(ok);
        std::vector<int> seen(w.maxCount + 1u, 0);
        for (uint16_t count : all) {
            if (count <= w.maxCount) ++seen[count];
        }
        EXPECT_EQ(seen[0], static_cast<int>(w.states - w.maxCount - (w.wide ? 0 : 1)));
        for (uint32_t n = 1; n <= w.maxCount; ++n) ASSERT_EQ(seen[n], 1) << n;
    }
}

}  // namespace
}  // namespace ulvarin
