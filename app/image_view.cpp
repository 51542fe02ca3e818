// The image of the selected view: recomputed when flagged, coloured into a 32-bit image and
// stretched over the image box.
#include <QImage>
#include <QPainter>

#include "app/paint_box.h"
#include "app/program.h"

namespace ulvarin {

void TFormUlvarin::RequestImageRedraw() {
    recompute = true;
    ui.PaintBoxBitmap->update();
}

void TFormUlvarin::DropDisplayBitmap() { imagePixels_.clear(); }

void TFormUlvarin::PaintImage(QPainter& painter, const QRect& area) {
    const ImageGeometry g = frames.geometry();
    if (frames.pixelsInUse() == 0) {
        painter.fillRect(area, Qt::black);
        return;
    }
    if (imagePixels_.size() != g.pixels()) {
        imagePixels_.assign(g.pixels(), 0xFF000000u);
        recompute = true;
    }
    if (recompute) {
        shown = RecomputeImage(frames, view, range, imagePixels_);
        recompute = false;
    }
    const QImage image(reinterpret_cast<const uchar*>(imagePixels_.data()),
                       static_cast<int>(g.width()), static_cast<int>(g.height()),
                       QImage::Format_RGB32);
    painter.drawImage(area, image);
}

}  // namespace ulvarin
