// The per-pixel arrays of the frames being shown, and how a received frame enters them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/chip_layout.h"

namespace ulvarin {

// Five arrays, each with room for four chips (kMaxPixels entries), allocated once; only
// the first layout().pixelsInUse() entries are in use. Spans cover the whole capacity so
// that decoders can write with the capacity as their limit.
//   raw        counts of the last frame received (written by the device layer)
//   counts     copy of raw, or the running sum of frames while integrating
//   result     values of the selected view (see result_view.h)
//   flatField  multiplicative flat-field factors, 1.0 at start
//   config     pixel configuration words, 0x1FFF at start
// Not thread-safe: one thread at a time (a frame decoded elsewhere is handed over).
class FrameStore {
public:
    FrameStore();

    // Opening an interface: sets the layout and resets every array over its whole capacity
    // to its initial value and both times to 0. The integration switch is kept.
    // Returns false, changing nothing, for a chip count outside 0 to kMaxChips.
    bool Open(const ChipLayout& layout);

    // Changes chip count and family only (a frame file that sets the chip count).
    // Returns false, changing nothing, for a chip count outside 0 to kMaxChips.
    bool SetLayout(const ChipLayout& layout);

    // Sets every array over its whole capacity to its initial value; times to 0.
    void Reset();

    // Takes raw into counts: the running sum while integrating (counts += raw,
    // integratedTime += frameTime), else a copy (counts = raw, integratedTime = frameTime).
    // A sum that would pass INT32_MAX stays at INT32_MAX instead of wrapping.
    void TakeRawFrame();

    // The integration switch. On: counts = 0 and integratedTime = 0; the next frame starts
    // the sum. Off: counts = raw and integratedTime = frameTime again.
    void SetIntegrating(bool on);
    // Exchanges the result arrays of two stores (a view recomputed elsewhere comes in).
    void SwapResult(FrameStore& other) { result_.swap(other.result_); }

    const ChipLayout& layout() const { return layout_; }
    ImageGeometry geometry() const { return GeometryFor(layout_.chipCount); }
    uint32_t pixelsInUse() const { return layout_.pixelsInUse(); }
    bool integrating() const { return integrating_; }

    std::span<uint16_t> raw() { return raw_; }
    std::span<int32_t> counts() { return counts_; }
    std::span<double> result() { return result_; }
    std::span<double> flatField() { return flatField_; }
    std::span<uint16_t> config() { return config_; }
    std::span<const uint16_t> raw() const { return raw_; }
    std::span<const int32_t> counts() const { return counts_; }
    std::span<const double> result() const { return result_; }
    std::span<const double> flatField() const { return flatField_; }
    std::span<const uint16_t> config() const { return config_; }

    double frameTime = 0.0;       // seconds, acquisition time of the last frame
    double integratedTime = 0.0;  // seconds, frameTime or the sum while integrating

private:
    void ShowLastFrame();  // counts = raw, integratedTime = frameTime

    ChipLayout layout_;
    bool integrating_ = false;
    std::vector<uint16_t> raw_;
    std::vector<int32_t> counts_;
    std::vector<double> result_;
    std::vector<double> flatField_;
    std::vector<uint16_t> config_;
};

}  // namespace ulvarin
