// The interface's own settings as its commands leave them. Timers, trigger and scope only
// store their setup bytes for now; the processes that run on them build on these fields.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/sim_clock.h"

namespace ulvarin::sim {

struct InterfaceState {
    // Chips.
    bool chipPower = false;
    bool positivePolarity = true;
    int fsr = 0;                          // selected FSR, 0 or 1
    uint8_t timepixClock = 0;             // 0..3 = 10, 20, 40, 80 MHz
    uint8_t cmos = 0;                     // CMOS settings byte
    std::vector<uint8_t> dacStream;       // last "d" parameters, as received
    std::array<uint8_t, 3> testPulses{};  // last "O" parameters

    // Shutter and its interval measurement.
    bool shutterOpen = false;
    Clock::time_point shutterOpenedAt{};
    Clock::time_point shutterClosedAt{};

    // Analog side.
    uint8_t biasCode = 0;  // 0 = off
    std::array<uint16_t, 2> interfaceDac{};
    std::array<uint8_t, 4> scopeSetup{};
    bool triggerOut = false;

    // Hardware process setup, stored as sent.
    std::array<uint8_t, 7> intervalTimerSetup{};
    std::array<uint8_t, 7> periodTimerSetup{};
    std::array<uint8_t, 7> counterSetup{};
    uint8_t triggerSetup = 0;
    std::array<uint8_t, 2> coincidenceSetup{};
    std::array<uint8_t, 3> preActionDelay{};
    std::array<uint8_t, 5> frameCounterSetup{};
    std::array<uint8_t, 2> todoCommands{};
    uint8_t todoMask = 0;
};

}  // namespace ulvarin::sim
