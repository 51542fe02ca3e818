// The process group: setup, start, stop and state of the frame counter, the period and
// interval timers, the trigger and the event counter; the manual action set; the built-in
// expositions; abort.
#include "sim/command_handlers.h"

namespace ulvarin::sim {
namespace {

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Running flag, action set, value and remaining, both 48 bits.
std::vector<uint8_t> TimerReply(const TimerState& s) {
    std::vector<uint8_t> out{static_cast<uint8_t>(s.running ? 1 : 0), s.actions};
    Put(out, s.value, 6);
    Put(out, s.remaining, 6);
    return out;
}

}  // namespace

struct CommandHandlers::Process {
    // Six bytes of ticks or events, then the action set.
    static void Setup(Iface& e, const Cmd& c) {
        const uint64_t value = LittleEndian(c.params.first(6));
        const ActionSet actions = c.params[6];
        ProcessEngine& p = e.engine_;
        if (c.letter() == 'Z') p.SetupInterval(value, actions);
        if (c.letter() == 'V') p.SetupPeriod(value, actions);
        if (c.letter() == 'K') p.SetupCounter(value, actions);
        Acknowledge(e, c);
    }

    // Four bytes of count, then the action set.
    static void SetupFrameCounter(Iface& e, const Cmd& c) {
        e.engine_.SetupFrameCounter(static_cast<uint32_t>(LittleEndian(c.params.first(4))),
                                    c.params[4]);
        Acknowledge(e, c);
    }

    // "y" restarts the interval timer like "H".
    static void StartStop(Iface& e, const Cmd& c) {
        ProcessEngine& p = e.engine_;
        switch (c.letter()) {
            case 'H':
            case 'y': p.StartInterval(c.now); break;
            case 'Y': p.StopInterval(); break;
            case 'u': p.StartPeriod(c.now); break;
            case 'U': p.StopPeriod(); break;
            case 'j': p.StartCounter(c.now); break;
            case 'J': p.StopCounter(c.now); break;
            case 'l': p.StartTriggerWait(); break;
            case 'L': p.StopTriggerWait(); break;
            case 'Q': p.SetupTrigger(c.params[0]); break;
            case '@': p.ReloadFrameCounter(); break;
            default: break;
        }
        Acknowledge(e, c);
    }

    // The built-in expositions run on the timers and the frame counter as set up; the
    // answer comes before anything they send.
    static void StartExposition(Iface& e, const Cmd& c) {
        Acknowledge(e, c);
        e.engine_.StartExposition(ExpositionOf(c.letter()), c.now);
    }
    static Exposition ExpositionOf(uint8_t letter) {
        switch (letter) {
            case 'g': return Exposition::kSingle;
            case 'h': return Exposition::kMultiple;
            case '&': return Exposition::kPeriodic;
            case '.': return Exposition::kOscillating;
            case '=': return Exposition::kPeriodicErase;
            default: return Exposition::kNone;
        }
    }

    static void MakeToDo(Iface& e, const Cmd& c) {
        Acknowledge(e, c);
        e.engine_.Run(c.params[0], c.now);
    }

    // Stops every source and exposition and closes the shutter without reading the chips:
    // the counters keep what they counted, for a plain read.
    static void Abort(Iface& e, const Cmd& c) {
        e.engine_.Abort(c.now);
        e.CloseShutterAt(c.now);
        Acknowledge(e, c);
    }

    static void TimerStateReply(Iface& e, const Cmd& c) {
        ProcessEngine& p = e.engine_;
        const TimerState s = c.letter() == 'z'   ? p.Interval(c.now)
                             : c.letter() == 'v' ? p.Period(c.now)
                                                 : p.Counter(c.now);
        e.Answer(c, TimerReply(s));
    }

    // Waiting flag, action set, a byte kept 0, the trigger count (32 bits).
    static void TriggerStateReply(Iface& e, const Cmd& c) {
        const TriggerState s = e.engine_.TriggerInput();
        std::vector<uint8_t> out{static_cast<uint8_t>(s.waiting ? 1 : 0), s.actions, 0};
        Put(out, s.count, 4);
        e.Answer(c, out);
    }

    // Action set, loaded count, current count (32 bits each).
    static void FrameCounterReply(Iface& e, const Cmd& c) {
        const FrameCounterState s = e.engine_.Frames();
        std::vector<uint8_t> out{s.actions};
        Put(out, s.loaded, 4);
        Put(out, s.current, 4);
        e.Answer(c, out);
    }
};

void CommandHandlers::AddProcess(Table& t) {
    t['Z'] = t['V'] = t['K'] = &Process::Setup;
    t['('] = &Process::SetupFrameCounter;
    for (uint8_t letter : {'H', 'y', 'Y', 'u', 'U', 'j', 'J', 'l', 'L', 'Q', '@'})
        t[letter] = &Process::StartStop;
    t['~'] = &Process::MakeToDo;
    for (uint8_t letter : {'g', 'h', '&', '.', '='}) t[letter] = &Process::StartExposition;
    t['G'] = &Process::Abort;
    t['z'] = t['v'] = t['k'] = &Process::TimerStateReply;
    t['q'] = &Process::TriggerStateReply;
    t[')'] = &Process::FrameCounterReply;
}

}  // namespace ulvarin::sim
