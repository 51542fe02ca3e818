// How a frame reaches the main window: read by the operator's buttons or received in the
// background, and taken in by NewFrame.
#include <QComboBox>
#include <QPushButton>

#include "app/program.h"
#include "device/chip_commands.h"
#include "device/clock.h"
#include "device/report.h"

namespace ulvarin {

void TFormUlvarin::BttnGetDataClick() {
    BeginOperation();
    const double start = Now();
    device.Clear();
    if (!ReadMatrix(device, frames.raw().data(), frames.pixelsInUse(), &frames.frameTime)) return;
    ReportError(device, kMessage, "\"Read Matrix\" executed in %05lg sec", Now() - start);
    ui.BttnStart->setEnabled(true);
    ui.BttnStop->setEnabled(false);
    NewFrame();
}

void TFormUlvarin::BttnStopClick() {
    BeginOperation();
    device.Clear();
    if (!CloseShutterRead(device, frames.raw().data(), frames.pixelsInUse(), &frames.frameTime))
        return;
    ui.BttnStart->setEnabled(true);
    ui.BttnStop->setEnabled(false);
    NewFrame();
}

void TFormUlvarin::NewFrame() {
    ulvarin::NewFrame(frames, view);
    ui.ComboResult->setCurrentIndex(static_cast<int>(view.view));
    RequestImageRedraw();
}

}  // namespace ulvarin
