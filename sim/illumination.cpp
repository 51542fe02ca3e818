#include "sim/illumination.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "wire/stream_layout.h"

namespace ulvarin::sim {
namespace {

struct Point {
    double x;
    double y;
};

// Sensor size in chips: one row of up to three chips, a quad in two rows.
Point SensorTiles(int chipCount) {
    if (chipCount == 4) return {2, 2};
    return {static_cast<double>(std::max(chipCount, 1)), 1};
}

// Where pixel (row, column) of `chip` lies on the sensor. The upper row holds chips side by
// side (right to left on Medipix2 boards); the lower two chips of a quad are mounted turned
// by 180 degrees.
Point SensorPosition(ChipFamily family, int chipCount, int chip, int row, int column) {
    const bool wide = IsWide(family);
    const int inRow = chipCount == 4 ? 2 : chipCount;
    if (chip < inRow) {
        const int slot = wide ? chip : inRow - 1 - chip;
        return {256.0 * slot + column, static_cast<double>(row)};
    }
    const bool left = wide ? chip == 3 : chip == 2;
    return {(left ? 255.0 : 511.0) - column, 511.0 - row};
}

// Relative intensity at image position (x, y) of a width x height image.
float StructuredField(double x, double y, double width, double height) {
    const double cx = width / 2, cy = height / 2;
    const double dx = (x - cx) / cx, dy = (y - cy) / cy;
    // Beam profile: 100 % in the middle, about 65 % in the corners.
    double value = 1.0 - 0.175 * (dx * dx + dy * dy);
    // A round absorber, a third of the smaller side across.
    const double radius = std::min(width, height) / 6;
    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius) value *= 0.35;
    // Thin wires every 64 pixels, two pixels wide, offset from the chip edges.
    const auto wire = [](double v) { return std::fmod(v + 20, 64) < 2; };
    if (wire(x) || wire(y)) value *= 0.6;
    return static_cast<float>(value);
}

}  // namespace

Illumination::Illumination(ChipFamily family, int chipCount)
    : family_(family), fields_(static_cast<size_t>(chipCount)) {
    SetDefault();
}

void Illumination::SetLevel(double photonsPerSecond) {
    level_ = std::max(0.0, photonsPerSecond);
}

float Illumination::Relative(int chip, int pixel) const {
    return fields_[static_cast<size_t>(chip)][static_cast<size_t>(pixel)];
}

void Illumination::SetUniform() {
    for (auto& field : fields_) field.assign(kChipPixels, 1.0f);
}

void Illumination::SetChipField(int chip, std::span<const float> relative) {
    if (chip < 0 || chip >= static_cast<int>(fields_.size()) || relative.size() != kChipPixels)
        throw std::invalid_argument("illumination field needs one value per pixel of a chip");
    auto& field = fields_[static_cast<size_t>(chip)];
    std::transform(relative.begin(), relative.end(), field.begin(),
                   [](float v) { return std::clamp(v, 0.0f, 1.0f); });
}

void Illumination::SetDefault() {
    const int chips = static_cast<int>(fields_.size());
    const Point tiles = SensorTiles(chips);
    for (int chip = 0; chip < chips; ++chip) {
        auto& field = fields_[static_cast<size_t>(chip)];
        field.resize(kChipPixels);
        for (int row = 0; row < 256; ++row)
            for (int column = 0; column < 256; ++column) {
                const Point p = SensorPosition(family_, chips, chip, row, column);
                field[static_cast<size_t>(row * 256 + column)] =
                    StructuredField(p.x + 0.5, p.y + 0.5, 256.0 * tiles.x, 256.0 * tiles.y);
            }
    }
}

}  // namespace ulvarin::sim
