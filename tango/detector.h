// One interface as the device server drives it: opened by name, its settings checked before
// anything is sent, and its runs (acquisitions and scans) taken on a worker thread of their
// own, so that no client call waits for a run and no run waits for a client. The Tango
// device class (detector_device.h) is a thin face over this class.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "session/frame_runs.h"
#include "session/interface_session.h"

namespace ulvarin::tango_server {

// A request or value refused before anything was sent to the interface.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// The interface (or a file) failed; the text carries the device's report.
struct DeviceFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class DetectorState { kOff, kOn, kRunning, kFault };

// What the next run is taken with.
struct RunSettings {
    double exposure = 1.0;
    int frames = 1;
    double period = 0;  // seconds from frame to frame; 0: back to back
    std::string outputFile;
    std::string streamEndpoint;
    double streamWait = 0;  // seconds to wait for a stream consumer before the run
    bool overwrite = false;  // replace an output file that exists
};

// The latest frame in the image layout (row-major, top row first).
struct FrameImage {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    int64_t number = 0;  // frames taken in the run when it arrived; 0: none yet
};

class Detector {
public:
    Detector();
    // Stops a run (its file is closed with the frames taken) and closes the interface.
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Opens the interface `wanted` names (see ChooseInterface: empty for the first listed,
    // a number, a description or a unique part of one), closing the one open before, and
    // makes its pixels count hits. Refused during a run, and for a name that matches no
    // interface (the open one stays open). Re-opening the same interface sends the DACs it
    // had again; the status says what was reset.
    void Open(const std::string& wanted);
    // Ends a run, then closes the interface.
    void Close();

    DetectorState state() const;
    std::string status() const;

    // The open interface (Refused when none is open).
    std::string description() const;
    std::string chipType() const;
    int chipCount() const;
    std::vector<std::string> chipIds();
    std::vector<std::string> dacNames() const;
    std::vector<std::string> countModes() const;
    double bias() const;

    // One value per chip of the DAC called `name` (case ignored).
    std::vector<int> GetDac(const std::string& name) const;
    // Sets the DAC on every chip (one value) or per chip (one value each).
    void SetDac(const std::string& name, const std::vector<int>& values);
    // The family's threshold DAC: "Thl" on Medipix2, "Thl Fine" on MXR and Timepix.
    std::string thresholdDac() const;
    void SetBias(double volts);
    // Timepix only: counting, tot, 1-hit or toa.
    void SetCountMode(const std::string& mode);
    void LoadMask(const std::string& path);

    RunSettings settings() const;
    void SetExposure(double seconds);
    void SetFrames(int64_t frames);
    void SetPeriod(double seconds);
    void SetOutputFile(const std::string& path);
    void SetStreamEndpoint(const std::string& endpoint);
    void SetStreamWait(double seconds);
    void SetOverwrite(bool overwrite);

    // Starts a run of the settings' frames to the output file and/or the stream.
    void Start();
    // Starts a scan of `dac` from `from` to `to` in steps of `step`, one frame per value.
    void Scan(const std::string& dac, int from, int to, int step);
    // Starts an equalisation of the thresholds over a scan of `dac` (three scans, one frame
    // of the exposure per value), its results to output_file when that is set (an .h5
    // file). Done, the chips keep the new pixel configuration; stopped or failed, the old.
    void Equalize(const std::string& dac, int from, int to, int step, bool maskUnequalizable);
    // Asks the run to end after the frame under way; returns at once.
    void Stop();

    int64_t framesAcquired() const;
    int64_t framesDropped() const;
    FrameImage LastFrame() const;
    // Waits until a frame after number `seen` has arrived (true), `deadline` passed or
    // Wake was called (false).
    // `seen` counts every frame taken since the detector was made; it is updated.
    bool WaitForFrame(int64_t& seen, std::chrono::steady_clock::time_point deadline);
    void Wake();

private:
    class Watcher;
    struct Run;

    // Throws Refused with `refusal` unless it is empty.
    static void Check(const std::string& refusal);
    InterfaceSession& Session() const;  // the open one, or Refused
    void CheckIdle() const;             // open and not running, or Refused
    int DacIndex(const std::string& name) const;
    void StartRun(std::unique_ptr<Run> run);
    void Work(Run& run);
    // An equalisation's part of Work: the outcome's status text and state.
    std::pair<DetectorState, std::string> Equalizing(Run& run);
    // A scan's DAC index and values, checked.
    std::pair<int, std::vector<int>> ScanRange(const std::string& dac, int from, int to,
                                               int step) const;
    void JoinWorker();
    void FrameTaken(std::span<const int32_t> counts);
    void SetStatus(DetectorState state, const std::string& text);
    void CheckOutputs(const RunSettings& s, int frames) const;
    ProgressFunction StepStatus(const std::string& what, int steps);
    template <typename T>
    void Change(T RunSettings::*member, T value);

    std::unique_ptr<InterfaceSession> session_;
    std::thread worker_;
    StopFlag stop_{0};

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable frameArrived_;
    DetectorState state_ = DetectorState::kOff;
    std::string status_ = "No interface is open.";
    bool running_ = false;
    bool woken_ = false;
    RunSettings settings_;
    int64_t acquired_ = 0, dropped_ = 0;
    int64_t serial_ = 0;  // frames taken since construction: never goes back
    std::vector<int32_t> lastCounts_;
    ChipLayout layout_;  // of the open interface
    // Copies taken while idle, so that reads during a run never touch the session.
    std::vector<ChipDacRecord> records_;
    std::vector<std::string> countModes_, chipIds_;
};

}  // namespace ulvarin::tango_server
