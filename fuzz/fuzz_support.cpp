#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace ulvarin::fuzz {

uint8_t ByteReader::Byte() {
    if (used_ >= size_) return 0;
    return data_[used_++];
}

namespace {

std::mutex gScratchMutex;
std::map<std::string, std::string>& ScratchPaths() {
    static auto* paths = new std::map<std::string, std::string>;
    return *paths;
}

void RemoveScratchFiles() {
    std::error_code ignored;
    for (auto& [extension, path] : ScratchPaths()) std::filesystem::remove(path, ignored);
}

std::string ScratchFolder() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path().string();
}

}  // namespace

const std::string& ScratchFile(std::string_view bytes, const std::string& extension) {
    std::lock_guard lock(gScratchMutex);
    auto& paths = ScratchPaths();
    auto it = paths.find(extension);
    if (it == paths.end()) {
        if (paths.empty()) std::atexit(RemoveScratchFiles);
        const std::string path = ScratchFolder() + "/ulvarin-fuzz-" +
                                 std::to_string(static_cast<long>(getpid())) + extension;
        it = paths.emplace(extension, path).first;
    }
    FILE* f = std::fopen(it->second.c_str(), "wb");
    Check(f != nullptr, "cannot create the scratch file");
    // An empty input may come with no buffer at all; fwrite must not be handed a null one.
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    Check(std::fclose(f) == 0 && written, "cannot write the scratch file");
    return it->second;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

}  // namespace ulvarin::fuzz
