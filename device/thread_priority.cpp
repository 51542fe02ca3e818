#include "device/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace ulvarin {
namespace {

pid_t ThreadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

}  // namespace

ThreadPriorityBoost::ThreadPriorityBoost() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()));
    if (nice == -1 && errno != 0) return;
    savedNice_ = nice;
    raised_ = setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), -20) == 0;
}

ThreadPriorityBoost::~ThreadPriorityBoost() {
    if (raised_) setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), savedNice_);
}

}  // namespace ulvarin
