// Built-in process configurations: the six action sets and the values of a typical
// process, filled in as a whole and sent at once. Choosing one does not start it.
#pragma once

#include <array>
#include <cstdint>

#include "hardware_process/process_settings.h"
#include "wire/action_sets.h"

namespace ulvarin::process {

struct ProcessTemplate {
    const char* name;
    ActionSets actionSet;  // Manual, Frames, Period, Interval, Trigger, Counter
    int32_t frames;
    double period;    // seconds, 0: off
    double interval;  // seconds, 0: off
    bool trigger;     // the trigger selector shows "On"
    int32_t counter;  // events, 0: off
};

constexpr int kTemplateCount = 11;

// The templates in list order; item 0 has an empty name and changes nothing when chosen.
const std::array<ProcessTemplate, kTemplateCount>& ProcessTemplates();

// The value texts a template fills in: frames and counter in decimal, the period as
// "%.5lg", the interval in the shortest general decimal text, and a value of 0 as "Off".
ValueTexts TemplateTexts(const ProcessTemplate& process);

}  // namespace ulvarin::process
