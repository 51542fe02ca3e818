// Extensions of file names: the part of the name (not of its folders) from its last '.'.
#pragma once

#include <string>

namespace ulvarin {

// The extension of the file name in `path` with its dot (".txt"); "" when the name has
// none, also when only a folder's name has a dot.
std::string FileExtension(const std::string& path);

// `path` with `extension` (".txt") appended when its file name has no extension.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

}  // namespace ulvarin
