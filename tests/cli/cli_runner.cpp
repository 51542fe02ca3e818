#include "tests/cli/cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace ulvarin::test {

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& emulators) {
    static int serial = 0;
    const std::string stem = std::filesystem::temp_directory_path().string() + "/ulvarin_cli_" +
                             std::to_string(getpid()) + "_" + std::to_string(++serial);
    outPath_ = stem + ".out";
    errPath_ = stem + ".err";
    std::vector<std::string> argv{ULVARIN_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ != 0) return;
    // The child: its output into files, its own emulated set, then the program.
    const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setenv("ULVARIN_EMULATOR", emulators.c_str(), 1);
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    execv(pointers[0], pointers.data());
    _exit(127);
}

CliProcess::~CliProcess() {
    if (pid_ > 0) Wait();
}

void CliProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

std::string CliProcess::ReadAll(const std::string& path) const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool CliProcess::WaitForError(const std::string& text, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (ReadAll(errPath_).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

CliResult CliProcess::Wait() {
    CliResult result;
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    pid_ = -1;
    result.out = ReadAll(outPath_);
    result.err = ReadAll(errPath_);
    std::filesystem::remove(outPath_);
    std::filesystem::remove(errPath_);
    return result;
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& emulators) {
    return CliProcess(args, emulators).Wait();
}

std::string TestFolder(const std::string& name) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("ulvarin_cli_test_" + std::to_string(getpid())) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

}  // namespace ulvarin::test
