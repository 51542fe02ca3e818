// A copy of one unasked message of the interface, taken while the device layer still holds
// the record, so it can be handled later on the GUI thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/command_response.h"

namespace ulvarin {

struct BackgroundItem {
    uint8_t letter = 0;
    std::vector<uint8_t> parameters;
    int32_t frameNumber = 0;
    double time = 0.0;
    std::optional<std::string> messageText;  // with its opening quote, as received
    std::vector<uint16_t> frame;             // decoded pixels; empty when none came with it
};

// Copies what the window needs out of `record`. The decoded frame is taken only when the
// record's destination holds at least `framePixels` values.
BackgroundItem CopyBackgroundItem(const MpxCommandResponse& record, uint32_t framePixels);

// Frames handed from the thread that reads them to the GUI thread. Every frame is kept (the
// window integrates and autosaves each) up to a bound, so a GUI thread held up (a box
// open, a long command) cannot make the queue grow without end; frames finding it full are
// dropped and counted. The GUI thread takes all that wait at once, so a burst costs it one
// event and one repaint.
class FrameHandoff {
public:
    explicit FrameHandoff(size_t maxFrames) : maxFrames_(maxFrames) {}

    // Any thread. True when the queue was empty before: the GUI thread must be told.
    bool Put(std::shared_ptr<const BackgroundItem> frame);
    // The frames waiting, oldest first; `dropped` gets how many were dropped since the last
    // take.
    std::deque<std::shared_ptr<const BackgroundItem>> TakeAll(uint64_t& dropped);

private:
    const size_t maxFrames_;
    std::mutex mutex_;
    std::deque<std::shared_ptr<const BackgroundItem>> frames_;
    uint64_t dropped_ = 0;
};

}  // namespace ulvarin
