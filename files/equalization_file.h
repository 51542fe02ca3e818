// The results file of a threshold equalisation (HDF5, NeXus). Under /entry (NXentry, with
// the instrument/detector of the run files, its pixel configuration the one before):
//   thresholds/        NXdata, the default plot: maps in the image layout (float32, DAC
//                      values, NaN where no edge) "after" (signal, measured at the chosen
//                      adjustment), "before" (at the middle adjustment), "edge_lowest_adjust"
//                      and "edge_highest_adjust"; "adjust" (uint8) and "outcome" (uint8,
//                      legend attribute);
//   equalization/      NXcollection: the scanned "dac" and its "values", per chip "target",
//                      "spread_before", "spread_after", "equalized", "unequalizable", and
//                      the resulting "pixel_configuration" words [chips, 256, 256];
//   scan_lowest_adjust, scan_highest_adjust, scan_verify/
//                      NXdata: each scan's "frames" (uint16 [steps, height, width], image
//                      layout, compressed) along its DAC "values".
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "calibration/threshold_equalizer.h"
#include "files/frame_writer.h"

namespace ulvarin {

class EqualizationFile {
public:
    // Creates (or truncates) `path` with the entry and the detector; nullptr with `error`
    // set when that fails. `run.scanDac` names the scanned DAC.
    static std::unique_ptr<EqualizationFile> Create(const std::string& path,
                                                    const RunDescription& run, std::string& error);
    // A results file that keeps nothing, for an equalisation whose results are not saved.
    static std::unique_ptr<EqualizationFile> None();
    virtual ~EqualizationFile() = default;

    // Adds the scan `name` of `values.size()` steps; `counts(step)` gives each step's counts
    // by pixel index.
    using StepCounts = std::function<std::span<const uint16_t>(int step)>;
    virtual bool AddScan(const char* name, std::span<const int> values, const StepCounts& counts) = 0;
    // Writes the maps and the per-chip figures, and closes the file.
    virtual bool Finish(const EqualizationResult& result) = 0;
    // Why the last call failed.
    virtual const std::string& error() const = 0;
};

}  // namespace ulvarin
