// The one process-wide, re-entrant device lock and its scope holder.
#pragma once

#include <mutex>

namespace ulvarin {

// The device lock: every exchange with an interface runs under it.
std::recursive_mutex& MCriticalSection();

// Enters the device lock on construction (unless told not to) and leaves it on
// destruction if it entered.
class MpxCriticalSection {
public:
    explicit MpxCriticalSection(bool enter = true) : held_(enter) {
        if (held_) MCriticalSection().lock();
    }
    ~MpxCriticalSection() {
        if (held_) MCriticalSection().unlock();
    }
    MpxCriticalSection(const MpxCriticalSection&) = delete;
    MpxCriticalSection& operator=(const MpxCriticalSection&) = delete;

    bool LockHeld() const { return held_; }

private:
    bool held_;
};

}  // namespace ulvarin
