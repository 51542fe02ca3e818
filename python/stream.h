// A continuous acquisition handed to Python one frame at a time: the interface's own run
// takes the frames back to back on a thread of its own into a bounded queue, and each
// next() takes the oldest. A consumer slower than the interface loses frames from the
// queue's far end, counted in `dropped`, never slows the run.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/frame_runs.h"

namespace ulvarin::python {

namespace py = pybind11;

class Stream {
public:
    // Called once when the stream is closed (not when abandoned).
    using Ended = std::function<void(Stream*)>;
    // Starts `frames` frames of `exposure` seconds on `session`; `ended` hears when it is
    // closed.
    Stream(Ended ended, InterfaceSession& session, double exposure, int frames);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // The next frame ([height, width] uint32); StopIteration after the last, DeviceError
    // when the run failed or the device was closed under it.
    py::array_t<uint32_t> Next();
    // Ends the run (frames not yet taken are not); idempotent, and safe from several
    // threads at once.
    void Close();
    // Ends the run because the device goes away: a Next() waiting on another thread, and
    // every later one, raises DeviceError with `why`.
    void Abandon(const std::string& why);
    // Asks the run to end without waiting for it: Next() hands out what is queued, then
    // ends the iteration.
    void RequestStop();

    int64_t dropped() const;
    int taken() const { return taken_; }
    // The number in the run (1 for the first) of the frame Next() handed out last.
    int64_t lastNumber() const { return lastNumber_; }

private:
    struct Frame {
        std::vector<uint32_t> image;
        int64_t number = 0;
    };
    class QueueWriter;
    void Run(InterfaceSession& session, double exposure, int frames);
    void Join();

    Ended onEnded_;
    std::mutex joinMutex_;  // one thread joins the run's thread; the others wait for it
    ChipLayout layout_;
    StopFlag stop_{0};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Frame>> queue_;
    bool ended_ = false;
    std::string failure_;     // why the run ended badly, "" when it did not
    bool abandoned_ = false;  // the device went away: failure_ says why, nothing is handed out
    int64_t dropped_ = 0;
    int taken_ = 0;
    int64_t lastNumber_ = 0;
    std::thread thread_;
};

}  // namespace ulvarin::python
