// The scope monitor's stores: the newest readings of each of the interface's 13 ADC
// channels (0 to 7 its inputs, 8 to 12 its internal monitors), which of them are drawn,
// and the colour each channel is drawn in.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "analog/plot_geometry.h"
#include "device/interface_commands.h"

namespace ulvarin {

constexpr int kRingEntries = 1024;
constexpr int kAdcInputChannels = 8;  // channels 8 to 12 are the internal monitors

struct ScopeSample {
    uint16_t code = 0;  // 12-bit ADC code; 2.5 V / 4096 per step
    double time = 0.0;  // seconds of the device layer's clock

    bool operator==(const ScopeSample&) const = default;
};

// The 1024 newest readings of one channel.
class ScopeRing {
public:
    // Stores at the head, advances the head modulo 1024 and raises the count up to 1024:
    // once full, each push replaces the oldest reading.
    void Push(uint16_t code, double time);
    void Clear();

    int Count() const { return count_; }
    int Head() const { return head_; }
    // Reading j counted from the newest (0) back to the oldest (Count() - 1). Meant for
    // 0 <= j < Count(); any other j still reads inside the ring.
    ScopeSample NewestFirst(int j) const;

private:
    std::array<uint16_t, kRingEntries> codes_{};
    std::array<double, kRingEntries> times_{};
    int count_ = 0;
    int head_ = 0;
};

struct ScopeMonitor {
    std::array<ScopeRing, kAdcChannels> rings{};
    // Channels 0 to 7 are drawn at start, the internal monitors are not.
    std::array<bool, kAdcChannels> channelEnabled{true, true, true, true, true, true, true, true};

    // One reading of all 13 channels, every ring getting the same time.
    void PushReading(std::span<const uint16_t, kAdcChannels> codes, double time);
    // Empties every ring (count and head 0).
    void Clear();
    // Turns drawing of one channel on or off; channels outside 0 to 12 are ignored.
    void ToggleChannel(int channel);
    // Sets drawing of the internal monitors (channels 8 to 12) together.
    void SetInternalMonitors(bool enabled);
};

// The colour of channel 0 to 12 in the scope monitor and the pulse view (the ADC labels'
// font colours match); black for any other channel.
Rgb ChannelColour(int channel);

}  // namespace ulvarin
