// What every writer of a run of frames has in common: the run's description, what is known
// of each frame, and the writer interface. Each frame is on disk when Append returns, so a
// run cut short leaves a readable file. frame_writer_factory.h chooses the format.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "device/dac_tables.h"
#include "imaging/chip_layout.h"

namespace ulvarin {

// ": " and the system's words for `error` (an errno value), or "" for 0: appended to a
// file error so the user learns why (no permission, disk full, no such folder).
std::string SystemReason(int error);

// "Medipix2", "MXR" or "Timepix".
const char* ChipFamilyName(ChipFamily family);

// What a run was taken with.
struct RunDescription {
    static constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

    ChipLayout layout;
    std::string deviceName;
    std::string chipIdText;  // as the chips identified themselves
    std::string firmware;
    std::vector<ChipDacRecord> dacs;  // one per chip, chip 0 first
    // Interface voltages; NaN when not known (nothing set them since the interface opened).
    double biasVolts = kUnknown, dac0Volts = kUnknown, dac1Volts = kUnknown;
    std::string scanDac;     // the DAC a scan steps; empty for a plain acquisition
    std::vector<int32_t> scanValues;  // the values it steps through, in order (when known)
    // How each chip's pixels count, chip 0 first (see CountModes); empty when not known.
    std::vector<std::string> countModes;
    // The pixel configuration words sent, pixel index order; empty when not known.
    std::vector<uint16_t> pixelConfig;
    // The flat-field factors the counts were shown with, pixel index order; empty when none.
    std::vector<double> flatField;
    int expectedFrames = 0;  // frames the run is to take; 0 when not known
};

// How the pixels of each chip count, from the pixel configuration words sent to them
// (`config`, layout.pixelsInUse() words): "counting", and for Timepix chips also "tot"
// (time over threshold), "1-hit" or "toa" (time of arrival); "mixed" when a chip's pixels
// differ.
std::vector<std::string> CountModes(const ChipLayout& layout, std::span<const uint16_t> config);

// The Timepix counting modes by those names, numbered as WithTimepixMode takes them (0
// counting ... 3 toa).
const std::map<std::string, int>& TimepixModesByName();

// What is known of one frame.
struct FrameInfo {
    double exposure = 0;   // seconds the shutter was open
    double timestamp = 0;  // seconds from the start of the run to the frame's arrival
    int32_t dacValue = 0;  // the scanned DAC's value (scans only)
    // The frame's number in the run, 1 for the first; 0: the one after the last written.
    // A gap tells of frames taken but not written.
    int64_t number = 0;
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;

    // Appends one frame given by pixel index (layout.pixelsInUse() values; negative counts
    // are written as 0). False on a failure, which error() then describes; the frames
    // appended before stay readable.
    virtual bool Append(std::span<const int32_t> counts, const FrameInfo& info) = 0;
    // Finishes the file (the destructor does so too); false when that failed.
    virtual bool Close() = 0;
    // Records in the file, where it has room, that `count` frames of the run were taken but
    // could not be written; false when that failed.
    virtual bool RecordDroppedFrames(int64_t /*count*/) { return true; }
    // Tells why the run ends before Close: "stopped", or "failed: " and the reason when the
    // interface failed. Untold, a writer says "failed: " and its own error after a failed
    // write, "done" when every planned frame was written, else "stopped".
    void SetEndReason(std::string reason) { endReason_ = std::move(reason); }

    const std::string& error() const { return error_; }
    // Frames this writer appended (a run file added to holds more).
    int frames() const { return frames_; }

protected:
    // How the run ended, from what the writer was told and what it saw.
    std::string EndReason(int plannedFrames) const;

    std::string error_;
    std::string endReason_;
    int frames_ = 0;
};

// True when another writer is writing `path` now (it holds the lock every run file writer
// takes on its file).
bool IsBeingWritten(const std::string& path);

// Where a run file is written. A new file is written at its own name, so other programs may
// follow it; one that exists is replaced by writing a temporary file beside it and renaming
// that over it when the run is complete, so a reader never sees a half-new file. The file
// written (and the one it replaces) is locked while the writer has it, which another run's
// writer, and the output rules, see; the locks (open file description locks) leave the
// formats' own locking alone.
class RunFileTarget {
public:
    RunFileTarget() = default;
    RunFileTarget(RunFileTarget&& other) noexcept { *this = std::move(other); }
    RunFileTarget& operator=(RunFileTarget&& other) noexcept;
    RunFileTarget(const RunFileTarget&) = delete;
    RunFileTarget& operator=(const RunFileTarget&) = delete;
    // Removes a temporary file that was never put in place.
    ~RunFileTarget();

    // Locks `path` for a new run, or prepares its replacement when it exists; false with
    // `error` set when another run writes it or `what` ("the HDF5 file") cannot be made.
    bool Open(const std::string& path, const std::string& what, std::string& error);
    // Locks `path` itself, which a writer adds to.
    bool OpenExisting(const std::string& path, std::string& error);
    // The name the writer writes to.
    const std::string& writePath() const { return writePath_; }
    // Puts a replacement in place (renames it over the old file); true when there is none.
    // The locks go after.
    bool Commit(std::string& error);

private:
    void Release();

    std::string path_, writePath_;
    int lock_ = -1;     // on the file written
    int oldLock_ = -1;  // on the file replaced
};

// The frame in image order (row-major, top row first) as unsigned counts: `image` must hold
// GeometryFor(layout.chipCount).pixels() values and `counts` layout.pixelsInUse().
void ImageOrderCounts(std::span<const int32_t> counts, const ChipLayout& layout,
                      std::span<uint32_t> image);

}  // namespace ulvarin
