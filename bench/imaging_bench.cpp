// The per-frame image work for a four-chip frame (new frame, view and statistics, display
// range, histogram, colouring) against memcpy of the frame's bytes, its stages alone, and
// the median against a full sort. Compare the times of one run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/display_range.h"
#include "imaging/frame_store.h"
#include "imaging/histogram.h"
#include "imaging/image_recompute.h"
#include "imaging/image_colouring.h"
#include "imaging/median.h"
#include "imaging/result_view.h"

namespace ulvarin {
namespace {

// A Timepix quad with random counts, every 97th pixel masked, and one view computed.
struct Scene {
    Scene() : image(kMaxPixels) {
        store.Open({4, ChipFamily::Timepix});
        std::mt19937 gen(4);
        std::uniform_int_distribution<int> counts(0, 11810);
        for (uint32_t p = 0; p < store.pixelsInUse(); ++p) {
            store.raw()[p] = static_cast<uint16_t>(counts(gen));
            if (p % 97 == 0) store.config()[p] = 0x1F7F;
        }
        NewFrame(store, view);
        RecomputeImage(store, view, range, image);
    }
    std::span<const double> values() const { return store.result().first(store.pixelsInUse()); }

    FrameStore store;
    ViewSettings view;
    DisplayRangeControls range;
    std::vector<uint32_t> image;
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void PerFrame(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());  // items/s = frames/s
    state.SetBytesProcessed(state.iterations() * int64_t{kMaxPixels} * 2);
}

void BM_FramePipeline(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        NewFrame(s.store, s.view);
        RecomputeImage(s.store, s.view, s.range, s.image);
        benchmark::DoNotOptimize(s.image.data());
    }
    PerFrame(state);
}
BENCHMARK(BM_FramePipeline)->Unit(benchmark::kMicrosecond);

// The memory limit: copying the raw frame's bytes once.
void BM_FrameMemcpy(benchmark::State& state) {
    Scene& s = TheScene();
    std::vector<uint16_t> copy(kMaxPixels);
    for (auto _ : state) {
        std::memcpy(copy.data(), s.store.raw().data(), kMaxPixels * sizeof(uint16_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    PerFrame(state);
}
BENCHMARK(BM_FrameMemcpy)->Unit(benchmark::kMicrosecond);

void BM_StageViewAndStatistics(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) benchmark::DoNotOptimize(ComputeResultView(s.store, s.view));
    PerFrame(state);
}
BENCHMARK(BM_StageViewAndStatistics)->Unit(benchmark::kMicrosecond);

void BM_StageDisplayRange(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) benchmark::DoNotOptimize(ComputeDisplayRange(s.values(), s.range));
    PerFrame(state);
}
BENCHMARK(BM_StageDisplayRange)->Unit(benchmark::kMicrosecond);

void BM_StageHistogram(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) benchmark::DoNotOptimize(ComputeHistogram(s.values(), s.range.range));
    PerFrame(state);
}
BENCHMARK(BM_StageHistogram)->Unit(benchmark::kMicrosecond);

void BM_StageColouring(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        RenderImage(s.values(), s.store.layout(), s.range.range, s.image);
        benchmark::DoNotOptimize(s.image.data());
    }
    PerFrame(state);
}
BENCHMARK(BM_StageColouring)->Unit(benchmark::kMicrosecond);

// Median of a four-chip view; MedianOf leaves its input alone, a sort needs a copy.
void BM_MedianOf(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) benchmark::DoNotOptimize(MedianOf(s.values()));
}
BENCHMARK(BM_MedianOf)->Unit(benchmark::kMicrosecond);

void BM_MedianBySort(benchmark::State& state) {
    Scene& s = TheScene();
    std::vector<double> work(s.values().size());
    for (auto _ : state) {
        std::copy(s.values().begin(), s.values().end(), work.begin());
        std::sort(work.begin(), work.end());
        benchmark::DoNotOptimize(work[work.size() / 2]);
    }
}
BENCHMARK(BM_MedianBySort)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ulvarin
