#include "app/background_item.h"

namespace ulvarin {

BackgroundItem CopyBackgroundItem(const MpxCommandResponse& record, uint32_t framePixels) {
    BackgroundItem item;
    item.letter = record.letter;
    // A frame's raw stream is not needed once decoded; other items keep their bytes.
    if (record.parameters != nullptr && record.frameNumber == 0)
        item.parameters.assign(record.parameters, record.parameters + record.count);
    item.frameNumber = record.frameNumber;
    item.time = record.time;
    if (record.messageText != nullptr) item.messageText = record.messageText;
    if (record.frameNumber != 0 && record.destination != nullptr && framePixels > 0 &&
        record.capacity >= framePixels)
        item.frame.assign(record.destination, record.destination + framePixels);
    return item;
}

}  // namespace ulvarin
