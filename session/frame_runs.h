// Runs of frames on an open interface. An acquisition is one continuous run of the
// interface's own exposition; a scan's frames are each one hardware process whose interval
// timer is the exposure (the manual action opens the shutter and starts the timer, which
// closes it). Either way the interface reads the chips out by itself and hands each frame
// over as a background frame. A run ends after its last frame, when asked to stop (the
// frames so far stay written), or on the first failure.
#pragma once

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "calibration/threshold_equalizer.h"
#include "files/equalization_file.h"
#include "files/frame_writer.h"
#include "session/device_events.h"
#include "session/equalization_run.h"
#include "session/interface_session.h"

namespace ulvarin {

// Set (from a signal handler or another thread) to end a run after the frame under way;
// lock-free, so a signal handler may store to it.
using StopFlag = std::atomic<int>;
static_assert(StopFlag::is_always_lock_free);

// Takes single frames; listens to its interface's background messages for its lifetime.
class FrameTaker {
public:
    explicit FrameTaker(InterfaceSession& session);
    ~FrameTaker();
    FrameTaker(const FrameTaker&) = delete;
    FrameTaker& operator=(const FrameTaker&) = delete;

    enum class Result { kTaken, kFailed, kStopped };
    // Exposes one frame for `exposure` seconds and adds its counts to `sum` (pixel index
    // order, the layout's pixels in use); `time` gets the exposure the interface reports.
    // kStopped when `stop` was set before the frame arrived (the exposure is aborted).
    Result Take(double exposure, std::span<int32_t> sum, double& time, std::string& error,
                const StopFlag& stop);

private:
    void OnBackground(const MpxCommandResponse& record);
    bool Start(double exposure);
    void Abort();

    InterfaceSession& session_;
    std::vector<uint16_t> frame_;  // copied out of the hook's record
    double frameTime_ = 0;
    bool arrived_ = false;
    BackgroundListener listener_;  // last: goes first, before what its callback fills
};

enum class RunEnd { kDone, kStopped, kAcquisitionFailed, kWriteFailed };

struct RunOutcome {
    RunEnd end = RunEnd::kDone;
    int frames = 0;        // frames written
    int64_t dropped = 0;   // frames taken but not written: the file could not keep up
    std::string error;
};

// Called after each frame written with the count written so far.
using ProgressFunction = std::function<void(int written)>;

struct AcquireRequest {
    // Frames taken and waiting to be written are held up to this many bytes (a few seconds
    // of four-chip frames at the link's rate); beyond it frames are dropped from the file,
    // never from the acquisition, and counted.
    static constexpr size_t kQueueBytes = size_t{256} << 20;

    int frames = 1;
    double exposure = 1.0;
    double period = 0;  // seconds from frame to frame; 0: back to back
    size_t queueBytes = kQueueBytes;
};
// Takes the frames as one continuous run and writes them on a thread of their own, in
// order, each with its number in the run; the writer is idle again when it returns.
RunOutcome RunAcquire(InterfaceSession& session, FrameWriter& writer, const AcquireRequest& request,
                      const ProgressFunction& progress, const StopFlag& stop);

struct ScanRequest {
    int dacIndex = 0;
    std::vector<int> values;  // in scanning order
    double exposure = 1.0;
    int framesPerStep = 1;  // summed into the step's frame
};
// Sets the DAC of every chip to each of the request's values in turn and writes one summed frame per value;
// the chips get their DAC values back at the end.
RunOutcome RunScan(InterfaceSession& session, FrameWriter& writer, const ScanRequest& request,
                   const ProgressFunction& progress, const StopFlag& stop);

struct EqualizeRun {
    EqualizeRequest request;
    double exposure = 1.0;
    int framesPerStep = 1;
};
struct EqualizeOutcome {
    RunOutcome run;  // frames: frames taken
    EqualizationResult result;  // when the run is done
    // Done, but not worth keeping (see EqualizationNotKept): why. The chips have their old
    // pixel configuration back; the results file still holds the run.
    std::string notKept;
};
// Equalises the thresholds of every chip, an EqualizationRun taken a frame at a time: the
// three scans, each written to `file` as it ends (with the maps when all is done). The scans
// count hits whatever mode Timepix pixels were in; the pixels keep their own mode in the
// result. Done and worth keeping, the chips keep the new pixel configuration; stopped,
// failed or not worth keeping, they get the old one back. The scanned DAC gets its value
// back either way.
EqualizeOutcome RunEqualize(InterfaceSession& session, EqualizationFile& file,
                            const EqualizeRun& request, const ProgressFunction& progress,
                            const StopFlag& stop);

}  // namespace ulvarin
