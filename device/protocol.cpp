#include "device/protocol.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "device/clock.h"
#include "device/counter_codes.h"
#include "device/drivers/driver_registry.h"
#include "device/link.h"
#include "device/matrix_stream.h"
#include "device/report.h"
#include "device/thread_priority.h"

namespace ulvarin {
namespace {

constexpr char kSyncPattern[] = "1234567890qwertyuiopasdfghjklzxcvbnmOK\r";
constexpr int kSyncPatternLength = 39;
constexpr char kUnitOnLine[] = "Unit is on line.";
constexpr uint32_t kBufferRoom = kReceiveBufferSize - 1;  // bytes a reception may fill
constexpr double kTimeUnit = 20000000.0;                  // time counter ticks per second

std::atomic<BackgroundHook> gBackgroundHook{nullptr};
std::atomic<void*> gBackgroundUser{nullptr};

const char* Outcome(bool ok) {
    return ok ? "OK" : "failed";
}

// Reads exactly `n` bytes into `out` (as far as they come within the driver timeout).
uint32_t ReadInto(MpxDevice& handle, uint8_t* out, uint32_t n) {
    return n == 0 ? 0 : Receive(handle, out, n, n);
}

bool IsTerminator(const uint8_t* bytes) {
    return bytes[0] == 'O' && bytes[1] == 'K' && bytes[2] == '\r';
}

// Reads into `text` until `terminator` (default timeout, no gap): the count before it, or
// -1 when it never came. A wait that gives up before any byte has arrived also counts 0
// bytes, so the terminator's own place tells a silent link from an empty text.
int ReceiveTerminated(MpxDevice& handle, char* text, uint32_t capacity, uint8_t terminator) {
    const int n = ReceiveUntil(handle, text, static_cast<int>(capacity), terminator, 0, 0);
    return n >= 0 && static_cast<uint8_t>(text[n]) == terminator ? n : -1;
}

// Reads the three terminator bytes "OK\r".
bool ReadTerminator(MpxDevice& handle) {
    uint8_t t[3] = {};
    return ReadInto(handle, t, 3) == 3 && IsTerminator(t);
}

// Decodes a received matrix stream into the record's destination, reporting (without
// failing the parse) when the stream or the codes are bad.
void DecodeFrame(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record, uint8_t* stream,
                 uint32_t length) {
    if (record.destination == nullptr) return;
    if (!StreamToMatrix(d.isMxr, stream, length, record.destination, record.capacity)) {
        ReportError(handle, kGeneralError, "Error deserializing data stream");
        return;
    }
    uint32_t values = std::min<uint32_t>(d.chipCount * kChipPixels, record.capacity);
    if (!ConvertCounterCodes(record.destination, values, d.isMxr, true))
        ReportError(handle, kGeneralError, "Error converting data from pseudo codes");
}

// Reads a frame stream (after `lead` bytes already read: the first byte, or the first byte
// and time counter) and decodes it. Returns false after resynchronising.
bool ReceiveFrame(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record, bool timed) {
    uint8_t* buffer = d.receiveBuffer.get();
    const uint32_t frame = FrameStreamBytes(d.chipCount, d.isMxr);
    const uint32_t total = frame + (timed ? 6 : 0);
    const char* shortText = timed ? "Reception of timed frame stream failed - not enough data."
                                  : "Reception of frame stream failed - not enough data.";
    // No chips, or more than the buffer can hold: the frame cannot be taken.
    if (frame == 0 || total > kBufferRoom) return Resynchronize(handle, shortText, kFatalError);
    record.count = ReadInto(handle, buffer + 1, total - 1) + 1;
    if (record.count < total) return Resynchronize(handle, shortText, kFatalError);
    record.frameNumber = ++d.frameCounter;
    uint8_t* stream = buffer;
    if (timed) {
        uint64_t ticks = 0;
        for (int i = 5; i >= 0; --i) ticks = (ticks << 8) | buffer[i];
        record.time = static_cast<double>(ticks) / kTimeUnit;
        stream += 6;
    }
    DecodeFrame(handle, d, record, stream, record.count - (timed ? 6 : 0));
    return true;
}

bool ReceiveScope(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record) {
    uint8_t* buffer = d.receiveBuffer.get();
    if (ReadInto(handle, buffer + 1, 1) != 1)
        return Resynchronize(handle, "Reception of scope data failed.", kFatalError);
    const uint32_t k = buffer[0] | (buffer[1] << 8);
    const uint32_t samples = 2 * (k + 1);  // at most 131,072: always fits the buffer
    record.count = ReadInto(handle, buffer + 2, samples) + 2;
    if (record.count < samples + 2)
        return Resynchronize(handle, "Reception of frame stream failed - not enough data.",
                             kFatalError);
    return true;
}

// Reads a text parameter ended by CR; the first character is already in the buffer.
bool ReceiveText(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record) {
    char* text = reinterpret_cast<char*>(d.receiveBuffer.get());
    if (text[0] == '\r') {  // an empty text: the CR is already here
        text[0] = 0;
        record.count = 0;
        return true;
    }
    const int n = ReceiveTerminated(handle, text + 1, kBufferRoom - 1, '\r');
    if (n < 0) return Resynchronize(handle, "Reception of string parameter failed.", kFatalError);
    text[n + 1] = 0;
    record.count = static_cast<uint32_t>(n) + 1;
    return true;
}

// Reads `n` parameter bytes in all; the first is already in the buffer.
bool ReceiveFixed(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record, uint32_t n,
                  const char* shortText) {
    record.count = ReadInto(handle, d.receiveBuffer.get() + 1, n - 1) + 1;
    if (record.count < n) return Resynchronize(handle, shortText, kFatalError);
    return true;
}

// Text message whose opening quote has been read: stores it with its quotes at the start of
// the receive buffer and ends with the CR after the closing quote.
bool ReceiveQuotedText(MpxDevice& handle, DeviceDescr& d, const char* missingQuote,
                       const char* missingCr) {
    char* text = reinterpret_cast<char*>(d.receiveBuffer.get());
    text[0] = '"';
    if (ReceiveTerminated(handle, text + 1, kBufferRoom - 1, '"') < 0)
        return Resynchronize(handle, missingQuote, kFatalError);
    uint8_t cr = 0;
    if (ReadInto(handle, &cr, 1) != 1 || cr != '\r')
        return Resynchronize(handle, missingCr, kFatalError);
    return true;
}

bool ReceiveErrorMessage(MpxDevice& handle, DeviceDescr& d, MpxCommandResponse& record) {
    MpxStatPacketer packet(handle);
    char* text = reinterpret_cast<char*>(d.receiveBuffer.get());
    record.letter = 0;
    record.errorText = text;
    const bool whole = ReceiveTerminated(handle, text, kBufferRoom, '\r') >= 0;
    const bool online = std::strstr(text, kUnitOnLine) != nullptr;
    if (!whole) {
        if (online)
            ReportError(handle, kBadResponse, "Error received: %s", text);
        else
            Resynchronize(handle, text, kDeviceError);
        return false;
    }
    const int8_t kind = online ? kBadResponse : kDeviceError;
    // Kept so a command waiting for its response learns that the device objected.
    std::snprintf(record.pendingError, sizeof record.pendingError, "%.*s",
                  static_cast<int>(std::strcspn(text, "\r")), text);
    record.pendingErrorKind = kind;
    CallBackgroundHook(handle, record);
    ReportError(handle, kind, "Error received: %s", text);
    return true;
}

bool ReceiveTextMessage(MpxDevice& handle, DeviceDescr& d) {
    MpxStatPacketer packet(handle);
    MpxCommandResponse& bg = d.backgroundResponse;
    if (!ReceiveQuotedText(handle, d,
                           "Error receiving text message. Missing [\"] string terminator.",
                           "Error receiving text message. Missing [0x0d] terminator."))
        return false;
    // A fresh record, so a stale frame number is not taken for a new frame.
    bg.Reset();
    bg.messageText = reinterpret_cast<const char*>(d.receiveBuffer.get());
    CallBackgroundHook(handle, bg);
    return true;
}

bool ReceiveBackgroundBlock(MpxDevice& handle, DeviceDescr& d) {
    ++handle.packets;
    MpxCommandResponse& item = d.backgroundResponse;
    for (;;) {
        item.Reset();
        item.isBackground = true;
        if (ReadInto(handle, &item.letter, 1) != 1)
            return Resynchronize(handle, "Unexpected end of background message.", kFatalError);
        if (item.letter == ']') {
            item.Reset();
            ++handle.packets;
            return true;
        }
        if (item.letter == '"') {
            MpxStatPacketer packet(handle);
            item.letter = 0;
            const char* failed = "Error receiving background message text.";
            if (!ReceiveQuotedText(handle, d, failed, failed)) return false;
            item.messageText = reinterpret_cast<const char*>(d.receiveBuffer.get());
        } else if (!ParseResponse(handle, item)) {
            return Resynchronize(handle, "Background message reception failed.", kFatalError);
        }
        CallBackgroundHook(handle, item);
    }
}

// NextResponse that also gives up once `deadline` has passed between messages.
bool NextResponseUntil(MpxDevice& handle, MpxCommandResponse& record, double deadline) {
    for (;;) {
        if (!ReceiveMessage(handle, record)) return false;
        if (record.letter != 0) return true;
        if (Now() >= deadline) return false;
        std::this_thread::yield();
    }
}

// The interface takes a command's parameters by count and waits for them however long
// they take, so after a transmit that stopped part way it would take the next bytes sent,
// the synchronisation packet included, as the rest. Filler bytes make up the missing count
// so that it finishes the command (with spoilt parameters: the caller learns the command
// failed); the synchronisation then skips its answer. Reports the outcome.
void CompleteCutCommand(MpxDevice& handle, uint8_t letter, uint32_t written, uint32_t length) {
    const std::vector<uint8_t> filler(length - written, 0);
    uint32_t sent = 0;
    while (sent < filler.size()) {
        MpxStatPacketer packet(handle);
        const uint32_t n =
            Transmit(handle, filler.data() + sent, static_cast<uint32_t>(filler.size()) - sent);
        if (n == 0) break;  // the link takes nothing more: a synchronisation cannot help
        sent += n;
    }
    const bool ok = sent == filler.size() && Synchronize(handle);
    ReportError(handle, ok ? kTransmissionFailed : kTimeoutError,
                "Command \"%s\" cut after %u of %u bytes; completed with filler. "
                "Resynchronization %s.",
                CommandName(letter), written, length, Outcome(ok));
}

void ReportDeviceError(MpxDevice& handle, const MpxCommandResponse& record, uint8_t letter,
                       uint32_t attempt, uint32_t attempts) {
    if (attempt == 1)
        ReportError(handle, record.pendingErrorKind,
                    "Error \"%s\" reported by device performing command \"%s\"",
                    record.pendingError, CommandName(letter));
    else
        ReportError(handle, record.pendingErrorKind,
                    "Retry %u of %u. Error \"%s\" reported by device performing command \"%s\"",
                    attempt - 1, attempts, record.pendingError, CommandName(letter));
}

}  // namespace

bool ExecuteCommand(MpxDevice& handle, MpxCommandResponse& record, const void* command,
                    uint32_t length, double timeout, uint32_t attempts) {
    MpxStatLeveler level(handle);
    MpxCriticalSection lock;
    ThreadPriorityBoost boost;
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr || command == nullptr) return false;
    if (timeout < 0) timeout = d->defaultTimeout;
    if (attempts == 0) attempts = d->defaultAttempts;
    const auto letter = *static_cast<const uint8_t*>(command);
    if (length == 0) length = static_cast<uint32_t>(std::strlen(static_cast<const char*>(command)));

    for (uint32_t attempt = 1; attempt <= attempts; ++attempt) {
        record.pendingError[0] = 0;
        uint32_t written;
        {
            MpxStatPacketer packet(handle);
            written = Transmit(handle, command, length);
        }
        if (written == 0 || written < length) {
            if (written > 0) CompleteCutCommand(handle, letter, written, length);
            ReportError(handle, kTransmissionFailed, "Command \"%s\" failed.", CommandName(letter));
            continue;
        }
        if (!WaitResponse(handle, record, letter, timeout)) continue;
        if (record.pendingError[0] == 0) {
            ReportError(handle, kMessage, "Command \"%s\" performed OK.", CommandName(letter));
            return true;
        }
        ReportDeviceError(handle, record, letter, attempt, attempts);
        const int kind = CommandResponseKind(letter);
        if (kind == kRespFrame || kind == kRespTimedFrame) {
            ReportDeviceError(handle, record, letter, 1, attempts);
            return false;
        }
    }
    return false;
}

bool WaitResponse(MpxDevice& handle, MpxCommandResponse& record, uint8_t letter, double timeout) {
    MpxStatLeveler level(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return false;
    if (timeout < 0) timeout = d->defaultTimeout;
    const double deadline = Now() + timeout;
    for (;;) {
        if (NextResponseUntil(handle, record, deadline)) break;
        const double now = Now();
        if (now >= deadline) {
            bool ok = Synchronize(handle);
            ReportError(handle, ok ? kUnsupported : kTimeoutError,
                        "Timeout. Not received response to '%c' [0x%02x] = \"%s\". "
                        "Resynchronization %s.",
                        letter, letter, CommandName(letter), Outcome(ok));
            return false;
        }
        uint32_t depth = 0;
        if (Driver().GetStatus(d->handle, depth) != FT_OK) {
            // A dead link: wait out the deadline without hammering the driver.
            MpxClock::Sleep(0.010);
        } else if (depth == 0) {
            Driver().WaitForData(d->handle, deadline - now);
        }
    }
    if (record.letter == letter) return true;
    const uint8_t got = record.letter;
    std::string gotName = CommandName(got);
    bool ok = Synchronize(handle);
    ReportError(handle, ok ? kFatalError : kTimeoutError,
                "Got response to different command: '%c' [0x%02x] = \"%s\", istead of '%c' "
                "[0x%02x] = \"%s\". Resynchronization %s.",
                got, got, gotName.c_str(), letter, letter, CommandName(letter), Outcome(ok));
    return false;
}

bool NextResponse(MpxDevice& handle, MpxCommandResponse& record) {
    for (;;) {
        if (!ReceiveMessage(handle, record)) return false;
        if (record.letter != 0) return true;
        std::this_thread::yield();
    }
}

bool ReceiveMessage(MpxDevice& handle, MpxCommandResponse& record) {
    MpxStatLeveler level(handle);
    MpxCriticalSection lock;
    record.Reset();
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr || QueueDepth(handle) == 0) return false;
    uint8_t first = 0;
    if (ReadInto(handle, &first, 1) != 1) return false;
    switch (first) {
        case '!':
            return ReceiveErrorMessage(handle, *d, record);
        case '"':
            return ReceiveTextMessage(handle, *d);
        case '[':
            record.letter = 0;
            return ReceiveBackgroundBlock(handle, *d);
        default:
            record.letter = first;
            if (!ParseResponse(handle, record))
                return Resynchronize(handle, "Error receiving command response.", kFatalError);
            return true;
    }
}

bool ParseResponse(MpxDevice& handle, MpxCommandResponse& record) {
    MpxStatLeveler level(handle);
    MpxStatPacketer packet(handle);
    DeviceDescr* d = FindDevice(handle);
    if (d == nullptr) return false;
    const CommandDescr* descr = FindCommand(record.letter);
    if (descr == nullptr) return Resynchronize(handle, "Unknown response received.", kFatalError);
    uint8_t* buffer = d->receiveBuffer.get();
    d->receivedCount = 0;
    if (ReadInto(handle, buffer, 1) != 1)
        return Resynchronize(handle, "Too short response.", kFatalError);

    int kind = descr->responseKind;
    if (kind == kRespChipIds) kind = 4 * d->chipCount;  // fixed length, checked like the others
    if (kind == 0) {
        // The byte read is the first of the terminator.
        if (ReadInto(handle, buffer + 1, 2) != 2 || !IsTerminator(buffer))
            return Resynchronize(handle, "Missing response terminator.", kFatalError);
        record.count = 0;
        record.parameters = nullptr;
        return true;
    }
    bool ok = true;
    switch (kind) {
        case kRespText:
            ok = ReceiveText(handle, *d, record);
            break;
        case kRespFrame:
            ok = ReceiveFrame(handle, *d, record, false);
            break;
        case kRespTimedFrame:
            ok = ReceiveFrame(handle, *d, record, true);
            break;
        case kRespScope:
            ok = ReceiveScope(handle, *d, record);
            break;
        default: {
            const char* shortText = descr->responseKind == kRespChipIds
                                        ? "Reception of chip ID failed."
                                        : "Missing response parameters.";
            ok = ReceiveFixed(handle, *d, record, static_cast<uint32_t>(kind), shortText);
        }
    }
    if (!ok) return false;
    d->receivedCount = record.count;
    record.parameters = buffer;
    if (!ReadTerminator(handle))
        return Resynchronize(handle, "Missing response terminator.", kFatalError);
    return true;
}

bool DrainBackground(MpxDevice& handle, MpxCommandResponse& record, double budget) {
    MpxStatLeveler level(handle);
    if (FindDevice(handle) == nullptr) return false;
    const double until = Now() + budget;
    while (QueueDepth(handle) > 0 && Now() < until) {
        if (NextResponseUntil(handle, record, until)) CallBackgroundHook(handle, record);
    }
    return true;
}

bool Synchronize(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    ++handle.packets;
    {
        MpxStatPacketer packet(handle);
        if (Transmit(handle, " ", 1) != 1) {
            ReportError(handle, kTransmissionFailed, "Can't synchronize");
            return false;
        }
    }
    MpxStatPacketer packet(handle);
    if (SearchString(handle, kSyncPattern, kSyncPatternLength, 0, 0) <= 0) {
        ReportError(handle, kTimeoutError, "Synchronization failed");
        return false;
    }
    return true;
}

bool Resynchronize(MpxDevice& handle, const char* message, int8_t kind) {
    // The message may live in the receive buffer that the synchronisation overwrites.
    std::string text = message;
    bool ok = Synchronize(handle);
    ReportError(handle, ok ? kind : kTimeoutError, "%s. Resynchronization %s.", text.c_str(),
                Outcome(ok));
    return false;
}

const char* CommandName(uint8_t letter) {
    if (const CommandDescr* d = FindCommand(letter)) return d->name;
    thread_local char text[32];
    if (letter >= 0x21 && letter <= 0x7F)
        std::snprintf(text, sizeof text, "Unknown command [%c]", letter);
    else
        std::snprintf(text, sizeof text, "Unknown command [%02x]", letter);
    return text;
}

int CommandResponseKind(uint8_t letter) {
    const CommandDescr* d = FindCommand(letter);
    return d != nullptr ? d->responseKind : kRespUnknown;
}

void SetBackgroundHook(BackgroundHook hook, void* user) {
    MpxCriticalSection lock;
    gBackgroundUser.store(user);
    gBackgroundHook.store(hook);
}

void CallBackgroundHook(MpxDevice& handle, MpxCommandResponse& record) {
    if (BackgroundHook hook = gBackgroundHook.load()) hook(handle, record, gBackgroundUser.load());
}

}  // namespace ulvarin
