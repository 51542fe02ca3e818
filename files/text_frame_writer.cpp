#include "files/text_frame_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "files/autosave_template.h"
#include "files/file_names.h"
#include "files/frame_file.h"

namespace ulvarin {
namespace {

bool FolderWritable(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    return access(folder.c_str(), W_OK | X_OK) == 0;
}

// Each number of a numbered text run of `path` found in its folder (as the run's frame
// index, 0 first), with the file's name.
std::vector<std::pair<int64_t, std::string>> NumberedRunFiles(const std::string& path) {
    const std::string first = TextRunFileName(path, 0, 0);
    const size_t slash = first.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : first.substr(0, slash + 1);
    const AutosaveTemplate name = AutosaveTemplateFromName(path);
    const std::string stem = ShownFileName(name.prefix);
    std::vector<std::pair<int64_t, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string file = entry.path().filename().string();
        if (file.size() <= stem.size() + name.suffix.size() || !file.starts_with(stem) ||
            !file.ends_with(name.suffix))
            continue;
        const std::string digits =
            file.substr(stem.size(), file.size() - stem.size() - name.suffix.size());
        if (digits.size() > 10 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int64_t index = std::stoll(digits) - name.number;
        // The same number written another way (other padding) is another file.
        if (index < 0 || ShownFileName(TextRunFileName(path, 0, index)) != file) continue;
        found.emplace_back(index, TextRunFileName(path, 0, index));
    }
    return found;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// One frame file per frame; a run of more than one frame numbers them as the autosave
// template of the given name does ("run.txt" gives run0000.txt, run0001.txt, ...). Each file
// is written under a temporary name beside it and renamed when complete, so a reader never
// sees half a frame. A run replacing another also removes the other's files numbered after
// its own last, so the folder holds one run.
class TextFrameWriter final : public FrameWriter {
public:
    TextFrameWriter(const std::string& path, const RunDescription& run, bool replacing)
        : path_(path), single_(run.expectedFrames == 1), replacing_(replacing) {}

    // Files are numbered by the frame's number in the run when it is known, so frames not
    // written leave a gap in the numbers.
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        const int64_t index = info.number > 0 ? info.number - 1 : frames_;
        const std::string path = TextRunFileName(path_, single_ ? 1 : 0, index);
        const size_t slash = path.rfind('/');
        const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
        std::string temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
        errno = 0;
        const int fd = mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) return Fail(FrameFileStatus::kOutputOpenFailed, path, errno);
        fchmod(fd, 0666 & ~CurrentUmask());
        close(fd);
        errno = 0;
        FrameFileStatus status = WriteCountFrameFile(temporary, counts);
        if (status == FrameFileStatus::kOk && rename(temporary.c_str(), path.c_str()) != 0)
            status = FrameFileStatus::kOutputWriteFailed;
        if (status != FrameFileStatus::kOk) {
            const int error = errno;
            unlink(temporary.c_str());
            return Fail(status, path, error);
        }
        last_ = std::max(last_, index);
        ++frames_;
        return true;
    }

    bool Close() override {
        if (replacing_ && !single_) {
            replacing_ = false;
            for (const auto& [index, file] : NumberedRunFiles(path_))
                if (index > last_ && unlink(file.c_str()) != 0 && error_.empty())
                    error_ = "Removing " + file + " of the run replaced failed" +
                             SystemReason(errno) + ".";
        }
        return error_.empty();
    }

private:
    bool Fail(FrameFileStatus status, const std::string& path, int error) {
        error_ = std::string(FrameFileMessage(status)) + " (" + path + SystemReason(error) + ")";
        return false;
    }

    std::string path_;
    bool single_;
    bool replacing_;
    int64_t last_ = -1;  // the highest index written
};

}  // namespace

std::string TextRunFileName(const std::string& path, int64_t frames, int64_t index) {
    if (frames == 1) return path;
    const AutosaveTemplate name = AutosaveTemplateFromName(path);
    return AutosaveFileName(name, name.number + static_cast<int>(index));
}

std::unique_ptr<FrameWriter> OpenTextFrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error) {
    // Each frame makes its own file, so the folder is checked before the first.
    errno = 0;
    if (!FolderWritable(path)) {
        error = "Cannot write files into the folder of " + path + SystemReason(errno);
        return nullptr;
    }
    // Files of this run's numbers exist only when the run is to replace them (the output
    // rules refuse it otherwise); the run replaced may have gone on further.
    const bool replacing = ExistingTextRunFile(path, run.expectedFrames).has_value();
    return std::make_unique<TextFrameWriter>(path, run, replacing);
}

std::optional<std::string> ExistingTextRunFile(const std::string& path, int64_t frames) {
    if (frames == 1) return access(path.c_str(), F_OK) == 0 ? std::optional(path) : std::nullopt;
    std::optional<int64_t> lowest;
    for (const auto& [index, file] : NumberedRunFiles(path))
        if (index < frames && (!lowest || index < *lowest)) lowest = index;
    if (!lowest) return std::nullopt;
    return TextRunFileName(path, frames, *lowest);
}

}  // namespace ulvarin
