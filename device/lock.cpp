#include "device/lock.h"

namespace ulvarin {

std::recursive_mutex& MCriticalSection() {
    // Never destroyed: a detached thread may still hold it while the process exits.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

}  // namespace ulvarin
