#include "analog/scope_ring.h"

namespace ulvarin {

void ScopeRing::Push(uint16_t code, double time) {
    codes_[static_cast<size_t>(head_)] = code;
    times_[static_cast<size_t>(head_)] = time;
    head_ = (head_ + 1) % kRingEntries;
    if (count_ < kRingEntries) ++count_;
}

void ScopeRing::Clear() {
    count_ = 0;
    head_ = 0;
}

ScopeSample ScopeRing::NewestFirst(int j) const {
    const int back = ((j % kRingEntries) + kRingEntries) % kRingEntries;
    const auto i = static_cast<size_t>((head_ - 1 - back + 2 * kRingEntries) % kRingEntries);
    return {codes_[i], times_[i]};
}

void ScopeMonitor::PushReading(std::span<const uint16_t, kAdcChannels> codes, double time) {
    for (int c = 0; c < kAdcChannels; ++c) rings[static_cast<size_t>(c)].Push(codes[c], time);
}

void ScopeMonitor::Clear() {
    for (ScopeRing& ring : rings) ring.Clear();
}

void ScopeMonitor::ToggleChannel(int channel) {
    if (channel < 0 || channel >= kAdcChannels) return;
    channelEnabled[static_cast<size_t>(channel)] = !channelEnabled[static_cast<size_t>(channel)];
}

void ScopeMonitor::SetInternalMonitors(bool enabled) {
    for (int c = kAdcInputChannels; c < kAdcChannels; ++c)
        channelEnabled[static_cast<size_t>(c)] = enabled;
}

Rgb ChannelColour(int channel) {
    static constexpr std::array<Rgb, kAdcChannels> kColours{{
        {0, 0, 255},
        {255, 0, 0},
        {0, 255, 0},
        {255, 255, 0},
        {255, 0, 255},
        {0, 255, 255},
        {255, 255, 255},
        {255, 128, 64},
        {255, 64, 128},
        {128, 64, 255},
        {128, 255, 64},
        {64, 128, 255},
        {0, 0, 128},
    }};
    if (channel < 0 || channel >= kAdcChannels) return {};
    return kColours[static_cast<size_t>(channel)];
}

}  // namespace ulvarin
