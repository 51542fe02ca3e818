// How each key of a configuration file takes effect on an open interface, for every program
// that loads one: what it sends to the interface and what it stores in the process settings.
// One table holds every key, so a key is added in one place; the window adds only what it
// shows.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/configuration.h"
#include "device/device.h"
#include "hardware_process/process_settings.h"

namespace ulvarin::process {

enum class KeyRole {
    kInterface,  // sent to the interface at once: polarity, FSR or mode, chip DACs, voltages
    kProcess,    // stored in the process settings; they go out with the next process start
    kDisplay,    // the program's own (monitor, scope, integration, display range)
};

// The role of `key` in the table.
KeyRole RoleOf(config::ConfigKey key);

// Sends the interface's part of `key` on `handle` (not cleared here): the polarity; the
// FSR on Medipix2 chips, the counting mode on Timepix chips (written into `pixelConfig`, the
// interface's pixel words, and sent with them; nothing on MXR chips, nor for an item below
// 0); the chips' DACs; the bias and the two interface DACs as codes of their volts. True
// when the key sends nothing or everything sent went out.
bool SendConfigKey(config::ConfigKey key, const config::Configuration& c, MpxDevice& handle,
                   std::span<uint16_t> pixelConfig);

// Stores the process part of `key` in `settings`: action sets, frames, period, interval,
// counter and the action command letters. The trigger's On/Off item is no process setting
// and stays with the caller. Keys of other roles leave `settings` alone.
void StoreProcessKey(config::ConfigKey key, const config::Configuration& c,
                     ProcessSettings& settings);

// Loading straight onto an open interface, for programs without the window.
class DeviceSettings final : public config::ConfigTarget {
public:
    // `pixelConfig` holds the pixel configuration words (at least chipCount x 65,536) that a
    // Timepix counting mode is written into and sent with. `answer` decides the questions a
    // damaged file raises (none given: every question is answered "Cancel").
    DeviceSettings(MpxDevice& handle, std::vector<uint16_t>& pixelConfig,
                   std::function<bool(const std::string&)> answer = {});

    bool Continue(const std::string& question) override;
    // Sends the interface's keys and stores the process keys; display keys are the
    // caller's to use from the configuration.
    void Apply(config::ConfigKey key, const config::Configuration& c) override;

    // False once a command sent for a key failed (the device layer reported it).
    bool allSent() const { return allSent_; }
    // The process settings as the file left them (the start values where it named none).
    const ProcessSettings& processSettings() const { return settings_; }

private:
    MpxDevice& handle_;
    std::vector<uint16_t>& pixelConfig_;
    std::function<bool(const std::string&)> answer_;
    ProcessSettings settings_;
    bool allSent_ = true;
};

}  // namespace ulvarin::process
