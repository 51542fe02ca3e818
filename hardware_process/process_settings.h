// The hardware process as the window keeps it: the action sets, the values the operator
// typed for the sources, the state last read back from the interface, and the rules by which
// the value texts are read, normalised and written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/action_sets.h"

namespace ulvarin::process {

// Selectors of the settings and state operations besides the source numbers 1 to 5.
constexpr int kAllSources = -1;  // settings: every source; state: the frame counter and
                                 // every source whose running flag is set
constexpr int kEverySource = 0;  // state: every source

struct ProcessSettings {
    ActionSets actionSet = kInitialActionSets;
    // Letters of the interface's action commands 1 and 2; only stored with the
    // configuration, never sent.
    char actionCommand1 = '+';
    char actionCommand2 = '-';
    int32_t frames = 1;       // frames to take
    uint32_t framesLeft = 0;  // frame counter read back
    double period = -1.0;     // seconds; 0 or less: off
    double periodLeft = 0.0;  // seconds; -1 while stopped
    double interval = 1.0;
    double intervalLeft = 0.0;
    double counter = -1.0;     // events; 0 or less: off
    double counterLeft = 0.0;  // events; -1 while stopped
    uint32_t triggerCount = 0;
    bool periodRunning = false;
    bool intervalRunning = false;
    bool triggerRunning = false;
    bool counterRunning = false;
    // "Start process" started a process that has not ended.
    bool processRunning = false;
    // An action menu was shown; its check marks are taken at the next timer tick.
    bool actionMenuShown = false;
};

// Whether the interface last reported a timer, the trigger wait or the counter running.
bool AnySourceRunning(const ProcessSettings& settings);

// --- following a process -------------------------------------------------------------------

// The longest a frame of the process takes when the interface's own timers pace its frames:
// the interval timer's exposure, or the period when that is longer (0 when neither is on: the
// frame comes at once). Nullopt when no set closes the shutter (the process sends no frames
// to wait for) or a set waits for a trigger or an event count (the world outside sets the
// pace, and may rightly keep it waiting for ever).
std::optional<double> FramePace(const ProcessSettings& settings);

// How long a process whose frames come every `pace` seconds may go without one before it is
// taken as stalled: twice the pace, and a margin for the link's command deadlines (about a
// second each) and a busy window.
double StallLimit(double pace);

// --- value texts ---------------------------------------------------------------------------

// The longest time and the largest count the interface's 48-bit timers and counter hold;
// larger values are sent as these rather than wrapped.
constexpr double kMaxTimerSeconds = 281474976710655.0 / 20000000.0;
constexpr double kMaxCount = 281474976710655.0;

// Frames: the integer the text starts with, or `previous` when it starts with none.
int32_t ParseFrames(std::string_view text, int32_t previous);
// The frame counter load for `frames` frames: frames - 1 in 32 bits (0 frames loads
// 0xFFFFFFFF, a process that goes on until stopped).
uint32_t FrameCounterLoad(int32_t frames);

// Period and interval: the seconds the text starts with; 0 (off) when it starts with no
// number or with one that is not above 0 or not finite; at most kMaxTimerSeconds.
double ParseTime(std::string_view text);
// Counter: the events the text starts with, with the same rules; at most kMaxCount.
double ParseCount(std::string_view text);

// "%.5lg" of a time above 0, else "Off".
std::string TimeText(double seconds);
// The shortest general decimal text (up to 15 significant digits) of a value above 0,
// else "Off".
std::string NumberOrOff(double value);

// The texts of the value controls, as typed or as written back.
struct ValueTexts {
    std::string frames;    // EditRepeat
    std::string period;    // CombPeriod
    std::string interval;  // CombInterval
    std::string counter;   // CombCounter
};

// Reads the texts of the sources `selector` names (kAllSources or 1 to 5) into `settings`
// and rewrites them normalised: a frames text without a number keeps the previous number;
// a time or count that is not a positive number becomes "Off" and its value 0.
void NormaliseValues(ProcessSettings& settings, ValueTexts& texts, int selector);
// The texts that show `settings`' values (0 or less as "Off").
ValueTexts ValueTextsOf(const ProcessSettings& settings);

// --- state read back ------------------------------------------------------------------------

// A timer value read back at or below this (one tick, what an off timer is loaded with)
// shows as off.
constexpr double kOneTickLimit = 0.00000006;

// The ticks a timer set-up loads for `seconds` on an interface with `clockCode`.
uint64_t TimerTicks(double seconds, uint8_t clockCode);
// The time to keep for a timer value read back as `seconds` (ticks / clock): the shortest
// decimal time of up to five significant digits that loads the same ticks, else the middle
// of its tick plus the start-up delay the set-up takes off. Sent again, it loads the same
// ticks.
double ReadBackTime(double seconds, uint8_t clockCode);
// Whether a timer read back as `seconds` holds the load that `value` is sent as.
bool SameTimerLoad(double seconds, double value, uint8_t clockCode);

// A timer value read back: "%.5lg" above one tick, else "Off".
std::string StateTimeText(double seconds);
// Remaining time: the whole seconds, truncated, when 0 or more, else "Off".
std::string RemainingTimeText(double seconds);
// Remaining count: the general decimal text when 0 or more, else "Off".
std::string RemainingCountText(double count);
// Trigger count: decimal above 0, else "Off".
std::string TriggerCountText(uint32_t count);

}  // namespace ulvarin::process
