// The device layer's one clock: seconds as a 64-bit float, local calendar time at start-up
// advanced by a monotonic counter ever after.
#pragma once

namespace ulvarin {

class MpxClock {
public:
    // Seconds: local wall-clock time (whole seconds since 1970 as local time, plus the
    // milliseconds) at first use, advanced by the monotonic clock. Also stored as the
    // last reading.
    static double Now();
    // The result of the latest Now() on any thread.
    static double LastReading();
};

inline double Now() { return MpxClock::Now(); }

}  // namespace ulvarin
