// Device work from Python: run on a thread of its own while the interpreter's thread waits
// with the GIL released, waking every few hundredths of a second to let Python see a signal.
// Ctrl-C then sets the run's stop flag, the work ends cleanly (frames so far kept), and the
// caller learns that it was interrupted.
//
// The GIL is always taken back in plain code, never in a destructor: an exiting interpreter
// ends a daemon thread that asks for the GIL by unwinding its stack, and an unwinding that
// leaves a noexcept destructor, or passes a thread not yet joined, aborts the process.
#pragma once

#include <functional>

#include "session/frame_runs.h"

namespace ulvarin::python {

// Runs `work` to its end. True when Python asked to stop (the caller raises its own
// interruption: the signal's KeyboardInterrupt is cleared, so the caller may still build
// what it hands over), false when the work ended by itself. Call with the GIL held.
bool RunInterruptibly(const std::function<void()>& work, StopFlag& stop);

// Waits for `ready` with the GIL released, checking for signals between slices: true once
// `ready` holds, false when a signal handler raised an exception (left pending for the
// caller). Call with the GIL held.
bool WaitInterruptibly(const std::function<bool(double seconds)>& ready);

// Runs `wait` (which must not touch Python) with the GIL released. Call with the GIL held.
void WithoutGil(const std::function<void()>& wait);

}  // namespace ulvarin::python
