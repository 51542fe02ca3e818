#include "files/frame_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr const char* kModeNames[] = {"counting", "tot", "1-hit", "toa"};

// Sets (or tests, with F_OFD_GETLK) a write lock on the whole of `fd`'s file.
int WholeFileLock(int fd, int command, struct flock& lock) {
    lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, command, &lock);
}

// An open descriptor of `path` holding its write lock; -1 with errno set when the file
// cannot be opened, EAGAIN when another writer holds the lock.
int LockFile(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct flock lock;
    if (WholeFileLock(fd, F_OFD_SETLK, lock) == 0) return fd;
    const int error = errno == EACCES ? EAGAIN : errno;
    close(fd);
    errno = error;
    return -1;
}

std::string BeingWritten(const std::string& path) {
    return path + " is being written by another run.";
}

}  // namespace

std::string FrameWriter::EndReason(int plannedFrames) const {
    if (!error_.empty()) return "failed: " + error_;
    if (!endReason_.empty()) return endReason_;
    return plannedFrames > 0 && frames_ < plannedFrames ? "stopped" : "done";
}

bool IsBeingWritten(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock;
    const bool locked = WholeFileLock(fd, F_OFD_GETLK, lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return locked;
}

RunFileTarget& RunFileTarget::operator=(RunFileTarget&& other) noexcept {
    std::swap(path_, other.path_);
    std::swap(writePath_, other.writePath_);
    std::swap(lock_, other.lock_);
    std::swap(oldLock_, other.oldLock_);
    return *this;
}

RunFileTarget::~RunFileTarget() {
    if (writePath_ != path_) unlink(writePath_.c_str());
    Release();
}

void RunFileTarget::Release() {
    for (int* fd : {&lock_, &oldLock_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool RunFileTarget::Open(const std::string& path, const std::string& what, std::string& error) {
    path_ = writePath_ = path;
    errno = 0;
    struct stat old {};
    if (stat(path.c_str(), &old) != 0) {
        lock_ = LockFile(path, O_CREAT);
        if (lock_ >= 0) return true;
        error = errno == EAGAIN ? BeingWritten(path)
                                : "Cannot create " + what + " " + path + SystemReason(errno);
        return false;
    }
    // The file replaced stays locked until its replacement is in place. One that cannot be
    // opened for writing can still be renamed over, which needs only the folder.
    oldLock_ = LockFile(path, 0);
    if (oldLock_ < 0 && errno == EAGAIN) {
        error = BeingWritten(path);
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "." + name + ".XXXXXX";
    errno = 0;
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot create a file beside " + path + SystemReason(errno);
        Release();
        return false;
    }
    fchmod(fd, old.st_mode & 07777);
    struct flock lock;
    WholeFileLock(fd, F_OFD_SETLK, lock);  // a name of our own: nobody else holds it
    lock_ = fd;
    writePath_ = temporary;
    return true;
}

bool RunFileTarget::OpenExisting(const std::string& path, std::string& error) {
    path_ = writePath_ = path;
    errno = 0;
    lock_ = LockFile(path, 0);
    if (lock_ >= 0) return true;
    error = errno == EAGAIN ? BeingWritten(path) : "Cannot open " + path + SystemReason(errno);
    return false;
}

bool RunFileTarget::Commit(std::string& error) {
    if (writePath_ != path_) {
        errno = 0;
        if (rename(writePath_.c_str(), path_.c_str()) != 0) {
            error = "Putting the new " + path_ + " in place failed" + SystemReason(errno) + ".";
            return false;
        }
        writePath_ = path_;
    }
    Release();
    return true;
}

const std::map<std::string, int>& TimepixModesByName() {
    static const std::map<std::string, int> modes = {
        {kModeNames[0], 0}, {kModeNames[1], 1}, {kModeNames[2], 2}, {kModeNames[3], 3}};
    return modes;
}

std::vector<std::string> CountModes(const ChipLayout& layout, std::span<const uint16_t> config) {
    const auto& kNames = kModeNames;
    std::vector<std::string> modes;
    for (int chip = 0; chip < layout.chipCount; ++chip) {
        if (layout.family != ChipFamily::Timepix) {
            modes.emplace_back(kNames[0]);
            continue;
        }
        const size_t first = static_cast<size_t>(chip) * kChipPixels;
        const size_t end = std::min(config.size(), first + kChipPixels);
        if (first >= end) break;
        const int mode = TimepixModeOf(config[first]);
        const bool same = std::all_of(config.begin() + first, config.begin() + end,
                                      [mode](uint16_t w) { return TimepixModeOf(w) == mode; });
        modes.emplace_back(same ? kNames[mode] : "mixed");
    }
    return modes;
}

std::string SystemReason(int error) {
    if (error == 0) return {};
    return ": " + std::generic_category().message(error);
}

const char* ChipFamilyName(ChipFamily family) {
    switch (family) {
        case ChipFamily::Mxr:
            return "MXR";
        case ChipFamily::Timepix:
            return "Timepix";
        default:
            return "Medipix2";
    }
}

void ImageOrderCounts(std::span<const int32_t> counts, const ChipLayout& layout,
                      std::span<uint32_t> image) {
    const ImageGeometry g = GeometryFor(layout.chipCount);
    for (uint32_t y = 0; y < g.height(); ++y) {
        for (uint32_t tile = 0; tile < g.tilesAcross; ++tile) {
            const PixelRun run = ImageRowRun(y, tile, layout);
            uint32_t* out = image.data() + static_cast<size_t>(y) * g.width() + tile * kTileSide;
            const int32_t* in = counts.data() + run.first;
            for (int k = 0; k < kTileSide; ++k) {
                const int32_t v = in[static_cast<ptrdiff_t>(k) * run.step];
                out[k] = v > 0 ? static_cast<uint32_t>(v) : 0u;
            }
        }
    }
}

}  // namespace ulvarin
