#include "base/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ulvarin {

InputFilePtr OpenInputFile(const std::string& path, uint64_t maxBytes, InputCheck& check,
                           uint64_t* size) {
    // Non-blocking, so opening a pipe returns at once; the file's own descriptor is checked,
    // so what is read is what was checked.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        check = errno == EISDIR ? InputCheck::kNotRegular : InputCheck::kCannotOpen;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        check = InputCheck::kCannotOpen;
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        check = InputCheck::kNotRegular;
        return nullptr;
    }
    if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
    if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        ::close(fd);
        check = InputCheck::kTooLarge;
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        check = InputCheck::kCannotOpen;
        return nullptr;
    }
    check = InputCheck::kOk;
    return InputFilePtr(file);
}

bool ReadInputFile(std::FILE* file, uint64_t maxBytes, std::string& content) {
    content.clear();
    char buffer[1 << 16];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        if (content.size() + got > maxBytes) return false;
        content.append(buffer, got);
    }
    return std::ferror(file) == 0;
}

std::string InputCheckReason(InputCheck check, const std::string& path, uint64_t maxBytes) {
    switch (check) {
        case InputCheck::kOk:
            return "";
        case InputCheck::kNotRegular:
            return path + " is not a regular file (a folder, device or pipe).";
        case InputCheck::kTooLarge:
            return path + " is larger than any valid file of its kind (" +
                   std::to_string(maxBytes) + " bytes at most).";
        default:
            return "Cannot open " + path + ": " + std::strerror(errno) + ".";
    }
}

}  // namespace ulvarin
