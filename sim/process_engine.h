// The interface's hardware processes: five event sources (frame counter, period timer,
// interval timer, trigger input, event counter), each with the set of actions it runs when
// it fires, and the manual set run once by "Make ToDo mask". Besides these, the firmware's
// built-in expositions drive the shutter from the same timers without the action sets.
// Everything runs on the time the caller passes in: the owner asks for the next due time,
// and fires due events in time order as the clock passes them, each at its own due time.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/sim_clock.h"

namespace ulvarin::sim {

// Bit i set = action i: C, O, I, S, T, W, 1, 2.
using ActionSet = uint8_t;

namespace action {
constexpr ActionSet kCloseShutter = 0x01;  // close the shutter and send the frame
constexpr ActionSet kOpenShutter = 0x02;
constexpr ActionSet kStartInterval = 0x04;
constexpr ActionSet kTriggerScope = 0x08;
constexpr ActionSet kWaitTrigger = 0x10;
constexpr ActionSet kWaitCount = 0x20;
constexpr ActionSet kCommand1 = 0x40;
constexpr ActionSet kCommand2 = 0x80;
}  // namespace action

// What the actions do outside the engine.
class ProcessActions {
public:
    // Closes the shutter, reads the chips, sends their frame and clears their counters.
    virtual void CloseShutterAndSendFrame(Clock::time_point at) = 0;
    virtual void OpenShutter(Clock::time_point at) = 0;
    // Closes the shutter; the counters keep what they counted.
    virtual void CloseShutter(Clock::time_point at) = 0;
    // Clears the counters and what they were exposed to; an open shutter stays open.
    virtual void EraseCounters(Clock::time_point at) = 0;
    // As EraseCounters, and tells the host so with a "=" item in a background block.
    virtual void PeriodicErase(Clock::time_point at) = 0;
    virtual void TriggerScope(Clock::time_point at) = 0;
    // Runs the interface's action command 0 or 1.
    virtual void RunActionCommand(int which, Clock::time_point at) = 0;

protected:
    ~ProcessActions() = default;
};

struct TimerState {
    bool running = false;
    ActionSet actions = 0;
    uint64_t value = 0;      // ticks (timers) or events (counter) it is loaded with
    uint64_t remaining = 0;  // until it fires; 0 while stopped
};

struct TriggerState {
    bool waiting = false;
    ActionSet actions = 0;
    uint32_t count = 0;  // triggers taken since the trigger was set up
};

// The firmware's built-in expositions. Each starts on erased counters, opens the shutter
// for the interval timer's time per exposure and sends its frames in the background:
//  kSingle       one exposure, one frame.
//  kMultiple     frame counter + 1 exposures back to back: the next opens as soon as the
//                previous frame is read out.
//  kPeriodic     frame counter + 1 exposures, one at the start of every period (the first
//                at once); a period that finds the previous frame still exposing or being
//                read out is missed.
//  kOscillating  the shutter opens for the interval at the start of every period, frame
//                counter + 1 times, summing into the counters; then one frame of them all.
//  kPeriodicErase the shutter stays open and the counters are erased (and the host told)
//                every period until a trigger comes; then the frame since the last erase.
// The action sets of the sources are not run while an exposition drives them.
enum class Exposition : uint8_t {
    kNone,
    kSingle,
    kMultiple,
    kPeriodic,
    kOscillating,
    kPeriodicErase
};

struct FrameCounterState {
    ActionSet actions = 0;
    uint32_t loaded = 0;   // frames of a process minus one
    uint32_t current = 0;  // frames still to come after the next one
};

class ProcessEngine {
public:
    // Reading the chips out keeps them busy this long after a C action; the frame counter
    // counts the frame when the readout is done.
    static constexpr auto kReadoutTime = std::chrono::milliseconds(1);
    // The period timer cannot restart faster than the firmware serves it.
    static constexpr auto kMinPeriod = std::chrono::milliseconds(1);

    explicit ProcessEngine(ProcessActions& actions) : actions_(actions) {}

    // Frame counter: `count` frames after the first (a process takes count + 1 frames).
    void SetupFrameCounter(uint32_t count, ActionSet actions);
    void ReloadFrameCounter() { frames_.current = frames_.loaded; }

    void SetupPeriod(uint64_t ticks, ActionSet actions);
    void StartPeriod(Clock::time_point now);  // first expiry one period from now
    void StopPeriod() { period_.running = false; }

    void SetupInterval(uint64_t ticks, ActionSet actions);
    void StartInterval(Clock::time_point now);  // restarts a running interval
    void StopInterval() { interval_.running = false; }

    void SetupCounter(uint64_t events, ActionSet actions);
    void StartCounter(Clock::time_point now);  // reloads and counts down
    void StopCounter(Clock::time_point now);

    void SetupTrigger(ActionSet actions);
    void StartTriggerWait() { trigger_.waiting = true; }
    void StopTriggerWait() { trigger_.waiting = false; }

    // Runs `actions` once at `at`, in bit order.
    void Run(ActionSet actions, Clock::time_point at);
    // Stops whatever runs (as Abort) and starts `kind` at `now`.
    void StartExposition(Exposition kind, Clock::time_point now);
    Exposition ActiveExposition() const { return exposition_; }
    // Stops every source and any exposition and forgets a frame still being read out;
    // reloads the frame counter.
    void Abort(Clock::time_point now);
    // Forgets every setup, as at power-up. The generators on the inputs keep running: they
    // are outside the interface.
    void Reset();

    // External inputs. A trigger is taken only while the trigger waits for one; counts
    // only while the counter runs.
    void Trigger(Clock::time_point now);
    void ExternalEvents(uint64_t events, Clock::time_point now);
    // Steady generators on the inputs (0 = nothing connected).
    void SetTriggerRate(double perSecond, Clock::time_point now);
    void SetEventRate(double perSecond, Clock::time_point now);

    TimerState Period(Clock::time_point now) const;
    TimerState Interval(Clock::time_point now) const;
    // Counts the events generated up to `now` first.
    TimerState Counter(Clock::time_point now);
    TriggerState TriggerInput() const { return trigger_; }
    FrameCounterState Frames() const { return frames_; }

    // When the next event is due; none when nothing is scheduled.
    std::optional<Clock::time_point> NextDue() const;
    // Fires the earliest event due at `now` or before; false when none is.
    bool FireNext(Clock::time_point now);

private:
    struct Timer {
        bool running = false;
        ActionSet actions = 0;
        uint64_t ticks = 0;
        Clock::time_point due{};
    };
    struct EventCounter {
        bool running = false;
        ActionSet actions = 0;
        uint64_t value = 0;
        uint64_t remaining = 0;
    };
    struct Generator {
        double rate = 0;  // per second
        Clock::time_point last{};
        double fraction = 0;  // of an event, carried between settlements
    };
    enum class Due { kNone, kReadout, kInterval, kPeriod, kCounter, kTrigger };

    Due NextEvent(Clock::time_point& at) const;
    std::optional<Clock::time_point> CounterUnderflowDue() const;
    void FrameRead(Clock::time_point at);
    void StartReadout(Clock::time_point at);
    void BeginExposure(Clock::time_point at);
    void EndExposition();
    // What an exposition does when its sources fire; false when none runs.
    bool ExpositionInterval(Clock::time_point at);
    bool ExpositionPeriod(Clock::time_point at);
    bool ExpositionFrameRead(Clock::time_point at);
    void SettleEvents(Clock::time_point now);
    void CountEvents(uint64_t events, Clock::time_point at);
    void Underflow(Clock::time_point at);
    static TimerState StateOf(const Timer& timer, Clock::time_point now);

    ProcessActions& actions_;
    FrameCounterState frames_;
    Timer period_;
    Timer interval_;
    EventCounter counter_;
    TriggerState trigger_;
    Generator events_;
    double triggerRate_ = 0;
    Clock::time_point nextTrigger_{};
    std::optional<Clock::time_point> readoutDone_;
    Exposition exposition_ = Exposition::kNone;
};

}  // namespace ulvarin::sim
