// The TIFF frame writer: one uncompressed 32-bit unsigned greyscale page per frame in the
// image layout, each page's directory written as the frame is appended. A run expected to
// pass 4 GiB is written as BigTIFF.
#pragma once

#include <memory>
#include <string>

#include "files/frame_writer.h"

namespace ulvarin {

// Creates (or truncates) `path`; nullptr with `error` set when it cannot be created.
std::unique_ptr<FrameWriter> OpenTiffFrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error);

}  // namespace ulvarin
