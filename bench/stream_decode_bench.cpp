// Decoding a four-chip frame stream into counts: the fast path against a plain
// bit-by-bit loop and against memcpy of the same bytes. Compare the times of one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "device/counter_codes.h"
#include "device/matrix_stream.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr int kChips = 4;

struct Frame {
    std::vector<uint8_t> stream;
    std::vector<uint16_t> pixels;
};

// A received stream of random bytes (every bit pattern is a valid frame).
Frame& FrameFor(bool wide) {
    static Frame frames[2];
    Frame& f = frames[wide ? 1 : 0];
    if (f.stream.empty()) {
        std::mt19937 gen(wide ? 14 : 13);
        f.stream.resize(FrameStreamBytes(kChips, wide));
        for (auto& b : f.stream) b = static_cast<uint8_t>(gen());
        f.pixels.assign(kMaxPixels, 0);
    }
    return f;
}

void SetCounters(benchmark::State& state, const Frame& f) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(f.stream.size()));
}

// Plain reference: every bit of every pixel fetched from its layout position. 13-bit
// chip i of several is read i - 1 bits into its block; bits before the block read as 0.
void ReferenceDecode(bool wide, const uint8_t* stream, uint16_t* pixels) {
    const int planes = wide ? kPlanes14 : kPlanes13;
    const int rowBytes = planes * kPlaneBytes;
    const int64_t blockBits = int64_t{kChipBlock13} * 8;
    for (int i = 0; i < kChips; ++i) {
        const uint8_t* block = stream + kChips + int64_t{wide ? kChipBlock14 : kChipBlock13} * i;
        const int offset = wide ? 0 : i - 1;
        for (int r = 0; r < 256; ++r) {
            for (int c = 0; c < 256; ++c) {
                unsigned v = 0;
                for (int b = 0; b < planes; ++b) {
                    const int64_t byte =
                        int64_t{r} * rowBytes + (planes - 1 - b) * kPlaneBytes + (255 - c) / 8;
                    const int64_t bit = byte * 8 + (255 - c) % 8 + offset;
                    if (bit >= 0 && bit < blockBits && (block[bit >> 3] & (0x80 >> (bit & 7)))) {
                        v |= 1u << b;
                    }
                }
                pixels[i * kChipPixels + r * 256 + c] = static_cast<uint16_t>(v);
            }
        }
    }
}

void BM_FastDecodeAndConvert(benchmark::State& state, bool wide) {
    Frame& f = FrameFor(wide);
    const auto length = static_cast<uint32_t>(f.stream.size());
    for (auto _ : state) {
        StreamToMatrix(wide, f.stream.data(), length, f.pixels.data(), kMaxPixels);
        ConvertCounterCodes(f.pixels.data(), kMaxPixels, wide, true);
        benchmark::DoNotOptimize(f.pixels.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, f);
}

// Raw register values only, as the hardware tests read them.
void BM_FastDecodeOnly(benchmark::State& state, bool wide) {
    Frame& f = FrameFor(wide);
    const auto length = static_cast<uint32_t>(f.stream.size());
    for (auto _ : state) {
        StreamToMatrix(wide, f.stream.data(), length, f.pixels.data(), kMaxPixels);
        benchmark::DoNotOptimize(f.pixels.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, f);
}

void BM_ReferenceDecodeAndConvert(benchmark::State& state, bool wide) {
    Frame& f = FrameFor(wide);
    for (auto _ : state) {
        ReferenceDecode(wide, f.stream.data(), f.pixels.data());
        ConvertCounterCodes(f.pixels.data(), kMaxPixels, wide, true);
        benchmark::DoNotOptimize(f.pixels.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, f);
}

void BM_MemcpyStream(benchmark::State& state, bool wide) {
    Frame& f = FrameFor(wide);
    std::vector<uint8_t> copy(f.stream.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), f.stream.data(), f.stream.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    SetCounters(state, f);
}

BENCHMARK_CAPTURE(BM_FastDecodeAndConvert, Bits13, false);
BENCHMARK_CAPTURE(BM_FastDecodeOnly, Bits13, false);
BENCHMARK_CAPTURE(BM_ReferenceDecodeAndConvert, Bits13, false);
BENCHMARK_CAPTURE(BM_MemcpyStream, Bits13, false);
BENCHMARK_CAPTURE(BM_FastDecodeAndConvert, Bits14, true);
BENCHMARK_CAPTURE(BM_FastDecodeOnly, Bits14, true);
BENCHMARK_CAPTURE(BM_ReferenceDecodeAndConvert, Bits14, true);
BENCHMARK_CAPTURE(BM_MemcpyStream, Bits14, true);

}  // namespace
}  // namespace ulvarin
