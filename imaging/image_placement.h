// Where an image of whole chip tiles is drawn in a box of any size, and what lies under a
// point of the box. Pixels stay square: an image whose shape differs from the box's is
// letterboxed. From full size up, the zoom is rounded down to a whole number where that
// keeps at least 85 % of the size, so pixels are drawn as sharp blocks of equal size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/chip_layout.h"

namespace ulvarin {

struct Placement {
    int left = 0;
    int top = 0;
    int width = 0;  // 0 when the box or the image is empty
    int height = 0;
    double zoom = 0.0;  // box pixels per image pixel
};

// The largest rectangle of the image's shape that fits the box, centred; a zoom of 1 or
// more is rounded down to a whole number when that keeps 85 % of it.
Placement PlaceImage(int boxWidth, int boxHeight, uint32_t imageWidth, uint32_t imageHeight);

// The image pixel under box point (x, y): its image coordinates and the chip pixel it shows.
struct PointedPixel {
    uint32_t imageX = 0;
    uint32_t imageY = 0;
    uint32_t pixel = 0;  // index into the per-pixel arrays
    int chip() const { return static_cast<int>(pixel / kChipPixels); }
    int column() const { return static_cast<int>(pixel % kTileSide); }
    int row() const { return static_cast<int>(pixel % kChipPixels / kTileSide); }
};

// "chip 2  column 17  row 200  value 143" with the chip counted from 1 and the value as
// the view shows it.
std::string DescribePixel(const PointedPixel& pointed, double value);

}  // namespace ulvarin
