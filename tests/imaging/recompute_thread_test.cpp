// The renderer's thread makes exactly the image, statistics, histogram, range and view
// values that the same recomputation makes in place, and hands them over by swapping.
#include "imaging/recompute_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>

namespace ulvarin {
namespace {

void FillPattern(FrameStore& store, int seed) {
    const uint32_t pixels = store.pixelsInUse();
    for (uint32_t p = 0; p < pixels; ++p) {
        store.raw()[p] = static_cast<uint16_t>((p * 7 + seed * 13) % 3000);
        store.flatField()[p] = 1.0 + (p % 5) * 0.01;
    }
    for (uint32_t p = 0; p < pixels; p += 97) store.config()[p] = 0;  // masked pixels
    store.frameTime = 0.25;
}

TEST(ImageRendererTest, MakesWhatTheRecomputationMakesInPlace) {
    std::mutex mutex;
    std::condition_variable came;
    std::optional<RenderedImage> rendered;
    ImageRenderer renderer([&](const RenderedImage& r) {
        std::lock_guard lock(mutex);
        rendered = r;
        came.notify_all();
    });
    FrameStore shown;
    ASSERT_TRUE(shown.Open({4, ChipFamily::Timepix}));
    ViewSettings view{ResultView::Result, true, true};
    for (int frame = 0; frame < 3; ++frame) {
        FillPattern(shown, frame);
        shown.SetIntegrating(frame > 0);
        NewFrame(shown, view);
        const DisplayRangeControls range;  // Auto
        renderer.Render(shown, view, range, 40 + frame);

        FrameStore here;
        here.Open(shown.layout());
        std::copy(shown.raw().begin(), shown.raw().end(), here.raw().begin());
        std::copy(shown.counts().begin(), shown.counts().end(), here.counts().begin());
        std::copy(shown.flatField().begin(), shown.flatField().end(), here.flatField().begin());
        std::copy(shown.config().begin(), shown.config().end(), here.config().begin());
        DisplayRangeControls hereRange;
        std::vector<uint32_t> hereImage(here.geometry().pixels());
        const RecomputedImage expected = RecomputeImage(here, view, hereRange, hereImage);

        std::unique_lock lock(mutex);
        ASSERT_TRUE(came.wait_for(lock, std::chrono::seconds(10), [&] { return rendered.has_value(); }));
        EXPECT_EQ(rendered->version, 40u + frame);
        EXPECT_EQ(rendered->image.statistics.sum, expected.statistics.sum);
        EXPECT_EQ(rendered->image.statistics.standardDeviation, expected.statistics.standardDeviation);
        EXPECT_EQ(rendered->image.histogram.bins, expected.histogram.bins);
        EXPECT_EQ(rendered->range.maxText, hereRange.maxText);
        EXPECT_EQ(rendered->time, shown.integratedTime);
        rendered.reset();
        lock.unlock();

        std::vector<uint32_t> image;
        renderer.TakeArrays(shown, image);
        EXPECT_EQ(image, hereImage);
        const uint32_t pixels = shown.pixelsInUse();
        EXPECT_TRUE(std::equal(here.result().begin(), here.result().begin() + pixels,
                               shown.result().begin()));
    }
}

}  // namespace
}  // namespace ulvarin
