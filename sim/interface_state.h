// The interface's chip-side settings as its commands leave them. The analog side and the
// hardware processes keep their own state (AnalogSide, ProcessEngine).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/sim_clock.h"

namespace ulvarin::sim {

struct InterfaceState {
    // Chips. The firmware powers them when it starts: its reset line reports them ready.
    bool chipPower = true;
    bool positivePolarity = true;
    int fsr = 0;                          // selected FSR, 0 or 1
    uint8_t timepixClock = 0;             // 0..3 = 10, 20, 40, 80 MHz
    uint8_t cmos = 0;                     // CMOS settings byte
    std::vector<uint8_t> dacStream;       // last accepted "d" parameters, as received
    std::array<uint8_t, 3> testPulses{};  // last "O" parameters

    // Shutter and its interval measurement.
    bool shutterOpen = false;
    Clock::time_point shutterOpenedAt{};
    Clock::time_point shutterClosedAt{};

    bool triggerOut = false;

    // Settings only stored.
    std::array<uint8_t, 2> coincidenceSetup{};
    std::array<uint8_t, 3> preActionDelay{};
    // Letters of the commands actions 1 and 2 run: trigger-out high and low.
    std::array<uint8_t, 2> todoCommands{'+', '-'};
};

}  // namespace ulvarin::sim
