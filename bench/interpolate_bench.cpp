// Filling the masked pixels of a four-chip "Result" view (1 % of the pixels masked at random
// and one masked 16 x 16 block) against a plain whole-image scan per pass on the same input,
// and the cost with no masked pixel. One view per iteration; items/s = views/s.
//
// The "Result" values are set once, outside the timing: interpolation writes only masked
// pixels and starts by setting each of them to the marker, so every iteration starts from
// the same state.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "imaging/corrections.h"
#include "imaging/result_view.h"
#include "tests/support/plain_interpolation.h"

namespace ulvarin {
namespace {

constexpr ChipLayout kQuad{4, ChipFamily::Medipix2};

struct Scene {
    explicit Scene(bool masked) {
        store.Open(kQuad);
        std::mt19937 gen(4);
        std::uniform_int_distribution<int> counts(0, 11810);
        std::bernoulli_distribution isMasked(0.01);
        const uint16_t maskedWord = MaskClearingWord(kQuad.family);
        for (uint32_t p = 0; p < store.pixelsInUse(); ++p) {
            store.counts()[p] = counts(gen);
            if (masked && isMasked(gen)) store.config()[p] = maskedWord;
        }
        for (uint32_t y = 300; masked && y < 316; ++y) {
            for (uint32_t x = 100; x < 116; ++x) {
                store.config()[ImageIndexToPixel(y * 512 + x, kQuad)] = maskedWord;
            }
        }
        ComputeResultView(store, {ResultView::Result, false, false});
    }
    FrameStore store;
};

Scene& Masked() {
    static Scene scene(true);
    return scene;
}

void BM_InterpolateFourChips(benchmark::State& state) {
    FrameStore& store = Masked().store;
    for (auto _ : state) benchmark::DoNotOptimize(InterpolateBadPixels(store, 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateFourChips)->Unit(benchmark::kMicrosecond);

void BM_InterpolateReference(benchmark::State& state) {
    FrameStore& store = Masked().store;
    for (auto _ : state) benchmark::DoNotOptimize(PlainInterpolate(store, 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateReference)->Unit(benchmark::kMicrosecond);

void BM_InterpolateNoMask(benchmark::State& state) {
    static Scene scene(false);
    for (auto _ : state) benchmark::DoNotOptimize(InterpolateBadPixels(scene.store, 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateNoMask)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ulvarin
