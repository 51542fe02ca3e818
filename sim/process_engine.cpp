#include "sim/process_engine.h"

#include <algorithm>
#include <cmath>

namespace ulvarin::sim {
namespace {

Clock::duration FromTicks(uint64_t ticks) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(static_cast<int64_t>(ticks) * (1'000'000'000 / kTicksPerSecond)));
}

Clock::duration FromSeconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

constexpr uint64_t kMask48 = (uint64_t{1} << 48) - 1;

}  // namespace

void ProcessEngine::SetupFrameCounter(uint32_t count, ActionSet actions) {
    frames_ = {actions, count, count};
}

void ProcessEngine::SetupPeriod(uint64_t ticks, ActionSet actions) {
    period_.ticks = ticks & kMask48;
    period_.actions = actions;
}

void ProcessEngine::StartPeriod(Clock::time_point now) {
    period_.running = true;
    period_.due = now + std::max<Clock::duration>(FromTicks(period_.ticks), kMinPeriod);
}

void ProcessEngine::SetupInterval(uint64_t ticks, ActionSet actions) {
    interval_.ticks = ticks & kMask48;
    interval_.actions = actions;
}

void ProcessEngine::StartInterval(Clock::time_point now) {
    interval_.running = true;
    interval_.due = now + FromTicks(interval_.ticks);
}

void ProcessEngine::SetupCounter(uint64_t events, ActionSet actions) {
    counter_.value = events & kMask48;
    counter_.actions = actions;
}

void ProcessEngine::StartCounter(Clock::time_point now) {
    SettleEvents(now);
    counter_.running = true;
    counter_.remaining = counter_.value;
}

void ProcessEngine::StopCounter(Clock::time_point now) {
    SettleEvents(now);
    counter_.running = false;
}

void ProcessEngine::SetupTrigger(ActionSet actions) {
    trigger_.actions = actions;
    trigger_.count = 0;
}

void ProcessEngine::Run(ActionSet actions, Clock::time_point at) {
    // A C while the chips are still being read out finds nothing new to read.
    if ((actions & action::kCloseShutter) && !readoutDone_) StartReadout(at);
    if (actions & action::kOpenShutter) actions_.OpenShutter(at);
    if (actions & action::kStartInterval) StartInterval(at);
    if (actions & action::kTriggerScope) actions_.TriggerScope(at);
    if (actions & action::kWaitTrigger) StartTriggerWait();
    if (actions & action::kWaitCount) StartCounter(at);
    if (actions & action::kCommand1) actions_.RunActionCommand(0, at);
    if (actions & action::kCommand2) actions_.RunActionCommand(1, at);
}

void ProcessEngine::StartReadout(Clock::time_point at) {
    actions_.CloseShutterAndSendFrame(at);
    readoutDone_ = at + kReadoutTime;
}

void ProcessEngine::Abort(Clock::time_point now) {
    StopPeriod();
    StopInterval();
    StopCounter(now);
    StopTriggerWait();
    readoutDone_.reset();
    ReloadFrameCounter();
    exposition_ = Exposition::kNone;
}

void ProcessEngine::StartExposition(Exposition kind, Clock::time_point now) {
    Abort(now);
    exposition_ = kind;
    if (kind == Exposition::kNone) return;
    actions_.EraseCounters(now);
    if (kind == Exposition::kPeriodic || kind == Exposition::kOscillating ||
        kind == Exposition::kPeriodicErase)
        StartPeriod(now);
    if (kind == Exposition::kPeriodicErase) {
        actions_.OpenShutter(now);
        StartTriggerWait();
        return;
    }
    BeginExposure(now);
}

void ProcessEngine::BeginExposure(Clock::time_point at) {
    actions_.OpenShutter(at);
    StartInterval(at);
}

void ProcessEngine::EndExposition() {
    exposition_ = Exposition::kNone;
    ReloadFrameCounter();
    StopPeriod();
    StopInterval();
    StopTriggerWait();
}

// The end of an exposure: read it out, or (oscillating) close until the next period and
// read out the sum after the last opening.
bool ProcessEngine::ExpositionInterval(Clock::time_point at) {
    switch (exposition_) {
        case Exposition::kNone:
            return false;
        case Exposition::kOscillating:
            actions_.CloseShutter(at);
            if (frames_.current == 0) {
                StartReadout(at);
            } else {
                --frames_.current;
            }
            return true;
        case Exposition::kPeriodicErase:
            return true;  // the interval takes no part
        case Exposition::kSingle:
        case Exposition::kMultiple:
        case Exposition::kPeriodic:
            StartReadout(at);
            return true;
    }
    return false;
}

bool ProcessEngine::ExpositionPeriod(Clock::time_point at) {
    switch (exposition_) {
        case Exposition::kPeriodic:
        case Exposition::kOscillating:
            if (!interval_.running && !readoutDone_) BeginExposure(at);
            return true;
        case Exposition::kPeriodicErase:
            actions_.PeriodicErase(at);
            return true;
        case Exposition::kNone:
        case Exposition::kSingle:
        case Exposition::kMultiple:
            break;
    }
    return false;
}

// A frame of an exposition has been read out: count it and go on, or end.
bool ProcessEngine::ExpositionFrameRead(Clock::time_point at) {
    switch (exposition_) {
        case Exposition::kNone:
            return false;
        case Exposition::kMultiple:
        case Exposition::kPeriodic:
            if (frames_.current > 0) {
                --frames_.current;
                if (exposition_ == Exposition::kMultiple) BeginExposure(at);
                return true;
            }
            break;
        case Exposition::kSingle:
        case Exposition::kOscillating:
        case Exposition::kPeriodicErase:
            break;
    }
    EndExposition();
    return true;
}

void ProcessEngine::Reset() {
    frames_ = {};
    period_ = {};
    interval_ = {};
    counter_ = {};
    trigger_ = {};
    readoutDone_.reset();
    exposition_ = Exposition::kNone;
}

// A frame has been read: count it and run the Frames set, or end the process after its
// last frame by stopping every source (the counter reloads for the next process).
void ProcessEngine::FrameRead(Clock::time_point at) {
    readoutDone_.reset();
    if (ExpositionFrameRead(at)) return;
    if (frames_.current > 0) {
        --frames_.current;
        Run(frames_.actions, at);
        return;
    }
    frames_.current = frames_.loaded;
    StopPeriod();
    StopInterval();
    StopCounter(at);
    StopTriggerWait();
}

void ProcessEngine::Trigger(Clock::time_point now) {
    if (!trigger_.waiting) return;
    trigger_.waiting = false;
    ++trigger_.count;
    if (exposition_ == Exposition::kPeriodicErase) {
        StopPeriod();
        if (!readoutDone_) StartReadout(now);
        return;
    }
    Run(trigger_.actions, now);
}

void ProcessEngine::ExternalEvents(uint64_t events, Clock::time_point now) {
    SettleEvents(now);
    CountEvents(events, now);
}

void ProcessEngine::SetTriggerRate(double perSecond, Clock::time_point now) {
    triggerRate_ = std::max(0.0, perSecond);
    if (triggerRate_ > 0) nextTrigger_ = now + FromSeconds(1.0 / triggerRate_);
}

void ProcessEngine::SetEventRate(double perSecond, Clock::time_point now) {
    SettleEvents(now);
    events_.rate = std::max(0.0, perSecond);
}

// Counts the events the generator has made since it was last settled.
void ProcessEngine::SettleEvents(Clock::time_point now) {
    if (events_.rate <= 0 || now <= events_.last) {
        events_.last = std::max(events_.last, now);
        return;
    }
    const double made =
        std::chrono::duration<double>(now - events_.last).count() * events_.rate + events_.fraction;
    const double whole = std::floor(made);
    events_.fraction = made - whole;
    events_.last = now;
    CountEvents(static_cast<uint64_t>(std::min(whole, 1e18)), now);
}

void ProcessEngine::CountEvents(uint64_t events, Clock::time_point at) {
    if (!counter_.running || events == 0) return;
    if (events < counter_.remaining) {
        counter_.remaining -= events;
        return;
    }
    Underflow(at);
}

void ProcessEngine::Underflow(Clock::time_point at) {
    counter_.running = false;
    counter_.remaining = 0;
    Run(counter_.actions, at);
}

std::optional<Clock::time_point> ProcessEngine::CounterUnderflowDue() const {
    if (!counter_.running) return std::nullopt;
    if (counter_.remaining == 0) return events_.last;  // loaded with 0: underflows at once
    if (events_.rate <= 0) return std::nullopt;
    const double wait = (static_cast<double>(counter_.remaining) - events_.fraction) / events_.rate;
    return events_.last + FromSeconds(std::max(0.0, wait));
}

ProcessEngine::Due ProcessEngine::NextEvent(Clock::time_point& at) const {
    Due next = Due::kNone;
    auto consider = [&](bool active, Clock::time_point due, Due kind) {
        if (active && (next == Due::kNone || due < at)) {
            next = kind;
            at = due;
        }
    };
    // Listed in the order that wins a tie.
    consider(readoutDone_.has_value(), readoutDone_.value_or(Clock::time_point{}), Due::kReadout);
    consider(interval_.running, interval_.due, Due::kInterval);
    consider(period_.running, period_.due, Due::kPeriod);
    const auto underflow = CounterUnderflowDue();
    consider(underflow.has_value(), underflow.value_or(Clock::time_point{}), Due::kCounter);
    consider(triggerRate_ > 0, nextTrigger_, Due::kTrigger);
    return next;
}

std::optional<Clock::time_point> ProcessEngine::NextDue() const {
    Clock::time_point at{};
    if (NextEvent(at) == Due::kNone) return std::nullopt;
    return at;
}

bool ProcessEngine::FireNext(Clock::time_point now) {
    Clock::time_point at{};
    const Due next = NextEvent(at);
    if (next == Due::kNone || at > now) return false;
    switch (next) {
        case Due::kReadout:
            FrameRead(at);
            break;
        case Due::kInterval:
            interval_.running = false;
            if (!ExpositionInterval(at)) Run(interval_.actions, at);
            break;
        case Due::kPeriod:
            period_.due = at + std::max<Clock::duration>(FromTicks(period_.ticks), kMinPeriod);
            if (!ExpositionPeriod(at)) Run(period_.actions, at);
            break;
        case Due::kCounter:
            SettleEvents(at);
            if (counter_.running) Underflow(at);
            break;
        case Due::kTrigger:
            nextTrigger_ = at + FromSeconds(1.0 / triggerRate_);
            Trigger(at);
            break;
        case Due::kNone:
            break;
    }
    return true;
}

TimerState ProcessEngine::StateOf(const Timer& timer, Clock::time_point now) {
    TimerState state{timer.running, timer.actions, timer.ticks, 0};
    if (timer.running) state.remaining = ToTicks(timer.due - now);
    return state;
}

TimerState ProcessEngine::Period(Clock::time_point now) const {
    return StateOf(period_, now);
}

TimerState ProcessEngine::Interval(Clock::time_point now) const {
    return StateOf(interval_, now);
}

TimerState ProcessEngine::Counter(Clock::time_point now) {
    SettleEvents(now);
    return {counter_.running, counter_.actions, counter_.value,
            counter_.running ? counter_.remaining : 0};
}

}  // namespace ulvarin::sim
