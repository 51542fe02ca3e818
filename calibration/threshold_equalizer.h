// Threshold equalisation: per-pixel adjustment values that bring every pixel's threshold to
// a common target. Three scans of the threshold DAC over the same range, all chips at once:
// every counting pixel at the lowest adjustment, at the highest, and at the chosen one to
// verify. In each scan a pixel's edge is where its counts cross half way between the least
// and the most it counted (the 50 % point of a photon S-curve, or the noise edge when the
// range reaches the noise); the two first scans give each pixel's edge as a line in its
// adjustment, and the chosen value is the one whose edge lies nearest the chip's target,
// the median of the pixels' edges at the middle adjustment.
//
// The equalizer is plain state and arithmetic: whoever drives the hardware asks Next() what
// to do, sends the words or takes the frame, and tells it. It never touches masked pixels,
// and of the counting ones changes only the adjustment bits (and, when asked, the mask bit
// of pixels it cannot bring within range).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/chip_layout.h"

namespace ulvarin {

struct EqualizeRequest {
    int dacIndex = 0;         // the threshold DAC scanned, in the chip's DAC record
    std::vector<int> values;  // its values, in scanning order
    bool maskUnequalizable = false;
};

// What became of a pixel.
enum class PixelOutcome : uint8_t {
    kEqualized = 0,
    kMasked = 1,      // masked before: left alone
    kNoEdge = 2,      // no edge in the range at one of the two end adjustments
    kOutOfRange = 3,  // its edge cannot reach the target within the adjustment range
};

struct ChipEqualization {
    double target = 0;        // DAC value every pixel was brought towards
    double spreadBefore = 0;  // standard deviation of the edges at the middle adjustment
    double spreadAfter = 0;   // ... and at the chosen adjustments (verification scan)
    int equalized = 0;
    int unequalizable = 0;  // no edge or out of range
};

struct EqualizationResult {
    ChipLayout layout;
    // By pixel index (chip * 65536 + row * 256 + column); NaN where no edge was found.
    std::vector<float> edgeLowest, edgeHighest;  // at the lowest and the highest adjustment
    std::vector<float> before;  // at the middle adjustment, interpolated from the two
    std::vector<float> after;   // at the chosen adjustment, measured
    std::vector<uint8_t> adjust;
    std::vector<PixelOutcome> outcome;
    std::vector<uint16_t> words;  // the new pixel configuration
    std::vector<ChipEqualization> chips;
};

// "Equalized 4 chips: spread 5.91 -> 0.68 DAC steps (8.7x), 12 pixels (0.005 %) out of
// range" and the like, for messages.
std::string DescribeEqualization(const EqualizationResult& result);

class ThresholdEqualizer {
public:
    enum class Phase { kLowest, kHighest, kVerify, kDone };
    enum class Action {
        kConfigure,  // send words() as the pixel configuration, then call Configured()
        kExpose,     // set the scanned DAC of every chip to dacValue(), take a frame, Feed() it
        kDone,       // result() holds the outcome
    };

    // `words`: the pixel configuration the chips hold now (layout.pixelsInUse() words).
    // Requires one to four chips and at least three scan values.
    ThresholdEqualizer(const ChipLayout& layout, std::span<const uint16_t> words,
                       EqualizeRequest request);

    Action Next() const { return action_; }
    Phase phase() const { return phase_; }
    std::span<const uint16_t> words() const { return words_; }
    int dacValue() const { return request_.values[step_]; }
    void Configured();
    // The frame's counts by pixel index (layout.pixelsInUse() values). True when the frame
    // ended a scan, whose counts ScanCounts gives until the next Feed.
    bool Feed(std::span<const int32_t> counts);

    // The counts of the scan under way (or the one just ended), step by step, each by pixel
    // index; saturated at 65535.
    std::span<const uint16_t> ScanCounts(int step) const;
    int stepsPerScan() const { return static_cast<int>(request_.values.size()); }
    // Frames taken and frames the whole equalisation takes.
    int framesTaken() const { return framesTaken_; }
    int framesInAll() const { return 3 * stepsPerScan(); }
    const EqualizeRequest& request() const { return request_; }
    const EqualizationResult& result() const { return result_; }
    // The pixel configuration the chips held before the equalisation.
    std::span<const uint16_t> originalWords() const { return original_; }

private:
    void StartScan(Phase phase);
    void EndScan();
    std::vector<float> Edges() const;
    void Choose();
    void Verify();

    ChipLayout layout_;
    EqualizeRequest request_;
    std::vector<uint16_t> original_;
    std::vector<uint16_t> words_;
    std::vector<uint16_t> counts_;  // [step][pixel] of the scan under way
    Phase phase_ = Phase::kLowest;
    Action action_ = Action::kConfigure;
    size_t step_ = 0;
    int framesTaken_ = 0;
    EqualizationResult result_;
};

// The edge of one pixel's counts over a scan, by linear interpolation between the scan
// values around the half-way crossing, walking from its quietest towards its busiest step;
// NaN when the counts never rise by `minimumRise` (a dead or masked pixel, or a range that
// misses the edge). `counts` holds the pixel's count at each value, `stride` apart.
float EdgeOf(std::span<const int> values, const uint16_t* counts, size_t stride,
             int minimumRise = 8);

}  // namespace ulvarin
