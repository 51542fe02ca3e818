// Command-line stand-in for the window: lists the interfaces found, opens the first with a
// reset, and prints what it learned of its chips.
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/identify.h"
#include "device/link.h"
#include "device/report.h"

namespace {

void PrintReport(ulvarin::MpxDevice& handle, void*) {
    std::printf("%s: %s\n", ulvarin::ErrorKindName(handle.reportKind), handle.reportText);
    handle.Clear();
}

}  // namespace

int main() {
    using namespace ulvarin;
    std::puts("Ulvarin interface tester");
    SetReportHook(PrintReport, nullptr);
    std::vector<char> names(64 * 64);
    int count = EnumerateDevices(3, names.data(), static_cast<int>(names.size()));
    if (count <= 0) {
        SetReportHook(nullptr, nullptr);
        return 1;
    }
    MpxDevice handle(OpenDevice(names.data(), true, false, 0));
    if (handle.device == nullptr) {
        SetReportHook(nullptr, nullptr);
        return 1;
    }
    const char* family = IsTimepix(handle) ? "Timepix" : IsMxr(handle) ? "MXR" : "Medipix2";
    std::printf("Opened \"%s\": %d %s chip(s), IDs \"%s\"\n", DeviceName(handle),
                ChipCount(handle), family, ChipIdText(handle));
    char version[256];
    if (ReadVersionInfo(handle, version, sizeof version)) std::printf("Firmware: %s\n", version);
    CloseDevice(handle);
    SetReportHook(nullptr, nullptr);
    return 0;
}
