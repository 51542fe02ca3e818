#include "hardware_process/process_settings.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/number_text.h"
#include "device/conversions.h"

namespace ulvarin::process {
namespace {

// The interface starts its timers this much after a set-up's tick count; the set-up takes
// it off the time sent.
constexpr double kStartDelay = 0.0000053;

// The number a text starts with when it is a finite positive one, at most `max`; else 0.
double ParsePositive(std::string_view text, double max) {
    const std::optional<double> value = LeadingDouble(text);
    if (!value || !std::isfinite(*value) || !(*value > 0.0)) return 0.0;
    return std::min(*value, max);
}

// How the value of a timer or the counter is read from its text and written back.
struct ValueRule {
    int source;
    double ProcessSettings::*value;
    std::string ValueTexts::*text;
    double (*parse)(std::string_view);
    std::string (*format)(double);
};

const ValueRule kValueRules[] = {
    {kPeriod, &ProcessSettings::period, &ValueTexts::period, ParseTime, TimeText},
    {kInterval, &ProcessSettings::interval, &ValueTexts::interval, ParseTime, TimeText},
    {kCounter, &ProcessSettings::counter, &ValueTexts::counter, ParseCount, NumberOrOff},
};

}  // namespace

bool AnySourceRunning(const ProcessSettings& settings) {
    return settings.periodRunning || settings.intervalRunning || settings.triggerRunning ||
           settings.counterRunning;
}

std::optional<double> FramePace(const ProcessSettings& settings) {
    // Action bits beside C, O and I: T waits for a trigger, W for an event count.
    constexpr ActionSet kWaitTrigger = 0x10, kWaitCount = 0x20;
    bool closes = false;
    for (ActionSet set : settings.actionSet) {
        if (set & (kWaitTrigger | kWaitCount)) return std::nullopt;
        closes = closes || (set & kCloseShutter) != 0;
    }
    if (!closes) return std::nullopt;
    return std::max({0.0, settings.interval, settings.period});
}

double StallLimit(double pace) {
    constexpr double kMarginSeconds = 5.0;
    return 2.0 * std::max(0.0, pace) + kMarginSeconds;
}

int32_t ParseFrames(std::string_view text, int32_t previous) {
    return LeadingInteger(text).value_or(previous);
}

uint32_t FrameCounterLoad(int32_t frames) {
    return static_cast<uint32_t>(frames) - 1u;
}

double ParseTime(std::string_view text) {
    return ParsePositive(text, kMaxTimerSeconds);
}

double ParseCount(std::string_view text) {
    return ParsePositive(text, kMaxCount);
}

std::string TimeText(double seconds) {
    return seconds > 0.0 ? FormatDouble("%.5lg", seconds) : "Off";
}

std::string NumberOrOff(double value) {
    return value > 0.0 ? FormatNumber(value) : "Off";
}

void NormaliseValues(ProcessSettings& settings, ValueTexts& texts, int selector) {
    const auto selected = [selector](int source) {
        return selector == kAllSources || selector == source;
    };
    if (selected(kFrames)) {
        settings.frames = ParseFrames(texts.frames, settings.frames);
        texts.frames = std::to_string(settings.frames);
    }
    for (const ValueRule& rule : kValueRules) {
        if (!selected(rule.source)) continue;
        settings.*rule.value = rule.parse(texts.*rule.text);
        texts.*rule.text = rule.format(settings.*rule.value);
    }
}

ValueTexts ValueTextsOf(const ProcessSettings& settings) {
    return {std::to_string(settings.frames), TimeText(settings.period), TimeText(settings.interval),
            NumberOrOff(settings.counter)};
}

uint64_t TimerTicks(double seconds, uint8_t clockCode) {
    if (!std::isfinite(seconds)) seconds = 0.0;  // a value from outside may be anything
    uint8_t bytes[6];
    SecondsToBytes(seconds, clockCode, bytes);
    return BytesToNumber48(bytes);
}

double ReadBackTime(double seconds, uint8_t clockCode) {
    const double clock = TimerClock(clockCode);
    const double ticks = std::round(seconds * clock);
    const double middle = (ticks + 0.5) / clock + kStartDelay;
    // The shortest text that loads the same ticks: 1 s reads as 1, not 1.000000025.
    for (const char* format : {"%.1lg", "%.2lg", "%.3lg", "%.4lg", "%.5lg"}) {
        const std::optional<double> shown = ParseNumber(FormatDouble(format, middle));
        if (shown && static_cast<double>(TimerTicks(*shown, clockCode)) == ticks) return *shown;
    }
    return middle;
}

bool SameTimerLoad(double seconds, double value, uint8_t clockCode) {
    const double ticks = std::round(seconds * TimerClock(clockCode));
    return static_cast<double>(TimerTicks(value, clockCode)) == ticks;
}

std::string StateTimeText(double seconds) {
    return seconds > kOneTickLimit ? FormatDouble("%.5lg", seconds) : "Off";
}

std::string RemainingTimeText(double seconds) {
    return seconds >= 0.0 ? FormatNumber(std::trunc(seconds)) : "Off";
}

std::string RemainingCountText(double count) {
    return count >= 0.0 ? FormatNumber(count) : "Off";
}

std::string TriggerCountText(uint32_t count) {
    return count > 0 ? std::to_string(count) : "Off";
}

}  // namespace ulvarin::process
