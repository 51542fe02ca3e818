#include "device/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace ulvarin {
namespace {

struct ClockBase {
    std::chrono::steady_clock::time_point steadyStart;
    double wallStart;

    ClockBase() {
        auto wall = std::chrono::system_clock::now();
        steadyStart = std::chrono::steady_clock::now();
        auto sinceEpoch = wall.time_since_epoch();
        auto secs = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
        auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - secs);
        std::time_t t = static_cast<std::time_t>(secs.count());
        std::tm local{};
        localtime_r(&t, &local);
        wallStart = static_cast<double>(secs.count() + local.tm_gmtoff) + millis.count() / 1000.0;
    }
};

const ClockBase& Base() {
    static const ClockBase base;
    return base;
}

std::atomic<double> gLastReading{0.0};
std::atomic<ClockSource*> gSource{nullptr};

}  // namespace

double MpxClock::Now() {
    double now = 0;
    if (ClockSource* source = gSource.load(std::memory_order_acquire)) {
        now = source->Now();
    } else {
        const ClockBase& base = Base();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - base.steadyStart;
        now = base.wallStart + elapsed.count();
    }
    gLastReading.store(now, std::memory_order_relaxed);
    return now;
}

double MpxClock::LastReading() {
    double last = gLastReading.load(std::memory_order_relaxed);
    return last != 0.0 ? last : Now();
}

void MpxClock::Sleep(double seconds) {
    if (ClockSource* source = gSource.load(std::memory_order_acquire))
        source->Sleep(seconds);
    else if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void MpxClock::Install(ClockSource* source) { gSource.store(source, std::memory_order_release); }

}  // namespace ulvarin
