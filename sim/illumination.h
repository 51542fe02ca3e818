// The X-ray field that falls on the emulated sensor: a level (photons per second on the
// brightest pixel) times a relative intensity per pixel. By default the field has some
// structure, so a frame shows something: a beam profile that falls off towards the corners,
// a round absorber in the middle of the detector and a few thin wires.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/chip_family.h"

namespace ulvarin::sim {

class Illumination {
public:
    // Photons per second on a fully lit pixel by default.
    static constexpr double kDefaultLevel = 2000.0;

    // The structured default field over `chipCount` chips of `family`, laid over the sensor
    // as the chips are mounted (and as the host shows them), so the field runs on across
    // chip edges.
    Illumination(ChipFamily family, int chipCount);

    double Level() const { return level_; }
    // Negative levels count as 0.
    void SetLevel(double photonsPerSecond);

    // Relative intensity of pixel `pixel` (row * 256 + column) of chip `chip`, 0..1.
    float Relative(int chip, int pixel) const;

    // Every pixel fully lit.
    void SetUniform();
    // Chip `chip`'s relative intensities (65,536 values; clamped to 0..1). Throws
    // std::invalid_argument for a wrong size or chip.
    void SetChipField(int chip, std::span<const float> relative);
    // Back to the structured default.
    void SetDefault();

private:
    ChipFamily family_;
    double level_ = kDefaultLevel;
    std::vector<std::vector<float>> fields_;  // by chip, by pixel
};

}  // namespace ulvarin::sim
