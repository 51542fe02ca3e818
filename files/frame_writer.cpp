#include "files/frame_writer.h"

#include <algorithm>
#include <system_error>

#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr const char* kModeNames[] = {"counting", "tot", "1-hit", "toa"};

}  // namespace

const std::map<std::string, int>& TimepixModesByName() {
    static const std::map<std::string, int> modes = {
        {kModeNames[0], 0}, {kModeNames[1], 1}, {kModeNames[2], 2}, {kModeNames[3], 3}};
    return modes;
}

std::vector<std::string> CountModes(const ChipLayout& layout, std::span<const uint16_t> config) {
    const auto& kNames = kModeNames;
    std::vector<std::string> modes;
    for (int chip = 0; chip < layout.chipCount; ++chip) {
        if (layout.family != ChipFamily::Timepix) {
            modes.emplace_back(kNames[0]);
            continue;
        }
        const size_t first = static_cast<size_t>(chip) * kChipPixels;
        const size_t end = std::min(config.size(), first + kChipPixels);
        if (first >= end) break;
        const int mode = TimepixModeOf(config[first]);
        const bool same = std::all_of(config.begin() + first, config.begin() + end,
                                      [mode](uint16_t w) { return TimepixModeOf(w) == mode; });
        modes.emplace_back(same ? kNames[mode] : "mixed");
    }
    return modes;
}

std::string SystemReason(int error) {
    if (error == 0) return {};
    return ": " + std::generic_category().message(error);
}

const char* ChipFamilyName(ChipFamily family) {
    switch (family) {
        case ChipFamily::Mxr:
            return "MXR";
        case ChipFamily::Timepix:
            return "Timepix";
        default:
            return "Medipix2";
    }
}

void ImageOrderCounts(std::span<const int32_t> counts, const ChipLayout& layout,
                      std::span<uint32_t> image) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    for (uint32_t y = 0; y < g.height(); ++y) {
        for (uint32_t tile = 0; tile < g.tilesAcross; ++tile) {
            const PixelRun run = ImageRowRun(y, tile, layout);
            uint32_t* out = image.data() + static_cast<size_t>(y) * g.width() + tile * kTileSide;
            const int32_t* in = counts.data() + run.first;
            for (int k = 0; k < kTileSide; ++k) {
                const int32_t v = in[static_cast<ptrdiff_t>(k) * run.step];
                out[k] = v > 0 ? static_cast<uint32_t>(v) : 0u;
            }
        }
    }
}

}  // namespace ulvarin
