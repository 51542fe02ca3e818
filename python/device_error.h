// Device failures as Python sees them: DeviceError, with the text of the device's latest
// error report kept by the report hook.
#pragma once

#include <stdexcept>
#include <string>

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

// Keeps the device's latest error report for the exceptions; installed once by the module.
void InstallReportHook();
// Throws DeviceError with `what` and the latest report, which it clears.
[[noreturn]] void ThrowDeviceError(const std::string& what);

}  // namespace ulvarin::python
