// One parsed message of the interface. It is also a holder of the device lock, so a
// command function that makes one at its start owns the interface for its whole run.
#pragma once

#include <cstdint>

#include "device/lock.h"

namespace ulvarin {

class MpxCommandResponse : public MpxCriticalSection {
public:
    // `takeLock` false: the record neither enters nor leaves the lock (the monitoring
    // thread's and each device's background record).
    explicit MpxCommandResponse(bool takeLock = true, uint16_t* destination_ = nullptr,
                                uint32_t capacity_ = 0)
        : MpxCriticalSection(takeLock), destination(destination_), capacity(capacity_) {}

    // Zeroes everything but the lock flag, destination and capacity.
    void Reset() {
        isBackground = false;
        letter = 0;
        count = 0;
        parameters = nullptr;
        errorText = nullptr;
        messageText = nullptr;
        frameNumber = 0;
        time = 0.0;
    }

    bool isBackground = false;
    uint8_t letter = 0;              // 0 when the last message was not a command response
    uint32_t count = 0;              // parameter bytes (text length for text responses)
    const uint8_t* parameters = nullptr;  // inside the device's receive buffer
    const char* errorText = nullptr;      // text of an error message, inside the buffer
    const char* messageText = nullptr;    // text message with its opening quote
    int32_t frameNumber = 0;         // device frame counter after a frame; 0 otherwise
    uint16_t* destination = nullptr; // where frame pixels are decoded, or none
    uint32_t capacity = 0;           // values destination can hold
    double time = 0.0;               // seconds of a timed frame response
    // An error message that arrived while this record waited for a command's response;
    // kept (copied) so the command can report it as a device-reported failure.
    char pendingError[256] = {};
    int8_t pendingErrorKind = 0;
};

}  // namespace ulvarin
