// What an emulated interface is made of: its chips, a few firmware timings and what is
// connected to its inputs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sim/chip_family.h"
#include "sim/chip_id.h"

namespace ulvarin::sim {

struct InterfaceConfig {
    ChipFamily family = ChipFamily::kMedipix2;
    int chipCount = 1;                            // 1..4
    std::vector<ChipId> chipIds;                  // one per chip; missing entries get DefaultChipId
    int extraRestarts = 0;                        // extra "Unit is on line." prefixes after a reset
    std::chrono::milliseconds restartDelay{100};  // "_" answer to reset line
    std::chrono::milliseconds watchdogSilence{1000};  // "," to watchdog alert
    // Steady pulse generators on the trigger and event counter inputs, per second
    // (0 = nothing connected).
    double triggerRate = 0;
    double eventRate = 0;
    // I2C lines a fault on the dummy chipboard holds low, whatever is driven: bit 1 SDA,
    // bit 0 SCL.
    uint8_t i2cHeldLow = 0;
};

// A configuration with the default chip codes and timings.
InterfaceConfig MakeInterfaceConfig(ChipFamily family, int chipCount);

// True when the chip count is 1..4 and every given chip code is encodable.
bool IsValid(const InterfaceConfig& config);

}  // namespace ulvarin::sim
