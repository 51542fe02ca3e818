// How a frame reaches the main window: read by the operator's buttons or received in the
// background, taken in by NewFrame, and shown in the image box.
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "app/frame_preview.h"
#include "app/paint_box.h"
#include "app/program.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/report.h"

namespace ulvarin {

void TFormUlvarin::BttnGetDataClick() {
    BeginOperation();
    const double start = Now();
    device.Clear();
    if (!ReadMatrix(device, frames.rawFrame.data(), chipCount * kChipPixels, &frames.frameTime))
        return;
    ReportError(device, kMessage, "\"Read Matrix\" executed in %05lg sec", Now() - start);
    ui.BttnStart->setEnabled(true);
    ui.BttnStop->setEnabled(false);
    NewFrame();
}

void TFormUlvarin::BttnStopClick() {
    BeginOperation();
    device.Clear();
    if (!CloseShutterRead(device, frames.rawFrame.data(), chipCount * kChipPixels,
                          &frames.frameTime))
        return;
    ui.BttnStart->setEnabled(true);
    ui.BttnStop->setEnabled(false);
    NewFrame();
}

void TFormUlvarin::NewFrame() {
    const size_t pixels = chipCount * static_cast<size_t>(kChipPixels);
    std::copy_n(frames.rawFrame.begin(), pixels, frames.countFrame.begin());
    frames.integratedTime = frames.frameTime;
    frames.redrawPending = true;
    ui.PaintBoxBitmap->update();
}

void TFormUlvarin::DropDisplayBitmap() {
    *preview_ = QImage();
}

// The picture is rebuilt only after a new frame; other repaints reuse it, stretched over the
// whole box.
void TFormUlvarin::PaintImage(QPainter& painter, const QRect& area) {
    if (frames.redrawPending) {
        *preview_ = GreyPreview(frames.rawFrame.data(), static_cast<int>(chipCount.load()), isMxr);
        frames.redrawPending = false;
    }
    if (preview_->isNull())
        painter.fillRect(area, Qt::black);
    else
        painter.drawImage(area, *preview_);
}

}  // namespace ulvarin
