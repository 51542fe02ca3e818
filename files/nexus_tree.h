// The NeXus view of a run file, so NeXus-aware viewers draw it at once: /entry (NXentry,
// with start and end time, program and title) holding instrument/detector (NXdetector: chip
// type, IDs and regions, count modes, voltages with units, DACs, pixel size, the pixel
// configuration words and the flat field the counts were shown with) and data (NXdata: the
// frames as signal, the frame number or the scanned value as axis). The data group links
// the run's datasets at the root, which older scripts read, so both paths name the same
// data. Callers hold the HDF5 library lock.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <string>

#include "files/frame_writer.h"
#include "files/hdf5_objects.h"

namespace ulvarin {

// Writes the tree into `file`, whose root already holds the run's growing datasets
// ("frames", "exposure", "timestamp", and "scan_values" for a scan or "frame_number").
bool WriteNexusTree(hid_t file, const RunDescription& run, const std::string& startTime);
// Writes /entry (NXentry: start time, title, program with version, and the run's
// instrument/detector) and makes it the file's default, with `defaultData` as its default
// plot; the caller adds that group. Not ok() on failure.
hdf5::Id WriteNexusEntry(hid_t file, const RunDescription& run, const std::string& startTime,
                         const std::string& title, const char* defaultData);
// Writes (or replaces) /entry/end_time as now; true without doing anything in a file that
// has no /entry (one written before the tree existed).
bool WriteNexusEndTime(hid_t file);
// The same, and sets /entry/title to `title`.
bool WriteNexusEnd(hid_t file, const std::string& title);

// A run's title: "acquisition of N frames" or "scan of DAC"; a run that wrote fewer than
// `planned` frames says how many and why it ended (the first word of `endReason`).
std::string RunTitle(const std::string& scanDac, int64_t planned, int64_t written,
                     const std::string& endReason);

// Now as UTC in ISO 8601.
std::string UtcNow();

}  // namespace ulvarin
