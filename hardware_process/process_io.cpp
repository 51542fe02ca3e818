#include "hardware_process/process_io.h"

#include "device/clock.h"
#include "device/interface_commands.h"
#include "device/link.h"

namespace ulvarin::process {
namespace {

using Settings = ProcessSettings;
using Changes = StateChanges;

// The period and interval timers and the event counter share their commands' shapes; this
// is what differs between them.
struct ValueSource {
    int source;
    double Settings::*value;
    double Settings::*left;
    bool Settings::*running;
    bool Changes::*valueChanged;
    bool Changes::*leftChanged;
    bool Changes::*runningChanged;
    bool (*stop)(MpxDevice&);
    bool (*setup)(MpxDevice&, double, uint8_t);
    bool (*state)(MpxDevice&, bool*, uint8_t*, double*, double*);
    bool isTime;  // seconds in ticks; the counter counts events
};

const ValueSource kValueSources[] = {
    {kPeriod, &Settings::period, &Settings::periodLeft, &Settings::periodRunning, &Changes::period,
     &Changes::periodLeft, &Changes::periodRunning, StopPeriodTimer, SetupPeriodTimer,
     PeriodTimerState, true},
    {kInterval, &Settings::interval, &Settings::intervalLeft, &Settings::intervalRunning,
     &Changes::interval, &Changes::intervalLeft, &Changes::intervalRunning, StopIntervalTimer,
     SetupIntervalTimer, IntervalTimerState, true},
    {kCounter, &Settings::counter, &Settings::counterLeft, &Settings::counterRunning,
     &Changes::counter, &Changes::counterLeft, &Changes::counterRunning, StopCounter, SetupCounter,
     CounterState, false},
};

const ValueSource& ValueSourceOf(int source) {
    for (const ValueSource& v : kValueSources)
        if (v.source == source) return v;
    return kValueSources[0];  // not reached: callers pass period, interval or counter
}

uint8_t ClockCode(const MpxDevice& device) {
    return registry::Contains(device.device) ? device.device->clockCode : 3;
}

// Stores `value` into `member` and flags it when it differs.
template <class T>
void Take(T value, T& member, bool& changed) {
    if (value == member) return;
    member = value;
    changed = true;
}

void ReadFrames(MpxDevice& device, Settings& s, Changes& c) {
    ++c.asked;
    uint32_t loaded = 0;
    uint32_t current = 0;
    if (!FrameCounterState(device, nullptr, &loaded, &current)) return;
    ++c.answered;
    Take(static_cast<int32_t>(loaded + 1u), s.frames, c.frames);
    Take(current + 1u, s.framesLeft, c.framesLeft);
}

void ReadTrigger(MpxDevice& device, Settings& s, Changes& c) {
    ++c.asked;
    bool running = false;
    uint32_t count = 0;
    if (!TriggerState(device, &running, nullptr, nullptr, &count)) return;
    ++c.answered;
    Take(running, s.triggerRunning, c.triggerRunning);
    Take(running ? count : 0u, s.triggerCount, c.triggerCount);
}

void ReadValueSource(MpxDevice& device, const ValueSource& v, Settings& s, Changes& c) {
    ++c.asked;
    bool running = false;
    double value = 0.0;
    double remaining = 0.0;
    if (!v.state(device, &running, nullptr, &value, &remaining)) return;
    ++c.answered;
    Take(running, s.*v.running, c.*v.runningChanged);
    if (v.isTime) {
        // Compared as loads: a time read back is a whole number of ticks and never equals
        // the seconds typed, and keeping its raw value would shorten the time by the
        // start-up delay on every start.
        const uint8_t clock = ClockCode(device);
        if (!SameTimerLoad(value, s.*v.value, clock)) {
            s.*v.value = value > kOneTickLimit ? ReadBackTime(value, clock) : value;
            c.*v.valueChanged = true;
        }
    } else {
        Take(value, s.*v.value, c.*v.valueChanged);
    }
    Take(running ? remaining : -1.0, s.*v.left, c.*v.leftChanged);
}

}  // namespace

bool ConfigureSources(MpxDevice& device, const ProcessSettings& settings, int selector) {
    bool ok = true;
    const auto sent = [&ok](bool result) { ok = result && ok; };
    for (int source = kFrames; source <= kCounter; ++source) {
        if (selector != kAllSources && selector != source) continue;
        const ActionSet set = settings.actionSet[source];
        if (source == kFrames) {
            sent(SetupFrameCounter(device, FrameCounterLoad(settings.frames), set));
        } else if (source == kTrigger) {
            sent(SetupTrigger(device, set));
        } else {
            const ValueSource& v = ValueSourceOf(source);
            const double value = settings.*v.value;
            const bool off = !(value > 0.0);
            if (off) sent(v.stop(device));
            // Off goes out as 0 (one tick for a timer); a negative time would load 1 s.
            sent(v.setup(device, off ? 0.0 : value, set));
        }
    }
    return ok;
}

StateChanges ReadSourceStates(MpxDevice& device, int selector, ProcessSettings& settings) {
    StateChanges changes;
    // A query left unanswered until its timeout means a silent interface: the others would
    // only wait out theirs too, on the thread that polls (the window's).
    const double timeout = DefaultTimeout(device);
    double started = Now();
    int answeredBefore = 0;
    const auto silent = [&] {
        const bool failed = changes.asked > 0 && changes.answered == answeredBefore;
        const bool waitedOut = failed && Now() - started >= 0.8 * timeout;
        started = Now();
        answeredBefore = changes.answered;
        return waitedOut;
    };
    if (selector <= kEverySource || selector == kFrames) ReadFrames(device, settings, changes);
    for (int source = kPeriod; source <= kCounter; ++source) {
        if (silent()) break;
        const bool running =
            source == kTrigger ? settings.triggerRunning : settings.*ValueSourceOf(source).running;
        if (selector != kEverySource && selector != source && !(selector == kAllSources && running))
            continue;
        if (source == kTrigger)
            ReadTrigger(device, settings, changes);
        else
            ReadValueSource(device, ValueSourceOf(source), settings, changes);
    }
    return changes;
}

}  // namespace ulvarin::process
