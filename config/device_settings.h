// Applying a configuration file straight to an open interface, for programs without the
// window: each key read is sent to the interface as the window's groups send it.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/device.h"

namespace ulvarin::config {

class DeviceSettings final : public ConfigTarget {
public:
    // `pixelConfig` holds the pixel configuration words (at least chipCount x 65,536) that a
    // Timepix counting mode is written into and sent with. `answer` decides the questions a
    // damaged file raises (none given: every question is answered "Cancel").
    DeviceSettings(MpxDevice& handle, std::vector<uint16_t>& pixelConfig,
                   std::function<bool(const std::string&)> answer = {});

    bool Continue(const std::string& question) override;
    // Polarity, FSR or Timepix counting mode, chip DACs, bias and the two interface DACs
    // are sent; the rest (process, display and scope settings) is the caller's to use.
    void Apply(ConfigKey key, const Configuration& c) override;

    // False once a command sent for a key failed (the device layer reported it).
    bool allSent() const { return allSent_; }

private:
    void ApplyMode(int item);

    MpxDevice& handle_;
    std::vector<uint16_t>& pixelConfig_;
    std::function<bool(const std::string&)> answer_;
    bool allSent_ = true;
};

// The configuration that stands before a file is read for an interface of `chips` chips:
// the records given (one per chip) and every other setting at its start value.
Configuration StartConfiguration(int chips, std::span<const ChipDacRecord> records);

}  // namespace ulvarin::config
