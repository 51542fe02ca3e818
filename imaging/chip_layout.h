// Good pixels by the mask bit of the pixel configuration word, and how the chips of an
// interface are laid out as tiles of one image.
//
// Per-pixel arrays are indexed by pixel index = chip * 65536 + row * 256 + column. The
// image is walked by a row-major image index instead; ImageIndexToPixel links the two.
//
// Tile layout by chip count (tiles of 256 x 256, "rot" = shown turned by 180 degrees):
//   1 chip : 256 x 256   chip 0
//   2 chips: 512 x 256   Medipix2: 1 | 0            MXR, Timepix: 0 | 1
//   3 chips: 768 x 256   Medipix2: 2 | 1 | 0        MXR, Timepix: 0 | 1 | 2
//   4 chips: 512 x 512   Medipix2: 1 | 0            MXR, Timepix: 0 | 1
//                                  2rot | 3rot                    3rot | 2rot
// Three chips sit in one row of three upright tiles, in readout order (reversed on
// Medipix2, as its upper row is for two and four chips). A two-row layout would leave a
// quarter of the image without a chip; one row keeps the image index range equal to the
// pixel index range for every chip count, so each pixel appears exactly once and every
// image walker (rendering, image-order frame files, interpolation) needs no empty tile.
#pragma once

#include <cstdint>

#include "wire/pixel_config.h"
#include "wire/stream_layout.h"

namespace ulvarin {

// Chip families are the device layer's chip types.
using ChipFamily = ChipType;

// The family from the interface's flags; isTimepix wins, as Timepix chips also set isMxr.
inline ChipFamily FamilyFromFlags(bool isMxr, bool isTimepix) {
    return ChipTypeOf(isMxr || isTimepix, isTimepix);
}

// A set mask bit (MaskBit of the family) marks a good (counting) pixel.
constexpr bool IsGoodPixel(uint16_t configWord, ChipFamily family) {
    return (configWord & MaskBit(family)) != 0;
}

constexpr int kTileSide = 256;

// Image size in chip tiles.
struct ImageGeometry {
    uint32_t tilesAcross = 1;
    uint32_t tilesDown = 1;

    constexpr uint32_t width() const { return tilesAcross * kTileSide; }
    constexpr uint32_t height() const { return tilesDown * kTileSide; }
    constexpr uint32_t pixels() const { return width() * height(); }
};

// A rectangle of image positions, both corners included (left <= right, top <= bottom).
struct ImageRect {
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t right = 0;
    uint32_t bottom = 0;

    constexpr uint32_t width() const { return right - left + 1; }
    constexpr uint32_t height() const { return bottom - top + 1; }
    bool operator==(const ImageRect&) const = default;
};

// Chip count and family: everything the layout depends on.
struct ChipLayout {
    int chipCount = 0;  // 0 (no interface) to kMaxChips
    ChipFamily family = ChipFamily::Medipix2;

    // Entries of every per-pixel array in use.
    constexpr uint32_t pixelsInUse() const {
        return static_cast<uint32_t>(chipCount) * static_cast<uint32_t>(kChipPixels);
    }
};

// 1 x 1 tiles for zero or one chip, 2 x 1 for two, 3 x 1 for three, 2 x 2 for four.
// For one to four chips the image holds exactly chipCount * 65536 positions.
ImageGeometry GeometryFor(int chipCount);

// A run of 256 image positions (one tile row) and the pixels it shows: image position
// x0 + k shows pixel first + k * step (step is +1 or -1 for a turned tile).
struct PixelRun {
    uint32_t first = 0;
    int32_t step = 1;
};

// The pixels shown by image row y of tile column tileX. Requires y < height and
// tileX < tilesAcross of the layout's geometry.
PixelRun ImageRowRun(uint32_t y, uint32_t tileX, const ChipLayout& layout);

// Pixel index shown at image index i (row-major, top row first). Requires
// i < GeometryFor(chipCount).pixels(); the result is then below max(1, chipCount) * 65536.
uint32_t ImageIndexToPixel(uint32_t i, const ChipLayout& layout);

}  // namespace ulvarin
