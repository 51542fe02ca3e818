#include "python/device_error.h"

#include <mutex>

#include "device/report.h"
#include "session/device_events.h"

namespace ulvarin::python {
namespace {

std::mutex gReportMutex;
std::string gReportText, gReportKind;

void KeepReport(MpxDevice& handle) {
    if (handle.reportKind > kMessage) {
        std::lock_guard lock(gReportMutex);
        gReportText = handle.reportText;
        gReportKind = ErrorKindName(handle.reportKind);
    }
    handle.Clear();
}

}  // namespace

void InstallReportHook() {
    SetUnclaimedReportCallback(KeepReport);
}

void ThrowDeviceError(const std::string& what) {
    std::string text = what, kind = "error";
    {
        std::lock_guard lock(gReportMutex);
        if (!gReportText.empty()) {
            text += " (" + gReportText + ")";
            kind = gReportKind;
        }
        gReportText.clear();
        gReportKind.clear();
    }
    throw DeviceError(text, kind);
}

void ThrowDeviceError(const std::string& what, const InterfaceSession::Report& report) {
    if (report.text.empty()) ThrowDeviceError(what);
    throw DeviceError(what + " (" + report.text + ")", report.kind);
}

}  // namespace ulvarin::python
