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

// An installed program lives in PREFIX/bin beside PREFIX/share/doc/ulvarin; its folder is
// shared by every user (and writable for root), so settings never go there.
bool Installed(const std::filesystem::path& folder) {
    std::error_code error;
    return folder.filename() == "bin" &&
           std::filesystem::is_directory(folder.parent_path() / "share/doc/ulvarin", error);
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
    const std::string program = ProgramFolder();
    if (Installed(program)) return UserConfigFolder();
    const std::string beside = program + "/Config";
    return Writable(beside) ? beside : UserConfigFolder();
}

}  // namespace ulvarin
