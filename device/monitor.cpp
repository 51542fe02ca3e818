#include "device/monitor.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "device/clock.h"
#include "device/lock.h"
#include "device/protocol.h"
#include "device/report.h"
#include "device/thread_priority.h"

namespace ulvarin {
namespace {

constexpr auto kIdleSleep = std::chrono::milliseconds(50);
constexpr auto kStopPoll = std::chrono::milliseconds(10);
constexpr double kDeadLockSeconds = 20.0;

std::thread gThread;
std::atomic<bool> gStop{false};
std::atomic<bool> gRunning{false};

// Reads at most one message from the open interface at `index`; false when the sweep has
// passed the end of the registry. `received` tells whether a message was read.
bool SweepOne(int index, MpxDevice& handle, MpxCommandResponse& record, bool& received) {
    // The lock keeps the record alive between finding it and reading from it.
    MpxCriticalSection lock;
    DeviceDescr* d = registry::At(index);
    if (d == nullptr) return false;
    handle.device = d;
    handle.Clear();
    received = ReceiveMessage(handle, record);
    if (received && record.letter != 0) CallBackgroundHook(handle, record);
    return true;
}

void MonitorThread() {
    MpxCommandResponse record(false);
    MpxDevice handle;
    gRunning = true;
    ThreadPriorityBoost boost;
    while (!gStop) {
        bool any = false;
        for (int i = 0; !gStop; ++i) {
            bool received = false;
            if (!SweepOne(i, handle, record, received)) break;
            any = any || received;
        }
        if (any)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(kIdleSleep);
    }
    gRunning = false;
}

}  // namespace

bool StartMonitor() {
    MpxCriticalSection lock;
    if (!gThread.joinable()) {
        gStop = false;
        try {
            gThread = std::thread(MonitorThread);
        } catch (const std::system_error&) {
            return false;
        }
    }
    return gThread.joinable();
}

bool StopMonitor() {
    if (!gThread.joinable()) return true;
    gStop = true;
    const double start = Now();
    while (gRunning) {
        std::this_thread::sleep_for(kStopPoll);
        if (Now() - start > kDeadLockSeconds) {
            ShowBox({"Dead lock in monitoring thread.\rTry to save your data now!\rAborting ...",
                     "Critical Error", BoxIcon::Error, true});
            std::abort();
        }
    }
    gThread.join();
    return true;
}

bool IsMonitorRunning() { return gRunning; }

}  // namespace ulvarin
