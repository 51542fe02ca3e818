// The image box of the image panel: the picture painted with square pixels at the zoom and
// pan the operator left, the wheel, drags and double clicks over it, the region and its
// statistics, the pixel under the pointer, and the chip numbers and outlines over the
// quadrants.
#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "imaging/image_statistics.h"
#include "panels/image/image_panel.h"
#include "panels/shared/window_shared.h"
#include "widgets/paint_box.h"

namespace ulvarin {
namespace {

// Quadrant of chip position i + 1 in half-images: upper right, upper left, lower left, lower
// right.
constexpr int kQuadrantColumn[4] = {1, 0, 0, 1};
constexpr int kQuadrantRow[4] = {0, 0, 1, 1};

// The outline of the region over the image.
const QColor kRegionColour(0, 255, 255);

}  // namespace

// The wheel zooms about the pointer and is used up here, so nothing else scrolls with it. A
// left drag moves a zoomed image, Shift+left or right draws the region, a double click
// fits the whole image again.
bool ImagePanel::ImageMouseEvent(QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint at = wheel->position().toPoint();
        const int notches = wheel->angleDelta().y();
        if (notches != 0) ZoomImageAt(at.x(), at.y(), std::pow(kWheelZoomStep, notches / 120.0));
        return true;
    }
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (!press && event->type() != QEvent::MouseMove &&
        event->type() != QEvent::MouseButtonRelease && event->type() != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        BttnResetZoomClick();
        return false;
    }
    if (press) {
        const bool region =
            mouse->button() == Qt::RightButton ||
            (mouse->button() == Qt::LeftButton && mouse->modifiers().testFlag(Qt::ShiftModifier));
        const std::optional<ImagePoint> pixel = ImagePixelAt(ImageTransform(), at.x(), at.y());
        if (region && pixel) {
            drag_ = Drag::Region;
            regionFrom_ = *pixel;
            SetRegion(*pixel, *pixel);
        } else if (mouse->button() == Qt::LeftButton && zoom_.zoomed()) {
            drag_ = Drag::Pan;
            dragFrom_ = at;
            dragZoom_ = zoom_;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        drag_ = Drag::None;
    } else if (drag_ == Drag::Pan) {
        const QPoint moved = at - dragFrom_;
        zoom_ = PanBy(dragZoom_, ImageArea(), moved.x(), moved.y());
        ViewMoved(at);
    } else if (drag_ == Drag::Region) {
        const std::optional<ImagePoint> to = NearestImagePixel(ImageTransform(), at.x(), at.y());
        if (to) SetRegion(regionFrom_, *to);
    }
    ShowPointedPixel(at.x(), at.y());
    return false;
}

ViewArea ImagePanel::ImageArea() const {
    const ImageGeometry g = shared_.frames.geometry();
    return {PaintBoxBitmap->width(), PaintBoxBitmap->height(), g.width(), g.height()};
}

ViewTransform ImagePanel::ImageTransform() const {
    return TransformFor(zoom_, ImageArea());
}

void ImagePanel::ZoomImageAt(int x, int y, double factor) {
    zoom_ = ZoomAt(zoom_, ImageArea(), x, y, factor);
    ViewMoved(QPoint(x, y));
}

void ImagePanel::BttnResetZoomClick() {
    zoom_ = {};
    drag_ = Drag::None;
    ViewMoved(PaintBoxBitmap->mapFromGlobal(QCursor::pos()));
}

void ImagePanel::ViewMoved(QPoint pointer) {
    PlaceChipMarks();
    if (PaintBoxBitmap->rect().contains(pointer)) ShowPointedPixel(pointer.x(), pointer.y());
    PaintBoxBitmap->update();
}

void ImagePanel::SetRegion(ImagePoint from, ImagePoint to) {
    region_ = ImageRect{std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x),
                        std::max(from.y, to.y)};
    ShowRegionStatistics();
    PaintBoxBitmap->update();
}

void ImagePanel::BttnClearRegionClick() {
    region_.reset();
    drag_ = Drag::None;
    ShowRegionStatistics();
    PaintBoxBitmap->update();
}

// Recomputed with every new view, so the region's numbers follow the frames as the whole
// image's do.
void ImagePanel::ShowRegionStatistics() {
    const FrameStore& frames = shared_.frames;
    regionStatistics_ = {};
    if (!region_) {
        for (QLabel* label :
             {LabelRegionSum, LabelRegionCount, LabelRegionAverage, LabelRegionStdDev})
            label->setText(QStringLiteral("-"));
        LabelRegion->setText(QStringLiteral("none"));
        return;
    }
    const uint32_t inUse = frames.pixelsInUse();
    regionStatistics_ = ComputeRegionStatistics(
        frames.result().first(inUse), frames.config().first(inUse), frames.layout(), *region_);
    const StatisticsLabels labels = FormatStatisticsLabels(regionStatistics_, 0.0);
    LabelRegion->setText(QStringLiteral("%1,%2 %3x%4")
                             .arg(region_->left)
                             .arg(region_->top)
                             .arg(region_->width())
                             .arg(region_->height()));
    LabelRegionSum->setText(QString::fromStdString(labels.sum));
    LabelRegionCount->setText(QString::number(regionStatistics_.goodCount));
    LabelRegionAverage->setText(QString::fromStdString(labels.average));
    LabelRegionStdDev->setText(QString::fromStdString(labels.standardDeviation));
}

Placement ImagePanel::ImagePlacement() const {
    const ImageGeometry g = shared_.frames.geometry();
    return PlaceImage(PaintBoxBitmap->width(), PaintBoxBitmap->height(), g.width(), g.height());
}

void ImagePanel::PaintImage(QPainter& painter, const QRect& area) {
    if (!renderInFlight_) {
        paintingImage_ = true;
        RecomputeImageIfFlagged();
        paintingImage_ = false;
    }
    painter.fillRect(area, Qt::black);
    if (shared_.frames.pixelsInUse() == 0 || imagePixels_.empty()) return;
    // Every box pixel shows the pixel named under the pointer there: sharp blocks when
    // zoomed, and no hot pixel blurred away when shrunk.
    const ViewArea box = ImageArea();
    const ViewTransform t = ImageTransform();
    boxPixels_.resize(static_cast<size_t>(std::max(0, box.boxWidth)) *
                      static_cast<size_t>(std::max(0, box.boxHeight)));
    if (!RenderView(t, box, imagePixels_, 0xFF000000u, boxPixels_)) return;
    const QImage picture(reinterpret_cast<const uchar*>(boxPixels_.data()), box.boxWidth,
                         box.boxHeight, QImage::Format_RGB32);
    painter.drawImage(QPoint(0, 0), picture);
    if (!region_) return;
    // Just outside the region's pixels, so that none of them is hidden.
    const BoxRect r = BoxRectOf(t, *region_);
    painter.setPen(QPen(kRegionColour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(r.left - 1, r.top - 1), QPoint(r.right, r.bottom)));
}

void ImagePanel::ShowPointedPixel(int x, int y) {
    const FrameStore& frames = shared_.frames;
    const std::optional<PointedPixel> pointed =
        PixelAtPoint(ImageTransform(), x, y, frames.layout());
    if (!pointed) {
        LabelPixelInfo->clear();
        return;
    }
    const double value = frames.result()[pointed->pixel];
    LabelPixelInfo->setText(QString::fromStdString(DescribePixel(*pointed, value)));
}

// The marks cover the quadrants of the image as it is drawn now.
void ImagePanel::PlaceChipMarks() {
    const ViewTransform t = ImageTransform();
    const uint32_t halfWidth = t.imageWidth / 2;
    const uint32_t halfHeight = t.imageHeight / 2;
    for (int i = 0; i < 4; ++i) {
        const uint32_t left = kQuadrantColumn[i] * halfWidth;
        const uint32_t top = kQuadrantRow[i] * halfHeight;
        const BoxRect r =
            halfWidth == 0 ? BoxRect{}
                           : BoxRectOf(t, {left, top, left + halfWidth - 1, top + halfHeight - 1});
        const QRect quadrant(QPoint(r.left, r.top), QPoint(r.right, r.bottom));
        numberShapes_[i]->setGeometry(quadrant.adjusted(2, 2, -2, -2));
        numberLabels_[i]->setGeometry(quadrant);
    }
}

void ImagePanel::ShowChipMarks(bool numbers, bool outlines) {
    PlaceChipMarks();
    for (int i = 0; i < 4; ++i) {
        numberLabels_[i]->setVisible(numbers);
        numberShapes_[i]->setVisible(outlines);
    }
}

// A quadrant's number label names the chip the image shows there, which is not the
// quadrant's position on every chip type.
void ImagePanel::OutlineChip(int item) {
    PlaceChipMarks();
    for (size_t i = 0; i < 4; ++i)
        numberShapes_[i]->setVisible(item <= 0 ||
                                     numberLabels_[i]->text() == QString::number(item));
}

}  // namespace ulvarin
