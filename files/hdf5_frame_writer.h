// The HDF5 frame writer. One file per run, laid out as
//   /frames        uint32 [frames, height, width] in the image layout, chunked one frame
//                  per chunk, shuffled and deflate-compressed, growing by one per frame;
//   /exposure      float64 [frames], seconds each frame's shutter was open;
//   /timestamp     float64 [frames], seconds from the start of the run;
//   /scan_values   int32 [frames], the scanned DAC's value of each frame (scans), or
//   /frame_number  int64 [frames], each frame's number in the run (acquisitions);
// the root attributes program_version, start_time (UTC), device, firmware, chip_type,
// chip_count, chip_ids, dac_names, dacs (uint16 [chips, DACs]), sense_codes, bias_volts,
// dac0_volts, dac1_volts (NaN when not known), count_mode (one per chip, when known), for a
// scan scan_dac, frames_planned, frames_written and end_reason ("running" until the file
// closes, then "done", "stopped" or "failed: " and why), and frames_dropped when the writer
// is told; and the NeXus tree of nexus_tree.h, whose data group names the same datasets.
// The file is flushed after every frame; /entry/end_time is written, and the title set to
// what was written, when it closes.
//
// A frame is begun only when the disk has room for it and for closing the file after it:
// a full disk (or a file size limit) ends the run between frames, every frame counted is
// whole and the file closes cleanly. A file that exists is replaced through a file beside
// it (RunFileTarget), and a file being written is locked against other runs.
//
// Files are written in the single-writer/multiple-readers mode: once the tree is written,
// other programs open the run read-only in that mode (h5py: swmr=True) and see each frame as
// it is flushed. A run killed outright stays marked as being written: it opens in that mode
// with every flushed frame, and plainly after `h5clear -s`.
#pragma once

#include <memory>
#include <string>

#include "files/frame_writer.h"

namespace ulvarin {

// Creates (or truncates) `path` and writes the attributes; nullptr with `error` set when
// that fails.
std::unique_ptr<FrameWriter> OpenHdf5FrameWriter(const std::string& path, const RunDescription& run,
                                                 std::string& error);

// Opens a run file written before to append the frames of `run` after those it holds; its
// settings stay as written, frame numbers and times go on from its last frame, and the
// frames planned add up. Only a run of the same kind (an acquisition, or a scan of the same
// DAC) with the same chips, element types, chunking and compression is added to; anything
// else is refused (nullptr, `error` saying why) with the file checked read-only and left as
// it was. Files in the followable format stay followable; older ones are continued plainly.
std::unique_ptr<FrameWriter> ReopenHdf5RunFile(const std::string& path, const RunDescription& run,
                                               std::string& error);
// The same for an acquisition of `layout` whose length is not told.
std::unique_ptr<FrameWriter> ReopenHdf5RunFile(const std::string& path, const ChipLayout& layout,
                                               std::string& error);

}  // namespace ulvarin
