// Runs written as frame text files in chip order, one file per frame.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "files/frame_writer.h"

namespace ulvarin {

// A run of more than one frame numbers its files as the autosave template of `path` does
// ("run.txt" gives run0000.txt, run0001.txt, ...); a single frame takes `path` itself.
// nullptr with `error` set when the folder of `path` cannot be written.
std::unique_ptr<FrameWriter> OpenTextFrameWriter(const std::string& path,
                                                 const RunDescription& run, std::string& error);

// The file a text run of `frames` frames writes to `path` for its frame `index` (0 first).
std::string TextRunFileName(const std::string& path, int64_t frames, int64_t index);
// The first file such a run would replace, found by reading its folder once (however long
// the run); nullopt when it would replace none.
std::optional<std::string> ExistingTextRunFile(const std::string& path, int64_t frames);

}  // namespace ulvarin
