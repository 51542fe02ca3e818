#include "app/window_state.h"

#include <algorithm>

namespace ulvarin {

void FrameStores::Reset() {
    std::fill(rawFrame.begin(), rawFrame.end(), 0);
    std::fill(countFrame.begin(), countFrame.end(), 0);
    std::fill(resultImage.begin(), resultImage.end(), 0.0);
    std::fill(flatField.begin(), flatField.end(), 1.0);
    std::fill(pixelConfig.begin(), pixelConfig.end(), kInitialPixelConfig);
    frameTime = 0.0;
    integratedTime = 0.0;
}

std::array<ChipDacRecord, kMaxChips> InitialDacRecords() {
    ChipDacRecord record;
    for (int i = 0; i < kDacSlots; ++i) record.dac[i] = DacDefaultOf(ChipType::Medipix2, i);
    record.senseCode = 11;
    record.senseEnabled = 1;
    record.bypassEnabled = 0;
    record.testPulseWord = 0xFF00FF00;
    std::array<ChipDacRecord, kMaxChips> records;
    records.fill(record);
    return records;
}

ScopeViews::ScopeViews() {
    for (int c = 0; c < kAdcChannels; ++c) channelEnabled[c] = c < 8;
}

std::string ActionCaption(uint8_t set) {
    static constexpr char kLetters[] = "COISTW12";
    std::string caption;
    for (int bit = 0; bit < 8; ++bit)
        if (set & (1u << bit)) caption += kLetters[bit];
    return caption;
}

}  // namespace ulvarin
