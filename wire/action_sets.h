// Process actions and the sources that run them. The interface carries out an action set
// when its source fires: the manual set once when a process starts, the others when the
// frame counter counts a frame, a timer expires, a trigger arrives or the event counter
// underflows.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ulvarin::process {

// Bit i set means action i: C, O, I, S, T, W, 1, 2 (close and open the shutter, start the
// interval timer, trigger the scope, wait for a trigger, wait for a count, make action
// command 1 or 2).
using ActionSet = uint8_t;

constexpr int kActionCount = 8;
constexpr ActionSet kCloseShutter = 0x01;
constexpr ActionSet kOpenShutter = 0x02;
constexpr ActionSet kStartInterval = 0x04;

// The letters of the set's bits in bit order, without separators: 0x06 gives "OI", an
// empty set "".
std::string ActionCaption(ActionSet set);
// The menu item of action `bit` (0 to 7), e.g. "Close shutter (C)"; "" outside.
const char* ActionItemCaption(int bit);

// The six sources in their fixed order; the number is also the selector of the settings
// and state operations.
enum ActionSource : int { kManual, kFrames, kPeriod, kInterval, kTrigger, kCounter };
constexpr int kActionSources = 6;

using ActionSets = std::array<ActionSet, kActionSources>;

// The sets a window starts with: O and I for every source but Interval and Counter, which
// close the shutter.
constexpr ActionSets kInitialActionSets = {0x06, 0x06, 0x06, 0x01, 0x06, 0x01};

}  // namespace ulvarin::process
