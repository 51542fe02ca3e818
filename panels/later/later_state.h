// The stores of the groups still to come, with the values they hold when the window is
// made. Their panels give them behaviour; here they are only laid out and initialised.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/dac_tables.h"
#include "device/interface_commands.h"
#include "device/stream_layout.h"

namespace ulvarin {

struct AutosaveTemplate {
    std::string fileName = "data_0000.txt";
    std::string prefix = "data_";
    std::string suffix = ".txt";
    int32_t number = 0;
    int32_t digits = 4;
    int32_t lastFileNumber = 0;
};

// Action sources in their fixed order.
enum ActionSource { kManual, kFrames, kPeriod, kInterval, kTrigger, kCounter, kActionSources };

struct ProcessSettings {
    char actionCommand1 = '+';
    char actionCommand2 = '-';
    std::array<uint8_t, kActionSources> actionSet{0x06, 0x06, 0x06, 0x01, 0x06, 0x01};
    bool processRunning = false;
    bool periodRunning = false;
    bool intervalRunning = false;
    bool triggerRunning = false;
    bool counterRunning = false;
    bool actionMenuShown = false;
    bool scanActive = false;
    double period = -1.0;
    double interval = 1.0;
    double counter = -1.0;
    double periodLeft = 0.0;
    double intervalLeft = 0.0;
    double counterLeft = 0.0;
    uint32_t triggerCount = 0;
    int32_t frames = 1;
    uint32_t framesLeft = 0;
};

// The letters of the set's bits in bit order ("COISTW12"): 0x06 gives "OI".
std::string ActionCaption(uint8_t set);

}  // namespace ulvarin
