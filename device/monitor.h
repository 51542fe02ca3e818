// The optional monitoring thread: sweeps every open interface and passes each unasked
// message to the background hook as soon as it arrives.
#pragma once

namespace ulvarin {

// Starts the thread unless it exists; true when a thread exists afterwards.
bool StartMonitor();
// Asks the thread to stop and waits for it. If it does not finish within 20 s, shows the
// dead-lock box and aborts the process. Always true; returns at once when none runs.
bool StopMonitor();
// True while the thread runs its sweeps.
bool IsMonitorRunning();

}  // namespace ulvarin
