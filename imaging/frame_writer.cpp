#include "imaging/frame_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "imaging/autosave_template.h"
#include "imaging/frame_file.h"
#include "imaging/hdf5_frame_writer.h"
#include "imaging/tiff_frame_writer.h"

#ifndef ULVARIN_VERSION
#define ULVARIN_VERSION "unknown"
#endif

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
        : path_(path), single_(run.expectedFrames == 1), name_(AutosaveTemplateFromName(path)) {}

    bool Append(std::span<const int32_t> counts, const FrameInfo&) override {
        const std::string path =
            single_ && frames_ == 0 ? path_ : AutosaveFileName(name_, name_.number + frames_);
        const FrameFileStatus status = WriteCountFrameFile(path, counts);
        if (status != FrameFileStatus::kOk) {
            error_ = std::string(FrameFileMessage(status)) + " (" + path + ")";
            return false;
        }
        ++frames_;
        return true;
    }
    bool Close() override { return error_.empty(); }

private:
    std::string path_;
    bool single_;
    AutosaveTemplate name_;
};

}  // namespace

const char* ProgramVersion() {
    return ULVARIN_VERSION;
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
            // Each frame makes its own file, so the folder is checked before the first.
            if (!FolderWritable(path)) {
                error = "Cannot write files into the folder of " + path;
                return nullptr;
            }
            return std::make_unique<TextFrameWriter>(path, run);
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
