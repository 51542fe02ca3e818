// The main window's side of the messages the interface sends on its own. The hook runs on
// the thread that drains them (the main timer's or the monitoring thread) while the device
// lock is held: it reports at once, so lines keep the order of the reports around them, and
// hands everything that touches the window to the GUI thread, in the order received.
#include <QMetaObject>
#include <algorithm>
#include <memory>

#include "app/background_item.h"
#include "app/form_ulvarin.h"
#include "device/protocol.h"
#include "device/report.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/pulses/pulse_panel.h"

namespace ulvarin {

void TFormUlvarin::HandleBackgroundMessage(MpxDevice& handle, MpxCommandResponse& record) {
    const uint8_t letter = record.letter;
    if (letter == '=') return;  // "Periodic erase, waiting for trigger": nothing to show
    const uint32_t framePixels = shared.chipCount * static_cast<uint32_t>(kChipPixels);
    auto item = std::make_shared<BackgroundItem>(CopyBackgroundItem(record, framePixels));
    if (letter == '$') {
        QMetaObject::invokeMethod(
            this,
            [this, item] {
                pulses->TakeScopeShot(item->parameters, analog->InvertedScopeChannels());
            },
            Qt::AutoConnection);
    } else if (item->frameNumber != 0) {
        ReportError(handle, kMessage, "Frame received: ID=0x%04x, t=%05lg sec",
                    static_cast<unsigned>(item->frameNumber), item->time);
        if (frameHandoff_.Put(item))
            QMetaObject::invokeMethod(this, [this] { TakeBackgroundFrames(); }, Qt::AutoConnection);
    } else if (item->messageText) {
        ReportError(handle, kMessage, "%s", item->messageText->c_str());
    } else {
        // For an error message (letter 0) the text ends at the letter, at the bracket; the
        // error itself is reported right after by the protocol.
        ReportError(handle, kGeneralError, "Unhandled background message: [%c = 0x%02x .. \"%s\"]",
                    letter, letter, CommandName(letter));
    }
}

// Each frame is taken in (integrated, autosaved) in order; the image is redrawn once for
// all of them at its next paint.
void TFormUlvarin::TakeBackgroundFrames() {
    uint64_t dropped = 0;
    for (const std::shared_ptr<const BackgroundItem>& item : frameHandoff_.TakeAll(dropped)) {
        FrameStore& frames = shared.frames;
        const size_t pixels = std::min(item->frame.size(), frames.raw().size());
        std::copy_n(item->frame.begin(), pixels, frames.raw().begin());
        frames.frameTime = item->time;
        shared.BackgroundFrameArrived();
    }
    if (dropped > 0)
        shared.AddLogLine(
            QStringLiteral("The window could not keep up: %1 frame(s) not taken in").arg(dropped));
}

}  // namespace ulvarin
