#include "app/window_state.h"

namespace ulvarin {

std::array<ChipDacRecord, kMaxChips> InitialDacRecords() {
    ChipDacRecord record = DefaultDacRecord(ChipType::Medipix2);
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
