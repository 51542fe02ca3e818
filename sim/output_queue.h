// Bytes on their way from the interface to the host. Each chunk becomes readable at its
// own time, so restarts and the watchdog can delay what follows them; chunks stay in the
// order they were sent.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "sim/sim_clock.h"

namespace ulvarin::sim {

class OutputQueue {
public:
    // Queues `bytes` readable from `at`, but never before bytes queued earlier.
    void Push(std::vector<uint8_t> bytes, Clock::time_point at);

    // Bytes readable at `now`.
    size_t Available(Clock::time_point now) const;
    // Moves up to `wanted` bytes readable at `now` into `out`; returns how many.
    size_t Take(uint8_t* out, size_t wanted, Clock::time_point now);
    // When the next byte that is not readable at `now` becomes readable.
    std::optional<Clock::time_point> NextArrival(Clock::time_point now) const;
    // Takes the first chunk (what is left of it) when it is readable at `now`.
    std::optional<std::vector<uint8_t>> PopChunk(Clock::time_point now, Clock::time_point& at);
    // Bytes queued, readable or not.
    size_t Size() const { return size_; }
    // Drops the bytes readable at `now` (later bytes still arrive: they are still in the
    // interface, not yet in the host's queue).
    void DropAvailable(Clock::time_point now);
    void Clear();

private:
    struct Chunk {
        Clock::time_point at;
        std::vector<uint8_t> bytes;
    };
    std::deque<Chunk> chunks_;
    size_t headOffset_ = 0;  // bytes of the first chunk already taken
    size_t size_ = 0;
};

}  // namespace ulvarin::sim
