// Writing and loading a four-chip frame file, against plain references over the same
// bytes: fwrite of the finished text (the floor of any writer), a "%8d " fprintf loop, and
// strtol over the text read back in one piece. Compare the times of one run. Every write
// goes to a new file, as autosave writes them: a file truncated and written again is flushed
// to disk on closing, which would time the disk rather than the writer. The autosaver is
// run at the rate of a streaming four-chip interface to show what its bounded queue writes
// and drops.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files/count_text.h"
#include "files/frame_autosaver.h"
#include "files/frame_file.h"

namespace ulvarin {
namespace {

constexpr ChipLayout kQuad{4, ChipFamily::Timepix};

struct Frame {
    Frame() : counts(kQuad.pixelsInUse()), result(kQuad.pixelsInUse()) {
        std::mt19937 gen(4);
        std::uniform_int_distribution<int> dist(0, 11810);
        for (size_t i = 0; i < counts.size(); ++i) result[i] = counts[i] = dist(gen);
        WriteCountFrameFile(chipPath, counts);
        WriteResultImage(imagePath, result, kQuad);
        std::ifstream in(chipPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        chipText = text.str();
    }
    ~Frame() {
        std::filesystem::remove(chipPath);
        std::filesystem::remove(imagePath);
        std::filesystem::remove(outPath);
    }

    static std::string Temp(const char* name) {
        return (std::filesystem::temp_directory_path() /
                ("ulvarin_bench_" + std::to_string(::getpid()) + name))
            .string();
    }

    std::vector<int32_t> counts;
    std::vector<double> result;
    std::string chipPath = Temp("_chip.txt");
    std::string imagePath = Temp("_image.txt");
    std::string outPath = Temp("_out.txt");
    std::string chipText;

    // outPath, gone, outside the timing: the next write creates it.
    const std::string& NewOut(benchmark::State& state) {
        state.PauseTiming();
        std::filesystem::remove(outPath);
        state.ResumeTiming();
        return outPath;
    }
};

Frame& TheFrame() {
    static Frame frame;
    return frame;
}

// A streaming four-chip interface delivers about this many frames a second.
constexpr int64_t kLinkFramesPerSecond = 87;

void CountFrames(benchmark::State& state) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FrameFileWriteCounts(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) benchmark::DoNotOptimize(WriteCountFrameFile(f.NewOut(state), f.counts));
    CountFrames(state);
}
BENCHMARK(BM_FrameFileWriteCounts)->Unit(benchmark::kMillisecond)->UseRealTime();

// The count text alone, no file, on 1 and 2 threads.
void BM_CountTextFormat(benchmark::State& state) {
    Frame& f = TheFrame();
    CountTextFormatter formatter(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(formatter.Format(f.counts).data());
    CountFrames(state);
}
BENCHMARK(BM_CountTextFormat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same text through snprintf, no file: what stdio formatting alone costs.
void BM_CountTextSnprintf(benchmark::State& state) {
    Frame& f = TheFrame();
    std::string text(f.chipText.size() + 16, '\0');
    for (auto _ : state) {
        char* out = text.data();
        for (size_t i = 0; i < f.counts.size(); ++i) {
            out += std::snprintf(out, 16, "%8d ", f.counts[i]);
            if ((i + 1) % 256 == 0) *out++ = '\n';
        }
        benchmark::DoNotOptimize(text.data());
    }
    CountFrames(state);
}
BENCHMARK(BM_CountTextSnprintf)->Unit(benchmark::kMillisecond)->UseRealTime();

// The formatter writing the file, the formatter kept from frame to frame (as the autosaver
// keeps it), on 1 and 2 threads.
void BM_CountTextWriteFile(benchmark::State& state) {
    Frame& f = TheFrame();
    CountTextFormatter formatter(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(formatter.WriteFile(f.NewOut(state), f.counts));
    CountFrames(state);
}
BENCHMARK(BM_CountTextWriteFile)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Frames offered to the autosaver at range(1) a second for two seconds, each to a new
// numbered file as in a run, text formatted on range(0) threads, with the default bound:
// offered, written and dropped frames a second, and the time until the last is on disk.
void BM_AutosaverSustained(benchmark::State& state) {
    Frame& f = TheFrame();
    const std::filesystem::path folder = Frame::Temp("_autosave");
    const double rate = static_cast<double>(state.range(1));
    const int frames = static_cast<int>(2 * rate);
    double offered = 0;
    double dropped = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        state.ResumeTiming();
        FrameAutosaver saver(nullptr, FrameAutosaver::kDefaultQueueBytes,
                             static_cast<int>(state.range(0)));
        saver.name() = AutosaveTemplateFromName((folder / "run_0000.txt").string());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(i / rate));
            saver.Save(f.counts);
        }
        saver.WaitUntilIdle();
        offered += frames;
        dropped += static_cast<double>(saver.DroppedFrames());
    }
    std::filesystem::remove_all(folder);
    using benchmark::Counter;
    state.counters["offered/s"] = Counter(offered, Counter::kIsRate);
    state.counters["written/s"] = Counter(offered - dropped, Counter::kIsRate);
    state.counters["dropped/s"] = Counter(dropped, Counter::kIsRate);
}
BENCHMARK(BM_AutosaverSustained)
    ->Args({1, kLinkFramesPerSecond})
    ->Args({2, kLinkFramesPerSecond})
    ->Args({1, 300})
    ->Args({2, 300})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_FrameFileWriteResult(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        benchmark::DoNotOptimize(WriteResultImage(f.NewOut(state), f.result, kQuad));
    }
}
BENCHMARK(BM_FrameFileWriteResult)->Unit(benchmark::kMillisecond);

// The same bytes as the count writer's file, already formatted.
void BM_FrameFileWriteFwriteSameBytes(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.NewOut(state).c_str(), "w");
        benchmark::DoNotOptimize(std::fwrite(f.chipText.data(), 1, f.chipText.size(), file));
        std::fclose(file);
    }
}
BENCHMARK(BM_FrameFileWriteFwriteSameBytes)->Unit(benchmark::kMillisecond);

void BM_FrameFileWritePrintf(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.NewOut(state).c_str(), "w");
        for (size_t i = 0; i < f.counts.size(); ++i) {
            std::fprintf(file, "%8d ", f.counts[i]);
            if ((i + 1) % 256 == 0) std::fputc('\n', file);
        }
        std::fclose(file);
    }
    CountFrames(state);
}
BENCHMARK(BM_FrameFileWritePrintf)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FrameFileReadChipOrder(benchmark::State& state) {
    Frame& f = TheFrame();
    std::vector<int32_t> counts(kQuad.pixelsInUse());
    for (auto _ : state) benchmark::DoNotOptimize(LoadFrameFile(f.chipPath, kQuad, true, counts));
}
BENCHMARK(BM_FrameFileReadChipOrder)->Unit(benchmark::kMillisecond);

void BM_FrameFileReadImageOrder(benchmark::State& state) {
    Frame& f = TheFrame();
    std::vector<int32_t> counts(kQuad.pixelsInUse());
    for (auto _ : state) {
        benchmark::DoNotOptimize(LoadFrameFile(f.imagePath, kQuad, true, counts));
    }
}
BENCHMARK(BM_FrameFileReadImageOrder)->Unit(benchmark::kMillisecond);

// The chip-order file read in one piece and parsed with strtol, with no checks at all.
void BM_FrameFileReadStrtol(benchmark::State& state) {
    Frame& f = TheFrame();
    std::vector<int32_t> counts(kQuad.pixelsInUse());
    std::string text(f.chipText.size(), '\0');
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.chipPath.c_str(), "rb");
        const size_t got = std::fread(text.data(), 1, text.size(), file);
        std::fclose(file);
        const char* p = text.c_str();
        char* end = nullptr;
        for (size_t i = 0; i < counts.size() && got > 0; ++i, p = end) {
            counts[i] = static_cast<int32_t>(std::strtol(p, &end, 10));
        }
        benchmark::DoNotOptimize(counts.data());
    }
}
BENCHMARK(BM_FrameFileReadStrtol)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ulvarin
