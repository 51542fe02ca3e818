#include "session/frame_runs.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "base/number_text.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/protocol.h"
#include "files/ordered_writer.h"
#include "session/continuous_run.h"
#include "wire/pixel_config.h"
#include "wire/action_sets.h"

namespace ulvarin {
namespace {

constexpr uint8_t kOpenAndTime = process::kOpenShutter | process::kStartInterval;
// Beyond the exposure: what a four-chip readout over a slow link may take.
constexpr double kReadoutAllowance = 10.0;
constexpr double kDrainSlice = 0.05;

class RunClock {
public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Writes one frame; the outcome records a failure.
bool WriteFrame(FrameWriter& writer, std::span<const int32_t> counts, const FrameInfo& info,
                RunOutcome& outcome) {
    if (!writer.Append(counts, info)) {
        outcome.end = RunEnd::kWriteFailed;
        outcome.error = writer.error();
        return false;
    }
    outcome.frames = writer.frames();
    return true;
}

// Takes `count` frames summed into `sum`; false (outcome set) when the run is to end.
bool TakeSummed(FrameTaker& taker, double exposure, int count, std::span<int32_t> sum, double& time,
                const StopFlag& stop, RunOutcome& outcome) {
    std::fill(sum.begin(), sum.end(), 0);
    time = 0;
    for (int i = 0; i < count; ++i) {
        double frameTime = 0;
        switch (taker.Take(exposure, sum, frameTime, outcome.error, stop)) {
            case FrameTaker::Result::kStopped:
                outcome.end = RunEnd::kStopped;
                return false;
            case FrameTaker::Result::kFailed:
                outcome.end = RunEnd::kAcquisitionFailed;
                return false;
            default:
                time += frameTime;
        }
    }
    return true;
}

}  // namespace

FrameTaker::FrameTaker(InterfaceSession& session)
    : session_(session),
      frame_(session.layout().pixelsInUse()),
      listener_(session.handle(),
                [this](MpxDevice&, MpxCommandResponse& record) { OnBackground(record); }) {}

FrameTaker::~FrameTaker() = default;

// Copies the frame out of the record before the record is reused.
void FrameTaker::OnBackground(const MpxCommandResponse& record) {
    if (record.frameNumber == 0 || record.destination == nullptr) return;
    const size_t n = std::min<size_t>(frame_.size(), record.capacity);
    std::copy_n(record.destination, n, frame_.begin());
    frameTime_ = record.time;
    arrived_ = true;
}

// One frame: no frame counter, no period, the interval closes the shutter, and the manual
// set opens it and starts the interval at once. The counters are cleared first, as after
// opening they still hold what the chips counted before.
bool FrameTaker::Start(double exposure) {
    MpxDevice& h = session_.handle();
    h.Clear();
    return EraseMatrix(h) && SetupFrameCounter(h, 0, 0) &&
           SetupIntervalTimer(h, exposure, process::kCloseShutter) &&
           SetupPeriodTimer(h, 0, kOpenAndTime) && MakeTodoMask(h, kOpenAndTime);
}

void FrameTaker::Abort() {
    MpxDevice& h = session_.handle();
    h.Clear();
    StopIntervalTimer(h);
    AbortExposition(h);
}

FrameTaker::Result FrameTaker::Take(double exposure, std::span<int32_t> sum, double& time,
                                    std::string& error, const StopFlag& stop) {
    arrived_ = false;
    if (stop) return Result::kStopped;
    if (!Start(exposure)) {
        error = "Starting the exposure failed.";
        return Result::kFailed;
    }
    const double until = Now() + exposure + kReadoutAllowance;
    MpxCommandResponse record;
    while (!arrived_) {
        if (stop) {
            Abort();
            return Result::kStopped;
        }
        if (Now() > until) {
            error =
                "No frame arrived within " + std::to_string(exposure + kReadoutAllowance) + " s.";
            Abort();
            return Result::kFailed;
        }
        if (!IsAlive(session_.handle())) {
            error = "The interface stopped answering.";
            return Result::kFailed;
        }
        // Sleeps until the interface sends something (or the slice ends, so a stop request
        // is seen), then takes what came.
        AwaitBytes(session_.handle(), std::min(kDrainSlice, until - Now()));
        DrainBackground(session_.handle(), record, kDrainSlice);
    }
    const size_t n = std::min(sum.size(), frame_.size());
    for (size_t i = 0; i < n; ++i) sum[i] += frame_[i];
    time = frameTime_ > 0 ? frameTime_ : exposure;
    return Result::kTaken;
}

RunOutcome RunAcquire(InterfaceSession& session, FrameWriter& writer, const AcquireRequest& request,
                      const ProgressFunction& progress, const StopFlag& stop) {
    RunOutcome outcome;
    const uint32_t pixels = session.layout().pixelsInUse();
    process::ContinuousRun run(session.handle(), pixels);
    if (!run.Start({request.frames, request.exposure, request.period}, outcome.error)) {
        outcome.end = RunEnd::kAcquisitionFailed;
        return outcome;
    }
    // The file is written on a thread of its own, so a slow disk never holds up the link.
    // The queue is declared last: it runs out, and its thread ends, before the rest goes.
    std::atomic<bool> writeFailed{false};
    std::atomic<int> written{0};
    OrderedWriter files(request.queueBytes);
    const auto take = [&](const process::ArrivedFrame& frame) {
        auto counts = std::make_shared<std::vector<int32_t>>(frame.counts.begin(), frame.counts.end());
        const FrameInfo info{frame.exposure, frame.arrival, 0, frame.number};
        const bool queued = files.TryPost(
            [&, counts, info] {
                if (writeFailed) return;
                if (writer.Append(*counts, info))
                    written = writer.frames();
                else
                    writeFailed = true;
            },
            counts->size() * sizeof(int32_t));
        if (!queued) ++outcome.dropped;
    };
    const auto stopping = [&stop, &writeFailed] { return stop != 0 || writeFailed; };
    bool taking = true;
    while (taking) {
        switch (run.Wait(take, stopping, outcome.error)) {
            case process::ContinuousRun::Next::kFrame:
                if (progress) progress(static_cast<int>(run.framesTaken()));
                break;
            case process::ContinuousRun::Next::kDone:
                taking = false;
                break;
            case process::ContinuousRun::Next::kStopped:
                outcome.end = RunEnd::kStopped;
                taking = false;
                break;
            case process::ContinuousRun::Next::kFailed:
                outcome.end = RunEnd::kAcquisitionFailed;
                taking = false;
                break;
        }
    }
    files.WaitUntilIdle();
    outcome.frames = written;
    if (writeFailed) {
        outcome.end = RunEnd::kWriteFailed;
        outcome.error = writer.error();
    }
    return outcome;
}

RunOutcome RunScan(InterfaceSession& session, FrameWriter& writer, const ScanRequest& request,
                   const ProgressFunction& progress, const StopFlag& stop) {
    RunOutcome outcome;
    std::vector<ChipDacRecord>& records = session.records();
    const std::vector<ChipDacRecord> saved = records;
    FrameTaker taker(session);
    std::vector<int32_t> counts(session.layout().pixelsInUse());
    const RunClock clock;
    for (int value : request.values) {
        for (ChipDacRecord& record : records)
            record.dac[request.dacIndex] = static_cast<uint16_t>(value);
        if (!session.SendDacs()) {
            outcome.end = RunEnd::kAcquisitionFailed;
            outcome.error = "Setting the DAC to " + std::to_string(value) + " failed.";
            break;
        }
        FrameInfo info;
        info.dacValue = value;
        if (!TakeSummed(taker, request.exposure, request.framesPerStep, counts, info.exposure, stop,
                        outcome))
            break;
        info.timestamp = clock.Seconds();
        if (!WriteFrame(writer, counts, info, outcome)) break;
        if (progress) progress(outcome.frames);
    }
    records = saved;
    session.SendDacs();
    return outcome;
}

namespace {

// One step of an equalisation: the words sent, or a frame taken and fed (its scan written
// when it ends it). False (outcome set) when the run is to end.
bool EqualizeStep(InterfaceSession& session, EqualizationRun& equalization,
                  const EqualizeRun& request, FrameTaker& taker, std::vector<int32_t>& counts,
                  const StopFlag& stop, RunOutcome& outcome) {
    if (equalization.Next() == EqualizationRun::Action::kConfigure) {
        if (!session.SendPixelConfig(equalization.words(), outcome.error)) {
            outcome.end = RunEnd::kAcquisitionFailed;
            return false;
        }
        equalization.Configured();
        return true;
    }
    const int value = equalization.dacValue();
    for (ChipDacRecord& record : session.records())
        record.dac[equalization.dacIndex()] = static_cast<uint16_t>(value);
    if (!session.SendDacs()) {
        outcome.end = RunEnd::kAcquisitionFailed;
        outcome.error = "Setting the DAC to " + std::to_string(value) + " failed.";
        return false;
    }
    double time = 0;
    if (!TakeSummed(taker, request.exposure, request.framesPerStep, counts, time, stop, outcome))
        return false;
    ++outcome.frames;
    if (equalization.Feed(counts)) return true;
    outcome.end = RunEnd::kWriteFailed;
    outcome.error = equalization.fileError();
    return false;
}

}  // namespace

EqualizeOutcome RunEqualize(InterfaceSession& session, EqualizationFile& file,
                            const EqualizeRun& request, const ProgressFunction& progress,
                            const StopFlag& stop) {
    EqualizeOutcome outcome;
    RunOutcome& run = outcome.run;
    const std::vector<ChipDacRecord> savedDacs = session.records();
    EqualizationRun equalization(session.layout(), session.pixelConfig(), request.request, &file);
    FrameTaker taker(session);
    std::vector<int32_t> counts(session.layout().pixelsInUse());
    while (equalization.Next() != EqualizationRun::Action::kDone) {
        const int before = run.frames;
        if (!EqualizeStep(session, equalization, request, taker, counts, stop, run)) break;
        if (progress && run.frames != before) progress(run.frames);
    }
    session.records() = savedDacs;
    const bool dacsBack = session.SendDacs();
    const bool written = equalization.Finish();
    // Never left half changed: stopped, failed or not worth keeping, the old configuration
    // goes back; kept, the chips (which hold it in counting mode) get the pixels' own modes.
    std::string error;
    const std::span<const uint16_t> kept = equalization.KeptWords();
    const bool configured = std::ranges::equal(session.pixelConfig(), kept) ||
                            session.SendPixelConfig(kept, error);
    if (!equalization.Done()) return outcome;
    outcome.result = equalization.result();
    outcome.notKept = equalization.notKept();
    if (!dacsBack || !configured) {
        run.end = RunEnd::kAcquisitionFailed;
        run.error = dacsBack ? error : "Setting the DACs back failed.";
    } else if (!written) {
        run.end = RunEnd::kWriteFailed;
        run.error = equalization.fileError();
    }
    return outcome;
}

}  // namespace ulvarin
