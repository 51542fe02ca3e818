#include "config/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace ulvarin {
namespace {

std::mutex gMutex;
std::string gOverride;

std::string ExecutableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error).string();
    return exe.parent_path().string();
}

// True when files can be made in `folder`, or in its nearest existing parent when it does
// not exist yet.
bool Writable(std::filesystem::path folder) {
    std::error_code error;
    while (!folder.empty() && !std::filesystem::exists(folder, error)) {
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
    return !folder.empty() && access(folder.c_str(), W_OK) == 0;
}

std::string UserConfigFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != 0)
        return std::string(xdg) + "/ulvarin/Config";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/ulvarin/Config";
}

}  // namespace

std::string ProgramFolder() {
    {
        std::lock_guard lock(gMutex);
        if (!gOverride.empty()) return gOverride;
    }
    return ExecutableFolder();
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(gMutex);
    gOverride = folder;
    while (gOverride.size() > 1 && gOverride.back() == '/') gOverride.pop_back();
}

std::string ConfigFolder() {
    const std::string beside = ProgramFolder() + "/Config";
    return Writable(beside) ? beside : UserConfigFolder();
}

}  // namespace ulvarin
