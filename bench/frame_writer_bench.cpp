// Writing four-chip frames of an emulated exposure as a run: HDF5 (shuffled and deflated,
// flushed per frame), TIFF pages and text frame files, against the floor of writing the raw
// 32-bit image with fwrite. Each reports frames per second and the bytes a frame takes on
// disk; compare the figures of one run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/frame_writer.h"
#include "files/frame_writer_factory.h"
#include "sim/chip_state.h"
#include "sim/pixel_physics.h"

namespace ulvarin {
namespace {

constexpr int kChips = 4;
constexpr int kDistinctFrames = 8;
constexpr double kExposureSeconds = 1.0;

// Frames of the emulated Timepix quad under its default light for one second, with the
// threshold where every photon counts: what a run of real exposures looks like to the
// compressor (a structured field with Poisson noise), not a constant or random array.
std::vector<std::vector<int32_t>> EmulatedFrames() {
    std::vector<sim::ChipState> chips;
    const sim::ThresholdDacs threshold = sim::ThresholdDacsOf(sim::ChipFamily::kTimepix);
    for (int c = 0; c < kChips; ++c) {
        chips.push_back(sim::MakeChipState(c, sim::ChipFamily::kTimepix,
                                           sim::DefaultChipId(sim::ChipFamily::kTimepix, c)));
        chips.back().dacs.dac[static_cast<size_t>(threshold.fine)] = 210;
        // Counting mode (mode bits P0 and P1 clear), not the power-up time-of-arrival mode.
        for (uint16_t& word : chips.back().pixelConfig) word &= ~uint16_t{0x0240};
    }
    sim::PixelPhysics physics(sim::ChipFamily::kTimepix, kChips, 7);
    std::vector<std::vector<int32_t>> frames;
    for (int f = 0; f < kDistinctFrames; ++f) {
        for (sim::ChipState& chip : chips) std::fill(chip.counts.begin(), chip.counts.end(), 0);
        physics.Expose(chips, sim::FrontEnd{.biasVolts = 100}, kExposureSeconds);
        std::vector<int32_t> counts;
        for (const sim::ChipState& chip : chips)
            counts.insert(counts.end(), chip.counts.begin(), chip.counts.end());
        frames.push_back(std::move(counts));
    }
    return frames;
}

const std::vector<std::vector<int32_t>>& Frames() {
    static const std::vector<std::vector<int32_t>> frames = EmulatedFrames();
    return frames;
}

RunDescription QuadRun() {
    RunDescription run;
    run.layout = {kChips, ChipFamily::Timepix};
    run.deviceName = "bench";
    run.dacs.assign(kChips, DefaultDacRecord(ChipType::Timepix));
    return run;
}

// `name` in an empty folder of its own.
std::string TempPath(const std::string& name) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ulvarin_bench_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

// Bytes of every file beside `path` (numbered text files included); removes them.
double BytesOnDisk(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    double bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        bytes += static_cast<double>(entry.file_size());
    std::filesystem::remove_all(folder);
    return bytes;
}

void Report(benchmark::State& state, double bytes, int64_t frames) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["bytes/frame"] = frames > 0 ? bytes / static_cast<double>(frames) : 0;
    double sum = 0;
    for (int32_t v : Frames()[0]) sum += v;
    state.counters["mean count"] = sum / static_cast<double>(Frames()[0].size());
}

void WriteRun(benchmark::State& state, const std::string& name, int expectedFrames) {
    const std::string path = TempPath(name);
    RunDescription run = QuadRun();
    run.expectedFrames = expectedFrames;
    std::string error;
    std::unique_ptr<FrameWriter> writer = OpenFrameWriter(path, run, error);
    if (!writer) {
        state.SkipWithError(error.c_str());
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        const FrameInfo info{kExposureSeconds, static_cast<double>(frames), 0};
        if (!writer->Append(Frames()[static_cast<size_t>(frames % kDistinctFrames)], info)) {
            state.SkipWithError(writer->error().c_str());
            break;
        }
        ++frames;
    }
    writer->Close();
    Report(state, BytesOnDisk(path), frames);
}

void BM_WriteQuadFramesHdf5(benchmark::State& state) {
    WriteRun(state, "run.h5", 0);
}
BENCHMARK(BM_WriteQuadFramesHdf5)->Unit(benchmark::kMillisecond);

void BM_WriteQuadFramesTiff(benchmark::State& state) {
    WriteRun(state, "run.tif", 0);
}
BENCHMARK(BM_WriteQuadFramesTiff)->Unit(benchmark::kMillisecond);

// One text file per frame, numbered, as a run to .txt writes them.
void BM_WriteQuadFramesText(benchmark::State& state) {
    WriteRun(state, "run.txt", 0);
}
BENCHMARK(BM_WriteQuadFramesText)->Unit(benchmark::kMillisecond);

// The floor: the frame in image order as raw 32-bit values with one fwrite each.
void BM_WriteQuadFramesRawReference(benchmark::State& state) {
    const std::string path = TempPath("raw.bin");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const ChipLayout layout{kChips, ChipFamily::Timepix};
    std::vector<uint32_t> image(GeometryFor(kChips).pixels());
    int64_t frames = 0;
    for (auto _ : state) {
        ImageOrderCounts(Frames()[static_cast<size_t>(frames % kDistinctFrames)], layout, image);
        std::fwrite(image.data(), sizeof(uint32_t), image.size(), file);
        std::fflush(file);
        ++frames;
    }
    std::fclose(file);
    Report(state, BytesOnDisk(path), frames);
}
BENCHMARK(BM_WriteQuadFramesRawReference)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ulvarin
