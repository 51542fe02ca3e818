// The command line of ulvarin-cli: its subcommands and their options, parsed and run.
#pragma once

#include "cli/exit_codes.h"
#include "session/frame_runs.h"

namespace ulvarin::cli {

// Parses the arguments and runs the subcommand; `stop` ends a run early. Returns the exit
// status.
int RunCommandLine(int argc, char** argv, const StopFlag& stop);

}  // namespace ulvarin::cli
