// The command protocol: commands go out as a letter plus parameter bytes; every message
// of the interface (command responses, error and text messages, background blocks) is
// parsed, and lost framing is regained by the synchronisation exchange.
#pragma once

#include <cstdint>

#include "device/command_response.h"
#include "device/device.h"
#include "wire/command_table.h"

namespace ulvarin {

// Adds 1 to the handle's packet count when it ends.
class MpxStatPacketer {
public:
    explicit MpxStatPacketer(MpxDevice& handle) : handle_(handle) {}
    ~MpxStatPacketer() { ++handle_.packets; }
    MpxStatPacketer(const MpxStatPacketer&) = delete;
    MpxStatPacketer& operator=(const MpxStatPacketer&) = delete;

private:
    MpxDevice& handle_;
};

// Sends `command` (length 0: up to the NUL) and waits for its response into `record`, up to
// `attempts` times (0: the device's default). `timeout` < 0 means the device's default.
// Every failure is reported; a response received with an error message from the device in
// between counts as a failure of the command. A transmit that stopped part way leaves the
// interface waiting for the rest: it is completed with filler bytes (the interface then
// performs the command with spoilt parameters) and the link synchronised before the next
// attempt, so the next command is understood.
bool ExecuteCommand(MpxDevice& handle, MpxCommandResponse& record, const void* command,
                    uint32_t length = 0, double timeout = -1.0, uint32_t attempts = 0);

// Waits until the response to `letter` is in `record`. On timeout or a response to another
// letter: synchronises, reports and returns false.
bool WaitResponse(MpxDevice& handle, MpxCommandResponse& record, uint8_t letter, double timeout);
// Receives messages until a command response is in `record` or nothing more is waiting.
bool NextResponse(MpxDevice& handle, MpxCommandResponse& record);
// Receives one message of any form; false when nothing waits or the message was bad.
bool ReceiveMessage(MpxDevice& handle, MpxCommandResponse& record);
// Reads the rest of a command response whose letter is in `record`.
bool ParseResponse(MpxDevice& handle, MpxCommandResponse& record);
// Consumes waiting messages, passing each command response to the background hook. Works
// for a bounded time so a chattering interface cannot stall the caller. False only when the
// handle has no open device.
// `budget` bounds the seconds spent (a message begun is read whole); what is left waits
// for the next call.
bool DrainBackground(MpxDevice& handle, MpxCommandResponse& record, double budget = 0.25);

// Brings host and interface back into step by the synchronisation exchange.
bool Synchronize(MpxDevice& handle);
// Synchronises and reports "<message>. Resynchronization OK|failed."; always false.
bool Resynchronize(MpxDevice& handle, const char* message, int8_t kind);

// The command's name, or "Unknown command [x]" / "Unknown command [0d]". The text stays
// valid until the next call on the same thread.
const char* CommandName(uint8_t letter);
// The letter's response kind, or kRespUnknown.
int CommandResponseKind(uint8_t letter);

// Receives unasked messages: (handle on which it arrived, record holding it, user value).
using BackgroundHook = void (*)(MpxDevice& handle, MpxCommandResponse& record, void* user);
void SetBackgroundHook(BackgroundHook hook, void* user);
// Calls the installed background hook, if any.
void CallBackgroundHook(MpxDevice& handle, MpxCommandResponse& record);

}  // namespace ulvarin
