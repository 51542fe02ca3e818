#include "files/text_frame_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

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

// One frame file per frame; a run of more than one frame numbers them as the autosave
// template of the given name does ("run.txt" gives run0000.txt, run0001.txt, ...).
class TextFrameWriter final : public FrameWriter {
public:
    TextFrameWriter(const std::string& path, const RunDescription& run)
        : path_(path), single_(run.expectedFrames == 1) {}

    // Files are numbered by the frame's number in the run when it is known, so frames not
    // written leave a gap in the numbers.
    bool Append(std::span<const int32_t> counts, const FrameInfo& info) override {
        const int64_t index = info.number > 0 ? info.number - 1 : frames_;
        const std::string path = TextRunFileName(path_, single_ ? 1 : 0, index);
        errno = 0;
        const FrameFileStatus status = WriteCountFrameFile(path, counts);
        if (status != FrameFileStatus::kOk) {
            error_ = std::string(FrameFileMessage(status)) + " (" + path + SystemReason(errno) + ")";
            return false;
        }
        ++frames_;
        return true;
    }
    bool Close() override { return error_.empty(); }

private:
    std::string path_;
    bool single_;
};

}  // namespace

std::string TextRunFileName(const std::string& path, int64_t frames, int64_t index) {
    if (frames == 1) return path;
    const AutosaveTemplate name = AutosaveTemplateFromName(path);
    return AutosaveFileName(name, name.number + static_cast<int>(index));
}

std::unique_ptr<FrameWriter> OpenTextFrameWriter(const std::string& path,
                                                 const RunDescription& run, std::string& error) {
    // Each frame makes its own file, so the folder is checked before the first.
    errno = 0;
    if (!FolderWritable(path)) {
        error = "Cannot write files into the folder of " + path + SystemReason(errno);
        return nullptr;
    }
    return std::make_unique<TextFrameWriter>(path, run);
}

std::optional<std::string> ExistingTextRunFile(const std::string& path, int64_t frames) {
    if (frames == 1) return access(path.c_str(), F_OK) == 0 ? std::optional(path) : std::nullopt;
    const std::string first = TextRunFileName(path, frames, 0);
    const size_t slash = first.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : first.substr(0, slash + 1);
    const AutosaveTemplate name = AutosaveTemplateFromName(path);
    const std::string stem = ShownFileName(name.prefix);
    std::optional<int64_t> lowest;
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
        if (index < 0 || index >= frames || (lowest && index >= *lowest) ||
            ShownFileName(TextRunFileName(path, frames, index)) != file)
            continue;
        lowest = index;
    }
    if (!lowest) return std::nullopt;
    return TextRunFileName(path, frames, *lowest);
}

}  // namespace ulvarin
