// Runs ulvarin-cli as a child process with its own emulated interfaces and collects what it
// printed and how it ended.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ulvarin::test {

struct CliResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

class CliProcess {
public:
    // Starts ulvarin-cli with `args` and ULVARIN_EMULATOR set to `emulators`.
    CliProcess(const std::vector<std::string>& args, const std::string& emulators);
    // Waits for the process if nobody did.
    ~CliProcess();

    // Sends a signal to the running process.
    void Signal(int signal);
    // True once its standard error holds `text`, waiting up to `seconds`.
    bool WaitForError(const std::string& text, double seconds);
    // Waits for the end.
    CliResult Wait();

private:
    std::string ReadAll(const std::string& path) const;

    pid_t pid_ = -1;
    std::string outPath_, errPath_;
};

// Starts and waits.
CliResult RunCli(const std::vector<std::string>& args,
                 const std::string& emulators = "medipix2:1,timepix:4");

// A fresh empty folder for one test's files.
std::string TestFolder(const std::string& name);

}  // namespace ulvarin::test
