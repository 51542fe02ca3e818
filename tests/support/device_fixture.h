// Test fixture: installs a scripted peer as the driver, records boxes and reports, and
// closes whatever a test left open.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device.h"
#include "device/report.h"
#include "tests/support/scripted_peer.h"

namespace ulvarin::test {

struct RecordedReport {
    int kind;
    std::string text;
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a device to the peer and opens it softly into `handle`.
    void OpenSoft(const std::string& description = "Medipix2 ver 3.0 : Test unit",
                  uint8_t chips = 1, bool mxr = false);
    // Installs a report hook that records every report and clears the handle, as a
    // message list that shows everything would.
    void RecordReports();
    bool HasReport(int kind, const std::string& text) const;

    std::shared_ptr<ScriptedPeer> peer = std::make_shared<ScriptedPeer>();
    MpxDevice handle;
    std::vector<BoxRequest> boxes;
    std::vector<RecordedReport> reports;
};

}  // namespace ulvarin::test
