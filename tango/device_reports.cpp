#include "tango/device_reports.h"

#include <mutex>
#include <utility>

#include "device/report.h"
#include "session/device_events.h"

namespace ulvarin::tango_server {
namespace {

std::mutex gReportMutex;
std::string gReport;

void KeepReport(MpxDevice& handle) {
    if (handle.reportKind > kMessage) {
        std::lock_guard lock(gReportMutex);
        gReport = std::string(ErrorKindName(handle.reportKind)) + ": " + handle.reportText;
    }
    handle.Clear();
}

}  // namespace

std::string TakeDeviceReport() {
    std::lock_guard lock(gReportMutex);
    return std::exchange(gReport, {});
}

void InstallReportHook() {
    SetUnclaimedReportCallback(KeepReport);
}

// `what`, with the device's own report in parentheses when it gave one.
std::string WithReport(const std::string& what, InterfaceSession* session) {
    std::string report;
    if (session != nullptr) {
        const InterfaceSession::Report kept = session->TakeLastError();
        if (!kept.text.empty()) report = kept.kind + ": " + kept.text;
    }
    if (report.empty()) report = TakeDeviceReport();
    return report.empty() ? what : what + " (" + report + ")";
}

}  // namespace ulvarin::tango_server
