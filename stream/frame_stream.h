// A live stream of frames over ZeroMQ, for analysis programs on this or other machines.
// The acquiring side binds a publishing socket at the endpoint (tcp://*:5555,
// tcp://127.0.0.1:5555, ipc://...); consumers connect a SUB socket and subscribe to "" (each
// subscription to everything makes one consumer; other subscriptions are ignored).
// Every message is multipart: a JSON header, and for frames a second part with the frame
// in the image layout as little-endian uint32 rows (height x width). Each consumer gets its
// own copy of every message, its header opening with the consumer's number on this stream
// ({"consumer": 3, "htype": ...}); the frame's bytes are shared between the copies.
//   {"htype": "series_start", "series": S, "chip_type": ..., "chip_count": ..., "shape":
//    [height, width], "dtype": "uint32", "count_mode": [...], "frames_expected": N,
//    "dac": name (scans)}
//   {"htype": "frame", "series": S, "frame": n (from 1), "shape", "dtype", "exposure": s,
//    "timestamp": s from the start, "chip_type", "chip_count", "count_mode", and for scans
//    "dac" and "value"} (a consumer that joins late learns what it sees from any frame)
//   {"htype": "series_end", "series": S, "frames": sent to this consumer, "dropped": frames
//    this consumer lost}
// Sending never waits: a frame that a consumer cannot take at once (its queue full) is
// dropped for that consumer only, counted for it and told in its series_end; the others get
// every frame, and the frame numbers show each consumer its gaps. series_end waits up to a
// second for room in each consumer's queue when it is full.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/frame_writer.h"

namespace ulvarin {

class FrameStream final : public FrameWriter {
public:
    // Binds `endpoint` and announces the series; when `waitSeconds` > 0, first waits that
    // long at most for a consumer to subscribe (frames sent before anyone listens are not
    // seen); `stopped`, when given, is asked every few hundredths of a second and ends the
    // wait early. nullptr with `error` set when the endpoint cannot be bound.
    static std::unique_ptr<FrameStream> Open(const std::string& endpoint, const RunDescription& run,
                                             double waitSeconds, std::string& error,
                                             const std::function<bool()>& stopped = {});
    ~FrameStream() override;

    // Publishes the frame to every consumer; frames() counts every frame published, whether
    // or not each consumer took it.
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override;
    // Sends each consumer its series_end and closes, giving queued messages a second to leave.
    bool Close() override;

    // Frames that at least one consumer lost, each counted once however many lost it; 0
    // when every consumer connected at the time got every frame.
    int64_t dropped() const { return dropped_; }
    // Consumers being sent to now (one that left is noticed at the next message).
    int consumers() const;
    // The endpoint as bound (a port chosen by the system is filled in).
    const std::string& endpoint() const { return endpoint_; }

private:
    struct Socket;
    FrameStream(std::unique_ptr<Socket> socket, const RunDescription& run);
    bool Fail(const std::string& text) {
        error_ = text;
        return false;
    }

    std::unique_ptr<Socket> socket_;
    ChipLayout layout_;
    std::vector<std::string> countModes_;
    std::string scanDac_;  // empty for an acquisition
    int64_t series_ = 0;
    int64_t dropped_ = 0;
    std::string endpoint_;
};

// Hands each frame to every writer in turn (a run file and a stream, say); fails with the
// first failure's reason, after giving the frame to the others.
class TeeWriter final : public FrameWriter {
public:
    explicit TeeWriter(std::vector<FrameWriter*> writers) : writers_(std::move(writers)) {}
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override;
    bool Close() override;
    bool RecordDroppedFrames(int64_t count) override;

private:
    bool Each(const std::function<bool(FrameWriter&)>& call);
    std::vector<FrameWriter*> writers_;
};

}  // namespace ulvarin
