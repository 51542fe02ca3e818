#include "tests/support/device_fixture.h"

#include "device/drivers/driver_registry.h"
#include "device/identify.h"
#include "device/link.h"

namespace ulvarin::test {

namespace {
void RecordingHook(MpxDevice& handle, void* user) {
    auto* self = static_cast<std::vector<RecordedReport>*>(user);
    self->push_back({handle.reportKind, handle.reportText});
    handle.Clear();
}
}  // namespace

void DeviceTest::SetUp() {
    InstallDriver(peer);
    SetReportHook(nullptr, nullptr);
    SetBoxFunction([this](const BoxRequest& r) { boxes.push_back(r); });
}

void DeviceTest::TearDown() {
    SetReportHook(nullptr, nullptr);
    while (registry::Count() > 0) {
        MpxDevice h(registry::At(0));
        CloseDevice(h, true);
    }
    SetBoxFunction(nullptr);
    InstallDriver(nullptr);
}

void DeviceTest::OpenSoft(const std::string& description, uint8_t chips, bool mxr) {
    peer->AddDevice(description, "SER42");
    handle.device = OpenDevice(description.c_str(), false, mxr, chips);
    ASSERT_NE(handle.device, nullptr);
    handle.Clear();
}

void DeviceTest::RecordReports() { SetReportHook(RecordingHook, &reports); }

bool DeviceTest::HasReport(int kind, const std::string& text) const {
    for (auto& r : reports)
        if (r.kind == kind && r.text == text) return true;
    return false;
}

}  // namespace ulvarin::test
