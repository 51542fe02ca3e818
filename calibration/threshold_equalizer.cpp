#include "calibration/threshold_equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace ulvarin {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Running sums for a standard deviation.
struct Spread {
    double sum = 0, squares = 0;
    int count = 0;
    void Add(double v) {
        sum += v;
        squares += v * v;
        ++count;
    }
    double Deviation() const {
        if (count < 2) return 0;
        const double mean = sum / count;
        return std::sqrt(std::max(0.0, squares / count - mean * mean));
    }
};

double Median(std::vector<float> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

float EdgeOf(std::span<const int> values, const uint16_t* counts, size_t stride, int minimumRise) {
    const int n = static_cast<int>(values.size());
    if (n < 2) return kNaN;
    auto at = [&](int k) { return static_cast<double>(counts[static_cast<size_t>(k) * stride]); };
    // The least and most counted, over three steps, so one noisy step does not set them.
    auto smoothed = [&](int k) {
        const int a = std::max(0, k - 1), b = std::min(n - 1, k + 1);
        double sum = 0;
        for (int j = a; j <= b; ++j) sum += at(j);
        return sum / (b - a + 1);
    };
    int quietest = 0, busiest = 0;
    double low = smoothed(0), high = low;
    for (int k = 1; k < n; ++k) {
        const double s = smoothed(k);
        if (s < low) low = s, quietest = k;
        if (s > high) high = s, busiest = k;
    }
    if (high - low < minimumRise || quietest == busiest) return kNaN;
    const double half = (low + high) / 2;
    const int direction = busiest > quietest ? 1 : -1;
    for (int k = quietest + direction; k != busiest + direction; k += direction) {
        if (at(k) < half) continue;
        const double before = at(k - direction), here = at(k);
        const double share =
            here > before ? std::clamp((half - before) / (here - before), 0.0, 1.0) : 1.0;
        const double from = values[static_cast<size_t>(k - direction)];
        const double to = values[static_cast<size_t>(k)];
        return static_cast<float>(from + share * (to - from));
    }
    return kNaN;
}

ThresholdEqualizer::ThresholdEqualizer(const ChipLayout& layout, std::span<const uint16_t> words,
                                       EqualizeRequest request)
    : layout_(layout), request_(std::move(request)) {
    if (layout.chipCount < 1 || layout.chipCount > kMaxChips)
        throw std::invalid_argument("equalisation needs one to four chips");
    if (request_.values.size() < 3)
        throw std::invalid_argument("equalisation needs at least three scan values");
    if (words.size() < layout.pixelsInUse())
        throw std::invalid_argument("too few pixel configuration words");
    original_.assign(words.begin(), words.begin() + layout.pixelsInUse());
    result_.layout = layout;
    // Every step of a scan overwrites its row, so the last scan's counts stay readable
    // until the next one takes its first frame.
    counts_.assign(request_.values.size() * layout.pixelsInUse(), 0);
    StartScan(Phase::kLowest);
}

void ThresholdEqualizer::StartScan(Phase phase) {
    phase_ = phase;
    step_ = 0;
    if (phase == Phase::kDone) {
        action_ = Action::kDone;
        return;
    }
    if (phase != Phase::kVerify) {
        const int adjust = phase == Phase::kLowest ? 0 : MaxThresholdAdjust(layout_.family);
        words_ = original_;
        for (uint16_t& word : words_)
            if (IsGoodPixel(word, layout_.family))
                word = WithThresholdAdjust(word, layout_.family, adjust);
    }
    action_ = Action::kConfigure;
}

void ThresholdEqualizer::Configured() {
    if (action_ == Action::kConfigure) action_ = Action::kExpose;
}

bool ThresholdEqualizer::Feed(std::span<const int32_t> counts) {
    if (action_ != Action::kExpose) return false;
    const size_t pixels = layout_.pixelsInUse();
    uint16_t* row = counts_.data() + step_ * pixels;
    for (size_t p = 0; p < pixels && p < counts.size(); ++p)
        row[p] = static_cast<uint16_t>(std::clamp<int32_t>(counts[p], 0, 65535));
    ++framesTaken_;
    if (++step_ < request_.values.size()) return false;
    EndScan();
    return true;
}

std::span<const uint16_t> ThresholdEqualizer::ScanCounts(int step) const {
    const size_t pixels = layout_.pixelsInUse();
    return {counts_.data() + static_cast<size_t>(step) * pixels, pixels};
}

std::vector<float> ThresholdEqualizer::Edges() const {
    const size_t pixels = layout_.pixelsInUse();
    std::vector<float> edges(pixels, kNaN);
    for (size_t p = 0; p < pixels; ++p)
        if (IsGoodPixel(words_[p], layout_.family))
            edges[p] = EdgeOf(request_.values, counts_.data() + p, pixels);
    return edges;
}

void ThresholdEqualizer::EndScan() {
    switch (phase_) {
        case Phase::kLowest:
            result_.edgeLowest = Edges();
            StartScan(Phase::kHighest);
            return;
        case Phase::kHighest:
            result_.edgeHighest = Edges();
            Choose();
            StartScan(Phase::kVerify);
            return;
        case Phase::kVerify:
            result_.after = Edges();
            Verify();
            StartScan(Phase::kDone);
            return;
        case Phase::kDone:
            return;
    }
}

void ThresholdEqualizer::Choose() {
    const ChipFamily family = layout_.family;
    const int top = MaxThresholdAdjust(family);
    const size_t pixels = layout_.pixelsInUse();
    EqualizationResult& r = result_;
    r.before.assign(pixels, kNaN);
    r.adjust.assign(pixels, 0);
    r.outcome.assign(pixels, PixelOutcome::kMasked);
    r.words = original_;
    r.chips.assign(static_cast<size_t>(layout_.chipCount), {});
    for (size_t p = 0; p < pixels; ++p)
        if (std::isfinite(r.edgeLowest[p]) && std::isfinite(r.edgeHighest[p]))
            r.before[p] = (r.edgeLowest[p] + r.edgeHighest[p]) / 2;
    for (int chip = 0; chip < layout_.chipCount; ++chip) {
        const size_t first = static_cast<size_t>(chip) * kChipPixels;
        std::vector<float> middles;
        for (size_t p = first; p < first + kChipPixels; ++p)
            if (std::isfinite(r.before[p])) middles.push_back(r.before[p]);
        ChipEqualization& c = r.chips[static_cast<size_t>(chip)];
        c.target = Median(std::move(middles));
        for (size_t p = first; p < first + kChipPixels; ++p) {
            uint16_t& word = r.words[p];
            r.adjust[p] = static_cast<uint8_t>(ThresholdAdjustOfWord(word, family));
            if (!IsGoodPixel(word, family)) continue;
            const double slope = (r.edgeHighest[p] - r.edgeLowest[p]) / top;
            if (!std::isfinite(r.before[p]) || std::abs(slope) < 1e-3) {
                r.outcome[p] = PixelOutcome::kNoEdge;
            } else {
                const double wanted = (c.target - r.edgeLowest[p]) / slope;
                const bool reachable = wanted >= -0.5 && wanted <= top + 0.5;
                r.outcome[p] = reachable ? PixelOutcome::kEqualized : PixelOutcome::kOutOfRange;
                const int chosen = static_cast<int>(std::lround(std::clamp(wanted, 0.0, double(top))));
                word = WithThresholdAdjust(word, family, chosen);
                r.adjust[p] = static_cast<uint8_t>(chosen);
            }
            if (r.outcome[p] == PixelOutcome::kEqualized) {
                ++c.equalized;
            } else {
                ++c.unequalizable;
                if (request_.maskUnequalizable) word = static_cast<uint16_t>(word & ~MaskBit(family));
            }
        }
    }
    words_ = r.words;
}

void ThresholdEqualizer::Verify() {
    EqualizationResult& r = result_;
    for (int chip = 0; chip < layout_.chipCount; ++chip) {
        const size_t first = static_cast<size_t>(chip) * kChipPixels;
        Spread before, after;
        for (size_t p = first; p < first + kChipPixels; ++p) {
            if (r.outcome[p] != PixelOutcome::kEqualized || !std::isfinite(r.after[p])) continue;
            before.Add(r.before[p]);
            after.Add(r.after[p]);
        }
        ChipEqualization& c = r.chips[static_cast<size_t>(chip)];
        c.spreadBefore = before.Deviation();
        c.spreadAfter = after.Deviation();
    }
}

std::string DescribeEqualization(const EqualizationResult& result) {
    double before = 0, after = 0;
    int equalized = 0, unequalizable = 0;
    for (const ChipEqualization& c : result.chips) {
        before += c.spreadBefore * c.spreadBefore * c.equalized;
        after += c.spreadAfter * c.spreadAfter * c.equalized;
        equalized += c.equalized;
        unequalizable += c.unequalizable;
    }
    const int pixels = equalized + unequalizable;
    before = equalized > 0 ? std::sqrt(before / equalized) : 0;
    after = equalized > 0 ? std::sqrt(after / equalized) : 0;
    char text[200];
    std::snprintf(text, sizeof text,
                  "Equalized %zu chip%s: spread %.2f -> %.2f DAC steps (%.1fx), %d pixel%s "
                  "(%.3f %%) out of reach",
                  result.chips.size(), result.chips.size() == 1 ? "" : "s", before, after,
                  after > 0 ? before / after : 0.0, unequalizable, unequalizable == 1 ? "" : "s",
                  pixels > 0 ? 100.0 * unequalizable / pixels : 0.0);
    return text;
}

}  // namespace ulvarin
