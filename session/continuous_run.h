// Continuous acquisition: frames exposed back to back (or one per period) by the interface's
// own expositions, sent by it in the background as each is read out, and taken in here in
// order without a round trip per frame. For programs without the window; the run listens to
// its own interface's background messages while it lives.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "device/device.h"
#include "session/device_events.h"

namespace ulvarin::process {

struct ContinuousRequest {
    int64_t frames = 1;     // 1 to 2^32; 0 runs until stopped
    double exposure = 0.1;  // seconds the shutter is open per frame
    double period = 0;      // seconds from one frame's start to the next; 0: back to back
};

// The longest run the interface's frame counter can count.
constexpr int64_t kMaxContinuousFrames = int64_t{1} << 32;

// One frame as it arrived.
struct ArrivedFrame {
    std::span<const uint16_t> counts;  // pixel index order, the interface's chips
    int64_t number = 0;                // 1 for the run's first frame
    double exposure = 0;               // seconds the interface measured the shutter open
    double arrival = 0;                // seconds from the run's start
};

class ContinuousRun {
public:
    // `pixels`: the values of one frame (chips x 65,536).
    ContinuousRun(MpxDevice& handle, uint32_t pixels);
    // Aborts a run still going and stops listening.
    ~ContinuousRun();
    ContinuousRun(const ContinuousRun&) = delete;
    ContinuousRun& operator=(const ContinuousRun&) = delete;

    // Sets up the frame counter, interval and period timers and starts the exposition.
    // False with `error` set when the request is out of range or the interface refused.
    bool Start(const ContinuousRequest& request, std::string& error);

    enum class Next { kFrame, kDone, kStopped, kFailed };
    // Sleeps until the next frame arrives and hands it to `take` (kFrame), or tells why
    // there is none: the run has all its frames (kDone), `stop` said so (kStopped; the
    // exposition is aborted), or the interface stopped answering, sent nothing for longer
    // than a frame can take, or ended the run with frames missing (kFailed, `error` says
    // which; frames lost are counted, never skipped silently). `stop` is asked at least
    // every 50 ms; frames that came in before the exposition stopped are still handed out.
    Next Wait(const std::function<void(const ArrivedFrame&)>& take,
              const std::function<bool()>& stop, std::string& error);

    int64_t framesTaken() const { return taken_; }

private:
    void OnBackground(const MpxCommandResponse& record);
    double FrameAllowance() const;
    bool EndedWithFramesMissing(double now, double silence);
    void Abort();

    struct Pending {
        std::vector<uint16_t> counts;
        double exposure = 0;
        double arrival = 0;
    };

    MpxDevice& handle_;
    uint32_t pixels_;
    ContinuousRequest request_;
    std::deque<Pending> pending_;     // frames the listener copied out, oldest first
    std::vector<uint16_t> spare_;     // a frame buffer to reuse
    double start_ = 0;                // when the run started (device clock)
    double lastArrival_ = 0;        // when the last frame came (or the run started)
    double nextEndCheck_ = 0;       // the interface is asked again from then
    int64_t taken_ = 0;
    bool running_ = false;  // the interface's exposition runs
    bool stopped_ = false;  // a stop ended it
    BackgroundListener listener_;  // last: goes first, before what its callback fills
};

}  // namespace ulvarin::process
