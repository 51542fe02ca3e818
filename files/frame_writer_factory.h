// Writers of a run of frames, chosen by the output's extension:
//   ".h5"  one HDF5 file per run: the frames as one stack with the settings beside them;
//   ".tif" one 32-bit unsigned TIFF page per frame;
//   ".txt" the frame text file in chip order, one file per frame (numbered when the run
//          has more than one).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "files/frame_writer.h"

namespace ulvarin {

enum class FrameFormat { kText, kTiff, kHdf5 };

// By the file name's extension, ignoring case: ".txt"; ".tif" or ".tiff"; ".h5" or ".hdf5".
// nullopt for anything else.
std::optional<FrameFormat> FrameFormatFor(const std::string& path);

// Creates the writer for `path`'s format. nullptr with `error` set when the extension is
// unknown or the file cannot be created.
std::unique_ptr<FrameWriter> OpenFrameWriter(const std::string& path, const RunDescription& run,
                                             std::string& error);

}  // namespace ulvarin
