// The clock the emulator runs on. Every entry point takes the current time as an argument,
// so the emulator itself never sleeps and tests can reason about delays.
#pragma once

#include <chrono>
#include <cstdint>

namespace ulvarin::sim {

using Clock = std::chrono::steady_clock;

// The interface's time counter runs at 20 MHz.
constexpr int64_t kTicksPerSecond = 20'000'000;

// A duration in ticks of the time counter: negative durations give 0, and the counter
// keeps its low 48 bits like the hardware's.
inline uint64_t ToTicks(Clock::duration duration) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
    const int64_t ticks = ns <= 0 ? 0 : ns / (1'000'000'000 / kTicksPerSecond);
    return static_cast<uint64_t>(ticks) & ((uint64_t{1} << 48) - 1);
}

}  // namespace ulvarin::sim
