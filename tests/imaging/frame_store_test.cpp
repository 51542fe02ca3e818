#include "imaging/frame_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace ulvarin {
namespace {

TEST(FrameStore, OpenResetsWholeCapacityAndRefusesBadChipCounts) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Mxr}));
    const uint32_t last = kMaxPixels - 1;
    store.flatField()[last] = 5;
    store.config()[last] = 5;

    EXPECT_FALSE(store.Open({5, ChipFamily::Timepix}));
    EXPECT_EQ(store.layout().chipCount, 1);
    EXPECT_EQ(store.config()[last], 5);

    ASSERT_TRUE(store.Open({4, ChipFamily::Timepix}));
    EXPECT_EQ(store.flatField()[last], 1.0);
    EXPECT_EQ(store.config()[last], 0x1FFF);
}

TEST(FrameStore, IntegrationSumsFramesAndTimesThenShowsTheLastFrameAgain) {
    FrameStore store;
    ASSERT_TRUE(store.Open({2, ChipFamily::Mxr}));
    store.raw()[3] = 40;
    store.TakeRawFrame();
    store.SetIntegrating(true);  // the sum starts empty, not with the frame shown
    EXPECT_EQ(store.counts()[3], 0);

    store.raw()[kMaxPixels - 1] = 9;  // beyond the chips in use: never taken in
    for (int frame = 0; frame < 3; ++frame) {
        std::fill_n(store.raw().begin(), store.pixelsInUse(), uint16_t{1});
        store.raw()[7] = static_cast<uint16_t>(frame + 10);
        store.frameTime = 0.5 + frame;
        store.TakeRawFrame();
    }
    EXPECT_EQ(store.counts()[0], 3);
    EXPECT_EQ(store.counts()[131071], 3);
    EXPECT_EQ(store.counts()[7], 10 + 11 + 12);
    EXPECT_EQ(store.counts()[kMaxPixels - 1], 0);
    EXPECT_DOUBLE_EQ(store.integratedTime, 0.5 + 1.5 + 2.5);

    store.SetIntegrating(false);
    EXPECT_EQ(store.counts()[7], 12);
    EXPECT_DOUBLE_EQ(store.integratedTime, 2.5);
}

TEST(FrameStore, IntegrationSaturatesInsteadOfWrapping) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Timepix}));
    store.SetIntegrating(true);
    constexpr int32_t kTop = std::numeric_limits<int32_t>::max();
    store.counts()[0] = kTop - 100;
    store.counts()[1] = -70000;  // loaded from a file: negative counts stay summable
    store.raw()[0] = 65535;
    store.raw()[1] = 65535;
    store.TakeRawFrame();
    EXPECT_EQ(store.counts()[0], kTop);
    EXPECT_EQ(store.counts()[1], -70000 + 65535);
}

}  // namespace
}  // namespace ulvarin
