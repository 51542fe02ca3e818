// ulvarin-cli: lists, inspects and acquires from interfaces without the window.
#include <csignal>

#include "cli/commands.h"

namespace {

ulvarin::StopFlag gStop = 0;

void RequestStop(int) {
    gStop = 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The first Ctrl-C ends the run cleanly; SA_RESETHAND lets a second one kill at once.
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return ulvarin::cli::RunCommandLine(argc, argv, gStop);
}
