#include "sim/pixel_physics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/counter_code.h"
#include "wire/pixel_config.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim {
namespace {

// Probability that a unit Gaussian lies below x.
double NormalCdf(double x) {
    return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}

// A unit Gaussian made from two independent 64-bit hashes.
double HashGaussian(uint64_t a, uint64_t b) {
    const double u = UnitFromBits(a), v = UnitFromBits(b);
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

double ClockHz(const FrontEnd& frontEnd) {
    return 10e6 * static_cast<double>(1u << (frontEnd.timepixClock & 3));
}

// Full-depletion voltage of the emulated sensor: below it fewer photons are collected.
constexpr double kDepletionVolts = 60.0;

double Efficiency(const FrontEnd& frontEnd) {
    return 0.3 + 0.7 * std::min(1.0, frontEnd.biasVolts / kDepletionVolts);
}

// Time-over-threshold clock ticks of one test pulse at 10 MHz.
constexpr double kTestPulseTicks = 100.0;
// Seconds of time over threshold per threshold unit of deposited charge.
constexpr double kTotSecondsPerUnit = 1e-7;

}  // namespace

PixelBits PixelBitsOf(ChipFamily family) {
    return {MaskBit(WireType(family)), TestBit(WireType(family))};
}

PixelMode PixelModeOf(ChipFamily family, uint16_t configWord) {
    if (family != ChipFamily::kTimepix) return PixelMode::kCounting;
    const int p0 = (configWord >> 9) & 1, p1 = (configWord >> 6) & 1;
    return static_cast<PixelMode>(p0 | p1 << 1);
}

double ThresholdUnits(ChipFamily family, const ChipDacs& dacs) {
    const ThresholdDacs t = ThresholdDacsOf(family);
    if (t.coarse < 0) return dacs.dac[static_cast<size_t>(t.fine)];
    return dacs.dac[static_cast<size_t>(t.fine)] +
           100.0 * (static_cast<int>(dacs.dac[static_cast<size_t>(t.coarse)]) - 7);
}

PixelPhysics::Scale PixelPhysics::ScaleOf(ChipFamily family) {
    // Seven (Medipix2, MXR) or fifteen (Timepix) steps span about six offset sigmas.
    if (family == ChipFamily::kMedipix2) return {170, 4, 225, 2, 3, 2.6};
    if (family == ChipFamily::kMxr) return {170, 5, 520, 4, 6, 5.1};
    return {170, 5, 520, 4, 6, 2.4};
}

double PixelPhysics::AdjustShift(ChipFamily family, const ChipDacs& dacs, uint16_t configWord) {
    const ChipType type = WireType(family);
    const ThresholdAdjustBits bits = ThresholdAdjustOf(type);
    const double stepDac = dacs.dac[static_cast<size_t>(bits.stepDac)];
    const int below = MaxThresholdAdjust(type) - ThresholdAdjustOfWord(configWord, type);
    return -below * ScaleOf(family).adjustStep * stepDac / bits.stepDacDefault;
}

DacPoint PixelPhysics::ThresholdScanMidpoint(ChipFamily family) {
    return {ThresholdDacsOf(family).fine, ScaleOf(family).photonLine};
}

PixelPhysics::PixelPhysics(ChipFamily family, int chipCount, uint64_t seed)
    : family_(family),
      scale_(ScaleOf(family)),
      light_(family, chipCount),
      pixels_(static_cast<size_t>(chipCount)),
      rates_(static_cast<size_t>(chipCount)),
      random_(Mix64(seed)) {
    for (int chip = 0; chip < chipCount; ++chip) {
        auto& pixels = pixels_[static_cast<size_t>(chip)];
        pixels.resize(kChipPixels);
        for (int p = 0; p < kChipPixels; ++p) {
            const uint64_t h = Mix64(seed ^ (static_cast<uint64_t>(chip) << 20 | p));
            const uint64_t h2 = Mix64(h), h3 = Mix64(h2), h4 = Mix64(h3);
            Pixel& pixel = pixels[static_cast<size_t>(p)];
            pixel.offset = static_cast<float>(scale_.offsetSigma * HashGaussian(h, h2));
            pixel.gain = static_cast<float>(std::max(0.0, 1.0 + 0.05 * HashGaussian(h3, h4)));
            // About one pixel in 5,000 lacks sensor contact, one in 5,000 is noisy.
            if (UnitFromBits(Mix64(h4)) < 2e-4) pixel.gain = 0;
            pixel.hotRate = UnitFromBits(Mix64(h4 + 1)) < 2e-4 ? 5000.0f : 0.0f;
            pixel.adjustGain = static_cast<float>(
                std::max(0.5, 1.0 + 0.05 * HashGaussian(Mix64(h4 + 2), Mix64(h4 + 3))));
        }
    }
}

const PixelPhysics::Pixel& PixelPhysics::PixelAt(int chipIndex, int pixel) const {
    return pixels_[static_cast<size_t>(chipIndex)][static_cast<size_t>(pixel)];
}

double PixelPhysics::PixelThreshold(const ChipState& chip, int chipIndex, int pixel) const {
    const Pixel& px = PixelAt(chipIndex, pixel);
    const uint16_t word = chip.pixelConfig[static_cast<size_t>(pixel)];
    return ThresholdUnits(family_, chip.dacs) + px.offset +
           px.adjustGain * AdjustShift(family_, chip.dacs, word);
}

double PixelPhysics::PixelHitRate(const ChipState& chip, const FrontEnd& frontEnd,
                                  int chipIndex, int pixel) const {
    const Pixel& px = PixelAt(chipIndex, pixel);
    const double threshold = PixelThreshold(chip, chipIndex, pixel);
    const double noise =
        kNoiseRate * NormalCdf((threshold - scale_.noiseEdge) / scale_.noiseWidth) + px.hotRate;
    if (!frontEnd.positivePolarity) return noise;
    const double photons =
        light_.Level() * light_.Relative(chipIndex, pixel) * px.gain * Efficiency(frontEnd);
    return noise + photons * NormalCdf((threshold - scale_.photonLine) / scale_.lineWidth);
}

double PixelPhysics::TicksPerHit(const ChipState& chip, const FrontEnd& frontEnd,
                                 int chipIndex, int pixel) const {
    // Charge left above the threshold by a photon.
    const double charge = std::max(1.0, PixelThreshold(chip, chipIndex, pixel) - scale_.photonLine);
    return std::max(1.0, ClockHz(frontEnd) * kTotSecondsPerUnit * charge);
}

void PixelPhysics::Refresh(std::span<ChipState> chips, const FrontEnd& frontEnd) {
    if (!stale_ && frontEnd == ratesFor_) return;
    const PixelBits bits = PixelBitsOf(family_);
    for (size_t c = 0; c < chips.size() && c < rates_.size(); ++c) {
        Rates& r = rates_[c];
        r.hitRate.assign(kChipPixels, 0.0f);
        r.ticksPerHit.assign(kChipPixels, 1.0f);
        r.mode.assign(kChipPixels, PixelMode::kCounting);
        const ChipState& chip = chips[c];
        const int chipIndex = static_cast<int>(c);
        for (int p = 0; p < kChipPixels; ++p) {
            const auto i = static_cast<size_t>(p);
            const uint16_t word = chip.pixelConfig[i];
            if ((word & bits.mask) == 0) continue;  // masked: counts nothing
            r.hitRate[i] = static_cast<float>(PixelHitRate(chip, frontEnd, chipIndex, p));
            r.mode[i] = PixelModeOf(family_, word);
            if (r.mode[i] == PixelMode::kTimeOverThreshold)
                r.ticksPerHit[i] = static_cast<float>(TicksPerHit(chip, frontEnd, chipIndex, p));
        }
    }
    stale_ = false;
    ratesFor_ = frontEnd;
    noneSeconds_ = -1;
}

void PixelPhysics::RefreshNone(double seconds) {
    if (seconds == noneSeconds_) return;
    none_.resize(rates_.size());
    for (size_t c = 0; c < rates_.size(); ++c) {
        const std::vector<float>& rate = rates_[c].hitRate;
        std::vector<HitChances>& chances = none_[c];
        chances.resize(rate.size());
        for (size_t p = 0; p < rate.size(); ++p) {
            const double mean = static_cast<double>(rate[p]) * seconds;
            const double none = std::exp(-mean);
            chances[p] = {none, none * (1 + mean)};
        }
    }
    noneSeconds_ = seconds;
}

// Poisson by inversion: no hit or one (the common cases) without a branch on the random
// number, the rarer rest from the distribution's terms.
uint64_t PixelPhysics::Hits(double mean, const HitChances& chances) {
    if (mean > 30) return random_.Poisson(mean);
    const double u = random_.Uniform();
    const uint64_t fewest = uint64_t{u > chances.none} + uint64_t{u > chances.atMostOne};
    if (fewest < 2) return fewest;
    return random_.PoissonBeyondOne(mean, chances.none, u);
}

uint16_t PixelPhysics::Counted(uint16_t count, PixelMode mode, double rate,
                               const HitChances& chances, double ticksPerHit, double seconds,
                               double clockHz) {
    const double none = chances.none;
    double added = 0;
    switch (mode) {
        case PixelMode::kCounting:
            added = static_cast<double>(Hits(rate * seconds, chances));
            break;
        case PixelMode::kTimeOverThreshold:
            added = std::round(static_cast<double>(Hits(rate * seconds, chances)) * ticksPerHit);
            break;
        case PixelMode::kOneHit:
            if (count == 0 && random_.Uniform() < 1.0 - none) added = 1;
            break;
        case PixelMode::kTimeOfArrival:
            // The counter runs from the first hit until the shutter closes.
            if (count > 0) {
                added = std::floor(clockHz * seconds);
            } else if (const double u = random_.Uniform(); u > none) {
                // A hit within the exposure (the first hit time -log(u) / rate < seconds
                // exactly when u > exp(-rate * seconds)); the logarithm only for those.
                const double firstHit = -std::log(u) / rate;
                added = std::max(1.0, std::floor(clockHz * (seconds - firstHit)));
            }
            break;
    }
    const double last = MaxCount(IsWide(family_));
    return static_cast<uint16_t>(std::min(last, count + added));
}

void PixelPhysics::Expose(std::span<ChipState> chips, const FrontEnd& frontEnd, double seconds) {
    if (!frontEnd.powered || seconds <= 0) return;
    Refresh(chips, frontEnd);
    RefreshNone(seconds);
    const double clockHz = ClockHz(frontEnd);
    for (size_t c = 0; c < chips.size() && c < rates_.size(); ++c) {
        const Rates& r = rates_[c];
        const std::vector<HitChances>& chances = none_[c];
        auto& counts = chips[c].counts;
        for (size_t p = 0; p < counts.size(); ++p) {
            if (r.hitRate[p] <= 0) continue;
            counts[p] = Counted(counts[p], r.mode[p], r.hitRate[p], chances[p], r.ticksPerHit[p],
                                seconds, clockHz);
        }
    }
}

void PixelPhysics::TestPulses(std::span<ChipState> chips, const FrontEnd& frontEnd, int pulses) {
    if (!frontEnd.powered || pulses <= 0) return;
    const PixelBits bits = PixelBitsOf(family_);
    const int last = MaxCount(IsWide(family_));
    const double totTicks = kTestPulseTicks * ClockHz(frontEnd) / 10e6;
    for (ChipState& chip : chips) {
        for (int p = 0; p < kChipPixels; ++p) {
            const uint16_t word = chip.pixelConfig[static_cast<size_t>(p)];
            if ((word & bits.mask) == 0 || (word & bits.test) == 0) continue;
            const int columnGroup = (p % 256) / 8;
            if (IsWide(family_) && ((chip.dacs.testPulseWord >> columnGroup) & 1) == 0) continue;
            uint16_t& count = chip.counts[static_cast<size_t>(p)];
            double added = pulses;
            switch (PixelModeOf(family_, word)) {
                case PixelMode::kTimeOverThreshold:
                    added = pulses * totTicks;
                    break;
                case PixelMode::kOneHit:
                    added = count == 0 ? 1 : 0;
                    break;
                case PixelMode::kCounting:
                case PixelMode::kTimeOfArrival:
                    break;
            }
            count = static_cast<uint16_t>(std::min<double>(last, count + added));
        }
    }
}

}  // namespace ulvarin::sim
