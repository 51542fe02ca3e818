// What waiting for frames costs and how fast frames come, on emulated interfaces:
//  - BM_IdleExposure: the CPU the whole process (emulator included) uses while one 1 s
//    exposure runs, as cpu_share (CPU seconds per wall second);
//  - BM_ContinuousQuad: four-chip frames of 1 ms through a 40 MB/s link (link_fraction:
//    frames/s against what the wire carries) and through an unlimited one.
// Each is measured for the continuous run and for the old path, one hardware process per
// frame (frame_by_frame:1).
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "standard_drivers/emulator_driver.h"
#include "device/drivers/driver_registry.h"
#include "device/report.h"
#include "session/continuous_run.h"
#include "session/frame_runs.h"
#include "session/interface_session.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

constexpr double kLinkBytesPerSecond = 40e6;
constexpr double kLinkLatencySeconds = 0.0005;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The one interface of `set`, opened as the command line opens it, on a link of `rate`
// bytes per second (0: no limit).
class Emulated {
public:
    Emulated(const char* set, double rate) {
        auto emulator = MakeEmulatorDriver(set);
        if (rate > 0)
            emulator->WithLink(0, [&](sim::LinkModel& link) {
                link.SetTiming({rate, kLinkLatencySeconds});
            });
        InstallDriver(emulator);
        SetReportHook([](MpxDevice& h, void*) { h.Clear(); }, nullptr);
        std::string error;
        // Timepix chips count hits, as the command line sets them unless asked otherwise.
        ok = session.Open(emulator->Description(0), error) &&
             (session.layout().family != ChipFamily::Timepix ||
              session.SetTimepixMode(0, error) == InterfaceSession::Load::kOk);
    }
    ~Emulated() {
        SetReportHook(nullptr, nullptr);
        InstallDriver(nullptr);
    }
    InterfaceSession session;
    bool ok = false;
};

// Frames taken in `frames` frames of `exposure`, by either path.
int64_t TakeFrames(InterfaceSession& session, bool frameByFrame, int frames,
                   double exposure) {
    std::string error;
    if (frameByFrame) {
        FrameTaker taker(session);
        std::vector<int32_t> sum(session.layout().pixelsInUse());
        const StopFlag stop{0};
        int64_t taken = 0;
        for (int i = 0; i < frames; ++i) {
            double time = 0;
            if (taker.Take(exposure, sum, time, error, stop) != FrameTaker::Result::kTaken)
                break;
            ++taken;
        }
        return taken;
    }
    process::ContinuousRun run(session.handle(), session.layout().pixelsInUse());
    if (!run.Start({frames, exposure, 0}, error)) return 0;
    uint64_t checksum = 0;
    const auto take = [&](const process::ArrivedFrame& f) { checksum += f.counts[0]; };
    while (run.Wait(take, {}, error) == process::ContinuousRun::Next::kFrame) {
    }
    benchmark::DoNotOptimize(checksum);
    return run.framesTaken();
}

void BM_IdleExposure(benchmark::State& state) {
    const bool frameByFrame = state.range(0) != 0;
    Emulated emulated("medipix2:1", kLinkBytesPerSecond);
    if (!emulated.ok) {
        state.SkipWithError("no emulated interface");
        return;
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = CpuSeconds(), wall0 = WallSeconds();
        if (TakeFrames(emulated.session, frameByFrame, 1, 1.0) != 1)
            state.SkipWithError("no frame");
        cpu += CpuSeconds() - cpu0;
        wall += WallSeconds() - wall0;
    }
    state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
}
BENCHMARK(BM_IdleExposure)
    ->ArgName("frame_by_frame")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ContinuousQuad(benchmark::State& state) {
    const bool limited = state.range(0) != 0;
    const bool frameByFrame = state.range(1) != 0;
    Emulated emulated("timepix:4", limited ? kLinkBytesPerSecond : 0);
    if (!emulated.ok) {
        state.SkipWithError("no emulated interface");
        return;
    }
    constexpr int kFrames = 60;
    int64_t frames = 0;
    for (auto _ : state) frames += TakeFrames(emulated.session, frameByFrame, kFrames, 0.001);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    // Frames/s the wire carries: the frame's bytes after its six-byte time counter.
    const double wireRate = kLinkBytesPerSecond / (FrameStreamBytes(4, true) + 10);
    if (limited)
        state.counters["link_fraction"] = benchmark::Counter(
            static_cast<double>(frames) / wireRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ContinuousQuad)
    ->ArgNames({"link_40MBps", "frame_by_frame"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ulvarin
