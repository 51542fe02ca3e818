#include "imaging/image_placement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ulvarin {
namespace {

constexpr double kWholeZoomShare = 0.85;

}  // namespace

Placement PlaceImage(int boxWidth, int boxHeight, uint32_t imageWidth, uint32_t imageHeight) {
    Placement p;
    if (boxWidth <= 0 || boxHeight <= 0 || imageWidth == 0 || imageHeight == 0) return p;
    double zoom = std::min(static_cast<double>(boxWidth) / imageWidth,
                           static_cast<double>(boxHeight) / imageHeight);
    // A whole zoom draws every pixel as an equal block; take it unless it wastes much room.
    if (zoom >= 1.0 && std::floor(zoom) >= kWholeZoomShare * zoom) zoom = std::floor(zoom);
    p.zoom = zoom;
    p.width = std::max(1, static_cast<int>(std::lround(imageWidth * zoom)));
    p.height = std::max(1, static_cast<int>(std::lround(imageHeight * zoom)));
    p.width = std::min(p.width, boxWidth);
    p.height = std::min(p.height, boxHeight);
    p.left = (boxWidth - p.width) / 2;
    p.top = (boxHeight - p.height) / 2;
    return p;
}

std::string DescribePixel(const PointedPixel& pointed, double value) {
    char text[96];
    std::snprintf(text, sizeof text, "chip %d  column %d  row %d  value %.10g", pointed.chip() + 1,
                  pointed.column(), pointed.row(), value);
    return text;
}

}  // namespace ulvarin
