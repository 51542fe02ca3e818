#include "imaging/chip_layout.h"

namespace ulvarin {

namespace {

struct Tile {
    uint32_t chip;
    bool turned;
};

// Which chip a tile shows; see the table in the header.
Tile TileAt(uint32_t tileX, uint32_t tileY, const ChipLayout& layout) {
    const bool inOrder = layout.family != ChipFamily::Medipix2;
    switch (layout.chipCount) {
        case 2:
        case 4:
            if (tileY == 0) return {inOrder ? tileX : 1 - tileX, false};
            return {inOrder ? 3 - tileX : 2 + tileX, true};
        case 3:
            return {inOrder ? tileX : 2 - tileX, false};
        default:
            return {0, false};
    }
}

}  // namespace

ImageGeometry GeometryFor(int chipCount) {
    switch (chipCount) {
        case 2:
            return {2, 1};
        case 3:
            return {3, 1};
        case 4:
            return {2, 2};
        default:
            return {1, 1};
    }
}

PixelRun ImageRowRun(uint32_t y, uint32_t tileX, const ChipLayout& layout) {
    const uint32_t tileY = y / kTileSide;
    const uint32_t row = y % kTileSide;
    const Tile tile = TileAt(tileX, tileY, layout);
    const uint32_t chipBase = tile.chip * static_cast<uint32_t>(kChipPixels);
    if (!tile.turned) return {chipBase + row * kTileSide, 1};
    // Turned by 180 degrees: image row 0 of the tile is chip row 255, read from column 255.
    return {chipBase + (kTileSide - 1 - row) * kTileSide + (kTileSide - 1), -1};
}

uint32_t ImageIndexToPixel(uint32_t i, const ChipLayout& layout) {
    const uint32_t width = GeometryFor(layout.chipCount).width();
    const uint32_t x = i % width;
    const PixelRun run = ImageRowRun(i / width, x / kTileSide, layout);
    return static_cast<uint32_t>(static_cast<int64_t>(run.first) +
                                 run.step * static_cast<int64_t>(x % kTileSide));
}

}  // namespace ulvarin
