#include "imaging/image_view.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ulvarin {
namespace {

// How far inside its pixel a kept point is held, so that rounding in the new transform
// cannot carry it into a neighbour.
constexpr double kEdgeMargin = 1e-6;

// Image coordinate of box coordinate p along one axis of a span starting at `start`.
double ImageCoordinate(double p, double start, double span, uint32_t count) {
    return (p - start) * count / span;
}

// The cell at box coordinate p along one axis; -1 outside the image. At the fitted
// placement start and span are whole numbers, and this is the exact integer division.
int64_t CellAt(double p, double start, double span, uint32_t count) {
    if (!(span > 0.0)) return -1;
    const double u = ImageCoordinate(p, start, span, count);
    if (!(u >= 0.0) || u >= count) return -1;
    return static_cast<int64_t>(u);
}

int64_t NearestCell(double p, double start, double span, uint32_t count) {
    const double u = ImageCoordinate(p, start, span, count);
    return static_cast<int64_t>(std::clamp(std::floor(u), 0.0, count - 1.0));
}

// First box coordinate that shows image coordinate c or beyond.
int FirstBoxAt(double c, double start, double span, uint32_t count) {
    return static_cast<int>(std::ceil(start + c * span / count));
}

// The image coordinate to put at the box centre so that after the span becomes `newSpan`
// the cell under box coordinate p stays under p; with p beside the image, the nearest image
// edge stays where it is.
double KeptCentre(int p, double start, double span, uint32_t count, double newSpan, int boxSize) {
    double u = ImageCoordinate(p, start, span, count);
    double anchor = p;
    if (u >= 0.0 && u < count) {
        const double cell = std::floor(u);
        u = std::clamp(u, cell + kEdgeMargin, cell + 1.0 - kEdgeMargin);
    } else {
        u = std::clamp(u, 0.0, 1.0 * count);
        anchor = start + u * span / count;
    }
    const double newStart = anchor - u * newSpan / count;
    return ImageCoordinate(boxSize / 2.0, newStart, newSpan, count);
}

// The image coordinate at the box centre after a move by `delta` along one axis.
double PannedCentre(double start, double span, uint32_t count, double delta, int boxSize) {
    const double lowest = std::min({0.0, boxSize - span, start});
    const double highest = std::max({0.0, boxSize - span, start});
    const double moved = std::clamp(start + delta, lowest, highest);
    return ImageCoordinate(boxSize / 2.0, moved, span, count);
}

Placement FitOf(const ViewArea& area) {
    return PlaceImage(area.boxWidth, area.boxHeight, area.imageWidth, area.imageHeight);
}

}  // namespace

ViewTransform FitTransform(const Placement& p, uint32_t imageWidth, uint32_t imageHeight) {
    return {.left = static_cast<double>(p.left),
            .top = static_cast<double>(p.top),
            .width = static_cast<double>(p.width),
            .height = static_cast<double>(p.height),
            .imageWidth = imageWidth,
            .imageHeight = imageHeight};
}

ViewTransform TransformFor(const ImageZoom& zoom, const ViewArea& area) {
    ViewTransform t = FitTransform(FitOf(area), area.imageWidth, area.imageHeight);
    if (!zoom.zoomed() || t.width <= 0.0) return t;
    t.width *= zoom.factor;
    t.height *= zoom.factor;
    t.left = area.boxWidth / 2.0 - zoom.centreX * t.width / area.imageWidth;
    t.top = area.boxHeight / 2.0 - zoom.centreY * t.height / area.imageHeight;
    return t;
}

std::optional<ImagePoint> ImagePixelAt(const ViewTransform& t, int x, int y) {
    const int64_t column = CellAt(x, t.left, t.width, t.imageWidth);
    const int64_t row = CellAt(y, t.top, t.height, t.imageHeight);
    if (column < 0 || row < 0) return {};
    return ImagePoint{static_cast<uint32_t>(column), static_cast<uint32_t>(row)};
}

std::optional<ImagePoint> NearestImagePixel(const ViewTransform& t, int x, int y) {
    if (!(t.width > 0.0 && t.height > 0.0) || t.imageWidth == 0 || t.imageHeight == 0) return {};
    return ImagePoint{static_cast<uint32_t>(NearestCell(x, t.left, t.width, t.imageWidth)),
                      static_cast<uint32_t>(NearestCell(y, t.top, t.height, t.imageHeight))};
}

std::optional<PointedPixel> PixelAtPoint(const ViewTransform& t, int x, int y,
                                         const ChipLayout& layout) {
    if (layout.chipCount <= 0) return {};
    const ImageGeometry g = GeometryFor(layout.chipCount);
    if (t.imageWidth != g.width() || t.imageHeight != g.height()) return {};
    const std::optional<ImagePoint> at = ImagePixelAt(t, x, y);
    if (!at) return {};
    PointedPixel pointed;
    pointed.imageX = at->x;
    pointed.imageY = at->y;
    pointed.pixel = ImageIndexToPixel(at->y * g.width() + at->x, layout);
    return pointed;
}

std::optional<PointedPixel> PixelAtPoint(const Placement& placement, int x, int y,
                                         const ChipLayout& layout) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    return PixelAtPoint(FitTransform(placement, g.width(), g.height()), x, y, layout);
}

BoxRect BoxRectOf(const ViewTransform& t, const ImageRect& rect) {
    if (t.imageWidth == 0 || t.imageHeight == 0) return {};
    return {FirstBoxAt(rect.left, t.left, t.width, t.imageWidth),
            FirstBoxAt(rect.top, t.top, t.height, t.imageHeight),
            FirstBoxAt(rect.right + 1.0, t.left, t.width, t.imageWidth) - 1,
            FirstBoxAt(rect.bottom + 1.0, t.top, t.height, t.imageHeight) - 1};
}

ImageZoom ZoomAt(const ImageZoom& zoom, const ViewArea& area, int x, int y, double factor) {
    const Placement fit = FitOf(area);
    if (fit.width <= 0 || fit.height <= 0) return zoom;
    const double most = std::max(1.0, kMaxBoxPixelsPerImagePixel / fit.zoom);
    const double next = std::clamp(zoom.factor * factor, 1.0, most);
    if (!(next > 1.0)) return {};
    const ViewTransform now = TransformFor(zoom, area);
    ImageZoom out;
    out.factor = next;
    out.centreX =
        KeptCentre(x, now.left, now.width, area.imageWidth, fit.width * next, area.boxWidth);
    out.centreY =
        KeptCentre(y, now.top, now.height, area.imageHeight, fit.height * next, area.boxHeight);
    return out;
}

ImageZoom PanBy(const ImageZoom& zoom, const ViewArea& area, double dx, double dy) {
    if (!zoom.zoomed()) return zoom;
    const ViewTransform now = TransformFor(zoom, area);
    if (!(now.width > 0.0)) return zoom;
    ImageZoom out = zoom;
    out.centreX = PannedCentre(now.left, now.width, area.imageWidth, dx, area.boxWidth);
    out.centreY = PannedCentre(now.top, now.height, area.imageHeight, dy, area.boxHeight);
    return out;
}

bool RenderView(const ViewTransform& t, const ViewArea& area, std::span<const uint32_t> image,
                uint32_t background, std::span<uint32_t> out) {
    if (area.boxWidth <= 0 || area.boxHeight <= 0) return true;
    const auto boxWidth = static_cast<size_t>(area.boxWidth);
    const auto boxHeight = static_cast<size_t>(area.boxHeight);
    if (t.imageWidth != area.imageWidth || t.imageHeight != area.imageHeight ||
        image.size() < static_cast<size_t>(area.imageWidth) * area.imageHeight ||
        out.size() < boxWidth * boxHeight)
        return false;
    std::vector<int64_t> columns(boxWidth);
    for (size_t x = 0; x < boxWidth; ++x)
        columns[x] = CellAt(static_cast<double>(x), t.left, t.width, t.imageWidth);
    for (size_t y = 0; y < boxHeight; ++y) {
        uint32_t* line = out.data() + y * boxWidth;
        const int64_t row = CellAt(static_cast<double>(y), t.top, t.height, t.imageHeight);
        if (row < 0) {
            std::fill_n(line, boxWidth, background);
            continue;
        }
        const uint32_t* source = image.data() + static_cast<size_t>(row) * t.imageWidth;
        for (size_t x = 0; x < boxWidth; ++x)
            line[x] = columns[x] < 0 ? background : source[columns[x]];
    }
    return true;
}

}  // namespace ulvarin
