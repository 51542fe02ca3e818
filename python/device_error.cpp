#include "python/device_error.h"

#include <mutex>

#include "device/report.h"

namespace ulvarin::python {
namespace {

std::mutex gReportMutex;
std::string gReportText, gReportKind;

void KeepReport(MpxDevice& handle, void*) {
    if (handle.reportKind > kMessage) {
        std::lock_guard lock(gReportMutex);
        gReportText = handle.reportText;
        gReportKind = ErrorKindName(handle.reportKind);
    }
    handle.Clear();
}

}  // namespace

void InstallReportHook() {
    SetReportHook(KeepReport, nullptr);
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

}  // namespace ulvarin::python
