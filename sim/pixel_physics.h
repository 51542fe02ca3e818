// How the emulated pixels count. The threshold DACs count down in energy: raising them
// lowers the charge a hit must leave to be counted. The emulated source is monochromatic,
// so a threshold scan gives every pixel an S-curve: nothing while the threshold lies above
// the photon energy, every photon once it lies below, half at the photon line. Each pixel
// sees the illumination through its own gain and a fixed threshold offset (Gaussian over
// the matrix), which moves its S-curve; the threshold adjustment bits of its configuration
// word move it back by steps the "Ths" DAC scales (each pixel's step a little off the
// nominal one), so an equalised matrix clusters; thresholds set far towards the noise make
// pixels count their own noise. Counts are worked out lazily for a whole exposure: the emulator
// calls Expose with the time the shutter was open.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/chip_family.h"
#include "sim/chip_state.h"
#include "sim/illumination.h"
#include "sim/random.h"

namespace ulvarin::sim {

// Roles of the pixel configuration bits by family.
struct PixelBits {
    uint16_t mask;  // 0 = pixel masked
    uint16_t test;  // 1 = test pulses reach the pixel
};
PixelBits PixelBitsOf(ChipFamily family);

// Timepix counting modes, from mode bits P0 (bit 9) and P1 (bit 6).
enum class PixelMode : uint8_t { kCounting, kTimeOverThreshold, kOneHit, kTimeOfArrival };
PixelMode PixelModeOf(ChipFamily family, uint16_t configWord);

// The interface settings the pixels depend on.
struct FrontEnd {
    bool powered = true;
    bool positivePolarity = true;  // the emulated sensor collects its signal in positive mode
    double biasVolts = 0;          // 0 = bias off
    uint8_t timepixClock = 0;      // 0..3 = 10, 20, 40, 80 MHz

    bool operator==(const FrontEnd&) const = default;
};

// Threshold in the family's threshold units: Medipix2 "Thl"; MXR and Timepix
// "Thl Fine" + 100 per step of "Thl Coarse" away from 7. Higher units, lower energy.
double ThresholdUnits(ChipFamily family, const ChipDacs& dacs);

// A value of the DAC a threshold scan steps.
struct DacPoint {
    int dac;  // index in the chip's DAC record
    double value;
};

class PixelPhysics {
public:
    // Where the energy scale sits, in threshold units.
    struct Scale {
        double photonLine;  // a pixel without offset counts half the photons here
        double lineWidth;   // spread of the photons' deposits
        double noiseEdge;   // thresholds above this make a pixel count its noise
        double noiseWidth;
        double offsetSigma;  // spread of the pixels' threshold offsets
        double adjustStep;   // threshold units per adjustment step at the step DAC's default
    };
    static Scale ScaleOf(ChipFamily family);

    // How far the pixel configuration word's adjustment moves a threshold from where the
    // top adjustment (all bits set) leaves it: 0 or less, in threshold units, for a pixel
    // whose step is the nominal one.
    static double AdjustShift(ChipFamily family, const ChipDacs& dacs, uint16_t configWord);

    // Where a scan of the family's threshold DAC (Medipix2 "Thl"; MXR and Timepix
    // "Thl Fine", with "Thl Coarse" at its default 7) under steady light brings the median
    // pixel of a chip to half the count it reaches with the threshold well below the photon
    // energy: 170 for every family. Counts fall to nothing some 20 below it and reach the
    // full count some 20 above it; the defaults of the threshold DACs lie well above it.
    static DacPoint ThresholdScanMidpoint(ChipFamily family);

    // Noise hits per second of a pixel whose threshold is deep in its noise.
    static constexpr double kNoiseRate = 1e5;

    PixelPhysics(ChipFamily family, int chipCount, uint64_t seed);

    Illumination& Light() { return light_; }
    // Call after changing anything the rates depend on that Expose cannot see compare:
    // DACs, pixel configuration, illumination.
    void Invalidate() { stale_ = true; }

    // Adds the counts of an exposure of `seconds` to the chips' counters (saturating at the
    // family's last count). Masked pixels and unpowered chips count nothing.
    void Expose(std::span<ChipState> chips, const FrontEnd& frontEnd, double seconds);

    // Adds `pulses` test pulses to every unmasked pixel whose test bit is set. On MXR and
    // Timepix chips, bit k of the chip's test pulse word lets them reach columns 8k..8k+7.
    void TestPulses(std::span<ChipState> chips, const FrontEnd& frontEnd, int pulses);

private:
    // Fixed properties of one pixel.
    struct Pixel {
        float offset;   // threshold offset, threshold units (higher: lower energy)
        float gain;     // 0 for a pixel without sensor contact
        float hotRate;  // extra noise hits per second of a few noisy pixels
        float adjustGain;  // its adjustment step over the nominal one
    };
    struct HitChances {
        double none;
        double atMostOne;
    };
    // What one exposure needs per pixel.
    struct Rates {
        std::vector<float> hitRate;
        std::vector<float> ticksPerHit;  // time-over-threshold mode
        std::vector<PixelMode> mode;
    };

    void Refresh(std::span<ChipState> chips, const FrontEnd& frontEnd);
    const Pixel& PixelAt(int chipIndex, int pixel) const;
    // The pixel's threshold in threshold units, its offset included.
    double PixelThreshold(const ChipState& chip, int chipIndex, int pixel) const;
    double PixelHitRate(const ChipState& chip, const FrontEnd& frontEnd, int chipIndex,
                        int pixel) const;
    double TicksPerHit(const ChipState& chip, const FrontEnd& frontEnd, int chipIndex,
                       int pixel) const;
    // Brings none_ to exposures of `seconds` with the current rates.
    void RefreshNone(double seconds);
    // Hits of a pixel with these chances in an exposure of `mean` hits on average.
    uint64_t Hits(double mean, const HitChances& chances);
    uint16_t Counted(uint16_t count, PixelMode mode, double rate, const HitChances& chances,
                     double ticksPerHit, double seconds, double clockHz);

    ChipFamily family_;
    Scale scale_;
    Illumination light_;
    std::vector<std::vector<Pixel>> pixels_;  // by chip
    std::vector<Rates> rates_;                // by chip, valid while !stale_
    bool stale_ = true;
    FrontEnd ratesFor_;
    // By chip and pixel, the chances of no hit and of at most one in an exposure of
    // noneSeconds_ (a stream of frames repeats one exposure, so they are worked out once,
    // not per frame).
    std::vector<std::vector<HitChances>> none_;
    double noneSeconds_ = -1;
    Random random_;
};

}  // namespace ulvarin::sim
