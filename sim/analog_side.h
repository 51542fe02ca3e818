// The interface's own analog hardware: the sensor bias supply, the two interface DACs, the
// 13-channel ADC monitor and the sampling scope.
//
// Monitored inputs are slow voltages read by a 12-bit converter (2.5 V full scale) with up to
// 2 codes of noise. The scope samples the same inputs as the monitor on its channels 0 and 2 to
// 7; its channel 1 carries the sensor back side's shaped pulse in place of DAC0. Every shot holds
// one pulse: a base line at code 81 with Gaussian noise of 1.5 codes, a rise to the top in about
// 4 us (1 us time constant) and an exponential fall of 50 us, starting 10 to 20 % into the
// window; at 2 us per sample that is two samples up and a decay of 25 samples. The height above
// the base line is the energy the photon left: three pulses in four are photo-peak events of
// 2200 x (1 - exp(-V / 20 V)) codes at bias V (about 440 with the supply off, 1500 at 23 V,
// 2090 at 60 V, 2185 at 100 V), spread by 1.5 % in quadrature with 10 codes of electronic
// noise; the fourth lost part of its energy (scattered out, or shared with a neighbour) and
// lies evenly between 5 and 85 % of the peak. The pulse rises in positive polarity; negative
// polarity mirrors the whole trace (4095 - code), so inverting the channel gives the same
// picture back. Heights and onsets come from a stream of their own, so the n-th pulse depends on
// the seed alone, not on the readings taken in between.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/chip_family.h"
#include "sim/dac_words.h"
#include "sim/random.h"
#include "sim/sim_clock.h"

namespace ulvarin::sim {

constexpr int kAdcChannels = 13;
constexpr int kScopeChannels = 8;
constexpr double kAdcFullScale = 2.5;  // volts at code 4096
// The bias supply's monitor output (ADC channel 2) is its voltage divided by this.
constexpr double kBiasMonitorDivider = 50.0;

// The scope's sample buffer holds this many samples per channel; longer shots are cut to it.
constexpr int kScopeMaxSamples = 1024;
// Base line of the back-side pulse channel, in ADC codes.
constexpr double kPulseBaselineCode = 81.0;

// Volts the bias supply puts out for a code: code 0 (off) leaves 4.5 V, code 255 about
// 23.3 V, code 1 the highest, 104.5 V.
double BiasVolts(uint8_t code);

// Volts on a chip's sense line for the DAC its sense code selects (DACs that are no chip
// DAC of the word, such as the band gap, read fixed voltages).
double SensedDacVolts(ChipFamily family, const ChipDacs& dacs);

// Photo-peak height of the back-side pulse (ADC codes above the base line) at this bias
// voltage: grows with the voltage and saturates above about 60 V.
double PhotoPeakCodes(double biasVolts);

// What the ADC and the scope see of the rest of the interface.
struct AnalogInputs {
    std::optional<double> sensedVolts;  // none when no chip senses a DAC
    bool chipPower = false;
    bool positivePolarity = true;
};

class AnalogSide {
public:
    explicit AnalogSide(uint64_t seed) : random_(seed), pulses_(Mix64(seed)) {}

    // Back to the power-up settings: bias off, DACs 0, scope unset, no shot running.
    void Reset();

    void SetBias(uint8_t code) { biasCode_ = code; }
    uint8_t BiasCode() const { return biasCode_; }
    double BiasOutput() const { return BiasVolts(biasCode_); }

    // Channels other than 0 and 1 are ignored, as the interface does.
    void SetInterfaceDac(int channel, uint16_t code);
    uint16_t InterfaceDac(int channel) const {
        return interfaceDac_.at(static_cast<size_t>(channel));
    }

    // The 13 ADC readings (12 bits each).
    std::array<uint16_t, kAdcChannels> ReadAdcs(const AnalogInputs& inputs);
    // The readings as "ADC monitor" sends them: two bytes per channel, high byte first.
    std::vector<uint8_t> AdcBytes(const AnalogInputs& inputs);

    // "Scope configure": channel mask, samples (16 bits, low byte first), mode byte
    // (bits 0-1 choose 32, 4, 8 or 2 us per sample). Shorter setups are ignored.
    void ConfigureScope(std::span<const uint8_t> setup);
    uint8_t ScopeMask() const { return scopeMask_; }
    uint16_t ScopeSamples() const { return scopeSamples_; }
    uint8_t ScopeMode() const { return scopeMode_; }
    // Starts a shot at `now`; false (nothing changes) while one is running. It lasts its
    // samples (at most kScopeMaxSamples, at least one) times the sampling period.
    bool StartShot(Clock::time_point now);
    // When the running shot has all its samples; none when no shot runs.
    std::optional<Clock::time_point> ShotDue() const { return shotDue_; }
    // Ends the running shot and returns the parameters of its "Scope data" response: K
    // (16 bits, low byte first), K sample words (channel in bits 12-14, value in bits 0-11,
    // high byte first) in time order, channels ascending at each time, then one end word 0.
    // Each shot shows a new back-side pulse on channel 1.
    std::vector<uint8_t> FinishShot(const AnalogInputs& inputs);
    void CancelShot() { shotDue_.reset(); }

    // The scope's sampling period for its mode byte.
    static std::chrono::microseconds SamplePeriod(uint8_t mode);

private:
    struct Pulse {
        double onsetSeconds = 0;  // from the shot's first sample
        double heightCodes = 0;   // above the base line
    };

    uint16_t Reading(double volts);
    double ChannelVolts(int channel, const AnalogInputs& inputs) const;
    int ShotSamples() const;
    std::chrono::duration<double> ShotLength() const;
    Pulse NextPulse();
    uint16_t BackSideReading(double seconds, const Pulse& pulse, bool positivePolarity);

    uint8_t biasCode_ = 0;
    std::array<uint16_t, 2> interfaceDac_{};
    uint8_t scopeMask_ = 0;
    uint16_t scopeSamples_ = 0;
    uint8_t scopeMode_ = 0;
    std::optional<Clock::time_point> shotDue_;
    Random random_;  // converter noise
    Random pulses_;  // pulse heights and onsets
};

}  // namespace ulvarin::sim
