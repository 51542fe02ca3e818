// The device layer has one process-wide background hook and one report hook. A process
// that works several interfaces at once (two devices driven from two Python threads, say)
// must not let one run take another's frames or errors: these listeners route what arrives
// on a handle to the listener registered for that handle only.
//
// Once the first listener of a kind is made, the router owns that hook for the rest of the
// process; a program that installs its own hooks (the window) does not use listeners.
#pragma once

#include <functional>

#include "device/device.h"
#include "device/protocol.h"

namespace ulvarin {

using BackgroundCallback = std::function<void(MpxDevice& handle, MpxCommandResponse& record)>;
using ReportCallback = std::function<void(MpxDevice& handle)>;

// While it lives, every background message drained or received on `handle` is passed to
// `callback`, on the thread that reads it, before the record is reused. The callback must
// not make or destroy listeners. Destruction waits for a call under way to return.
class BackgroundListener {
public:
    BackgroundListener(MpxDevice& handle, BackgroundCallback callback);
    ~BackgroundListener();
    BackgroundListener(const BackgroundListener&) = delete;
    BackgroundListener& operator=(const BackgroundListener&) = delete;

private:
    MpxDevice& handle_;
};

// While it lives, every report made on `handle` is passed to `callback`, which decides what
// to do with it and clears the handle. Same rules as BackgroundListener.
class ReportListener {
public:
    ReportListener(MpxDevice& handle, ReportCallback callback);
    ~ReportListener();
    ReportListener(const ReportListener&) = delete;
    ReportListener& operator=(const ReportListener&) = delete;

private:
    MpxDevice& handle_;
};

// Reports made on a handle without a listener (a lookup before any interface is open)
// go here; without one they are cleared unseen. Makes the router own the report hook.
void SetUnclaimedReportCallback(ReportCallback callback);

}  // namespace ulvarin
