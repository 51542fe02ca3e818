// Writing and loading a four-chip frame file, against plain references over the same
// bytes: fwrite of the finished text (the floor of any writer), a "%8d " fprintf loop, and
// strtol over the text read back in one piece. Compare the times of one run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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
};

Frame& TheFrame() {
    static Frame frame;
    return frame;
}

void BM_FrameFileWriteCounts(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) benchmark::DoNotOptimize(WriteCountFrameFile(f.outPath, f.counts));
}
BENCHMARK(BM_FrameFileWriteCounts)->Unit(benchmark::kMillisecond);

void BM_FrameFileWriteResult(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) benchmark::DoNotOptimize(WriteResultImage(f.outPath, f.result, kQuad));
}
BENCHMARK(BM_FrameFileWriteResult)->Unit(benchmark::kMillisecond);

// The same bytes as the count writer's file, already formatted.
void BM_FrameFileWriteFwriteSameBytes(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.outPath.c_str(), "w");
        benchmark::DoNotOptimize(std::fwrite(f.chipText.data(), 1, f.chipText.size(), file));
        std::fclose(file);
    }
}
BENCHMARK(BM_FrameFileWriteFwriteSameBytes)->Unit(benchmark::kMillisecond);

void BM_FrameFileWritePrintf(benchmark::State& state) {
    Frame& f = TheFrame();
    for (auto _ : state) {
        std::FILE* file = std::fopen(f.outPath.c_str(), "w");
        for (size_t i = 0; i < f.counts.size(); ++i) {
            std::fprintf(file, "%8d ", f.counts[i]);
            if ((i + 1) % 256 == 0) std::fputc('\n', file);
        }
        std::fclose(file);
    }
}
BENCHMARK(BM_FrameFileWritePrintf)->Unit(benchmark::kMillisecond);

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
