// Device failures as Python sees them: DeviceError, with the text of the device's latest
// error report.
#pragma once

#include <stdexcept>
#include <string>

#include "session/interface_session.h"

namespace ulvarin::python {

// A device failure: the text says what failed and, where the device reported it, why.
class DeviceError : public std::runtime_error {
public:
    DeviceError(const std::string& text, std::string kind)
        : std::runtime_error(text), kind_(std::move(kind)) {}
    const std::string& kind() const { return kind_; }

private:
    std::string kind_;
};

// Keeps the latest error report made outside any open device (a lookup) for the exceptions;
// installed once by the module. An open device keeps its own (InterfaceSession).
void InstallReportHook();
// Throws DeviceError with `what` and the latest report outside any device, which it clears.
[[noreturn]] void ThrowDeviceError(const std::string& what);
// Throws DeviceError with `what` and `report` (the device's own), or without one the latest
// report outside any device.
[[noreturn]] void ThrowDeviceError(const std::string& what, const InterfaceSession::Report& report);

}  // namespace ulvarin::python
