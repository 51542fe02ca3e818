// The detector as Python sees it: an open interface with its chips, DACs by name, pixel
// configuration as a numpy array, and frames, streams, scans and equalisations as numpy
// arrays in the window's image layout. Arguments are checked before anything is sent, so a
// bad one changes nothing. Device failures raise DeviceError with the report's text.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/device_error.h"
#include "session/frame_runs.h"
#include "session/interface_session.h"

namespace ulvarin::python {

namespace py = pybind11;

class Stream;

// How a run written to files and/or a stream went.
struct RunReport {
    int frames = 0;                  // frames written
    int64_t dropped = 0;             // frames taken but missing from the file: it could not keep up
    bool stopped = false;            // ended early by stop()
    std::vector<std::string> files;  // the files written, in order
    std::string stream;              // the endpoint the frames went to ("" without a stream)
    int64_t streamed = 0;            // frames sent on the stream
    int64_t streamDropped = 0;       // frames a consumer of the stream did not take in time
};

// Where a run taken to disk goes, and what it may do to files that exist.
struct DiskRun {
    std::string path;  // "" with a stream only
    double exposure = 1;
    int frames = 1;
    double period = 0;
    bool append = false;
    bool overwrite = false;
    std::string stream;  // endpoint, "" for none
    double streamWait = 0;
};

class Device {
public:
    // Opens the interface `description` (as ListInterfaces names it).
    explicit Device(const std::string& description);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Ends a stream, and a run under way on another thread (which raises DeviceError), and
    // closes the interface; safe from any thread, and closing twice does nothing.
    void Close();
    // Ends the run under way on another thread after the frame in hand: that call returns
    // what it took (a stream hands out what it queued). Nothing under way: nothing to do.
    void Stop();
    // The interpreter is exiting: every open device is closed, runs on other (daemon)
    // threads stopped first, and no device opens or runs after it.
    static void CloseAllAtExit();
    // Devices open in this process.
    static int OpenCount();
    bool closed() const { return session_ == nullptr; }

    std::string description() const;
    std::string chipType() const;
    int chipCount() const;
    std::vector<std::string> chipIds();
    std::string firmware();
    // (height, width) of a frame.
    py::tuple frameShape() const;

    std::vector<std::string> dacNames() const;
    bool hasDac(const std::string& name) const;
    // One value per chip.
    std::vector<int> dac(const std::string& name) const;
    // One value for every chip, or one per chip.
    void setDac(const std::string& name, const std::vector<int>& values);
    double bias() const;
    void setBias(double volts);
    void setInterfaceDac(int channel, double volts);
    // One per chip: "counting", "tot", "1-hit", "toa" or "mixed".
    std::vector<std::string> countModes() const;
    void setCountMode(const std::string& mode);
    py::array_t<uint16_t> pixelConfig() const;
    void setPixelConfig(const py::array& words);
    void loadMask(const std::string& path);

    // [frames, height, width] uint32, and with `timestamps` also each frame's seconds from
    // the run's start; Ctrl-C raises Interrupted holding the frames so far. Refused when
    // the frames would not fit in the memory a run may keep.
    py::object acquire(double exposure, int frames, bool timestamps);
    // The frames written to a file (and/or sent on a stream) as they arrive, so that a run
    // of any length keeps little in memory.
    RunReport acquireTo(const DiskRun& run);
    std::unique_ptr<Stream> stream(double exposure, int frames);
    // (frames [values, height, width], values).
    py::tuple scan(const std::string& dac, const std::vector<int>& values, double exposure,
                   int frames);
    py::dict equalize(const std::string& dac, const std::vector<int>& values, double exposure,
                      int frames, bool maskUnequalizable, const std::string& out, bool overwrite);
    // Writes `frames` ([n, height, width] or [height, width], image layout) through the
    // writer the extension of `path` chooses; a file that exists is kept (ValueError)
    // unless `overwrite`. Timestamps (seconds from the run's start) and exposures are
    // those given, else those of the run that returned this very array, else unknown
    // (NaN timestamps; the exposure given, 0 when none).
    void save(const std::string& path, const py::array& frames, std::optional<double> exposure,
              const std::vector<int>& values, const std::string& dac, bool overwrite,
              const std::vector<double>& timestamps);

    // The stream running on the interface (nullptr when none); it calls StreamEnded.
    void StreamEnded(Stream* stream);

private:
    InterfaceSession& Session() const;
    // Throws DeviceError with `what` and this interface's latest error report.
    [[noreturn]] void Fail(const std::string& what) const;
    int DacIndex(const std::string& name) const;
    // Throws unless no stream or run holds the interface.
    void CheckIdle() const;
    // Holds the device for a call that works on it with the GIL released (a run, or a
    // setting being sent): other threads' runs and settings are refused until it ends, and
    // a close waits for it, setting `stop` (when given) to end it first.
    class Claim {
    public:
        Claim(Device& device, StopFlag* stop);
        ~Claim();
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

    private:
        Device& device_;
    };
    // Raises DeviceError when the device was closed while the caller's run went on.
    void CheckNotClosedUnder() const;
    // Closes: a run under way is stopped, and ends with `runWhy`; a stream with
    // `streamWhy`. Waits for the run to end up to `patience` seconds (below 0: as long as
    // it takes); false, with the interface left open, when it did not end in that time.
    bool Shut(const std::string& runWhy, const std::string& streamWhy, double patience);
    // Keeps what is known of the frames of `array` (each frame's time and exposure), for
    // save() to write with them.
    void Remember(const py::object& array, std::vector<double> times,
                  std::vector<double> exposures);

    std::unique_ptr<InterfaceSession> session_;
    Stream* stream_ = nullptr;
    // Guards the run's state below, which a close on another thread reads and changes.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false;
    StopFlag* runStop_ = nullptr;
    enum class Closing { kOpen, kClosing, kClosed } closing_ = Closing::kOpen;
    std::string closedWhy_;
    // The array a run returned last (weakly held), with its frames' times and exposures.
    py::object lastFrames_;
    std::vector<double> lastTimes_, lastExposures_;
};

}  // namespace ulvarin::python
