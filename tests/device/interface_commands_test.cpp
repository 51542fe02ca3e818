#include "device/interface_commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "device/conversions.h"
#include "tests/support/device_fixture.h"

namespace ulvarin::test {
namespace {

std::string Bytes(const uint8_t* p, int n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(Conversions, BiasCodesAtTheirCorners) {
    EXPECT_EQ(BiasToCode(23.0), 255);
    EXPECT_EQ(BiasToCode(104.4), 2);
    EXPECT_EQ(BiasToCode(104.5), 1);
    EXPECT_EQ(BiasToCode(500.0), 1);
    EXPECT_EQ(BiasToCode(22.9), 0);
    EXPECT_DOUBLE_EQ(CodeToBias(0), 4.5);
    EXPECT_DOUBLE_EQ(CodeToBias(128), 23 + 128 / 255.0 * 81.5);
    EXPECT_NEAR(CodeToBias(1), 104.5, 1e-9);
}

TEST(Conversions, DacAndAdcVolts) {
    EXPECT_EQ(DacVoltsToCode(2.4), 3932);
    EXPECT_EQ(DacVoltsToCode(0.0), 0);
    // Beyond 12 bits the code is sent as its low 16 bits, whatever the voltage's size.
    EXPECT_EQ(DacVoltsToCode(3.0), 4915);
    EXPECT_EQ(DacVoltsToCode(41.0), 1646);
    EXPECT_EQ(DacVoltsToCode(-1.0), 63898);
    EXPECT_EQ(DacVoltsToCode(6.5e15), 16384);  // above the 64-bit integers
    EXPECT_EQ(DacVoltsToCode(std::nan("")), 0);
    EXPECT_EQ(DacVoltsToCode(HUGE_VAL), 0);
    EXPECT_DOUBLE_EQ(DacCodeToVolts(3932), 2.39990234375);
    EXPECT_EQ(FormatAdcVolts(AdcToVolts(2748)), "1.6772 V");
    EXPECT_EQ(FormatAdcVolts(0.0), "0.0000 V");
}

TEST(Conversions, TimesAndCountsInSixBytes) {
    uint8_t six[6];
    SecondsToBytes(1.0, 3, six);
    EXPECT_EQ(Bytes(six, 6), std::string("\x96\x2c\x31\x01\x00\x00", 6));
    EXPECT_EQ(BytesToNumber48(six), 19999894u);
    SecondsToBytes(0.0, 3, six);
    EXPECT_EQ(BytesToNumber48(six), 1u);
    SecondsToBytes(0.00000535, 3, six);
    EXPECT_EQ(BytesToNumber48(six), 1u);
    SecondsToBytes(-2.0, 3, six);  // a negative time counts as one second
    EXPECT_EQ(BytesToNumber48(six), 19999894u);
    SecondsToBytes(1.0, 2, six);  // 8 MHz clock
    EXPECT_EQ(BytesToNumber48(six), 7999957u);
    EXPECT_DOUBLE_EQ(BytesToSeconds(six, 2), 7999957 / 8e6);
    CountToBytes(1e12 + 0.7, six);
    EXPECT_EQ(BytesToNumber48(six), 1000000000000u);
    // Values that are not numbers reach no undefined conversion.
    SecondsToBytes(std::nan(""), 3, six);
    EXPECT_EQ(BytesToNumber48(six), 1u);
    SecondsToBytes(HUGE_VAL, 3, six);
    EXPECT_EQ(BytesToNumber48(six), 0u);
    CountToBytes(std::nan(""), six);
    EXPECT_EQ(BytesToNumber48(six), 0u);
}

class InterfaceCommandsTest : public DeviceTest {};

TEST_F(InterfaceCommandsTest, CommandsSendTheirParameterBytes) {
    OpenSoft();
    for (const char* letter : {">", "A", "Z", "(", "b"})
        peer->ReplyToWrite(std::string(letter) + "OK\r");
    EXPECT_TRUE(SetInterfaceDac(handle, 1, 3932));
    EXPECT_TRUE(ConfigureScope(handle, 0x03, 1000, 0x0D));
    EXPECT_TRUE(SetupIntervalTimer(handle, 1.0, 0x01));
    EXPECT_TRUE(SetupFrameCounter(handle, 9, 0x06));
    EXPECT_TRUE(SetBias(handle, BiasToCode(50.0)));
    EXPECT_EQ(peer->Written(), std::string(">\x01\x5c\x0f"
                                           "A\x03\xe8\x03\x0d"
                                           "Z\x96\x2c\x31\x01\x00\x00\x01"
                                           "(\x09\x00\x00\x00\x06"
                                           "b\xab",
                                           25));
}

TEST_F(InterfaceCommandsTest, AdcReadingsAreTwelveBitsHighByteFirst) {
    OpenSoft();
    std::string adc(26, '\0');
    adc[0] = '\x1A';  // high nibble of the first byte is not part of the value
    adc[1] = '\xBC';
    adc[24] = '\x0F';
    adc[25] = '\xFF';
    peer->ReplyToWrite("M" + adc + "OK\r");
    uint16_t values[kAdcChannels] = {};
    ASSERT_TRUE(ReadAdcs(handle, values));
    EXPECT_EQ(values[0], 0x0ABC);
    EXPECT_EQ(values[12], 4095);
}

TEST_F(InterfaceCommandsTest, StateQueriesWriteOnlyGivenPlacesAndOnlyOnSuccess) {
    OpenSoft();
    std::string state("\x01\x06", 2);
    state += std::string("\x96\x2c\x31\x01\x00\x00", 6);  // value: about 1 s
    state += std::string("\x00\x2d\x31\x01\x00\x00", 6);  // remaining: exactly 1 s
    peer->ReplyToWrite("z" + state + "OK\r");
    bool running = false;
    double remaining = -5;
    ASSERT_TRUE(IntervalTimerState(handle, &running, nullptr, nullptr, &remaining));
    EXPECT_TRUE(running);
    EXPECT_DOUBLE_EQ(remaining, 1.0);

    peer->ReplyToWrite("k" + state + "OK\r");
    double count = 0;
    ASSERT_TRUE(CounterState(handle, nullptr, nullptr, nullptr, &count));
    EXPECT_DOUBLE_EQ(count, 20000000.0);  // counts are not converted to time

    peer->ReplyToWrite(")" + std::string("\x07\x09\x00\x00\x00\x04\x00\x00\x00", 9) + "OK\r");
    uint8_t actions = 0;
    uint32_t loaded = 0, current = 0;
    ASSERT_TRUE(FrameCounterState(handle, &actions, &loaded, &current));
    EXPECT_EQ(actions, 7);
    EXPECT_EQ(loaded, 9u);
    EXPECT_EQ(current, 4u);

    peer->ReplyToWrite(std::string("q\x01\x02\x03\x10\x00\x00\x00OK\r", 11));
    uint32_t triggers = 0;
    uint8_t b2 = 0;
    ASSERT_TRUE(TriggerState(handle, nullptr, nullptr, &b2, &triggers));
    EXPECT_EQ(b2, 3);
    EXPECT_EQ(triggers, 16u);

    peer->ReplyToWrite(" 1234567890qwertyuiopasdfghjklzxcvbnmOK\r");  // for the timeout's sync
    running = false;
    remaining = -5;
    EXPECT_FALSE(PeriodTimerState(handle, &running, nullptr, nullptr, &remaining));
    EXPECT_FALSE(running);
    EXPECT_EQ(remaining, -5);
}

TEST_F(InterfaceCommandsTest, LineTestsSendTheirBytesAndReadTheBoardBack) {
    OpenSoft();
    peer->ReplyToWrite("IOK\r");
    peer->ReplyToWrite(std::string(":\xAA\x01OK\r", 6));
    peer->ReplyToWrite(std::string(":\x00\x00OK\r", 6));
    peer->ReplyToWrite(std::string("'\x02OK\r", 5));
    EXPECT_TRUE(CmosTest(handle, 0xA5));
    uint8_t received = 0;
    bool enableOut = false;
    ASSERT_TRUE(LvdsTest(handle, true, false, true, 0xAA, &received, &enableOut));
    EXPECT_EQ(received, 0xAA);
    EXPECT_TRUE(enableOut);
    // Phase alone sets 0x04; no places given for the results.
    ASSERT_TRUE(LvdsTest(handle, false, true, false, 0x55, nullptr, nullptr));
    bool sda = false, scl = true;
    ASSERT_TRUE(I2cTest(handle, true, true, &sda, &scl));
    EXPECT_TRUE(sda);
    EXPECT_FALSE(scl);
    EXPECT_EQ(peer->Written(), std::string("I\xA5"
                                           ":\x08\x01\xAA"
                                           ":\x04\x00\x55"
                                           "'\x03",
                                           12));
}

TEST_F(InterfaceCommandsTest, LineTestsWithoutAnInterfaceReportAndLeaveResultsAlone) {
    RecordReports();
    MpxDevice none;
    uint8_t received = 0x77;
    bool enableOut = true, sda = true, scl = true;
    EXPECT_FALSE(CmosTest(none, 1));
    EXPECT_FALSE(LvdsTest(none, true, true, true, 1, &received, &enableOut));
    EXPECT_FALSE(I2cTest(none, true, true, &sda, &scl));
    EXPECT_EQ(received, 0x77);
    EXPECT_TRUE(enableOut && sda && scl);
    EXPECT_TRUE(HasReport(kBadHandle, "Invalid device handle."));
    EXPECT_EQ(peer->Written(), "");
}

// A closed handle is reported once per command, also by those that read the clock first.
TEST_F(InterfaceCommandsTest, TimerSetupsOnAClosedHandleReportOnce) {
    RecordReports();
    MpxDevice none;
    EXPECT_FALSE(SetupIntervalTimer(none, 1.0, 0x06));
    EXPECT_FALSE(SetupPeriodTimer(none, 1.0, 0x06));
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& r : reports) EXPECT_EQ(r.text, "Invalid device handle.");
}

}  // namespace
}  // namespace ulvarin::test
