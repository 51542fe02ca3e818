#include "files/file_names.h"

namespace ulvarin {

std::string FileExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return {};
    return path.substr(dot);
}

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
    return FileExtension(path).empty() ? path + extension : path;
}

}  // namespace ulvarin
