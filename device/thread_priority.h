// Raising the priority of the thread that talks to the interface, so a busy host does not
// let the interface's small buffer overflow between reads.
#pragma once

namespace ulvarin {

// Raises the calling thread's priority as far as the system permits for its lifetime and
// restores it afterwards; silently does nothing where raising is not allowed.
class ThreadPriorityBoost {
public:
    ThreadPriorityBoost();
    ~ThreadPriorityBoost();
    ThreadPriorityBoost(const ThreadPriorityBoost&) = delete;
    ThreadPriorityBoost& operator=(const ThreadPriorityBoost&) = delete;

private:
    int savedNice_ = 0;
    bool raised_ = false;
};

}  // namespace ulvarin
