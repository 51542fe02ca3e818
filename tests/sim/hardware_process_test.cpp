// Hardware processes through the interface's commands: frames of a process arrive as
// background blocks, the state queries report what runs, "G" stops it all, and the
// trigger and counter inputs drive processes. One test runs on the wall clock through the
// driver, to see a waiting host woken when a frame comes due.
#include <gtest/gtest.h>

#include <numeric>

#include "emulator_link.h"
#include "sim/process_engine.h"
#include "timed_interface.h"

namespace ulvarin::sim::test {
namespace {

using namespace action;

std::string Number(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string Ticks(double seconds) {
    return Number(static_cast<uint64_t>(seconds * kTicksPerSecond), 6);
}

uint64_t Field(const std::string& bytes, size_t at, int size) {
    uint64_t value = 0;
    for (int i = size; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// Configures a process: the frame counter, the interval and period timers and their sets.
void ConfigureProcess(TimedInterface& t, uint32_t frames, ActionSet frameSet, double interval,
                      ActionSet intervalSet, double period, ActionSet periodSet) {
    const std::string setup = "(" + Number(frames - 1, 4) + static_cast<char>(frameSet) + "Z" +
                              Ticks(interval) + static_cast<char>(intervalSet) + "V" +
                              Ticks(period) + static_cast<char>(periodSet);
    ASSERT_EQ(t.Ask(setup), "(OK\rZOK\rVOK\r");
}

std::string Manual(ActionSet set) {
    return std::string("~") + static_cast<char>(set);
}

// The frames that have arrived in background blocks since the last call, and their times.
std::vector<uint64_t> TakeFrameTimes(TimedInterface& t) {
    EXPECT_EQ(t.Answers(), "");
    const size_t block = 2 + 6 + FrameStreamBytes(t.e.ChipCount(), t.e.Wide()) + 3 + 1;
    std::vector<uint64_t> times;
    for (size_t at = 0; at + block <= t.background.size(); at += block) {
        EXPECT_EQ(t.background.substr(at, 2), "[m") << "at byte " << at;
        EXPECT_EQ(t.background.substr(at + block - 4, 4), "OK\r]");
        times.push_back(Field(t.background, at + 2, 6));
    }
    EXPECT_EQ(t.background.size() % block, 0u);
    t.background.clear();
    return times;
}

// Running flag and remaining time (ticks) of a "z", "v" or "k" answer.
std::pair<bool, uint64_t> TimerState(TimedInterface& t, char letter) {
    const std::string answer = t.Ask(std::string(1, letter));
    EXPECT_EQ(answer.size(), 1 + 14 + 3u);
    return {answer[1] != 0, Field(answer, 9, 6)};
}

TEST(HardwareProcess, SingleFrameProcessSendsOneFrame) {
    TimedInterface t(ChipFamily::kTimepix, 2);
    ConfigureProcess(t, 1, 0, 0.010, kCloseShutter, 0, 0);
    EXPECT_EQ(t.Ask(Manual(kOpenShutter | kStartInterval)), "~OK\r");
    EXPECT_TRUE(TimerState(t, 'z').first);
    t.Wait(0.5);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
    EXPECT_FALSE(TimerState(t, 'z').first);
    EXPECT_FALSE(t.e.State().shutterOpen);
    const std::string frameCounter = t.Ask(")");
    EXPECT_EQ(Field(frameCounter, 2, 4), 0u);
    EXPECT_EQ(Field(frameCounter, 6, 4), 0u);
}

TEST(HardwareProcess, TenFramesOnAPeriodArriveInOrderThenTheProcessEnds) {
    TimedInterface t(ChipFamily::kMedipix2, 1);
    ConfigureProcess(t, 10, 0, 0.005, kCloseShutter, 0.020, kOpenShutter | kStartInterval);
    EXPECT_EQ(t.Ask(Manual(kOpenShutter | kStartInterval) + "u"), "~OK\ruOK\r");

    t.Wait(0.050);
    const auto [running, remaining] = TimerState(t, 'v');
    EXPECT_TRUE(running);
    EXPECT_EQ(remaining, static_cast<uint64_t>(0.010 * kTicksPerSecond));
    const std::string frameCounter = t.Ask(")");
    ASSERT_EQ(frameCounter.size(), 1 + 9 + 3u);
    EXPECT_EQ(Field(frameCounter, 2, 4), 9u) << "loaded";
    EXPECT_EQ(Field(frameCounter, 6, 4), 6u) << "three frames read";

    EXPECT_EQ(TakeFrameTimes(t).size(), 3u);
    t.Wait(0.010);
    EXPECT_TRUE(TakeFrameTimes(t).empty()) << "the next opens at 60 ms";
    t.Wait(0.010);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
    t.Wait(1.0);
    EXPECT_EQ(TakeFrameTimes(t).size(), 6u);
    EXPECT_FALSE(TimerState(t, 'v').first) << "the last frame stops the period timer";
    t.Wait(1.0);
    EXPECT_TRUE(TakeFrameTimes(t).empty());
}

// The time counter of a frame is its exposure: how long the shutter was open while the
// counters counted what the frame holds, in 20 MHz ticks.
TEST(HardwareProcess, FramesCarryTheirOwnExposureAndItsTime) {
    TimedInterface t(ChipFamily::kMxr, 1);
    ConfigureProcess(t, 10, kOpenShutter | kStartInterval, 0.020, kCloseShutter, 0, 0);
    EXPECT_EQ(t.Ask(Manual(kOpenShutter | kStartInterval)), "~OK\r");
    t.Wait(1.0);
    const std::string output = t.Output();
    const size_t block = output.size() / 10;
    t.background = output;
    const auto times = TakeFrameTimes(t);
    ASSERT_EQ(times.size(), 10u);
    for (uint64_t time : times) EXPECT_NEAR(static_cast<double>(time), 0.020 * kTicksPerSecond, 1);
    // Each frame holds one exposure, not the sum of all before it.
    // (The first also holds what the counters held before the process.)
    const auto first = t.DecodeFrame(output.substr(block + 1, block - 2));
    const auto last = t.DecodeFrame(output.substr(9 * block + 1, block - 2));
    double a = 0, b = 0;
    for (size_t p = 0; p < first.size(); ++p) a += first[p], b += last[p];
    EXPECT_GT(a, 0);
    EXPECT_NEAR(b / a, 1.0, 0.1);

    // By hand: "C" reads the opening since "o", and clears it. Two openings add up in the
    // counters and in their time; a plain read keeps both, "e" drops both.
    const auto frameTime = [&](std::string_view command) {
        return static_cast<double>(Field(t.Ask(command), 1, 6)) / kTicksPerSecond;
    };
    EXPECT_EQ(t.Ask("o"), "oOK\r");
    t.Wait(0.25);
    EXPECT_DOUBLE_EQ(frameTime("C"), 0.25);
    EXPECT_DOUBLE_EQ(frameTime("m"), 0.0);
    for (double opening : {0.1, 0.15}) {
        EXPECT_EQ(t.Ask("o"), "oOK\r");
        t.Wait(opening);
        EXPECT_EQ(t.Ask("c"), "cOK\r");
        t.Wait(1.0);
    }
    EXPECT_DOUBLE_EQ(frameTime("m"), 0.25);
    EXPECT_DOUBLE_EQ(frameTime("m"), 0.25);
    EXPECT_EQ(t.Ask("e"), "eOK\r");
    EXPECT_DOUBLE_EQ(frameTime("m"), 0.0);
}

// The built-in expositions need no action sets: they run the shutter from the interval
// timer, the period timer and the frame counter as set up, and send their frames.
TEST(HardwareProcess, ExpositionsSendTheirFramesAndAbortStopsThem) {
    TimedInterface t(ChipFamily::kMxr, 1);
    t.e.ChangeIllumination([](Illumination& light) { light.SetUniform(); }, t.now);
    ConfigureProcess(t, 3, 0, 0.010, 0, 0.050, 0);
    const uint64_t interval = 200000;  // 10 ms in ticks
    const auto firstFrameSum = [&] {
        EXPECT_EQ(t.Answers(), "");
        const auto frame = t.DecodeFrame(t.background.substr(1, t.MessageLength(t.background, 1)));
        return std::accumulate(frame.begin(), frame.end(), 0.0);
    };

    EXPECT_EQ(t.Ask("g"), "gOK\r");
    EXPECT_TRUE(TimerState(t, 'z').first) << "the interval times the exposure";
    t.Wait(0.5);
    const double single = firstFrameSum();
    EXPECT_EQ(TakeFrameTimes(t), std::vector<uint64_t>{interval});
    EXPECT_FALSE(t.e.State().shutterOpen);

    for (const char* letter : {"h", "&"}) {
        EXPECT_EQ(t.Ask(letter), std::string(letter) + "OK\r");
        t.Wait(1.0);
        EXPECT_EQ(TakeFrameTimes(t), std::vector<uint64_t>(3, interval)) << letter;
        EXPECT_FALSE(TimerState(t, 'v').first);
    }

    // Oscillating shutter: three openings summed into one frame.
    EXPECT_EQ(t.Ask("."), ".OK\r");
    t.Wait(1.0);
    EXPECT_NEAR(firstFrameSum() / single, 3.0, 0.05);
    EXPECT_EQ(TakeFrameTimes(t), std::vector<uint64_t>{3 * interval});

    // Periodic erase until a trigger: each erase is announced, the frame holds the time
    // since the last one.
    EXPECT_EQ(t.Ask("="), "=OK\r");
    t.Wait(0.120);
    EXPECT_EQ(t.Answers(), "");
    EXPECT_EQ(t.background, "[=OK\r][=OK\r]");
    t.background.clear();
    t.e.FireTrigger(t.now);
    EXPECT_EQ(TakeFrameTimes(t), std::vector<uint64_t>{uint64_t{kTicksPerSecond} / 50});

    // An abort 4 ms into the second frame: nothing more is sent, the counters keep the
    // part exposure for a plain read.
    EXPECT_EQ(t.Ask("h"), "hOK\r");
    t.Wait(0.015);
    EXPECT_EQ(t.Ask("G"), "GOK\r");
    t.Wait(1.0);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
    EXPECT_FALSE(t.e.State().shutterOpen);
    EXPECT_EQ(Field(t.Ask("m"), 1, 6), uint64_t{kTicksPerSecond} * 4 / 1000);
}

TEST(HardwareProcess, AbortStopsEverything) {
    TimedInterface t(ChipFamily::kTimepix, 1);
    ConfigureProcess(t, 100, kOpenShutter | kStartInterval, 0.5, kCloseShutter, 1.0, 0);
    EXPECT_EQ(t.Ask(Manual(kOpenShutter | kStartInterval) + "u"), "~OK\ruOK\r");
    t.Wait(0.2);
    EXPECT_EQ(t.Ask("G"), "GOK\r");
    t.Wait(5);
    EXPECT_TRUE(TakeFrameTimes(t).empty()) << "no frame after the abort";
    EXPECT_FALSE(TimerState(t, 'z').first);
    EXPECT_FALSE(TimerState(t, 'v').first);
    EXPECT_FALSE(t.e.State().shutterOpen);
}

TEST(HardwareProcess, TriggerAndCounterInputsDriveProcesses) {
    TimedInterface t(ChipFamily::kMedipix2, 1);
    // Each trigger starts an exposure; each frame waits for the next trigger.
    ConfigureProcess(t, 2, kWaitTrigger, 0.005, kCloseShutter, 0, 0);
    t.Send(std::string("Q") + static_cast<char>(kOpenShutter | kStartInterval));
    EXPECT_EQ(t.Ask(Manual(kWaitTrigger)), "QOK\r~OK\r");
    t.Wait(1.0);
    EXPECT_TRUE(TakeFrameTimes(t).empty());
    t.e.FireTrigger(t.now);
    t.Wait(0.1);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
    std::string trigger = t.Ask("q");
    ASSERT_EQ(trigger.size(), 1 + 7 + 3u);
    EXPECT_EQ(trigger[1], 1) << "waiting again";
    EXPECT_EQ(Field(trigger, 4, 4), 1u);
    t.e.FireTrigger(t.now);
    t.Wait(0.1);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
    EXPECT_EQ(t.Ask("q")[1], 0) << "the process has taken its two frames";

    // The event counter closes the shutter after 100 events.
    t.Send("K" + Number(100, 6) + static_cast<char>(kCloseShutter));
    EXPECT_EQ(t.Ask(Manual(kOpenShutter | kWaitCount)), "KOK\r~OK\r");
    t.e.InjectEvents(99, t.now);
    EXPECT_TRUE(TakeFrameTimes(t).empty());
    const std::string counter = t.Ask("k");
    EXPECT_EQ(Field(counter, 3, 6), 100u);
    EXPECT_EQ(Field(counter, 9, 6), 1u);
    t.e.InjectEvents(1, t.now);
    EXPECT_EQ(TakeFrameTimes(t).size(), 1u);
}

TEST(HardwareProcess, AWaitingHostIsWokenWhenAFrameIsDue) {
    EmulatorLink link({MakeInterfaceConfig(ChipFamily::kMedipix2, 1)});
    link.Open();
    link.Send("(" + Number(0, 4) + '\0' + "Z" + Ticks(0.05) + static_cast<char>(kCloseShutter) +
              Manual(kOpenShutter | kStartInterval));
    EXPECT_EQ(link.Receive(12), "(OK\rZOK\r~OK\r");
    const auto start = Clock::now();
    link.driver.WaitForData(link.handle, 30.0);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "woken by the frame, not the timeout";
    const size_t block = 2 + 6 + FrameStreamBytes(1, false) + 3 + 1;
    const std::string frame = link.Receive(block);
    EXPECT_EQ(frame.substr(0, 2), "[m");
    EXPECT_EQ(frame.substr(frame.size() - 4), "OK\r]");
}

}  // namespace
}  // namespace ulvarin::sim::test
