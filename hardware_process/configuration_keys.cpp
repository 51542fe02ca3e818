#include "hardware_process/configuration_keys.h"

#include <algorithm>
#include <array>

#include "device/chip_commands.h"
#include "device/conversions.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "wire/pixel_config.h"
#include "wire/stream_layout.h"

namespace ulvarin::process {
namespace {

using config::ConfigKey;
using config::Configuration;

using Send = bool (*)(const Configuration&, MpxDevice&, std::span<uint16_t>);
using Store = void (*)(const Configuration&, ProcessSettings&);

struct KeyRule {
    ConfigKey key;
    KeyRole role;
    Send send = nullptr;    // kInterface keys
    Store store = nullptr;  // kProcess keys
};

// The FSR item selects the FSR on Medipix2 chips; on Timepix it is the counting mode, which
// lives in every pixel's configuration word; MXR chips have no mode to choose.
bool SendMode(const Configuration& c, MpxDevice& handle, std::span<uint16_t> pixelConfig) {
    const int item = c.fsr;
    if (item < 0) return true;
    if (!IsMxr(handle)) return SelectFsr(handle, item == 0 ? 0 : 1);
    if (!IsTimepix(handle)) return true;
    const size_t count =
        std::min(pixelConfig.size(), static_cast<size_t>(ChipCount(handle)) * kChipPixels);
    ApplyTimepixMode(pixelConfig.data(), count, item);
    return SetMatrix(handle, pixelConfig.data(), static_cast<uint32_t>(count));
}

// A source with a value (frames, a time or a count): the value and its action set.
template <auto From, auto To, int Source>
void StoreSource(const Configuration& c, ProcessSettings& s) {
    s.*To = c.*From;
    s.actionSet[Source] = c.actionSet[Source];
}

// In the order of ConfigKey, one row per key.
constexpr std::array kRules = {
    KeyRule{ConfigKey::Polarity, KeyRole::kInterface,
            [](const Configuration& c, MpxDevice& h, std::span<uint16_t>) {
                return SetPolarity(h, c.polarity != "Negative");
            }},
    KeyRule{ConfigKey::Fsr, KeyRole::kInterface, SendMode},
    KeyRule{ConfigKey::ChipRecords, KeyRole::kInterface,
            [](const Configuration& c, MpxDevice& h, std::span<uint16_t>) {
                return SetChipDacs(h, c.records.data(), 0);
            }},
    KeyRule{ConfigKey::Bias, KeyRole::kInterface,
            [](const Configuration& c, MpxDevice& h, std::span<uint16_t>) {
                return SetBias(h, BiasToCode(c.biasVolts));
            }},
    KeyRule{ConfigKey::Dac0, KeyRole::kInterface,
            [](const Configuration& c, MpxDevice& h, std::span<uint16_t>) {
                return SetInterfaceDac(h, 0, ConfiguredDacCode(c.dac0Volts));
            }},
    KeyRule{ConfigKey::Dac1, KeyRole::kInterface,
            [](const Configuration& c, MpxDevice& h, std::span<uint16_t>) {
                return SetInterfaceDac(h, 1, ConfiguredDacCode(c.dac1Volts));
            }},
    KeyRule{ConfigKey::Manual, KeyRole::kProcess, nullptr,
            [](const Configuration& c, ProcessSettings& s) {
                s.actionSet[kManual] = c.actionSet[kManual];
            }},
    KeyRule{ConfigKey::Frames, KeyRole::kProcess, nullptr,
            StoreSource<&Configuration::frames, &ProcessSettings::frames, kFrames>},
    KeyRule{ConfigKey::Period, KeyRole::kProcess, nullptr,
            StoreSource<&Configuration::period, &ProcessSettings::period, kPeriod>},
    KeyRule{ConfigKey::Interval, KeyRole::kProcess, nullptr,
            StoreSource<&Configuration::interval, &ProcessSettings::interval, kInterval>},
    KeyRule{ConfigKey::Trigger, KeyRole::kProcess, nullptr,
            [](const Configuration& c, ProcessSettings& s) {
                s.actionSet[kTrigger] = c.actionSet[kTrigger];
            }},
    KeyRule{ConfigKey::Counter, KeyRole::kProcess, nullptr,
            StoreSource<&Configuration::counter, &ProcessSettings::counter, kCounter>},
    KeyRule{ConfigKey::Commands, KeyRole::kProcess, nullptr,
            [](const Configuration& c, ProcessSettings& s) {
                s.actionCommand1 = c.actionCommand1;
                s.actionCommand2 = c.actionCommand2;
            }},
    KeyRule{ConfigKey::Monitor, KeyRole::kDisplay},
    KeyRule{ConfigKey::Scope, KeyRole::kDisplay},
    KeyRule{ConfigKey::Integral, KeyRole::kDisplay},
    KeyRule{ConfigKey::ViewRange, KeyRole::kDisplay},
};

constexpr bool RulesInKeyOrder() {
    for (size_t i = 0; i < kRules.size(); ++i)
        if (static_cast<size_t>(kRules[i].key) != i) return false;
    return kRules.back().key == ConfigKey::ViewRange;
}
static_assert(RulesInKeyOrder(), "one rule per configuration key, in the order of ConfigKey");

const KeyRule& RuleOf(ConfigKey key) {
    return kRules[static_cast<size_t>(key)];
}

}  // namespace

KeyRole RoleOf(ConfigKey key) {
    return RuleOf(key).role;
}

bool SendConfigKey(ConfigKey key, const Configuration& c, MpxDevice& handle,
                   std::span<uint16_t> pixelConfig) {
    const KeyRule& rule = RuleOf(key);
    return rule.send == nullptr || rule.send(c, handle, pixelConfig);
}

void StoreProcessKey(ConfigKey key, const Configuration& c, ProcessSettings& settings) {
    const KeyRule& rule = RuleOf(key);
    if (rule.store != nullptr) rule.store(c, settings);
}

DeviceSettings::DeviceSettings(MpxDevice& handle, std::vector<uint16_t>& pixelConfig,
                               std::function<bool(const std::string&)> answer)
    : handle_(handle), pixelConfig_(pixelConfig), answer_(std::move(answer)) {}

bool DeviceSettings::Continue(const std::string& question) {
    return answer_ ? answer_(question) : false;
}

void DeviceSettings::Apply(ConfigKey key, const Configuration& c) {
    handle_.Clear();
    allSent_ &= SendConfigKey(key, c, handle_, pixelConfig_);
    StoreProcessKey(key, c, settings_);
}

}  // namespace ulvarin::process
