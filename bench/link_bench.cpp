// Host cost of exchanges over the emulated link (no bandwidth limit, no latency): small
// command round trips, and "Read matrix" of a four-chip frame including its decoding.
// Compare frames per second with the wire time of a 40 MB/s link.
#include <benchmark/benchmark.h>

#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/chip_commands.h"
#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {
namespace {

constexpr double kLinkBytesPerSecond = 40e6;

// Opens the single emulated interface of `set` with a reset, quietly.
class OpenEmulator {
public:
    explicit OpenEmulator(const char* set) {
        auto emulator = MakeEmulatorDriver(set);
        description_ = emulator->Description(0);
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& h, void*) { h.Clear(); }, nullptr);
        handle.device = OpenDevice(description_.c_str(), true, false, 0);
    }
    ~OpenEmulator() {
        CloseDevice(handle, true);
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }
    MpxDevice handle;

private:
    std::string description_;
};

void BM_CommandRoundTrip(benchmark::State& state) {
    OpenEmulator open("medipix2:1");
    if (open.handle.device == nullptr) {
        state.SkipWithError("no emulated interface");
        return;
    }
    for (auto _ : state) {
        if (!PowerOn(open.handle)) state.SkipWithError("command failed");
    }
    state.counters["exchanges/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CommandRoundTrip)->UseRealTime();

void BM_ReadMatrixFourChips(benchmark::State& state) {
    const bool wide = state.range(0) != 0;
    OpenEmulator open(wide ? "timepix:4" : "medipix2:4");
    if (open.handle.device == nullptr) {
        state.SkipWithError("no emulated interface");
        return;
    }
    std::vector<uint16_t> pixels(kMaxPixels);
    for (auto _ : state) {
        if (!ReadMatrix(open.handle, pixels.data(), pixels.size()))
            state.SkipWithError("read failed");
    }
    const double bytes = FrameStreamBytes(4, wide) + 10;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["wire_frames/s"] = kLinkBytesPerSecond / bytes;
}
BENCHMARK(BM_ReadMatrixFourChips)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ulvarin
