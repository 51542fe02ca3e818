// Text files of the pulse view and the spectrum: the spectrum (one bin per line), the
// autosaved pulse (one row per sample, one column per channel) and the scope/scan curves
// (one line per curve under a heading per channel). Writers write "\n"; the spectrum
// reader also takes "\r\n".
#pragma once

#include <cstdint>
#include <string>

#include "analog/pulse_heights.h"
#include "analog/pulse_record.h"
#include "analog/pulse_store.h"

namespace ulvarin {

enum class TextFileResult {
    Ok,
    CannotOpenOutput,
    CannotWrite,
    CannotOpenInput,
    TooShort,   // the file ended before all values were read
    BadNumber,  // a word that is not a count: text, a fraction, a negative or a too large number
};

// The message the operator is shown: "Error - coldn't open output file", "Error - coldn't
// write to output file", "Error - coldn't open input file" or, for a short file or a bad
// number, "Error - coldn't read input file"; "" for Ok.
std::string FileErrorText(TextFileResult result);

// "Error writing pulse %d to file \"%s\"", reported to the message log as a general error.
std::string PulseWriteErrorText(int32_t pulseCount, const std::string& fileName);

// 4096 lines, line k holding bin k ("%d\n").
TextFileResult WriteSpectrumFile(const std::string& path, const Spectrum& spectrum);

struct SpectrumRead {
    TextFileResult result = TextFileResult::Ok;
    int valuesRead = 0;      // bins 0 to valuesRead - 1 were overwritten
    int32_t pulseCount = 0;  // their sum, held to the largest 32-bit count
};

// Reads 4096 counts, separated by any blanks or line ends, into the bins in order; what
// follows them is not read. Counts are decimal integers from 0 to 2147483647, with an
// optional '+'; any other word (text, "1.5", "-3", a number beyond 32 bits, a word of more
// than 32 characters) stops the reading with BadNumber, an early end with TooShort. Either
// way the bins read so far keep their new values and the others their old ones.
SpectrumRead ReadSpectrumFile(const std::string& path, Spectrum& spectrum);

// Reads a spectrum file into the store; unless the file cannot be opened, the pulse count
// becomes the sum of the counts read (also when the reading stops early).
TextFileResult LoadSpectrum(const std::string& path, PulseStore& store);

// The autosaved pulse: one row per sample up to the largest channel count; in each row,
// for every channel that has samples, " %5d" with the sample truncated toward zero (0 past
// the channel's count).
TextFileResult WritePulseFile(const std::string& path, const PulseRecord& pulse);

// The scope/scan curves of the shown history slot: for each channel 0 to 7 with samples
// there, the heading "[ADC%d]" (or "[%s]" with the scan curve name while the history holds
// a scan), then a line per history slot from slot 0 on, as long as the slots hold that
// channel, of its samples each written "%.9lg ", then an empty line. Before the first pulse
// nothing is shown, and the file is written empty.
TextFileResult WriteCurvesFile(const std::string& path, const PulseStore& store);

}  // namespace ulvarin
