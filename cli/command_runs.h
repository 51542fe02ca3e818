// What each subcommand of ulvarin-cli does once its arguments are parsed: the checks of the
// request, the interface opened and prepared, the run with its progress, and the exit code.
#pragma once

#include <string>

#include "session/frame_runs.h"

namespace ulvarin::cli {

// What the command line asked for.
struct Options {
    std::string device;
    int frames = 1;
    double exposure = 1.0;
    double period = 0;  // acquire: seconds from frame to frame; 0 back to back
    std::string config;
    std::string mask;
    std::string out;
    std::string dac;
    int from = 0, to = 0, step = 1;
    int mode = 0;  // Timepix counting mode, 0 to 3
    bool modeGiven = false;
    bool force = false;              // replace outputs that exist
    bool append = false;             // add to an existing .h5 run
    bool longExposure = false;       // exposures beyond kMaxExposure
    std::string stream;              // endpoint of the live frame stream
    double streamWait = 0;           // seconds to wait for a stream consumer
    std::string maskOut;             // equalize: the resulting mask file
    bool maskUnequalizable = false;  // equalize: mask pixels it cannot equalise
};

// A device report: errors go to stderr, messages are dropped. Every report reaches it, from
// an interface opened for a run or from a lookup before one.
void PrintReport(MpxDevice& handle);

// Each returns the program's exit status and says on stderr why it failed.
int List();
int Info(const Options& o);
int Acquire(const Options& o, const StopFlag& stop);
int Scan(const Options& o, const StopFlag& stop);
int Equalize(const Options& o, const StopFlag& stop);

}  // namespace ulvarin::cli
