#include "device/protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/clock.h"
#include "device/counter_codes.h"
#include "device/link.h"
#include "device/matrix_stream.h"
#include "device/watchdog.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

const std::string kSyncAnswer = " 1234567890qwertyuiopasdfghjklzxcvbnmOK\r";

struct HookCall {
    uint8_t letter;
    std::string messageText;
    int32_t frameNumber;
    bool isBackground;
    double time;
};

class ProtocolTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        RecordReports();
        SetBackgroundHook(
            [](MpxDevice&, MpxCommandResponse& r, void* user) {
                static_cast<std::vector<HookCall>*>(user)->push_back(
                    {r.letter, r.messageText ? r.messageText : "", r.frameNumber, r.isBackground,
                     r.time});
            },
            &hookCalls);
    }
    void TearDown() override {
        SetBackgroundHook(nullptr, nullptr);
        DeviceTest::TearDown();
    }
    std::vector<HookCall> hookCalls;
};

TEST_F(ProtocolTest, KindZeroResponseSucceedsAndCountsPackets) {
    OpenSoft();
    peer->ReplyToWrite("rOK\r");
    MpxCommandResponse record;
    EXPECT_TRUE(ExecuteCommand(handle, record, "r"));
    EXPECT_EQ(peer->Written(), "r");
    EXPECT_EQ(record.letter, 'r');
    EXPECT_EQ(record.count, 0u);
    EXPECT_EQ(handle.packets, 2);  // the transmission and the parsed response
    EXPECT_TRUE(HasReport(1, "Command \"Reset Medipix\" performed OK."));
}

TEST_F(ProtocolTest, MissingTerminatorResynchronizes) {
    OpenSoft();
    peer->ReplyToWrite("rOK");        // the CR never comes
    peer->ReplyToWrite(kSyncAnswer);  // answer to the resynchronization
    peer->ReplyToWrite(kSyncAnswer);  // to the failed response's own
    peer->ReplyToWrite(kSyncAnswer);  // and to the timeout's synchronization
    MpxCommandResponse record;
    EXPECT_FALSE(ExecuteCommand(handle, record, "r", 0, 0.2));
    EXPECT_TRUE(HasReport(9, "Missing response terminator.. Resynchronization OK."));
    EXPECT_TRUE(HasReport(9, "Error receiving command response.. Resynchronization OK."));
    EXPECT_EQ(peer->Written(), "r   ");
}

TEST_F(ProtocolTest, UnaskedLettersAreParsedByTheirDescriptor) {
    OpenSoft();
    MpxCommandResponse record(false);
    peer->Play("QOK\r");
    EXPECT_TRUE(ReceiveMessage(handle, record));
    EXPECT_EQ(record.letter, 'Q');

    peer->Play(std::string("\x01", 1));
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(9, "Unknown response received.. Resynchronization OK."));
}

TEST_F(ProtocolTest, TextAndStringResponses) {
    OpenSoft();
    peer->ReplyToWrite("iFirmware 3.1\rOK\r");
    MpxCommandResponse record;
    ASSERT_TRUE(ExecuteCommand(handle, record, "i"));
    EXPECT_EQ(record.count, 12u);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.parameters), "Firmware 3.1");

    peer->ReplyToWrite("i\rOK\r");  // an empty text is still a well-formed response
    ASSERT_TRUE(ExecuteCommand(handle, record, "i"));
    EXPECT_EQ(record.count, 0u);

    peer->Play("\"50% done\"\r");
    EXPECT_TRUE(ReceiveMessage(handle, record));
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0].messageText, "\"50% done\"");
    EXPECT_EQ(hookCalls[0].frameNumber, 0);
}

TEST_F(ProtocolTest, ErrorMessagesAreReportedByKind) {
    OpenSoft();
    MpxCommandResponse record(false);
    peer->Play("!Overheated\r");
    EXPECT_TRUE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(7, "Error received: Overheated\r"));
    EXPECT_EQ(record.letter, 0);
    ASSERT_EQ(hookCalls.size(), 1u);

    peer->ReplyToWrite("!Unit is on line. Medipix chips: 1 Ready\rxOK\r");
    MpxCommandResponse cmd;
    EXPECT_FALSE(ExecuteCommand(handle, cmd, "x"));
    EXPECT_TRUE(HasReport(8, "Error received: Unit is on line. Medipix chips: 1 Ready\r"));
    EXPECT_TRUE(
        HasReport(8,
                  "Error \"Unit is on line. Medipix chips: 1 Ready\" reported by device performing "
                  "command \"Medipix power ON\""));
}

TEST_F(ProtocolTest, DeviceErrorDuringACommandFailsItAfterItsAttempts) {
    OpenSoft();
    peer->ReplyToWrite("!Bad parameter\rbOK\r");
    peer->ReplyToWrite("bOK\r");
    MpxCommandResponse record;
    const char command[] = {'b', 0};
    EXPECT_TRUE(ExecuteCommand(handle, record, command, 2, -1, 2));  // the retry succeeds
    EXPECT_TRUE(HasReport(7,
                          "Error \"Bad parameter\" reported by device performing command "
                          "\"Set bias voltage\""));
    EXPECT_EQ(peer->Written(), std::string("b\0b\0", 4));
}

TEST_F(ProtocolTest, ResponseToAnotherLetterResynchronizes) {
    OpenSoft();
    peer->ReplyToWrite("xOK\r");
    peer->ReplyToWrite(kSyncAnswer);
    MpxCommandResponse record;
    EXPECT_FALSE(ExecuteCommand(handle, record, "r"));
    EXPECT_TRUE(HasReport(9,
                          "Got response to different command: 'x' [0x78] = \"Medipix power ON\", "
                          "istead of 'r' [0x72] = \"Reset Medipix\". Resynchronization OK."));
}

TEST_F(ProtocolTest, SilentInterfaceIsTriedEveryAttemptWithinItsDeadlines) {
    OpenSoft();
    for (int i = 0; i < 3; ++i) {
        peer->ReplyToWrite("");  // the command gets no answer
        peer->ReplyToWrite(kSyncAnswer);
    }
    MpxCommandResponse record;
    double start = Now();
    EXPECT_FALSE(ExecuteCommand(handle, record, "m", 0, 0.1, 3));
    double took = Now() - start;
    EXPECT_EQ(peer->Written(), "m m m ");
    EXPECT_TRUE(HasReport(11,
                          "Timeout. Not received response to 'm' [0x6d] = \"Read matrix\". "
                          "Resynchronization OK."));
    EXPECT_GE(took, 0.3);
    EXPECT_LT(took, 0.6);
}

TEST_F(ProtocolTest, SynchronizationWithoutAnswerFails) {
    OpenSoft();
    EXPECT_FALSE(Synchronize(handle));
    EXPECT_TRUE(HasReport(10, "Synchronization failed"));
    EXPECT_EQ(peer->Written(), " ");
    peer->FailNext("Write", FT_IO_ERROR);
    EXPECT_FALSE(Synchronize(handle));
    EXPECT_TRUE(HasReport(4, "Can't synchronize"));
}

TEST_F(ProtocolTest, ScopeResponseNeedsAllItsSamples) {
    OpenSoft();
    MpxCommandResponse record(false);
    peer->Play(std::string("$\x03\x00", 3) + "12345678" + "OK\r");
    ASSERT_TRUE(ReceiveMessage(handle, record));
    EXPECT_EQ(record.count, 10u);

    peer->Play(std::string("$\x03\x00", 3) + "1234567");
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(9,
                          "Reception of frame stream failed - not enough data.. "
                          "Resynchronization OK."));
}

TEST_F(ProtocolTest, BackgroundBlocks) {
    OpenSoft();
    MpxCommandResponse record(false);
    peer->Play("[]");
    EXPECT_TRUE(ReceiveMessage(handle, record));
    EXPECT_EQ(record.letter, 0);
    EXPECT_EQ(handle.packets, 2);
    EXPECT_TRUE(hookCalls.empty());

    peer->Play("[QOK\r\"note\"\r]");
    EXPECT_TRUE(ReceiveMessage(handle, record));
    ASSERT_EQ(hookCalls.size(), 2u);
    EXPECT_EQ(hookCalls[0].letter, 'Q');
    EXPECT_TRUE(hookCalls[0].isBackground);
    EXPECT_EQ(hookCalls[1].messageText, "\"note\"");

    peer->Play("[");
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(9, "Unexpected end of background message.. Resynchronization OK."));
}

TEST_F(ProtocolTest, BackgroundFrameIsDecodedIntoTheDeviceFrame) {
    OpenSoft("Medipix2 ver 3.0 : Frames", 1, true);
    std::vector<uint16_t> counts(kChipPixels);
    for (int i = 0; i < kChipPixels; ++i) counts[i] = static_cast<uint16_t>((i * 7) % 11811);
    std::vector<uint16_t> codes = counts;
    ASSERT_TRUE(ConvertCounterCodes(codes.data(), kChipPixels, true, false));
    std::string stream(FrameStreamBytes(1, true), '\0');
    ASSERT_TRUE(MatrixToStream(true, codes.data(), kChipPixels,
                               reinterpret_cast<uint8_t*>(stream.data()), stream.size()));
    const std::string time("\x00\x2d\x31\x01\x00\x00", 6);  // 20,000,000 ticks = 1 s
    peer->Play("[m" + time + stream + "OK\r]");
    MpxCommandResponse record(false);
    ASSERT_TRUE(ReceiveMessage(handle, record));
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0].letter, 'm');
    EXPECT_EQ(hookCalls[0].frameNumber, 1);
    EXPECT_DOUBLE_EQ(hookCalls[0].time, 1.0);
    const uint16_t* frame = handle.device->backgroundFrame.get();
    for (int i = 0; i < kChipPixels; ++i) ASSERT_EQ(frame[i], counts[i]) << "pixel " << i;
}

TEST_F(ProtocolTest, DrainPassesCommandResponsesToTheHook) {
    OpenSoft();
    peer->Play("=OK\r\"hello\"\r=OK\r");
    MpxCommandResponse record(false);
    EXPECT_TRUE(DrainBackground(handle, record));
    ASSERT_EQ(hookCalls.size(), 3u);  // the text message itself, then two drained responses
    EXPECT_EQ(hookCalls[0].letter, '=');
    EXPECT_EQ(hookCalls[1].messageText, "\"hello\"");
    EXPECT_EQ(hookCalls[2].letter, '=');
    EXPECT_EQ(QueueDepth(handle), 0u);
}

TEST_F(ProtocolTest, WatchdogAlertArrivesAfterSilence) {
    OpenSoft();
    peer->ReplyToWrite("!Watchdog alert\r", 1.0);
    EXPECT_TRUE(WatchdogTest(handle));
    EXPECT_TRUE(HasReport(1, "Watchdog test passed OK."));
}

// A clock that only moves when read or slept on, as tests and fuzzing install it.
class SteppingClock : public ClockSource {
public:
    double Now() override { return now += 0.001; }
    void Sleep(double seconds) override {
        slept += seconds;
        now += seconds;
    }
    double now = 100.0;
    double slept = 0;
};

TEST_F(ProtocolTest, PausesFollowAnInstalledClock) {
    OpenSoft();
    SteppingClock clock;
    MpxClock::Install(&clock);
    const auto realStart = std::chrono::steady_clock::now();
    peer->ReplyToWrite("!Watchdog alert\r");
    const bool passed = WatchdogTest(handle);
    const double fakeNow = Now();
    MpxClock::Install(nullptr);
    const std::chrono::duration<double> realTook = std::chrono::steady_clock::now() - realStart;
    EXPECT_TRUE(passed);
    EXPECT_DOUBLE_EQ(clock.slept, 2.0);  // the watchdog's pause, not spent for real
    EXPECT_GT(fakeNow, 102.0);
    EXPECT_LT(fakeNow, 103.0);
    EXPECT_LT(realTook.count(), 1.5);
    EXPECT_GT(Now(), 1.0e6) << "the real clock is back";
}

TEST_F(ProtocolTest, EndlessTextWithoutTerminatorEndsWithinItsDeadlines) {
    OpenSoft();
    peer->Play("\"");
    for (int i = 0; i < 400; ++i) peer->Play("abcdefghij", 0.01);  // four seconds of chatter
    MpxCommandResponse record(false);
    const double start = Now();
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_LT(Now() - start, 3.3);  // 1.5 s for the text, 1.5 s for the synchronization
    EXPECT_TRUE(HasReport(10,
                          "Error receiving text message. Missing [\"] string terminator.. "
                          "Resynchronization failed."));
}

// A link that falls silent right after a message's first byte leaves no text at all; that
// is a cut message, not an empty one.
TEST_F(ProtocolTest, MessagesCutOffBeforeTheirTextFailAndResynchronize) {
    OpenSoft();
    MpxCommandResponse record(false);
    peer->Play("!");
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(7, ". Resynchronization OK."));
    EXPECT_TRUE(hookCalls.empty());

    peer->Play("\"");
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(9,
                          "Error receiving text message. Missing [\"] string terminator.. "
                          "Resynchronization OK."));

    peer->Play("ix");
    peer->ReplyToWrite(kSyncAnswer);
    peer->ReplyToWrite(kSyncAnswer);
    EXPECT_FALSE(ReceiveMessage(handle, record));
    EXPECT_TRUE(HasReport(9, "Reception of string parameter failed.. Resynchronization OK."));
    EXPECT_TRUE(hookCalls.empty());
}

TEST(CommandNames, KnownAndOddCodes) {
    EXPECT_STREQ(CommandName('Z'), "Setup interval timer");
    EXPECT_STREQ(CommandName(' '), "Synchronisation packet");
    EXPECT_STREQ(CommandName(0x0D), "Unknown command [0d]");
    EXPECT_STREQ(CommandName(0xE9), "Unknown command [e9]");
    EXPECT_STREQ(CommandName('N'), "Unknown command [N]");
    EXPECT_EQ(CommandResponseKind('m'), kRespTimedFrame);
    EXPECT_EQ(CommandResponseKind(' '), 36);
    EXPECT_EQ(CommandResponseKind('N'), kRespUnknown);
    EXPECT_EQ(kCommandTableRows, 74);
}

}  // namespace
}  // namespace ulvarin::test
