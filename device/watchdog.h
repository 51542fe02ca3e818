// The interface's watchdog check: the host falls silent on purpose and the interface is to
// say that its watchdog fired.
#pragma once

#include "device/device.h"

namespace ulvarin {

// Asks the interface to let its watchdog fire and checks that the alert arrives.
bool WatchdogTest(MpxDevice& handle);

}  // namespace ulvarin
