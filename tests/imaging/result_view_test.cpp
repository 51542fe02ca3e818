#include "imaging/result_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace ulvarin {
namespace {

// Bits 12, 10, 8, 7, 6: Vthh 0b101, Vthl 0b111, test bit clear; good only on Timepix.
constexpr uint16_t kWordA = 0x15C0;
// Bits 11, 9, 0: Vthh 0b010, Vthl 0, test bit set; good on Medipix2 and MXR.
constexpr uint16_t kWordB = 0x0A01;

FrameStore CraftedStore(ChipFamily family) {
    FrameStore store;
    store.Open({1, family});
    store.config()[0] = kWordA;
    store.config()[1] = kWordB;  // pixel 2 keeps 0x1FFF: good for every family
    for (int p = 0; p < 3; ++p) {
        store.raw()[p] = static_cast<uint16_t>(11 * (p + 1));
        store.counts()[p] = 100 * (p + 1);
    }
    store.flatField()[0] = 0.5;
    store.flatField()[1] = 2.0;
    store.flatField()[2] = 0.25;
    return store;
}

std::vector<double> ViewOf(FrameStore& store, ResultView view, bool flatField = false) {
    ComputeResultView(store, {view, flatField, false});
    return {store.result().begin(), store.result().begin() + 3};
}

TEST(ResultView, BitViewsReadTheSameBitsForEveryFamily) {
    for (ChipFamily family : {ChipFamily::Medipix2, ChipFamily::Mxr, ChipFamily::Timepix}) {
        FrameStore store = CraftedStore(family);
        EXPECT_EQ(ViewOf(store, ResultView::ConfigWord),
                  (std::vector<double>{0x15C0, 0x0A01, 8191}));
        EXPECT_EQ(ViewOf(store, ResultView::TestBit), (std::vector<double>{0, 1, 1}));
        EXPECT_EQ(ViewOf(store, ResultView::VthlMask), (std::vector<double>{7, 0, 7}));
        EXPECT_EQ(ViewOf(store, ResultView::VthhMask), (std::vector<double>{5, 2, 7}));
        EXPECT_EQ(ViewOf(store, ResultView::RawImage), (std::vector<double>{11, 22, 33}));
        EXPECT_EQ(ViewOf(store, ResultView::FlatField), (std::vector<double>{0.5, 2, 0.25}));
    }
}

TEST(ResultView, MaskAndResultFollowTheFamilysMaskBit) {
    struct Case {
        ChipFamily family;
        std::vector<double> maskBit, result, corrected;
    };
    const Case cases[] = {
        {ChipFamily::Medipix2, {0, 1, 1}, {0, 200, 300}, {0, 400, 75}},
        {ChipFamily::Mxr, {0, 1, 1}, {0, 200, 300}, {0, 400, 75}},
        {ChipFamily::Timepix, {1, 0, 1}, {100, 0, 300}, {50, 0, 75}},
    };
    for (const Case& c : cases) {
        FrameStore store = CraftedStore(c.family);
        EXPECT_EQ(ViewOf(store, ResultView::MaskBit), c.maskBit);
        EXPECT_EQ(ViewOf(store, ResultView::Result), c.result);
        EXPECT_EQ(ViewOf(store, ResultView::Result, true), c.corrected);
    }
}

TEST(ResultView, MaskedPixelIsPlainZeroWhateverItsCountAndFactor) {
    FrameStore store = CraftedStore(ChipFamily::Mxr);
    store.counts()[0] = -5;
    store.flatField()[0] = std::numeric_limits<double>::infinity();
    for (bool flat : {false, true}) {
        ComputeResultView(store, {ResultView::Result, flat, false});
        EXPECT_EQ(store.result()[0], 0.0);
        EXPECT_FALSE(std::signbit(store.result()[0]));
    }
}

}  // namespace
}  // namespace ulvarin
