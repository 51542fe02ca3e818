// The hardware process on the interface: configuring its sources from the settings and
// reading their state back into them. Every command is one device operation; failures are
// reported by the device layer into the handle.
#pragma once

#include "device/device.h"
#include "hardware_process/process_settings.h"

namespace ulvarin::process {

// Sends the settings of the sources `selector` names (kAllSources or 1 to 5), in source
// order: the frame counter with FrameCounterLoad(frames); the period and interval timers
// and the counter, each stopped first when its value is off (0 or less), then set up with
// its value (an off timer goes out as one tick); the trigger's set. Values are sent as they
// are: normalise them first. Returns whether every command succeeded.
bool ConfigureSources(MpxDevice& device, const ProcessSettings& settings, int selector);

// What a state read changed; each flag marks a member whose control is to be rewritten.
struct StateChanges {
    bool frames = false;
    bool framesLeft = false;
    bool periodRunning = false;
    bool period = false;
    bool periodLeft = false;
    bool intervalRunning = false;
    bool interval = false;
    bool intervalLeft = false;
    bool triggerRunning = false;
    bool triggerCount = false;
    bool counterRunning = false;
    bool counter = false;
    bool counterLeft = false;
    int asked = 0;     // state queries sent
    int answered = 0;  // of which succeeded
};

// Queries the state of the sources `selector` names: kEverySource every source,
// kAllSources the frame counter and every source whose running flag is set, 1 to 5 that
// source. A member changes only when the value read differs, so a text being typed is
// left alone while the interface's state stays the same; a source whose query fails is
// left as it was.
//  - frames = loaded count + 1, framesLeft = current count + 1;
//  - a timer or the counter that is not running has -1 left (the trigger a count of 0);
//  - a timer value counts as changed only when it holds another tick load than the member
//    is sent as, and is then kept as ReadBackTime (as read when one tick or less).
StateChanges ReadSourceStates(MpxDevice& device, int selector, ProcessSettings& settings);

}  // namespace ulvarin::process
