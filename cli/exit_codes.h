// The exit statuses of ulvarin-cli.
#pragma once

namespace ulvarin::cli {

// What the program's exit status says.
enum ExitCode : int {
    kExitOk = 0,
    kExitBadArguments = 2,   // unknown or missing arguments, unreadable --config or --mask
    kExitNoDevice = 3,       // the interface was not found or could not be opened
    kExitAcquisition = 4,    // the interface refused a setting or no frame arrived
    kExitWrite = 5,          // the output file could not be created or written
    kExitInterrupted = 130,  // ended by Ctrl-C (SIGINT) or SIGTERM; frames so far are kept
};

}  // namespace ulvarin::cli
