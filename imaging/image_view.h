// Zoom and pan of the image in its box. Unzoomed, the image lies where PlaceImage puts it;
// zoomed, it is larger than that by a factor and may reach beyond the box. One transform
// says both what is drawn at a box pixel and which pixel a box point names, so the two
// always agree: box column x shows image column floor((x - left) * imageWidth / width), and
// likewise for rows.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imaging/chip_layout.h"
#include "imaging/image_placement.h"

namespace ulvarin {

// A box and the size of the image shown in it.
struct ViewArea {
    int boxWidth = 0;
    int boxHeight = 0;
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
};

// What the operator has set: the zoom over the fitted size and, when zoomed, the image point
// (in image pixels) at the centre of the box.
struct ImageZoom {
    double factor = 1.0;  // 1: the fitted image, centred
    double centreX = 0.0;
    double centreY = 0.0;

    bool zoomed() const { return factor > 1.0; }
};

// Zooming stops where an image pixel is this many box pixels wide.
constexpr double kMaxBoxPixelsPerImagePixel = 64.0;
// One wheel notch zooms in or out by this factor.
constexpr double kWheelZoomStep = 1.25;

// Where the whole image lies in box coordinates.
struct ViewTransform {
    double left = 0.0;
    double top = 0.0;
    double width = 0.0;  // box pixels spanned by the whole image; 0 when nothing is shown
    double height = 0.0;
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
};

// The transform of the fitted placement `p` of an image of the given size.
ViewTransform FitTransform(const Placement& p, uint32_t imageWidth, uint32_t imageHeight);
// The transform of `zoom` in `area`: the fitted placement when not zoomed.
ViewTransform TransformFor(const ImageZoom& zoom, const ViewArea& area);

struct ImagePoint {
    uint32_t x = 0;
    uint32_t y = 0;
    bool operator==(const ImagePoint&) const = default;
};

// The image pixel drawn at box pixel (x, y); none outside the image.
std::optional<ImagePoint> ImagePixelAt(const ViewTransform& t, int x, int y);
// The image pixel at (x, y), or the nearest one on the image's edge; none for an empty image.
std::optional<ImagePoint> NearestImagePixel(const ViewTransform& t, int x, int y);
// The image pixel at (x, y) and the chip pixel it shows; none outside the image, without a
// chip, or when the transform's image is not the layout's.
std::optional<PointedPixel> PixelAtPoint(const ViewTransform& t, int x, int y,
                                         const ChipLayout& layout);
// The same for the whole image fitted to its box by `placement`, not zoomed.
std::optional<PointedPixel> PixelAtPoint(const Placement& placement, int x, int y,
                                         const ChipLayout& layout);

// Box pixels (both corners included) that show the image pixels of `rect`; they may lie
// outside the box.
struct BoxRect {
    int left = 0;
    int top = 0;
    int right = -1;
    int bottom = -1;
};
BoxRect BoxRectOf(const ViewTransform& t, const ImageRect& rect);

// The zoom multiplied by `factor` (kept between 1 and kMaxBoxPixelsPerImagePixel box pixels
// per image pixel) about box point (x, y): the image pixel there stays there, or, with the
// point beside the image, the nearest image edge stays where it is. Back at 1 the image is
// fitted again.
ImageZoom ZoomAt(const ImageZoom& zoom, const ViewArea& area, int x, int y, double factor);

// A zoomed image moved by (dx, dy) box pixels. It may not move further beyond the box than
// it already is: one larger than the box keeps covering it, one smaller stays inside it.
// An unzoomed image does not move.
ImageZoom PanBy(const ImageZoom& zoom, const ViewArea& area, double dx, double dy);

// Fills `out` (area.boxWidth x area.boxHeight, rows top to bottom) with the box's picture:
// at each box pixel the colour `image` (imageWidth x imageHeight, rows top to bottom) has at
// ImagePixelAt, `background` where no image pixel is. Returns false, writing nothing, when a
// span is too small or the transform's image is not the area's.
bool RenderView(const ViewTransform& t, const ViewArea& area, std::span<const uint32_t> image,
                uint32_t background, std::span<uint32_t> out);

}  // namespace ulvarin
