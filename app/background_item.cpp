#include "app/background_item.h"

namespace ulvarin {

BackgroundItem CopyBackgroundItem(const MpxCommandResponse& record, uint32_t framePixels) {
    BackgroundItem item;
    item.letter = record.letter;
    if (record.parameters != nullptr)
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
