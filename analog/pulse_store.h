// The pulse view's and the spectrum's stores: the shot just received, the history of the
// last 16 shots (or of the curves of a DAC scan), the spectrum of back-side pulse heights
// and the count of pulses. Used on one thread only: a shot received elsewhere is copied in
// on the window's thread before ProcessPulse.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analog/pulse_heights.h"
#include "analog/pulse_record.h"

namespace ulvarin {

constexpr int kHistorySlots = 16;
constexpr int kBackSidePulseChannel = 1;  // scope channel "1 (B.Pulse)"

// The name of scan curve 0 to 7 ("Median", "Average", ...); "" for any other channel.
const char* ScanCurveName(int channel);

// The "Pulse_%05d.txt" name of the autosaved pulse with this count.
std::string PulseFileName(int32_t pulseCount);

struct ViewsToRepaint {
    bool pulseView = false;
    bool spectrum = false;

    bool operator==(const ViewsToRepaint&) const = default;
};

struct PulseOptions {
    bool restoreBaseLine = true;  // "Restore base line"
    bool autosave = false;        // "Autosave pulse"
};

struct PulseOutcome {
    ViewsToRepaint repaint;
    std::optional<int> spectrumBin;  // the height counted, when channel 1 held samples
    // With autosave on: the "Pulse_%05d.txt" name to write the current pulse to (in the
    // working folder, with WritePulseFile); empty otherwise.
    std::string autosaveFile;
};

class PulseStore {
public:
    PulseStore();

    PulseRecord& CurrentPulse() { return *current_; }
    const PulseRecord& CurrentPulse() const { return *current_; }

    // Takes in the current pulse, once it has been filled:
    // 1. If channel 1 holds samples: with base line restore, lowers them by their median
    //    less 300, kept within 0 to 4095; then counts the largest of them, truncated and
    //    held to 0 to 4095, in the spectrum (a bin saturates at the largest 32-bit count).
    // 2. Counts the pulse (also without channel 1; saturating).
    // 3. Ends a scan's hold on the history (emptying it), then stores a copy of the pulse
    //    in the next slot, after slot 15 slot 0.
    PulseOutcome ProcessPulse(const PulseOptions& options);

    // "Reset": spectrum and pulse count to 0, every history slot emptied.
    ViewsToRepaint ResetSpectrum();
    // The pulse view's "Clear": every history slot emptied, the next pulse goes to slot 1.
    ViewsToRepaint ClearHistory();
    // After the scope is configured: every history slot emptied and the pulse count 0.
    ViewsToRepaint ForgetPulses();
    // A DAC scan takes the history over: every slot emptied, the history marked as holding
    // scan curves and `shownSlot` (0 to 15, held to that range) shown and saved.
    void BeginScan(int shownSlot);
    // While the history holds scan curves: shows and saves slot `slot` (held to 0 to 15).
    void ShowScanCurve(int slot);

    // Slot 0 to 15 (the index is held to that range); a scan appends its curves here.
    PulseRecord& HistorySlot(int slot);
    const PulseRecord& HistorySlot(int slot) const;
    // The slot written last, or set by a scan; none before the first.
    std::optional<int> HistoryIndex() const;
    // The record of HistoryIndex(); nullptr before the first.
    const PulseRecord* ShownRecord() const;
    bool HistoryHoldsScan() const { return holdsScan_; }

    const Spectrum& GetSpectrum() const { return spectrum_; }
    int32_t PulseCount() const { return pulseCount_; }
    // A spectrum loaded from a file: the bins as read, and the pulse count to show.
    Spectrum& MutableSpectrum() { return spectrum_; }
    void SetPulseCount(int32_t count) { pulseCount_ = count; }

private:
    void EmptyHistory();

    std::unique_ptr<PulseRecord> current_;
    std::vector<PulseRecord> history_;  // kHistorySlots, on the heap: 64 KiB each
    int historyIndex_ = kHistorySlots;  // none written yet: the first pulse lands in slot 0
    bool holdsScan_ = false;
    Spectrum spectrum_{};
    int32_t pulseCount_ = 0;
};

}  // namespace ulvarin
