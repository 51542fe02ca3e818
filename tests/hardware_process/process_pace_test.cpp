// How long the window waits for a process's next frame before it takes the process as
// stalled: the built-in templates as the operator would run them, and the sets and values
// that change the pace.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>

#include "hardware_process/process_settings.h"
#include "hardware_process/process_templates.h"

namespace ulvarin::process {
namespace {

ProcessSettings FromTemplate(const ProcessTemplate& t) {
    ProcessSettings s;
    s.actionSet = t.actionSet;
    s.frames = t.frames;
    s.period = t.period;
    s.interval = t.interval;
    s.counter = t.counter;
    return s;
}

TEST(ProcessPace, TimedTemplatesArePacedByTheirTimersTheOthersNot) {
    constexpr std::optional<double> kNotWatched;
    const struct {
        const char* name;
        std::optional<double> pace;
    } kCases[] = {
        {"Empty", kNotWatched},  // no set closes the shutter: no frame to wait for
        {"Single frame", 1.0},
        {"Multiple frames", 1.0},
        {"Fixed frame rate", 10.0},  // a frame per period, exposed for half of it
        {"Trigger starts exposition", kNotWatched},
        {"Trigger stops exposition", kNotWatched},
        {"Trigger stops, periodic erase", kNotWatched},
        {"Counter stops exposition", kNotWatched},
        {"Triggered scope", kNotWatched},
        {"Periodic scope", kNotWatched},  // scope shots, no frames
    };
    int checked = 0;
    for (const ProcessTemplate& t : ProcessTemplates()) {
        for (const auto& c : kCases) {
            if (std::string(c.name) != t.name) continue;
            EXPECT_EQ(FramePace(FromTemplate(t)), c.pace) << c.name;
            ++checked;
        }
    }
    EXPECT_EQ(checked, static_cast<int>(std::size(kCases)));
}

TEST(ProcessPace, WaitingForTheOutsideAnywhereLeavesTheProcessUnwatched) {
    ProcessSettings s;
    s.actionSet = {0x06, 0x06, 0, 0x01, 0, 0};
    s.interval = 0.05;
    s.period = 0;  // off
    EXPECT_EQ(FramePace(s), 0.05);
    for (int source = 0; source < kActionSources; ++source) {
        for (ActionSet wait : {ActionSet{0x10}, ActionSet{0x20}}) {
            ProcessSettings waiting = s;
            waiting.actionSet[static_cast<size_t>(source)] |= wait;
            EXPECT_EQ(FramePace(waiting), std::nullopt) << source << " " << static_cast<int>(wait);
        }
    }
    // Timers that are off count as no time: the frame is due at once.
    s.interval = 0;
    EXPECT_EQ(FramePace(s), 0.0);
    EXPECT_DOUBLE_EQ(StallLimit(0.0), 5.0);
    EXPECT_DOUBLE_EQ(StallLimit(0.05), 5.1);
    EXPECT_DOUBLE_EQ(StallLimit(-1.0), 5.0);
}

}  // namespace
}  // namespace ulvarin::process
