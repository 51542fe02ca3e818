#include "imaging/frame_store.h"

#include <algorithm>
#include <limits>

namespace ulvarin {

namespace {

bool ValidChipCount(int chipCount) {
    return chipCount >= 0 && chipCount <= kMaxChips;
}

}  // namespace

FrameStore::FrameStore()
    : raw_(kMaxPixels),
      counts_(kMaxPixels),
      result_(kMaxPixels),
      flatField_(kMaxPixels),
      config_(kMaxPixels) {
    Reset();
}

bool FrameStore::Open(const ChipLayout& layout) {
    if (!SetLayout(layout)) return false;
    Reset();
    return true;
}

bool FrameStore::SetLayout(const ChipLayout& layout) {
    if (!ValidChipCount(layout.chipCount)) return false;
    layout_ = layout;
    return true;
}

void FrameStore::Reset() {
    std::fill(raw_.begin(), raw_.end(), uint16_t{0});
    std::fill(counts_.begin(), counts_.end(), 0);
    std::fill(result_.begin(), result_.end(), 0.0);
    std::fill(flatField_.begin(), flatField_.end(), 1.0);
    std::fill(config_.begin(), config_.end(), kInitialPixelWord);
    frameTime = 0.0;
    integratedTime = 0.0;
}

void FrameStore::TakeRawFrame() {
    const uint32_t n = pixelsInUse();
    if (!integrating_) {
        ShowLastFrame();
        return;
    }
    constexpr int64_t kTop = std::numeric_limits<int32_t>::max();
    for (uint32_t p = 0; p < n; ++p) {
        const int64_t sum = int64_t{counts_[p]} + raw_[p];
        counts_[p] = static_cast<int32_t>(std::min(sum, kTop));
    }
    integratedTime += frameTime;
}

void FrameStore::SetIntegrating(bool on) {
    integrating_ = on;
    if (on) {
        std::fill_n(counts_.begin(), pixelsInUse(), 0);
        integratedTime = 0.0;
        return;
    }
    ShowLastFrame();
}

void FrameStore::ShowLastFrame() {
    std::copy_n(raw_.begin(), pixelsInUse(), counts_.begin());
    integratedTime = frameTime;
}

}  // namespace ulvarin
