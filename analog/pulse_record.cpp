#include "analog/pulse_record.h"

#include <algorithm>

namespace ulvarin {
namespace {

bool IsChannel(int channel) {
    return channel >= 0 && channel < kPulseChannels;
}

constexpr unsigned kValueMask = 0x0FFF;
constexpr unsigned kChannelShift = 12;
constexpr unsigned kChannelMask = 0x7;

}  // namespace

bool PulseRecord::Append(int channel, double value) {
    if (!IsChannel(channel)) return false;
    uint16_t& count = counts_[static_cast<size_t>(channel)];
    if (count >= kPulseSamples) return false;
    samples_[static_cast<size_t>(channel)][count++] = value;
    return true;
}

void PulseRecord::Clear() {
    counts_.fill(0);
}

int PulseRecord::Count(int channel) const {
    return IsChannel(channel) ? counts_[static_cast<size_t>(channel)] : 0;
}

int PulseRecord::LongestCount() const {
    return *std::max_element(counts_.begin(), counts_.end());
}

std::span<const double> PulseRecord::Samples(int channel) const {
    if (!IsChannel(channel)) return {};
    const auto c = static_cast<size_t>(channel);
    return {samples_[c].data(), counts_[c]};
}

std::span<double> PulseRecord::Samples(int channel) {
    if (!IsChannel(channel)) return {};
    const auto c = static_cast<size_t>(channel);
    return {samples_[c].data(), counts_[c]};
}

int FillPulseFromScopeData(std::span<const uint8_t> parameters, uint8_t invertMask,
                           PulseRecord& pulse) {
    pulse.Clear();
    if (parameters.size() < 2) return 0;
    const size_t announced = parameters[0] | (static_cast<size_t>(parameters[1]) << 8);
    const size_t words = std::min(announced, parameters.size() / 2 - 1);
    for (size_t i = 1; i <= words; ++i) {
        const unsigned word =
            (static_cast<unsigned>(parameters[2 * i]) << 8) | parameters[2 * i + 1];
        const int channel = static_cast<int>((word >> kChannelShift) & kChannelMask);
        unsigned value = word & kValueMask;
        if (invertMask & (1u << channel)) value = kValueMask - value;
        pulse.Append(channel, value);
    }
    return static_cast<int>(words);
}

}  // namespace ulvarin
