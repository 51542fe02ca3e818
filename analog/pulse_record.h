// One scope shot (or one set of scan curves): up to 1024 samples on each of 8 channels.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace ulvarin {

constexpr int kPulseChannels = 8;
constexpr int kPulseSamples = 1024;

class PulseRecord {
public:
    // Appends to channel 0 to 7. False, and nothing stored, when the channel is full or
    // does not exist.
    bool Append(int channel, double value);
    // Empties every channel.
    void Clear();

    // Samples held by a channel; 0 for a channel that does not exist.
    int Count(int channel) const;
    bool HasSamples(int channel) const { return Count(channel) > 0; }
    // The largest count of the 8 channels.
    int LongestCount() const;
    // The channel's samples, in the order appended; empty for a channel that does not exist.
    std::span<const double> Samples(int channel) const;
    std::span<double> Samples(int channel);

private:
    std::array<std::array<double, kPulseSamples>, kPulseChannels> samples_{};
    std::array<uint16_t, kPulseChannels> counts_{};
};

// Fills `pulse` from the parameters of a scope data message: K, a little-endian 16-bit
// count, then K big-endian 16-bit sample words, each holding its channel in bits 12 to 14
// and its 12-bit value in bits 0 to 11. Every channel is emptied first; each value is
// appended as received, or as 4095 - value for a channel whose bit is set in `invertMask`
// (bit c for channel c); values past 1024 on a channel are dropped. A K larger than the
// words actually present takes only the words present. Returns the number of words taken.
int FillPulseFromScopeData(std::span<const uint8_t> parameters, uint8_t invertMask,
                           PulseRecord& pulse);

}  // namespace ulvarin
