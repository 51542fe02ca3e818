#include "hardware_process/process_templates.h"

#include <string>

#include "base/number_text.h"

namespace ulvarin::process {

const std::array<ProcessTemplate, kTemplateCount>& ProcessTemplates() {
    // Sets by letter: C 0x01, O 0x02, I 0x04, S 0x08, T 0x10, W 0x20, 1 0x40, 2 0x80.
    // clang-format off
    static const std::array<ProcessTemplate, kTemplateCount> kTemplates = {{
        {"",                              {0, 0, 0, 0, 0, 0},                   0,     0,    0, false, 0},
        {"Empty",                         {0, 0, 0, 0, 0, 0},                   0,     0,    0, false, 0},
        {"Single frame",                  {0x06, 0, 0, 0x01, 0, 0},             1,     0,    1, false, 0},
        {"Multiple frames",               {0x06, 0x06, 0, 0x01, 0, 0},          10,    0,    1, false, 0},
        {"Fixed frame rate",              {0x06, 0, 0x06, 0x01, 0, 0},          10,    10,   5, false, 0},
        {"Trigger starts exposition",     {0x10, 0x10, 0, 0x01, 0x06, 0},       10,    0,    1, true,  0},
        {"Trigger stops exposition",      {0x12, 0x12, 0, 0, 0x09, 0},          10,    0,    0, true,  0},
        {"Trigger stops, periodic erase", {0x80, 0x80, 0, 0x80, 0x88, 0},       10000, 0,    1, true,  0},
        {"Counter stops exposition",      {0x22, 0x22, 0, 0, 0, 0x01},          10,    0,    0, false, 100},
        {"Triggered scope",               {0x10, 0, 0, 0, 0x18, 0},             0,     0,    0, true,  0},
        {"Periodic scope",                {0, 0, 0x08, 0, 0, 0},                0,     0.05, 0, false, 0},
    }};
    // clang-format on
    return kTemplates;
}

ValueTexts TemplateTexts(const ProcessTemplate& process) {
    const auto offOr = [](bool on, std::string text) { return on ? text : std::string("Off"); };
    return {std::to_string(process.frames),
            offOr(process.period != 0, FormatDouble("%.5lg", process.period)),
            offOr(process.interval != 0, FormatNumber(process.interval)),
            offOr(process.counter != 0, std::to_string(process.counter))};
}

}  // namespace ulvarin::process
