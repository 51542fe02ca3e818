#include "files/frame_writer_factory.h"

#include <algorithm>
#include <cctype>

#include "files/hdf5_frame_writer.h"
#include "files/text_frame_writer.h"
#include "files/tiff_frame_writer.h"
#include "wire/stream_layout.h"

namespace ulvarin {
namespace {

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

std::optional<FrameFormat> FrameFormatFor(const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".txt") return FrameFormat::kText;
    if (ext == ".tif" || ext == ".tiff") return FrameFormat::kTiff;
    if (ext == ".h5" || ext == ".hdf5") return FrameFormat::kHdf5;
    return std::nullopt;
}

std::unique_ptr<FrameWriter> OpenFrameWriter(const std::string& path, const RunDescription& run,
                                             std::string& error) {
    const std::optional<FrameFormat> format = FrameFormatFor(path);
    if (!format) {
        error = "Unknown file type (use .h5, .tif or .txt): " + path;
        return nullptr;
    }
    if (run.layout.chipCount < 1 || run.layout.chipCount > kMaxChips) {
        error = "No frame layout of " + std::to_string(run.layout.chipCount) + " chips: " + path;
        return nullptr;
    }
    switch (*format) {
        case FrameFormat::kHdf5:
            return OpenHdf5FrameWriter(path, run, error);
        case FrameFormat::kTiff:
            return OpenTiffFrameWriter(path, run, error);
        default:
            return OpenTextFrameWriter(path, run, error);
    }
}

}  // namespace ulvarin
