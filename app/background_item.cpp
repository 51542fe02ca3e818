#include "app/background_item.h"

#include <utility>

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

bool FrameHandoff::Put(std::shared_ptr<const BackgroundItem> frame) {
    std::lock_guard lock(mutex_);
    if (frames_.size() >= maxFrames_) {
        ++dropped_;
        return false;  // the GUI thread has been told already
    }
    frames_.push_back(std::move(frame));
    return frames_.size() == 1;
}

std::deque<std::shared_ptr<const BackgroundItem>> FrameHandoff::TakeAll(uint64_t& dropped) {
    std::lock_guard lock(mutex_);
    dropped = dropped_;
    dropped_ = 0;
    return std::exchange(frames_, {});
}

}  // namespace ulvarin
