// One threshold equalisation as every face runs it, whoever drives the hardware: the window
// one hardware process per frame from its timer, the engine one frame at a time on its own
// thread. The driver asks Next() what to do, sends the words or takes the frame, and says
// so; the run keeps the bookkeeping around ThresholdEqualizer:
// - the scans count hits: Timepix pixels that time arrivals or measure time over threshold
//   have no noise edge to find, so the words sent for the scans put every Timepix pixel in
//   counting mode, and the result gives each pixel its own mode back;
// - each scan is written to the results file as it ends, and the maps when all is done;
// - at the end, the verdict: a result that widened a chip's spread or left most pixels out
//   of reach is not kept, and KeptWords() is the configuration the chips are to hold after
//   the run: the equalised one when done and kept, else the one from before.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "calibration/threshold_equalizer.h"
#include "files/equalization_file.h"

namespace ulvarin {

// "" when an equalisation's result is worth keeping, else why not: most pixels out of reach
// (no edge in the range scanned), or a chip whose spread of thresholds widened.
std::string EqualizationNotKept(const EqualizationResult& result);

class EqualizationRun {
public:
    using Action = ThresholdEqualizer::Action;

    // `words`: the pixel configuration the chips hold now (layout.pixelsInUse() words).
    // `file`: where the scans and the result are written; nullptr for none. The request
    // holds three values at least (EqualizeValuesRefusal).
    EqualizationRun(const ChipLayout& layout, std::span<const uint16_t> words,
                    EqualizeRequest request, EqualizationFile* file = nullptr);

    // kConfigure: send words(), then Configured(). kExpose: set the scanned DAC of every
    // chip to dacValue(), take the step's frame and Feed() it. kDone: call Finish().
    Action Next() const { return equalizer_.Next(); }
    std::span<const uint16_t> words() const { return equalizer_.words(); }
    void Configured() { equalizer_.Configured(); }
    int dacIndex() const { return equalizer_.request().dacIndex; }
    int dacValue() const { return equalizer_.dacValue(); }
    // The step's counts by pixel index. A frame that ends a scan writes the scan to the
    // results file; false when the file could not take it: the file is given up
    // (fileError() says why) and the run may go on without it.
    bool Feed(std::span<const int32_t> counts);

    int stepsPerScan() const { return equalizer_.stepsPerScan(); }
    int framesTaken() const { return equalizer_.framesTaken(); }
    int framesInAll() const { return equalizer_.framesInAll(); }
    const EqualizeRequest& request() const { return equalizer_.request(); }

    // Ends the run. Done: the result gets the pixels' own modes back, the verdict is
    // given and the result written to the file (false when that failed). Not done (stopped
    // or failed on the way): nothing is kept. Called once.
    bool Finish();
    bool Finished() const { return finished_; }
    // Done and finished.
    bool Done() const { return finished_ && Next() == Action::kDone; }
    // Why a finished result is not kept; "" when it is (or the run is not done).
    const std::string& notKept() const { return notKept_; }
    bool Kept() const { return Done() && notKept_.empty(); }
    // What the chips are to hold after the run: the equalised words when kept, else the
    // words from before. Before Finish(), the words from before.
    std::span<const uint16_t> KeptWords() const;
    // Once Done(): the result, each pixel in its own mode.
    const EqualizationResult& result() const { return result_; }
    std::span<const uint16_t> originalWords() const { return original_; }
    // Why the results file was given up; "" while it is written (or there is none).
    const std::string& fileError() const { return fileError_; }
    bool HasFile() const { return file_ != nullptr; }

private:
    void GiveUpFile();

    std::vector<uint16_t> original_;
    bool timepix_ = false;
    ThresholdEqualizer equalizer_;
    EqualizationFile* file_ = nullptr;
    std::string fileError_;
    bool finished_ = false;
    EqualizationResult result_;
    std::string notKept_;
};

}  // namespace ulvarin
