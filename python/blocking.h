// Device work from Python: run on a thread of its own while the interpreter's thread waits
// with the GIL released, waking every few hundredths of a second to let Python see a signal.
// Ctrl-C then sets the run's stop flag, the work ends cleanly (frames so far kept), and the
// caller learns that it was interrupted.
#pragma once

#include <functional>

#include "session/frame_runs.h"

namespace ulvarin::python {

// Runs `work` to its end. True when Python asked to stop (KeyboardInterrupt pending: the
// caller raises it), false when the work ended by itself. Call with the GIL held.
bool RunInterruptibly(const std::function<void()>& work, StopFlag& stop);

// Waits for `ready` with the GIL released, checking for signals between slices: true once
// `ready` holds, false when a signal handler raised an exception (left pending for the
// caller). Call with the GIL held.
bool WaitInterruptibly(const std::function<bool(double seconds)>& ready);

}  // namespace ulvarin::python
