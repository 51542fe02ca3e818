#include "session/continuous_run.h"

#include <algorithm>

#include "device/clock.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/protocol.h"
#include "hardware_process/process_settings.h"

namespace ulvarin::process {
namespace {

// Beyond a frame's exposure and period: what a four-chip readout over a slow link may take.
constexpr double kReadoutAllowance = 10.0;
// How long one wait sleeps before it asks whether to stop.
constexpr double kWaitSlice = 0.05;
// Silence beyond a frame's exposure and period after which the interface is asked (at most
// this often) whether it has ended the run: a frame spoilt on the way never arrives.
constexpr double kEndCheck = 1.0;

std::string Count(int64_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

}  // namespace

ContinuousRun::ContinuousRun(MpxDevice& handle, uint32_t pixels)
    : handle_(handle),
      pixels_(pixels),
      listener_(handle, [this](MpxDevice&, MpxCommandResponse& record) { OnBackground(record); }) {}

ContinuousRun::~ContinuousRun() {
    Abort();
}

// Copies the frame out of the record before the record is reused; runs on the thread that
// drains the interface, which is the one in Wait.
void ContinuousRun::OnBackground(const MpxCommandResponse& record) {
    if (record.frameNumber == 0 || record.destination == nullptr) return;
    Pending frame;
    frame.counts.swap(spare_);
    frame.counts.assign(record.destination,
                        record.destination + std::min<uint32_t>(pixels_, record.capacity));
    frame.counts.resize(pixels_, 0);
    frame.exposure = record.time > 0 ? record.time : request_.exposure;
    frame.arrival = Now() - start_;
    pending_.push_back(std::move(frame));
}

bool ContinuousRun::Start(const ContinuousRequest& request, std::string& error) {
    if (request.frames < 0 || request.frames > kMaxContinuousFrames) {
        error = "A continuous run takes 1 to " + std::to_string(kMaxContinuousFrames) +
                " frames (0: until stopped).";
        return false;
    }
    if (!(request.exposure > 0 && request.exposure <= kMaxTimerSeconds) ||
        !(request.period >= 0 && request.period <= kMaxTimerSeconds)) {
        error = "Exposure and period are limited to " +
                std::to_string(static_cast<int64_t>(kMaxTimerSeconds)) + " s.";
        return false;
    }
    request_ = request;
    pending_.clear();
    taken_ = 0;
    stopped_ = false;
    // 0xFFFFFFFF counts on until stopped.
    const auto load = static_cast<uint32_t>(request.frames == 0 ? 0xFFFFFFFFu : request.frames - 1);
    const bool periodic = request.period > 0;
    handle_.Clear();
    bool ok = SetupFrameCounter(handle_, load, 0) && SetupIntervalTimer(handle_, request.exposure, 0);
    if (ok && periodic) ok = SetupPeriodTimer(handle_, request.period, 0);
    start_ = Now();
    lastArrival_ = start_;
    nextEndCheck_ = start_;
    if (ok) ok = RunExposition(handle_, periodic ? Exposition::kPeriodic : Exposition::kMultiple);
    if (!ok) {
        error = "The interface refused to start the run.";
        return false;
    }
    running_ = true;
    return true;
}

double ContinuousRun::FrameAllowance() const {
    return request_.exposure + request_.period + kReadoutAllowance;
}

// The frame counter counts down as frames are read out and is loaded afresh when the
// exposition ends, so it holds its load both before the first frame is read and after the
// last: only asked once a frame has come (and never for a single frame), after a silence
// longer than a frame takes. An answer that cannot be had counts as still running.
bool ContinuousRun::EndedWithFramesMissing(double now, double silence) {
    if (request_.frames <= 1 || taken_ == 0 || taken_ >= request_.frames) return false;
    if (silence < request_.exposure + request_.period + kEndCheck || now < nextEndCheck_)
        return false;
    nextEndCheck_ = now + kEndCheck;
    uint32_t loaded = 0, current = 0;
    handle_.Clear();
    if (!FrameCounterState(handle_, nullptr, &loaded, &current)) return false;
    return current == loaded;
}

ContinuousRun::Next ContinuousRun::Wait(const std::function<void(const ArrivedFrame&)>& take,
                                        const std::function<bool()>& stop, std::string& error) {
    MpxCommandResponse record;
    for (;;) {
        // A stop aborts the exposition at once; frames already in (some may come in with the
        // abort's answer) are still handed out before the run says it stopped.
        if (running_ && stop && stop()) {
            Abort();
            stopped_ = true;
        }
        if (!pending_.empty()) {
            Pending frame = std::move(pending_.front());
            pending_.pop_front();
            ++taken_;
            lastArrival_ = start_ + frame.arrival;
            if (request_.frames != 0 && taken_ >= request_.frames) running_ = false;
            take({frame.counts, taken_, frame.exposure, frame.arrival});
            spare_.swap(frame.counts);
            return Next::kFrame;
        }
        if (request_.frames != 0 && taken_ >= request_.frames) return Next::kDone;
        if (stopped_) return Next::kStopped;
        if (!IsAlive(handle_)) {
            running_ = false;
            error = "The interface stopped answering.";
            return Next::kFailed;
        }
        const double now = Now();
        const double silence = now - lastArrival_;
        if (EndedWithFramesMissing(now, silence)) {
            running_ = false;
            error = "The interface ended the run after " + Count(taken_, "frame") + " of " +
                    std::to_string(request_.frames) + ": " +
                    Count(request_.frames - taken_, "frame") + " lost.";
            return Next::kFailed;
        }
        if (silence > FrameAllowance()) {
            error = "No frame arrived within " + std::to_string(FrameAllowance()) + " s.";
            Abort();
            return Next::kFailed;
        }
        AwaitBytes(handle_, std::min(kWaitSlice, FrameAllowance() - silence));
        DrainBackground(handle_, record, kWaitSlice);
    }
}

void ContinuousRun::Abort() {
    if (!running_) return;
    running_ = false;
    handle_.Clear();
    AbortExposition(handle_);
}

}  // namespace ulvarin::process
