#include "device/watchdog.h"

#include "device/clock.h"
#include "device/link.h"
#include "device/lock.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {
namespace {

constexpr char kWatchdogAlert[] = "!Watchdog alert\r";

}  // namespace

bool WatchdogTest(MpxDevice& handle) {
    MpxStatLeveler level(handle);
    MpxCriticalSection lock;
    {
        MpxStatPacketer packet(handle);
        if (Transmit(handle, ",", 1) != 1) {
            ReportError(handle, kTransmissionFailed, "Can't make Watchdog test");
            return false;
        }
    }
    MpxClock::Sleep(2.0);
    MpxStatPacketer packet(handle);
    if (SearchString(handle, kWatchdogAlert, 0, 0, 0) > 0) {
        ReportError(handle, kMessage, "Watchdog test passed OK.");
        return true;
    }
    ReportError(handle, kTimeoutError, "Watchdog test failed.");
    return false;
}

}  // namespace ulvarin
