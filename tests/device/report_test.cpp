#include "device/report.h"

#include <gtest/gtest.h>

#include <string>

#include "device/link.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

using ReportTest = DeviceTest;

// A hook that shows nothing, so every report stays pending in its handle.
void KeepPending(MpxDevice&, void*) {}

TEST_F(ReportTest, UnshownReportIsCarriedByTheNextOne) {
    SetReportHook(KeepPending, nullptr);
    EXPECT_FALSE(ReportError(handle, 1, "first"));
    EXPECT_TRUE(ReportError(handle, 5, "second %d", 2));
    EXPECT_STREQ(handle.reportText, "second 2 (first)");
    EXPECT_EQ(handle.reportKind, 5);
    handle.Clear();
    ReportError(handle, 2, nullptr);
    EXPECT_STREQ(handle.reportText, "No error description given");
}

TEST_F(ReportTest, LongTextsAreCutTo255Characters) {
    SetReportHook(KeepPending, nullptr);
    std::string longText(300, 'a');
    ReportError(handle, 2, "%s", longText.c_str());
    EXPECT_EQ(std::string(handle.reportText), std::string(253, 'a') + "..");

    handle.Clear();
    ReportError(handle, 1, "%s", std::string(200, 'b').c_str());
    ReportError(handle, 1, "%s", std::string(100, 'c').c_str());
    std::string combined = handle.reportText;
    EXPECT_EQ(combined.size(), 255u);
    EXPECT_EQ(combined.substr(0, 102), std::string(100, 'c') + " (");
    EXPECT_EQ(combined.substr(253), "..");
}

TEST_F(ReportTest, NulLetterEndsTheFormattedText) {
    SetReportHook(KeepPending, nullptr);
    ReportError(handle, 2, "Unhandled background message: [%c = 0x%02x]", 0, 0);
    EXPECT_STREQ(handle.reportText, "Unhandled background message: [");
}

TEST_F(ReportTest, WithoutHookOnlyErrorsShowABoxWithKindDeviceAndLevel) {
    EXPECT_FALSE(ReportError(handle, 1, "just a message"));
    EXPECT_TRUE(boxes.empty());
    EXPECT_STREQ(handle.reportText, "just a message");  // recorded, still pending

    handle.Clear();
    {
        MpxStatLeveler level(handle);
        EXPECT_TRUE(ReportError(handle, 4, "cable"));
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Transmission failed - No device (1)");
    EXPECT_EQ(boxes[0].text, "cable");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);

    OpenSoft("Medipix2 ver 3.0 : Box unit");
    boxes.clear();
    ReportError(handle, 9, "bad");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Fatal error - Medipix2 ver 3.0 : Box unit (0)");

    MpxDevice stale = handle;
    CloseDevice(handle, true);
    boxes.clear();
    stale.Clear();
    ReportError(stale, 12, "gone");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Unknown error type - Unknown device (0)");
}

TEST_F(ReportTest, ReportOnAnOpenDeviceIsCopiedIntoItsLastReport) {
    OpenSoft();
    SetReportHook(KeepPending, nullptr);
    handle.packets = 7;
    ReportError(handle, 7, "device says no");
    const MpxDevice& last = handle.device->lastReport;
    EXPECT_STREQ(last.reportText, "device says no");
    EXPECT_EQ(last.reportKind, 7);
    EXPECT_EQ(last.packets, 7);
    EXPECT_EQ(last.device, handle.device);
}

TEST(ErrorKindName, NamesEveryKindAndUnknownOnes) {
    EXPECT_STREQ(ErrorKindName(0), "No error");
    EXPECT_STREQ(ErrorKindName(5), "Device is not responding");
    EXPECT_STREQ(ErrorKindName(11), "Unsupported operation");
    EXPECT_STREQ(ErrorKindName(-1), "Unknown error type");
    EXPECT_STREQ(ErrorKindName(12), "Unknown error type");
}

}  // namespace
}  // namespace ulvarin::test
