// The device layer's one clock: seconds as a 64-bit float, local calendar time at start-up
// advanced by a monotonic counter ever after. Every deadline and every pause of the device
// layer goes through it, so a test can stand in a clock of its own (see ClockSource).
#pragma once

namespace ulvarin {

// A stand-in for time: Now() reads it and Sleep() moves it on. Installed by tests and the
// fuzz targets that exercise waits without spending them.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual double Now() = 0;
    virtual void Sleep(double seconds) = 0;
};

class MpxClock {
public:
    // Seconds: local wall-clock time (whole seconds since 1970 as local time, plus the
    // milliseconds) at first use, advanced by the monotonic clock; or the installed
    // source's reading. Also stored as the last reading.
    static double Now();
    // The result of the latest Now() on any thread.
    static double LastReading();
    // Pauses the calling thread (or moves the installed source on) by `seconds`.
    static void Sleep(double seconds);
    // Makes `source` the clock of every thread until another (or nullptr, the real clock) is
    // installed. The source must outlive its installation.
    static void Install(ClockSource* source);
};

inline double Now() { return MpxClock::Now(); }

}  // namespace ulvarin
