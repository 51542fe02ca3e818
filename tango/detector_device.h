// The Tango device class "UlvarinDetector": one interface, its settings as attributes, its
// runs as commands. The work is Detector's; this layer turns Tango requests into its calls
// and its refusals and failures into Tango exceptions, and pushes the latest frame to
// subscribers from a thread of its own, at most kEventsPerSecond times a second.
#pragma once

#include <tango.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tango/detector.h"

namespace ulvarin::tango_server {

class DetectorDevice : public TANGO_BASE_CLASS {
public:
    static constexpr int kEventsPerSecond = 5;

    DetectorDevice(Tango::DeviceClass* cls, const char* name);
    ~DetectorDevice() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    Detector& detector() { return *detector_; }
    // What the Interface property names ("" when unset: the first listed interface).
    const std::string& interfaceProperty() const { return interface_; }

    // Storage, by attribute name, that read values point into until Tango has sent them.
    std::map<std::string, Tango::DevDouble> doubles;
    std::map<std::string, Tango::DevLong> longs;
    std::map<std::string, Tango::DevBoolean> booleans;
    std::map<std::string, std::vector<std::string>> texts;
    std::map<std::string, std::vector<Tango::DevString>> textPointers;

private:
    void ReadProperties();
    void PushFrames();
    void StopPusher();

    std::unique_ptr<Detector> detector_;
    std::string interface_;
    std::thread pusher_;
    std::mutex pusherMutex_;
    std::condition_variable pusherWake_;
    bool pusherQuit_ = false;
};

class DetectorDeviceClass : public Tango::DeviceClass {
public:
    static DetectorDeviceClass* Init(const char* name);

protected:
    explicit DetectorDeviceClass(std::string& className);
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr*>& attributes) override;
    void device_factory(const Tango::DevVarStringArray* devices) override;

private:
    static DetectorDeviceClass* instance_;
};

// Throws the Tango exception of `reason` ("ULVARIN_Refused": nothing was sent;
// "ULVARIN_DeviceError": the interface or a file failed) with `text`.
[[noreturn]] void ThrowTango(const char* reason, const std::string& text, const char* origin);

// Calls `call`, turning the detector's refusals and failures into Tango exceptions.
template <typename Call>
auto Guarded(const char* origin, Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const Refused& e) {
        ThrowTango("ULVARIN_Refused", e.what(), origin);
    } catch (const DeviceFailed& e) {
        ThrowTango("ULVARIN_DeviceError", e.what(), origin);
    }
}

}  // namespace ulvarin::tango_server
