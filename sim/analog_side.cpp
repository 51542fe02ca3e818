#include "sim/analog_side.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace ulvarin::sim {
namespace {

// What a sense code puts on the sense line: one DAC of the word (a fine DAC with its
// coarse partner, or half a DAC), or a fixed voltage.
struct SenseSource {
    int8_t dac = -1;     // -1: the fixed voltage
    int8_t coarse = -1;  // coarse partner of a 10-bit fine DAC
    float fixedVolts = 0;
    bool half = false;
};

constexpr SenseSource D(int dac) { return {static_cast<int8_t>(dac), -1, 0, false}; }
constexpr SenseSource Fine(int fine, int coarse) {
    return {static_cast<int8_t>(fine), static_cast<int8_t>(coarse), 0, false};
}
constexpr SenseSource Fixed(float volts) { return {-1, -1, volts, false}; }
constexpr SenseSource Half(int dac) { return {static_cast<int8_t>(dac), -1, 0, true}; }

constexpr std::array<SenseSource, 16> kMedipix2Sense = {
    Fixed(0), D(0),  D(1),  D(2), D(3),  D(4),  D(11), D(5),
    Half(5),  D(12), D(9),  D(8), D(7),  D(10), D(6),  Fixed(0)};
constexpr std::array<SenseSource, 16> kMxrSense = {
    Fixed(0.8f), D(12), D(13), D(3), D(4),       Fixed(0.65f), Fine(6, 7), D(2),
    Fixed(0.6f), D(5),  D(10), D(1), Fine(8, 9), D(11),        D(14),      D(0)};
constexpr std::array<SenseSource, 16> kTimepixSense = {
    Fixed(0.8f), D(11), D(12), D(3), D(4), Fixed(0.65f), Fine(6, 7), D(2),
    Fixed(0.6f), D(5),  D(9),  D(1), D(8), D(10),        D(13),      D(0)};

const std::array<SenseSource, 16>& SenseTable(ChipFamily family) {
    switch (family) {
        case ChipFamily::kMxr:
            return kMxrSense;
        case ChipFamily::kTimepix:
            return kTimepixSense;
        case ChipFamily::kMedipix2:
            break;
    }
    return kMedipix2Sense;
}

constexpr double kVolt = 4096.0 / kAdcFullScale;  // ADC codes per volt

// Back-side pulse: energy spectrum, shaping and noise (see the header).
constexpr double kFullPeakCodes = 2200;
constexpr double kBiasScaleVolts = 20;
constexpr double kRelativeSigma = 0.015;
constexpr double kElectronicSigma = 10;  // codes
constexpr double kTailFraction = 0.25;
constexpr double kTailLow = 0.05, kTailHigh = 0.85;  // of the photo-peak
constexpr double kRiseSeconds = 1e-6, kFallSeconds = 50e-6;
constexpr double kOnsetEarliest = 0.10, kOnsetLatest = 0.20;  // of the window
constexpr double kBaselineSigma = 1.5;                        // codes

// The shaper's response to a charge arriving at t = 0, 1 at its top.
double ShapedPulse(double seconds) {
    static const double top = [] {
        const double peakTime = kRiseSeconds * kFallSeconds / (kFallSeconds - kRiseSeconds) *
                                std::log(kFallSeconds / kRiseSeconds);
        return std::exp(-peakTime / kFallSeconds) - std::exp(-peakTime / kRiseSeconds);
    }();
    if (seconds <= 0) return 0;
    return (std::exp(-seconds / kFallSeconds) - std::exp(-seconds / kRiseSeconds)) / top;
}

uint16_t ClampCode(double codes) {
    return static_cast<uint16_t>(std::clamp(std::lround(codes), 0L, 4095L));
}

}  // namespace

double BiasVolts(uint8_t code) {
    if (code == 0) return 4.5;
    return 23.0 + (256.0 - code) / 255.0 * 81.5;
}

double PhotoPeakCodes(double biasVolts) {
    return kFullPeakCodes * (1 - std::exp(-std::max(biasVolts, 0.0) / kBiasScaleVolts));
}

double SensedDacVolts(ChipFamily family, const ChipDacs& dacs) {
    const SenseSource& s = SenseTable(family)[dacs.senseCode & 15];
    if (s.dac < 0) return s.fixedVolts;
    const double value = dacs.dac[static_cast<size_t>(s.dac)];
    if (s.coarse >= 0) {
        const double steps = dacs.dac[static_cast<size_t>(s.coarse)] + std::min(value, 1023.0) / 1024.0;
        return 0.2 + 1.2 * steps / 16.0;
    }
    const double volts = 0.1 + 1.1 * std::min(value, 255.0) / 255.0;
    return s.half ? volts / 2 : volts;
}

void AnalogSide::Reset() {
    biasCode_ = 0;
    interfaceDac_ = {};
    scopeMask_ = 0;
    scopeSamples_ = 0;
    scopeMode_ = 0;
    shotDue_.reset();
}

void AnalogSide::SetInterfaceDac(int channel, uint16_t code) {
    if (channel == 0 || channel == 1) interfaceDac_[static_cast<size_t>(channel)] = code;
}

uint16_t AnalogSide::Reading(double volts) {
    return ClampCode(volts * kVolt + (random_.Uniform() - 0.5) * 4.0);  // +-2 codes
}

// Channel plan of the monitor, which the scope shares except on its channel 1: sense line,
// the interface DACs, the bias supply and its current, the chip supplies, the interface's own
// rails, a temperature and a reference.
double AnalogSide::ChannelVolts(int channel, const AnalogInputs& in) const {
    const double power = in.chipPower ? 1.0 : 0.0;
    switch (channel) {
        case 0:
            return in.sensedVolts.value_or(0.01);
        case 1:
            return interfaceDac_[0] * kAdcFullScale / 4096.0;
        case 2:
            return BiasOutput() / kBiasMonitorDivider;
        case 3:
            return interfaceDac_[1] * kAdcFullScale / 4096.0;
        case 4:
            return 1.1 * power;  // analog supply / 2
        case 5:
            return 1.0 * power;  // digital supply / 2
        case 6:
            return 0.02 + 0.88 * power;  // supply current
        case 7:
            return 1.65;  // 3.3 V rail / 2
        case 8:
            return 1.25;  // 5 V rail / 4
        case 9:
            return BiasOutput() * 0.002;  // sensor leakage current
        case 10:
            return 0.75 + 0.05 * power;  // temperature, warmer with the chips on
        case 11:
            return 2.048;  // reference
        default:
            return 0.002;  // ground
    }
}

std::array<uint16_t, kAdcChannels> AnalogSide::ReadAdcs(const AnalogInputs& inputs) {
    std::array<uint16_t, kAdcChannels> values{};
    for (int channel = 0; channel < kAdcChannels; ++channel)
        values[static_cast<size_t>(channel)] = Reading(ChannelVolts(channel, inputs));
    return values;
}

std::vector<uint8_t> AnalogSide::AdcBytes(const AnalogInputs& inputs) {
    std::vector<uint8_t> bytes;
    for (uint16_t value : ReadAdcs(inputs)) {
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    return bytes;
}

void AnalogSide::ConfigureScope(std::span<const uint8_t> setup) {
    if (setup.size() < 4) return;
    scopeMask_ = setup[0];
    scopeSamples_ = static_cast<uint16_t>(setup[1] | setup[2] << 8);
    scopeMode_ = setup[3];
}

std::chrono::microseconds AnalogSide::SamplePeriod(uint8_t mode) {
    constexpr int kPeriods[] = {32, 4, 8, 2};
    return std::chrono::microseconds(kPeriods[mode & 3]);
}

int AnalogSide::ShotSamples() const {
    return std::min<int>(scopeSamples_, kScopeMaxSamples);
}

std::chrono::duration<double> AnalogSide::ShotLength() const {
    return std::chrono::duration<double>(SamplePeriod(scopeMode_)) * std::max(ShotSamples(), 1);
}

bool AnalogSide::StartShot(Clock::time_point now) {
    if (shotDue_) return false;
    shotDue_ = now + std::chrono::duration_cast<Clock::duration>(ShotLength());
    return true;
}

// One photon: most leave their whole energy (the photo-peak), the rest only part of it.
AnalogSide::Pulse AnalogSide::NextPulse() {
    const double peak = PhotoPeakCodes(BiasOutput());
    double energy = peak;
    if (pulses_.Uniform() < kTailFraction)
        energy *= kTailLow + (kTailHigh - kTailLow) * pulses_.Uniform();
    const double sigma = std::hypot(kRelativeSigma * energy, kElectronicSigma);
    const double onset = kOnsetEarliest + (kOnsetLatest - kOnsetEarliest) * pulses_.Uniform();
    return {onset * ShotLength().count(), std::max(0.0, energy + sigma * pulses_.Gaussian())};
}

uint16_t AnalogSide::BackSideReading(double seconds, const Pulse& pulse, bool positivePolarity) {
    const uint16_t code = ClampCode(kPulseBaselineCode +
                                    pulse.heightCodes * ShapedPulse(seconds - pulse.onsetSeconds) +
                                    kBaselineSigma * random_.Gaussian());
    return positivePolarity ? code : static_cast<uint16_t>(4095 - code);
}

std::vector<uint8_t> AnalogSide::FinishShot(const AnalogInputs& inputs) {
    shotDue_.reset();
    const int channels = std::popcount(scopeMask_);
    const int samples = channels == 0 ? 0 : ShotSamples();
    static_assert(kScopeChannels * kScopeMaxSamples < 65535, "K and the end word fit 16 bits");
    const size_t k = static_cast<size_t>(samples * channels);
    std::vector<uint8_t> bytes{static_cast<uint8_t>(k & 0xFF), static_cast<uint8_t>(k >> 8)};
    bytes.reserve(2 + 2 * (k + 1));
    const Pulse pulse = NextPulse();
    const double period = std::chrono::duration<double>(SamplePeriod(scopeMode_)).count();
    for (int i = 0; i < samples; ++i) {
        for (int channel = 0; channel < kScopeChannels; ++channel) {
            if ((scopeMask_ & (1 << channel)) == 0) continue;
            const uint16_t value = channel == 1
                                       ? BackSideReading(i * period, pulse, inputs.positivePolarity)
                                       : Reading(ChannelVolts(channel, inputs));
            const uint16_t word = static_cast<uint16_t>(channel << 12 | value);
            bytes.push_back(static_cast<uint8_t>(word >> 8));
            bytes.push_back(static_cast<uint8_t>(word & 0xFF));
        }
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

}  // namespace ulvarin::sim
