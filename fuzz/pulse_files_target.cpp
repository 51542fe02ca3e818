#include <limits>
#include <memory>
#include <string_view>

#include "files/pulse_files.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"

namespace ulvarin::fuzz {

namespace {
constexpr int32_t kUntouched = -5;

void CheckRead(const SpectrumRead& read, const Spectrum& bins) {
    Check(read.result != TextFileResult::CannotOpenInput, "spectrum file not opened");
    Check(read.valuesRead >= 0 && read.valuesRead <= kSpectrumBins, "values read out of range");
    Check((read.result == TextFileResult::Ok) == (read.valuesRead == kSpectrumBins),
          "result vs values read");
    int64_t sum = 0;
    for (int i = 0; i < kSpectrumBins; ++i) {
        if (i < read.valuesRead) {
            Check(bins[i] >= 0, "negative count stored");
            sum += bins[i];
        } else {
            Check(bins[i] == kUntouched, "bin past the values read overwritten");
        }
    }
    Check(read.pulseCount == std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()),
          "pulse count is not the held sum");
}
}  // namespace

void PulseFilesTarget(const uint8_t* data, size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const std::string& path = ScratchFile(file, ".txt");

    auto bins = std::make_unique<Spectrum>();
    bins->fill(kUntouched);
    const SpectrumRead read = ReadSpectrumFile(path, *bins);
    CheckRead(read, *bins);

    // What was read whole writes back and reads back the same.
    if (read.result == TextFileResult::Ok) {
        const std::string& copy = ScratchFile({}, ".spectrum.txt");
        Check(WriteSpectrumFile(copy, *bins) == TextFileResult::Ok, "spectrum not written");
        auto again = std::make_unique<Spectrum>();
        again->fill(kUntouched);
        Check(ReadSpectrumFile(copy, *again).result == TextFileResult::Ok, "written file unread");
        Check(*again == *bins, "spectrum changed on its way through a file");
    }

    static PulseStore store;
    const TextFileResult loaded = LoadSpectrum(path, store);
    Check(loaded == read.result, "load and read disagree");
    Check(store.PulseCount() == read.pulseCount, "store's pulse count");
}

}  // namespace ulvarin::fuzz
