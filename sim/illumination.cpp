#include "sim/illumination.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "device/stream_layout.h"

namespace ulvarin::sim {
namespace {

struct Geometry {
    int across;  // chips side by side
    int down;
};

Geometry GeometryOf(int chipCount) {
    if (chipCount < 2) return {1, 1};
    return {2, (chipCount + 1) / 2};
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

Illumination::Illumination(int chipCount) : fields_(static_cast<size_t>(chipCount)) {
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
    const Geometry g = GeometryOf(static_cast<int>(fields_.size()));
    const double width = 256.0 * g.across, height = 256.0 * g.down;
    for (size_t chip = 0; chip < fields_.size(); ++chip) {
        const int left = 256 * static_cast<int>(chip % static_cast<size_t>(g.across));
        const int top = 256 * static_cast<int>(chip / static_cast<size_t>(g.across));
        auto& field = fields_[chip];
        field.resize(kChipPixels);
        for (int row = 0; row < 256; ++row)
            for (int column = 0; column < 256; ++column)
                field[static_cast<size_t>(row * 256 + column)] =
                    StructuredField(left + column + 0.5, top + row + 0.5, width, height);
    }
}

}  // namespace ulvarin::sim
