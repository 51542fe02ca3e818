// The process engine on its own: sources, action sets and the frame counter, on a clock
// the test moves by hand.
#include <gtest/gtest.h>

#include <string>

#include "sim/process_engine.h"

namespace ulvarin::sim::test {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0 = Clock::time_point{} + 1h;

double Since(Clock::time_point at) {
    return std::chrono::duration<double>(at - t0).count();
}

// Records what the actions did, as letters with their times.
struct Recorder : ProcessActions {
    void CloseShutterAndSendFrame(Clock::time_point at) override { Note('C', at); }
    void OpenShutter(Clock::time_point at) override { Note('O', at); }
    void CloseShutter(Clock::time_point at) override { Note('c', at); }
    void EraseCounters(Clock::time_point at) override { Note('e', at); }
    void PeriodicErase(Clock::time_point at) override { Note('E', at); }
    void TriggerScope(Clock::time_point at) override { Note('S', at); }
    void RunActionCommand(int which, Clock::time_point at) override { Note("12"[which], at); }
    void Note(char what, Clock::time_point at) {
        letters += what;
        times.push_back(Since(at));
    }
    std::string letters;
    std::vector<double> times;
};

uint64_t Ticks(double seconds) {
    return static_cast<uint64_t>(seconds * kTicksPerSecond);
}

void RunUntil(ProcessEngine& p, Clock::time_point end) {
    while (p.FireNext(end)) {
    }
}

struct Engine : testing::Test {
    Recorder actions;
    ProcessEngine p{actions};
};

TEST_F(Engine, AProcessTakesExactlyItsFramesThenStopsEverySource) {
    p.SetupFrameCounter(2, action::kOpenShutter | action::kStartInterval);  // three frames
    p.SetupInterval(Ticks(0.010), action::kCloseShutter);
    p.SetupPeriod(Ticks(10), 0);
    p.StartPeriod(t0);
    p.Run(action::kOpenShutter | action::kStartInterval, t0);
    RunUntil(p, t0 + 1s);

    EXPECT_EQ(actions.letters, "OCOCOC");
    const double readout = std::chrono::duration<double>(ProcessEngine::kReadoutTime).count();
    const std::vector<double> expected = {0,     0.010, 0.010 + readout, 0.020 + readout,
                                          0.020 + 2 * readout, 0.030 + 2 * readout};
    for (size_t i = 0; i < expected.size() && i < actions.times.size(); ++i)
        EXPECT_NEAR(actions.times[i], expected[i], 1e-6) << "action " << i;
    EXPECT_FALSE(p.Period(t0 + 1s).running) << "the last frame ends the process";
    EXPECT_FALSE(p.Interval(t0 + 1s).running);
    EXPECT_EQ(p.Frames().current, 2u) << "reloaded for the next process";
    EXPECT_FALSE(p.NextDue().has_value());
}

// Each built-in exposition on three frames (or openings) of 10 ms, a period of 50 ms and a
// Frames set that must not run: letters and times of what it did, e = erase, c = close.
TEST_F(Engine, ExpositionsDriveTheShutterFromTheTimersAndEndByThemselves) {
    const double r = std::chrono::duration<double>(ProcessEngine::kReadoutTime).count();
    struct Case {
        Exposition kind;
        double period;
        std::string letters;
        std::vector<double> times;
    };
    const Case cases[] = {
        {Exposition::kSingle, 0.050, "eOC", {0, 0, 0.010}},
        {Exposition::kMultiple,
         0.050,
         "eOCOCOC",
         {0, 0, 0.010, 0.010 + r, 0.020 + r, 0.020 + 2 * r, 0.030 + 2 * r}},
        {Exposition::kPeriodic, 0.050, "eOCOCOC", {0, 0, 0.010, 0.050, 0.060, 0.100, 0.110}},
        // An exposure and its readout outlast a 10.5 ms period: every other period is missed.
        {Exposition::kPeriodic, 0.0105, "eOCOCOC", {0, 0, 0.010, 0.021, 0.031, 0.042, 0.052}},
        {Exposition::kOscillating,
         0.050,
         "eOcOcOcC",
         {0, 0, 0.010, 0.050, 0.060, 0.100, 0.110, 0.110}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        actions = {};
        p.SetupFrameCounter(2, action::kTriggerScope);
        p.SetupInterval(Ticks(0.010), action::kTriggerScope);
        p.SetupPeriod(Ticks(c.period), action::kTriggerScope);
        p.StartExposition(c.kind, t0);
        EXPECT_EQ(p.ActiveExposition(), c.kind);
        RunUntil(p, t0 + 1s);
        EXPECT_EQ(actions.letters, c.letters);
        for (size_t i = 0; i < c.times.size() && i < actions.times.size(); ++i)
            EXPECT_NEAR(actions.times[i], c.times[i], 1e-6) << "action " << i;
        EXPECT_EQ(p.ActiveExposition(), Exposition::kNone);
        EXPECT_FALSE(p.Period(t0 + 1s).running);
        EXPECT_EQ(p.Frames().current, 2u) << "reloaded for the next run";
        EXPECT_FALSE(p.NextDue().has_value());
    }
}

TEST_F(Engine, CounterUnderflowsOnInjectedAndGeneratedEvents) {
    p.SetupCounter(100, action::kTriggerScope);
    p.StartCounter(t0);
    p.ExternalEvents(60, t0);
    EXPECT_EQ(p.Counter(t0).remaining, 40u);
    EXPECT_EQ(actions.letters, "");
    p.ExternalEvents(45, t0);
    EXPECT_EQ(actions.letters, "S");
    EXPECT_FALSE(p.Counter(t0).running);

    p.SetEventRate(1000, t0 + 1s);
    p.StartCounter(t0 + 1s);
    ASSERT_TRUE(p.NextDue().has_value());
    RunUntil(p, t0 + 2s);
    EXPECT_EQ(actions.letters, "SS");
    EXPECT_NEAR(actions.times.at(1), 1.1, 0.0011) << "100 events at 1 kHz";
}

TEST_F(Engine, TriggersAreTakenOnlyWhileWaiting) {
    p.SetupTrigger(action::kTriggerScope | action::kWaitTrigger);  // waits again each time
    p.Trigger(t0);
    EXPECT_EQ(p.TriggerInput().count, 0u);
    p.StartTriggerWait();
    p.Trigger(t0);
    p.Trigger(t0);
    EXPECT_EQ(actions.letters, "SS");
    EXPECT_EQ(p.TriggerInput().count, 2u);
    EXPECT_TRUE(p.TriggerInput().waiting);

    p.SetupTrigger(action::kTriggerScope);
    EXPECT_EQ(p.TriggerInput().count, 0u) << "a new setup starts counting afresh";
    p.Trigger(t0);
    p.Trigger(t0);
    EXPECT_EQ(actions.letters, "SSS");
    EXPECT_FALSE(p.TriggerInput().waiting);
}

}  // namespace
}  // namespace ulvarin::sim::test
