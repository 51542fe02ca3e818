// The detector as Python sees it: an open interface with its chips, DACs by name, pixel
// configuration as a numpy array, and frames, streams, scans and equalisations as numpy
// arrays in the window's image layout. Arguments are checked before anything is sent, so a
// bad one changes nothing. Device failures raise DeviceError with the report's text.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/device_error.h"
#include "session/interface_session.h"

namespace ulvarin::python {

namespace py = pybind11;

class Stream;

class Device {
public:
    // Opens the interface `description` (as ListInterfaces names it).
    explicit Device(const std::string& description);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Ends a running stream and closes the interface; closing twice does nothing.
    void Close();
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

    // [frames, height, width] uint32; Ctrl-C raises Interrupted holding the frames so far.
    py::array_t<uint32_t> acquire(double exposure, int frames);
    std::unique_ptr<Stream> stream(double exposure, int frames);
    // (frames [values, height, width], values).
    py::tuple scan(const std::string& dac, const std::vector<int>& values, double exposure,
                   int frames);
    py::dict equalize(const std::string& dac, const std::vector<int>& values, double exposure,
                      int frames, bool maskUnequalizable, const std::string& out, bool overwrite);
    // Writes `frames` ([n, height, width] or [height, width], image layout) through the
    // writer the extension of `path` chooses; a file that exists is kept (ValueError)
    // unless `overwrite`.
    void save(const std::string& path, const py::array& frames, double exposure,
              const std::vector<int>& values, const std::string& dac, bool overwrite);

    // The stream running on the interface (nullptr when none); it calls StreamEnded.
    void StreamEnded(Stream* stream);

private:
    InterfaceSession& Session() const;
    int DacIndex(const std::string& name) const;
    // Throws unless no stream or run holds the interface.
    void CheckIdle() const;
    // Marks the device busy for a run taken on the caller's thread (with the GIL released,
    // so other threads may call meanwhile): their runs and settings are refused until it
    // ends. Throws as CheckIdle.
    struct RunClaim {
        std::atomic<bool>* busy;
        ~RunClaim() { busy->store(false); }
    };
    RunClaim ClaimRun();

    std::unique_ptr<InterfaceSession> session_;
    Stream* stream_ = nullptr;
    std::atomic<bool> busy_{false};
};

}  // namespace ulvarin::python
