#include "device/identify.h"
#include "device/link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/clock.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

using EnumerateTest = DeviceTest;

TEST_F(EnumerateTest, NoDeviceReportsAndNeverAsksForDetails) {
    RecordReports();
    char names[64];
    EXPECT_EQ(EnumerateDevices(3, names, sizeof names), 0);
    EXPECT_TRUE(HasReport(1, "No compatible device connected."));
    EXPECT_EQ(peer->DetailCalls(), 0);
}

TEST_F(EnumerateTest, FailingDeviceListCountsAsNone) {
    RecordReports();
    peer->AddDevice("Medipix2 ver 1");
    peer->FailNext("CreateDeviceInfoList", FT_IO_ERROR);
    EXPECT_EQ(EnumerateDevices(3, nullptr, 0), 0);
    EXPECT_TRUE(HasReport(5, "Can't create device info list: IO error"));
    EXPECT_TRUE(HasReport(1, "No compatible device connected."));
}

TEST_F(EnumerateTest, FiltersByPrefixOfMode) {
    RecordReports();
    peer->AddDevice("Medipix2");  // the word alone lacks the trailing blank
    peer->AddDevice("Medipix2 ver 3.0 : Lab A");
    peer->AddDevice("USB Serial Converter");
    peer->AddDevice("Medipix2 3V ver 1.2");
    char names[256];
    EXPECT_EQ(EnumerateDevices(3, names, sizeof names), 2);
    EXPECT_STREQ(names, "Medipix2 ver 3.0 : Lab A");
    EXPECT_STREQ(names + std::strlen(names) + 1, "Medipix2 3V ver 1.2");
    EXPECT_TRUE(HasReport(1, "Connected devices (Number of all FTDI devices = 4):"));
    EXPECT_TRUE(HasReport(1, "??: Medipix2 - Not Medipix"));
    EXPECT_TRUE(HasReport(1, "01: Medipix2 ver 3.0 : Lab A"));
    EXPECT_TRUE(HasReport(1, "02: Medipix2 3V ver 1.2"));

    EXPECT_EQ(EnumerateDevices(1, nullptr, 0), 1);  // only "Medipix2 ver "
    EXPECT_EQ(EnumerateDevices(2, nullptr, 0), 1);  // only "Medipix2 3V ver "
    EXPECT_EQ(EnumerateDevices(0, nullptr, 0), 4);  // everything
}

TEST_F(EnumerateTest, FullNamesBufferKeepsCountingWithoutPartialNames) {
    peer->AddDevice("Medipix2 ver 1");   // 14 characters + NUL = 15
    peer->AddDevice("Medipix2 ver 22");  // 16 with its NUL: does not fit in the rest
    peer->AddDevice("Medipix2 ver 3");   // would fit, but writing has stopped
    char names[24];
    std::memset(names, '#', sizeof names);
    EXPECT_EQ(EnumerateDevices(3, names, 20), 3);
    EXPECT_STREQ(names, "Medipix2 ver 1");
    for (int i = 15; i < 24; ++i) EXPECT_EQ(names[i], '#') << "byte " << i;
}

TEST_F(EnumerateTest, ExactFitIsWrittenAndDetailFailureSkipsOnlyThatDevice) {
    RecordReports();
    peer->AddDevice("Medipix2 ver 1");
    peer->AddDevice("Medipix2 ver 2");
    peer->FailNext("GetDeviceInfoDetail", FT_DEVICE_NOT_FOUND);
    char names[15];
    EXPECT_EQ(EnumerateDevices(3, names, sizeof names), 1);
    EXPECT_STREQ(names, "Medipix2 ver 2");
    EXPECT_TRUE(HasReport(5, "No device information details for 0-th device: Device not found"));
}

using OpenTest = DeviceTest;

TEST_F(OpenTest, SoftOpenTakesCallerValuesAndSendsNothing) {
    RecordReports();
    OpenSoft("Medipix2 ver 3.0 : Lab unit 7", 2, true);
    DeviceDescr* d = handle.device;
    EXPECT_EQ(d->chipCount, 2);
    EXPECT_TRUE(d->isMxr);
    EXPECT_FALSE(d->isTimepix);
    EXPECT_STREQ(d->chipIdText, "");
    EXPECT_STREQ(d->displayName, "Lab unit 7");
    EXPECT_EQ(peer->Written(), "");
    EXPECT_EQ(peer->ReadTimeoutMs(), 1000u);
    EXPECT_TRUE(HasReport(1, "Device was opened succesfully"));
    EXPECT_TRUE(HasReport(1, "Device information acquired succesfully"));
    EXPECT_STREQ(DeviceName(handle), "Medipix2 ver 3.0 : Lab unit 7");
    EXPECT_EQ(FrameStreamLength(handle), 2 * 114721u);
    EXPECT_EQ(DefaultTimeout(handle), 0.5);
    EXPECT_EQ(DefaultAttempts(handle), 1);
}

TEST_F(OpenTest, SoftOpenOfATimepixInterfaceKeepsItsFamily) {
    peer->AddDevice("Medipix2 ver 3.0 : Quad");
    MpxDevice h(OpenDevice("Medipix2 ver 3.0 : Quad", false, false, 4, true));
    ASSERT_NE(h.device, nullptr);
    EXPECT_TRUE(h.device->isTimepix);
    EXPECT_TRUE(h.device->isMxr);
    EXPECT_EQ(peer->Written(), "");
}

TEST_F(OpenTest, DisplayNameFallsBackToSerialAndStaysInsideTheText) {
    OpenSoft("Medipix2 ver 3.0", 1);
    EXPECT_STREQ(handle.device->displayName, "SER42");
    MpxDevice second;
    peer->AddDevice("Medipix2 ver 3.0 :");
    second.device = OpenDevice("Medipix2 ver 3.0 :", false, false, 1);
    ASSERT_NE(second.device, nullptr);
    EXPECT_STREQ(second.device->displayName, "");
}

TEST_F(OpenTest, FailuresAreReportedWithStatusTexts) {
    RecordReports();
    EXPECT_EQ(OpenDevice("Medipix2 ver 9 : absent", true, false, 0), nullptr);
    EXPECT_TRUE(HasReport(5, "Device not found"));

    std::string tooLong = "Medipix2 ver 3.0 : " + std::string(60, 'x');
    EXPECT_EQ(OpenDevice(tooLong.c_str(), false, false, 1), nullptr);
    EXPECT_EQ(reports.back().kind, 6);
    EXPECT_EQ(peer->OpenCalls(), 1);  // the long name never reached the driver

    peer->AddDevice("Medipix2 ver 1");
    peer->FailNext("Purge", FT_IO_ERROR);
    peer->FailNext("GetDeviceInfo", FT_OTHER_ERROR);
    MpxDevice h(OpenDevice("Medipix2 ver 1", false, false, 1));
    ASSERT_NE(h.device, nullptr);  // the link still opens
    EXPECT_TRUE(HasReport(5, "IO error"));
    EXPECT_TRUE(HasReport(5, "Other Error"));
    EXPECT_FALSE(HasReport(1, "Device information acquired succesfully"));
}

TEST_F(OpenTest, CloseTwiceReportsInvalidHandleUnlessQuiet) {
    RecordReports();
    OpenSoft();
    EXPECT_TRUE(CloseDevice(handle));
    EXPECT_TRUE(HasReport(1, "Device closed succesfully"));
    EXPECT_EQ(handle.device, nullptr);
    EXPECT_FALSE(CloseDevice(handle));
    EXPECT_EQ(reports.back().kind, 3);
    EXPECT_EQ(reports.back().text, "Invalid device handle");
    size_t before = reports.size();
    EXPECT_FALSE(CloseDevice(handle, true));
    EXPECT_EQ(reports.size(), before);
}

TEST_F(OpenTest, AttributesOfAClosedHandleReportAndReturnDefaults) {
    RecordReports();
    EXPECT_FALSE(IsMxr(handle));
    EXPECT_EQ(ChipCount(handle), 0);
    EXPECT_STREQ(ChipIdText(handle), "");
    EXPECT_EQ(FrameStreamLength(handle), 0u);
    EXPECT_EQ(DefaultTimeout(handle), -1.0);
    EXPECT_EQ(DefaultAttempts(handle), -1);
    EXPECT_STREQ(DeviceName(handle), "- None -");
    EXPECT_FALSE(IsAlive(handle));
    EXPECT_EQ(reports.back().text, "Invalid device handle.");
    EXPECT_EQ(reports.back().kind, 3);
}

// Looking the device up is itself a device operation, so its box counts one more level
// than the operation that asked.
TEST_F(OpenTest, InvalidHandleBoxCountsTheLookUpAsALevel) {
    OpenSoft();
    MpxDevice stale = handle;
    CloseDevice(handle, true);
    boxes.clear();
    IsMxr(stale);
    QueueDepth(stale);
    DeviceName(stale);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Bad device handle - Unknown device (1)");
    EXPECT_EQ(boxes[1].caption, "Bad device handle - Unknown device (2)");
    EXPECT_EQ(boxes[2].caption, "Bad device handle - Unknown device (2)");
    EXPECT_EQ(stale.level, 0);
}

TEST_F(OpenTest, FullRegistryRefusesTheNextOpen) {
    RecordReports();
    peer->AddDevice("Medipix2 ver 1");
    for (int i = 0; i < kRegistrySlots; ++i)
        ASSERT_NE(OpenDevice("Medipix2 ver 1", false, false, 1), nullptr) << i;
    EXPECT_EQ(OpenDevice("Medipix2 ver 1", false, false, 1), nullptr);
    EXPECT_EQ(reports.back().kind, 2);
    EXPECT_EQ(registry::Count(), kRegistrySlots);
}

TEST(FrameStreamLength, MatchesChipBlocksAndOffsetBytes) {
    EXPECT_EQ(FrameStreamBytes(1, false), 114689u);
    EXPECT_EQ(FrameStreamBytes(2, false), 229379u);
    EXPECT_EQ(FrameStreamBytes(3, false), 344068u);
    EXPECT_EQ(FrameStreamBytes(4, false), 458757u);
    EXPECT_EQ(FrameStreamBytes(4, true), 458884u);
    EXPECT_LE(FrameStreamBytes(4, true) + 6, kReceiveBufferSize);
}

using RawIoTest = DeviceTest;

TEST_F(RawIoTest, ReceiveHonoursWantedAndCapacity) {
    OpenSoft();
    char buffer[8];
    EXPECT_EQ(Receive(handle, buffer, 0, sizeof buffer), 0u);
    EXPECT_EQ(peer->ReadCalls(), 0);

    peer->Play("abcdefghij");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Receive(handle, buffer, 10, 4), 4u);  // capacity wins over wanted
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(buffer[4], '#');

    EXPECT_EQ(Receive(handle, buffer, 0, sizeof buffer), 6u);  // all that waits
    EXPECT_EQ(std::string(buffer, 7), std::string("efghij\0", 7));
}

// A large answer taken a byte at a time: each byte costs the same however much is left, so
// long fault and soak tests stay fast (2 MB would take minutes if each read moved the rest).
TEST_F(RawIoTest, AnAnswerReadByteByByteCostsLinearTime) {
    OpenSoft();
    std::string answer(2 << 20, 'a');
    answer.back() = 'z';
    peer->Play(answer);
    char byte = 0;
    for (size_t i = 0; i < answer.size(); ++i) ASSERT_EQ(Receive(handle, &byte, 1, 1), 1u);
    EXPECT_EQ(byte, 'z');
    EXPECT_EQ(peer->Pending(), 0u);
}

TEST_F(RawIoTest, ReadAndWriteFailuresAreReported) {
    RecordReports();
    OpenSoft();
    peer->Play("x");
    peer->FailNext("Read", FT_IO_ERROR);
    char c;
    EXPECT_EQ(Receive(handle, &c, 1, 1), 0u);
    EXPECT_TRUE(HasReport(5, "Can't receive - IO error"));

    peer->FailNext("Write", FT_FAILED_TO_WRITE_DEVICE);
    EXPECT_EQ(Transmit(handle, "m", 0), 0u);
    EXPECT_TRUE(HasReport(4, "Can't transmit - Failed to write device"));

    peer->FailNext("GetStatus", FT_IO_ERROR);
    EXPECT_EQ(QueueDepth(handle), 0u);
    EXPECT_TRUE(HasReport(5, "Can't determine queue depth - IO error"));
}

TEST_F(RawIoTest, TransmitUpToTheNulAndTrafficHookSeesBothDirections) {
    OpenSoft();
    static std::string seen;
    seen.clear();
    SetTrafficHook(
        [](MpxDevice&, const uint8_t* bytes, uint32_t n, int dir, void*) {
            seen += (dir == 1 ? ">" : "<") + std::string(reinterpret_cast<const char*>(bytes), n);
        },
        nullptr);
    EXPECT_EQ(Transmit(handle, "ab\0cd", 0), 2u);
    peer->Play("xy");
    char buffer[4];
    EXPECT_EQ(Receive(handle, buffer, 2, sizeof buffer), 2u);
    SetTrafficHook(nullptr, nullptr);
    EXPECT_EQ(peer->Written(), "ab");
    EXPECT_EQ(seen, ">ab<xy");
}

using WaitingTest = DeviceTest;

TEST_F(WaitingTest, WaitForByteCountsDiscardedBytes) {
    OpenSoft();
    peer->Play("xyzQrest");
    EXPECT_EQ(WaitForByte(handle, 'Q', 0.5, 0), 4);
    peer->Play("ab");
    EXPECT_EQ(WaitForByte(handle, 'Q', 0.1, 0), -6);  // "rest" and "ab" discarded
}

TEST_F(WaitingTest, ReceiveUntilTerminatorOverflowAndTimeout) {
    OpenSoft();
    char buffer[8];
    peer->Play("\rtail");
    EXPECT_EQ(ReceiveUntil(handle, buffer, sizeof buffer, '\r', 0.5, 0), 0);
    EXPECT_EQ(buffer[0], '\r');
    EXPECT_EQ(buffer[1], 0);

    peer->Play("123");  // "tail123" then silence
    EXPECT_EQ(ReceiveUntil(handle, buffer, sizeof buffer, '\r', 0.1, 0), -7);
    EXPECT_STREQ(buffer, "tail123");

    peer->Play("0123456789\r");
    EXPECT_EQ(ReceiveUntil(handle, buffer, 4, '\r', 0.5, 0), -4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
}

TEST_F(WaitingTest, GapLimitEndsTheWaitBeforeTheOverallDeadline) {
    OpenSoft();
    peer->Play("ab");
    peer->Play("c\r", 1.0);  // too late for a 0.1 s gap
    char buffer[16];
    double start = Now();
    EXPECT_EQ(ReceiveUntil(handle, buffer, sizeof buffer, '\r', 5.0, 0.1), -2);
    double took = Now() - start;
    EXPECT_GE(took, 0.09);
    EXPECT_LT(took, 0.5);
}

TEST_F(WaitingTest, SilenceEndsAtTheDeadlineWithoutSpinning) {
    OpenSoft();
    double start = Now();
    EXPECT_EQ(WaitForByte(handle, 'x', 0.2, 0), 0);
    double took = Now() - start;
    EXPECT_GE(took, 0.19);
    EXPECT_LT(took, 0.4);
    EXPECT_EQ(peer->ReadCalls(), 0);
}

TEST_F(WaitingTest, EndlessGarbageStillEndsAtTheDeadline) {
    OpenSoft();
    for (int i = 0; i < 200; ++i) peer->Play(std::string(50, 'z'), 0.005);
    double start = Now();
    EXPECT_LT(WaitForByte(handle, '\r', 0.2, 0), 0);
    EXPECT_LT(Now() - start, 0.4);
}

TEST_F(WaitingTest, SearchStringCountsSkippedBytesAndDoesNotRestartOnTheMismatch) {
    RecordReports();
    OpenSoft();
    peer->Play("xxabc");
    EXPECT_EQ(SearchString(handle, "abc", 0, 0.5, 0), 5);

    peer->Play("xxaabc");
    EXPECT_EQ(SearchString(handle, "abc", 0, 0.2, 0), -6);
    EXPECT_TRUE(HasReport(5, "Searched string not detected."));

    peer->Play("zzzz");
    EXPECT_EQ(SearchString(handle, "abc", 3, 0.1, 0), -4);
}

TEST_F(WaitingTest, SearchStringThatStallsMidPatternGivesUpSilently) {
    RecordReports();
    OpenSoft();
    peer->Play("ab");
    size_t before = reports.size();
    double start = Now();
    EXPECT_EQ(SearchString(handle, "abc", 0, 0.2, 0), -2);
    EXPECT_LT(Now() - start, 0.4);
    EXPECT_EQ(reports.size(), before);
}

}  // namespace
}  // namespace ulvarin::test
