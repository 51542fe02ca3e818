// The main window's stores, with the values they hold when the window is made. Later
// features give them behaviour; here they are only laid out and initialised.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/dac_tables.h"
#include "device/interface_commands.h"
#include "device/stream_layout.h"

namespace ulvarin {

// The four chips' DAC records as the window holds them at start: Medipix2 defaults.
std::array<ChipDacRecord, kMaxChips> InitialDacRecords();

struct InterfaceAnalog {
    double biasVolts = 0.0;
    double dac0Volts = 2.4;
    double dac1Volts = 1.3;
    uint8_t scopeChannelMask = 0x02;
    uint32_t scopeSampleCount = 450;
};

struct AutosaveTemplate {
    std::string fileName = "data_0000.txt";
    std::string prefix = "data_";
    std::string suffix = ".txt";
    int32_t number = 0;
    int32_t digits = 4;
    int32_t lastFileNumber = 0;
};

constexpr int kPulseChannels = 8;
constexpr int kPulseSamples = 1024;
constexpr int kHistorySlots = 16;
constexpr int kRingEntries = 1024;
constexpr int kSpectrumBins = 4096;

// One scope shot: up to 1024 samples per channel.
struct PulseRecord {
    std::array<std::array<double, kPulseSamples>, kPulseChannels> samples{};
    std::array<uint16_t, kPulseChannels> count{};
};

// The newest 1024 readings of one monitored ADC channel.
struct ScopeRing {
    std::array<uint16_t, kRingEntries> code{};
    std::array<double, kRingEntries> time{};
    int count = 0;
    int head = 0;
};

struct ScopeViews {
    ScopeViews();

    PulseRecord currentPulse;
    std::vector<PulseRecord> pulseHistory = std::vector<PulseRecord>(kHistorySlots);
    int historyIndex = kHistorySlots;  // none written yet
    bool historyHoldsScan = false;
    std::array<ScopeRing, kAdcChannels> rings{};
    std::array<bool, kAdcChannels> channelEnabled{};  // 0..7 on, 8..12 off
    std::vector<int32_t> spectrum = std::vector<int32_t>(kSpectrumBins);
    int32_t pulseCount = 0;
    uint32_t scopeMessages = 0;  // scope shots received, until the pulse view draws them
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
