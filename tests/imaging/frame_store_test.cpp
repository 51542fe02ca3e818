#include "imaging/frame_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "imaging/result_view.h"

namespace ulvarin {
namespace {

bool AllEqual(auto span, auto value) {
    return std::all_of(span.begin(), span.end(), [value](auto v) { return v == value; });
}

TEST(FrameStore, OpenResetsWholeCapacityAndRefusesBadChipCounts) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Mxr}));
    store.raw()[kMaxPixels - 1] = 5;
    store.counts()[kMaxPixels - 1] = 5;
    store.result()[kMaxPixels - 1] = 5;
    store.flatField()[kMaxPixels - 1] = 5;
    store.config()[kMaxPixels - 1] = 5;
    store.frameTime = 2;
    store.integratedTime = 3;

    EXPECT_FALSE(store.Open({5, ChipFamily::Timepix}));
    EXPECT_FALSE(store.Open({-1, ChipFamily::Timepix}));
    EXPECT_EQ(store.layout().chipCount, 1);
    EXPECT_EQ(store.raw()[kMaxPixels - 1], 5);

    ASSERT_TRUE(store.Open({4, ChipFamily::Timepix}));
    EXPECT_EQ(store.pixelsInUse(), 262144u);
    EXPECT_EQ(store.geometry().pixels(), 262144u);
    EXPECT_TRUE(AllEqual(store.raw(), uint16_t{0}));
    EXPECT_TRUE(AllEqual(store.counts(), 0));
    EXPECT_TRUE(AllEqual(store.result(), 0.0));
    EXPECT_TRUE(AllEqual(store.flatField(), 1.0));
    EXPECT_TRUE(AllEqual(store.config(), uint16_t{0x1FFF}));
    EXPECT_EQ(store.frameTime, 0.0);
    EXPECT_EQ(store.integratedTime, 0.0);
}

TEST(FrameStore, IntegrationSumsFramesAndTimesThenShowsTheLastFrameAgain) {
    FrameStore store;
    ASSERT_TRUE(store.Open({2, ChipFamily::Mxr}));
    store.raw()[kMaxPixels - 1] = 9;  // beyond the chips in use: never taken in
    store.SetIntegrating(true);
    for (int frame = 0; frame < 3; ++frame) {
        std::fill_n(store.raw().begin(), store.pixelsInUse(), uint16_t{1});
        store.raw()[7] = static_cast<uint16_t>(frame + 10);
        store.frameTime = 0.5 + frame;
        store.TakeRawFrame();
    }
    EXPECT_EQ(store.counts()[0], 3);
    EXPECT_EQ(store.counts()[131071], 3);
    EXPECT_EQ(store.counts()[7], 10 + 11 + 12);
    EXPECT_EQ(store.counts()[131072], 0);
    EXPECT_EQ(store.counts()[kMaxPixels - 1], 0);
    EXPECT_DOUBLE_EQ(store.integratedTime, 0.5 + 1.5 + 2.5);

    store.SetIntegrating(false);
    EXPECT_EQ(store.counts()[0], 1);
    EXPECT_EQ(store.counts()[7], 12);
    EXPECT_DOUBLE_EQ(store.integratedTime, 2.5);

    // Without integration a frame replaces the counts.
    store.raw()[0] = 4;
    store.frameTime = 0.25;
    store.TakeRawFrame();
    EXPECT_EQ(store.counts()[0], 4);
    EXPECT_EQ(store.integratedTime, 0.25);
}

TEST(FrameStore, SwitchingIntegrationOnClearsCountsUntilTheNextFrame) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Medipix2}));
    store.raw()[3] = 50;
    store.frameTime = 1;
    store.TakeRawFrame();
    store.SetIntegrating(true);
    EXPECT_EQ(store.counts()[3], 0);
    EXPECT_EQ(store.integratedTime, 0.0);
    EXPECT_TRUE(store.integrating());
    store.TakeRawFrame();
    EXPECT_EQ(store.counts()[3], 50);
}

TEST(FrameStore, IntegrationSaturatesInsteadOfWrapping) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Timepix}));
    store.SetIntegrating(true);
    constexpr int32_t kTop = std::numeric_limits<int32_t>::max();
    store.counts()[0] = kTop - 100;
    store.counts()[1] = kTop;
    store.counts()[2] = -70000;  // loaded from a file: negative counts stay summable
    store.raw()[0] = 65535;
    store.raw()[1] = 1;
    store.raw()[2] = 65535;
    store.TakeRawFrame();
    EXPECT_EQ(store.counts()[0], kTop);
    EXPECT_EQ(store.counts()[1], kTop);
    EXPECT_EQ(store.counts()[2], -70000 + 65535);
}

TEST(FrameStore, NewFrameSwitchesBackToTheResultView) {
    FrameStore store;
    ASSERT_TRUE(store.Open({1, ChipFamily::Mxr}));
    ViewSettings view{ResultView::VthhMask, true};
    store.raw()[0] = 8;
    NewFrame(store, view);
    EXPECT_EQ(view.view, ResultView::Result);
    EXPECT_TRUE(view.flatField);
    EXPECT_EQ(store.counts()[0], 8);
}

}  // namespace
}  // namespace ulvarin
