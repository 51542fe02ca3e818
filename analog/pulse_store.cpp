#include "analog/pulse_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "imaging/median.h"

namespace ulvarin {
namespace {

constexpr double kMaxLevel = 4095.0;
constexpr double kBaseLineLevel = 300.0;  // where base line restore puts the median
constexpr int32_t kMaxCount = std::numeric_limits<int32_t>::max();

void CountUp(int32_t& count) {
    if (count < kMaxCount) ++count;
}

void RestoreBaseLine(std::span<double> samples) {
    const double base = MedianOf(samples) - kBaseLineLevel;
    for (double& v : samples) v = std::clamp(v - base, 0.0, kMaxLevel);
}

// The largest sample truncated toward zero and held to 0 to 4095 (0 when none is above 0).
int PulseHeight(std::span<const double> samples) {
    double top = 0;
    for (const double v : samples)
        if (v > top) top = v;
    return static_cast<int>(std::min(top, kMaxLevel));
}

int ClampSlot(int slot) {
    return std::clamp(slot, 0, kHistorySlots - 1);
}

}  // namespace

const char* ScanCurveName(int channel) {
    static constexpr const char* kNames[kPulseChannels] = {"Median",
                                                           "Average",
                                                           "Std.Dev.",
                                                           "Nonzero pixels",
                                                           "Pixs noise lowel low",
                                                           "Pixs noise level high",
                                                           "Minimum",
                                                           "Maximum"};
    return channel >= 0 && channel < kPulseChannels ? kNames[channel] : "";
}

std::string PulseFileName(int32_t pulseCount) {
    char name[32];
    std::snprintf(name, sizeof name, "Pulse_%05d.txt", pulseCount);
    return name;
}

PulseStore::PulseStore() : current_(std::make_unique<PulseRecord>()), history_(kHistorySlots) {}

PulseOutcome PulseStore::ProcessPulse(const PulseOptions& options) {
    PulseOutcome outcome;
    std::span<double> backSide = current_->Samples(kBackSidePulseChannel);
    if (!backSide.empty()) {
        if (options.restoreBaseLine) RestoreBaseLine(backSide);
        const int height = PulseHeight(backSide);
        CountUp(spectrum_[static_cast<size_t>(height)]);
        outcome.spectrumBin = height;
    }
    CountUp(pulseCount_);
    if (holdsScan_) {
        EmptyHistory();
        holdsScan_ = false;
    }
    historyIndex_ = historyIndex_ + 1 >= kHistorySlots ? 0 : historyIndex_ + 1;
    history_[static_cast<size_t>(historyIndex_)] = *current_;
    outcome.repaint = {true, true};
    if (options.autosave) outcome.autosaveFile = PulseFileName(pulseCount_);
    return outcome;
}

ViewsToRepaint PulseStore::ResetSpectrum() {
    spectrum_.fill(0);
    pulseCount_ = 0;
    EmptyHistory();
    return {true, true};
}

ViewsToRepaint PulseStore::ClearHistory() {
    EmptyHistory();
    historyIndex_ = 0;
    return {true, false};
}

ViewsToRepaint PulseStore::ForgetPulses() {
    EmptyHistory();
    pulseCount_ = 0;
    return {true, false};
}

void PulseStore::BeginScan(int shownSlot) {
    EmptyHistory();
    holdsScan_ = true;
    historyIndex_ = ClampSlot(shownSlot);
}

void PulseStore::ShowScanCurve(int slot) {
    if (holdsScan_) historyIndex_ = ClampSlot(slot);
}

PulseRecord& PulseStore::HistorySlot(int slot) {
    return history_[static_cast<size_t>(ClampSlot(slot))];
}

const PulseRecord& PulseStore::HistorySlot(int slot) const {
    return history_[static_cast<size_t>(ClampSlot(slot))];
}

std::optional<int> PulseStore::HistoryIndex() const {
    if (historyIndex_ >= kHistorySlots) return std::nullopt;
    return historyIndex_;
}

const PulseRecord* PulseStore::ShownRecord() const {
    const std::optional<int> index = HistoryIndex();
    return index ? &history_[static_cast<size_t>(*index)] : nullptr;
}

void PulseStore::EmptyHistory() {
    for (PulseRecord& record : history_) record.Clear();
}

}  // namespace ulvarin
