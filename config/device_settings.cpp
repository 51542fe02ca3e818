#include "config/device_settings.h"

#include <algorithm>

#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/pixel_config.h"

namespace ulvarin::config {

DeviceSettings::DeviceSettings(MpxDevice& handle, std::vector<uint16_t>& pixelConfig,
                               std::function<bool(const std::string&)> answer)
    : handle_(handle), pixelConfig_(pixelConfig), answer_(std::move(answer)) {}

bool DeviceSettings::Continue(const std::string& question) {
    return answer_ ? answer_(question) : false;
}

// The FSR item selects the FSR on Medipix2 chips; on Timepix it is the counting mode, which
// lives in every pixel's configuration word; MXR chips have no mode to choose.
void DeviceSettings::ApplyMode(int item) {
    if (item < 0) return;
    if (!IsMxr(handle_)) {
        allSent_ &= SelectFsr(handle_, item == 0 ? 0 : 1);
        return;
    }
    if (!IsTimepix(handle_)) return;
    const size_t count =
        std::min(pixelConfig_.size(), static_cast<size_t>(ChipCount(handle_)) * kChipPixels);
    ApplyTimepixMode(pixelConfig_.data(), count, item);
    allSent_ &= SetMatrix(handle_, pixelConfig_.data(), static_cast<uint32_t>(count));
}

void DeviceSettings::Apply(ConfigKey key, const Configuration& c) {
    handle_.Clear();
    switch (key) {
        case ConfigKey::Polarity:
            allSent_ &= SetPolarity(handle_, c.polarity != "Negative");
            break;
        case ConfigKey::Fsr:
            ApplyMode(c.fsr);
            break;
        case ConfigKey::ChipRecords:
            allSent_ &= SetChipDacs(handle_, c.records.data(), 0);
            break;
        case ConfigKey::Bias:
            allSent_ &= SetBias(handle_, BiasToCode(c.biasVolts));
            break;
        case ConfigKey::Dac0:
            allSent_ &= SetInterfaceDac(handle_, 0, ConfiguredDacCode(c.dac0Volts));
            break;
        case ConfigKey::Dac1:
            allSent_ &= SetInterfaceDac(handle_, 1, ConfiguredDacCode(c.dac1Volts));
            break;
        default:
            break;
    }
}

Configuration StartConfiguration(int chips, std::span<const ChipDacRecord> records) {
    Configuration c;
    c.chips = chips;
    std::copy_n(records.begin(), std::min(records.size(), c.records.size()), c.records.begin());
    return c;
}

}  // namespace ulvarin::config
