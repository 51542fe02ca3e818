// A copy of one unasked message of the interface, taken while the device layer still holds
// the record, so it can be handled later on the GUI thread.
#pragma once

#include <cstdint>
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

}  // namespace ulvarin
