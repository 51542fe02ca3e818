#include "session/equalization_run.h"

#include "base/number_text.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

// The bits WithTimepixMode sets or clears: the two mode bits and the two unused top bits.
constexpr uint16_t kTimepixModeBits = 0xC240;

const char* ScanName(ThresholdEqualizer::Phase phase) {
    switch (phase) {
        case ThresholdEqualizer::Phase::kLowest:
            return "scan_lowest_adjust";
        case ThresholdEqualizer::Phase::kHighest:
            return "scan_highest_adjust";
        default:
            return "scan_verify";
    }
}

// The words the scans use: every Timepix pixel counting hits, the rest as they are.
std::vector<uint16_t> CountingWords(const ChipLayout& layout, std::span<const uint16_t> words) {
    std::vector<uint16_t> counting(words.begin(), words.end());
    if (layout.family == ChipFamily::Timepix) ApplyTimepixMode(counting.data(), counting.size(), 0);
    return counting;
}

}  // namespace

EqualizationRun::EqualizationRun(const ChipLayout& layout, std::span<const uint16_t> words,
                                 EqualizeRequest request, EqualizationFile* file)
    : original_(words.begin(), words.end()),
      timepix_(layout.family == ChipFamily::Timepix),
      equalizer_(layout, CountingWords(layout, words), std::move(request)),
      file_(file) {}

bool EqualizationRun::Feed(std::span<const int32_t> counts) {
    const ThresholdEqualizer::Phase phase = equalizer_.phase();
    if (!equalizer_.Feed(counts) || file_ == nullptr) return true;
    const bool written = file_->AddScan(ScanName(phase), equalizer_.request().values,
                                        [&](int step) { return equalizer_.ScanCounts(step); });
    if (!written) GiveUpFile();
    return written;
}

void EqualizationRun::GiveUpFile() {
    fileError_ = file_->error();
    file_ = nullptr;
}

bool EqualizationRun::Finish() {
    if (finished_) return fileError_.empty();
    finished_ = true;
    if (equalizer_.Next() != Action::kDone) return true;
    result_ = equalizer_.result();
    if (timepix_)
        for (size_t i = 0; i < result_.words.size() && i < original_.size(); ++i)
            result_.words[i] = static_cast<uint16_t>((result_.words[i] & ~kTimepixModeBits) |
                                                     (original_[i] & kTimepixModeBits));
    notKept_ = EqualizationNotKept(result_);
    if (file_ != nullptr && !file_->Finish(result_)) {
        GiveUpFile();
        return false;
    }
    return true;
}

std::span<const uint16_t> EqualizationRun::KeptWords() const {
    if (Kept()) return result_.words;
    return original_;
}

std::string EqualizationNotKept(const EqualizationResult& result) {
    // Most pixels out of reach comes first: the spreads of the few left say little.
    int64_t equalized = 0, unreachable = 0;
    for (const ChipEqualization& chip : result.chips) {
        equalized += chip.equalized;
        unreachable += chip.unequalizable;
    }
    if (2 * unreachable > equalized + unreachable)
        return FormatDouble("%.1f", 100.0 * double(unreachable) / double(equalized + unreachable)) +
               " % of the pixels are out of reach (no edge in the range scanned): the chips keep "
               "their pixel configuration from before. Scan a range that holds the noise edge.";
    for (size_t c = 0; c < result.chips.size(); ++c) {
        const ChipEqualization& chip = result.chips[c];
        if (chip.spreadAfter > chip.spreadBefore)
            return "The spread of chip " + std::to_string(c + 1) + " widened from " +
                   FormatDouble("%.3g", chip.spreadBefore) + " to " +
                   FormatDouble("%.3g", chip.spreadAfter) +
                   " DAC steps: the chips keep their pixel configuration from before.";
    }
    return {};
}

}  // namespace ulvarin
