#include "widgets/dialogs.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace ulvarin {
namespace {

constexpr FileKind kKinds[] = {FileKind::Masks,   FileKind::Frames, FileKind::Configurations,
                               FileKind::Spectra, FileKind::Curves, FileKind::Results,
                               FileKind::Plots};

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

const char* FileKindName(FileKind kind) {
    switch (kind) {
        case FileKind::Masks:
            return "mask";
        case FileKind::Frames:
            return "frames";
        case FileKind::Configurations:
            return "configuration";
        case FileKind::Spectra:
            return "spectrum";
        case FileKind::Curves:
            return "curves";
        case FileKind::Results:
            return "results";
        case FileKind::Plots:
            return "plot";
        default:
            return "";
    }
}

std::optional<std::string> Dialogs::OpenFile(const FileRequest& request) {
    const std::optional<std::string> chosen = AskOpenFile(WithFolder(request));
    Remember(request.kind, chosen);
    return chosen;
}

std::optional<std::string> Dialogs::SaveFile(const FileRequest& request) {
    const std::optional<std::string> chosen = AskSaveFile(WithFolder(request));
    Remember(request.kind, chosen);
    return chosen;
}

std::string Dialogs::RememberedFolder(FileKind kind) const {
    const auto found = folders_.find(FileKindName(kind));
    return found == folders_.end() ? std::string() : found->second;
}

FileRequest Dialogs::WithFolder(const FileRequest& request) const {
    FileRequest filled = request;
    if (!filled.folder.empty()) return filled;
    const std::string folder = RememberedFolder(request.kind);
    // A folder removed since (a temporary one, an unplugged disk) is forgotten quietly:
    // the dialog opens where it would have without it.
    if (!IsFolder(folder)) return filled;
    filled.folder = folder;
    filled.initialName = std::filesystem::path(request.initialName).filename().string();
    return filled;
}

void Dialogs::Remember(FileKind kind, const std::optional<std::string>& chosen) {
    if (kind == FileKind::None || !chosen || chosen->empty()) return;
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(*chosen, error).parent_path();
    if (error || folder.empty()) return;
    const std::string text = folder.lexically_normal().string();
    // The folder file holds one line per kind: a name with a line break cannot be kept.
    if (text.find_first_of("\r\n") != std::string::npos) return;
    std::string& kept = folders_[FileKindName(kind)];
    if (kept == text) return;
    kept = text;
    if (foldersFile_.empty()) return;
    const std::filesystem::path file(foldersFile_);
    std::filesystem::create_directories(file.parent_path(), error);
    // Written aside and renamed, so a crash never leaves half a file to read at start.
    const std::filesystem::path aside = file.string() + ".new";
    {
        std::ofstream out(aside, std::ios::trunc);
        for (const auto& [name, path] : folders_) out << name << '=' << path << '\n';
        out.flush();
        if (!out) {
            std::filesystem::remove(aside, error);
            return;
        }
    }
    std::filesystem::rename(aside, file, error);
    if (error) std::filesystem::remove(aside, error);
}

void Dialogs::KeepFoldersIn(const std::string& path) {
    foldersFile_ = path;
    if (path.empty()) return;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string name = line.substr(0, equals);
        for (const FileKind kind : kKinds)
            if (name == FileKindName(kind)) folders_[name] = line.substr(equals + 1);
    }
}

}  // namespace ulvarin
