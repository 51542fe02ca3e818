// The USB link from an emulated interface to the host: it carries each message the
// interface sends into the host's receive queue, optionally at a limited rate and with a
// delay, and can spoil the next message on purpose so tests see how the host copes.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/output_queue.h"
#include "sim/sim_clock.h"

namespace ulvarin::sim {

struct LinkTiming {
    double bytesPerSecond = 0;  // 0 = as fast as the host reads
    double latencySeconds = 0;  // added to every message
};

class LinkModel {
public:
    void SetTiming(LinkTiming timing) { timing_ = timing; }
    LinkTiming Timing() const { return timing_; }

    // Faults for the next message the interface sends. Several armed faults all hit that
    // message, in the order they were armed; offsets count in the message as it is then.
    void DropNext(size_t bytes);                             // its first bytes are lost
    void CorruptNext(size_t offset, uint8_t xorMask = 0xFF);  // one byte flipped
    void InsertNext(size_t offset, std::vector<uint8_t> bytes);
    void CutNext(size_t keep);                               // the rest of it is lost
    // Nothing reaches the host before `until` (later messages queue up behind).
    void StallUntil(Clock::time_point until);
    size_t ArmedFaults() const { return faults_.size(); }

    // A fault of the host's next write, on the way to the interface: only its first `accept`
    // bytes reach the interface, and the write reports an error (`failed`) or, as a write
    // that timed out does, success with the short count.
    struct WriteFault {
        size_t accept = 0;
        bool failed = true;
    };
    void CutNextWrite(size_t accept, bool failed = true) { writeFault_ = {accept, failed}; }
    // The armed write fault, disarmed by taking it; nullopt when none is armed.
    std::optional<WriteFault> TakeWriteFault();

    // Carries every message `from` holds readable at `now` onto the link.
    void Pump(OutputQueue& from, Clock::time_point now);
    // What has reached, or is on its way to, the host.
    OutputQueue& Received() { return received_; }
    // Forgets everything on the way and every armed fault, of either direction (the cable
    // was pulled).
    void Reset();

private:
    struct Fault {
        enum class Kind { kDrop, kCorrupt, kInsert, kCut } kind;
        size_t offset = 0;  // drop: bytes; corrupt, insert: position; cut: bytes kept
        uint8_t mask = 0;
        std::vector<uint8_t> bytes;
    };

    void Spoil(std::vector<uint8_t>& message);
    void Deliver(std::vector<uint8_t> message, Clock::time_point sent);

    LinkTiming timing_;
    std::vector<Fault> faults_;
    std::optional<WriteFault> writeFault_;
    Clock::time_point stallUntil_{};
    Clock::time_point wireFree_{};  // when the last byte on the wire arrives
    OutputQueue received_;
};

}  // namespace ulvarin::sim
