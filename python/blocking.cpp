#include "python/blocking.h"

#include <pybind11/pybind11.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace py = pybind11;

namespace ulvarin::python {
namespace {

// How long the interpreter's thread sleeps between looks at its signals.
constexpr double kSignalSlice = 0.05;

}  // namespace

void WithoutGil(const std::function<void()>& wait) {
    PyThreadState* state = PyEval_SaveThread();
    try {
        wait();
    } catch (...) {
        PyEval_RestoreThread(state);
        throw;
    }
    PyEval_RestoreThread(state);
}

bool WaitInterruptibly(const std::function<bool(double seconds)>& ready) {
    for (;;) {
        bool done = false;
        WithoutGil([&] { done = ready(kSignalSlice); });
        if (done) return true;
        if (PyErr_CheckSignals() != 0) return false;
    }
}

bool RunInterruptibly(const std::function<void()>& work, StopFlag& stop) {
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    std::thread worker([&] {
        work();
        std::lock_guard lock(mutex);
        finished = true;
        ended.notify_all();
    });
    const auto hasEnded = [&](double seconds) {
        std::unique_lock lock(mutex);
        return ended.wait_for(lock, std::chrono::duration<double>(seconds),
                              [&] { return finished; });
    };
    bool interrupted = false;
    try {
        interrupted = !WaitInterruptibly(hasEnded);
        if (interrupted) {
            stop = 1;
            WithoutGil([&] { worker.join(); });
            // The caller builds its frames and raises its own interruption: Python objects
            // made while an exception is pending may fail with it instead.
            PyErr_Clear();
        }
    } catch (...) {
        // This thread is being ended (the interpreter exits under a daemon thread): the run
        // stops and its thread is joined before what it works on goes away.
        stop = 1;
        if (worker.joinable()) worker.join();
        throw;
    }
    if (worker.joinable()) worker.join();
    return interrupted;
}

}  // namespace ulvarin::python
