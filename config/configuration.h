// The configuration file of an open interface: the chips' DACs, the interface voltages, the
// hardware process settings and a few display settings, as a fixed sequence of text lines
// in four sections. Plain C++: the window supplies the values and applies what is loaded.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/dac_tables.h"
#include "wire/action_sets.h"

namespace ulvarin::config {

// Everything the file holds, in the order written.
struct Configuration {
    // [Medipix]
    std::string polarity = "Positive";     // selector text, "Positive" or "Negative"
    int fsr = 0;                           // FSR selector item
    int chips = 1;                         // the window's chip count (written as Chips=)
    std::array<ChipDacRecord, 4> records;  // chip 1..chips written; loading fills the chip named
    // [Interface]
    double biasVolts = 0, dac0Volts = 0, dac1Volts = 0;
    // [Actions]
    process::ActionSets actionSet = process::kInitialActionSets;
    int32_t frames = 1;
    double period = 0, interval = 0;
    int triggerItem = 0;  // 0 "Off", 1 "On"
    double counter = 0;
    char actionCommand1 = '+', actionCommand2 = '-';
    // [Software]
    bool monitor = false;
    uint8_t scopeMask = 0;
    int scopeSamples = 0;
    bool integrating = false;
    double rangeMin = 0, rangeMax = 0;
    bool rangeAuto = false;

    bool operator==(const Configuration&) const = default;
};

inline constexpr int kMaxChips = 4;
inline constexpr int kTriggerItems = 2;

// The configuration that stands before a file is read for an interface of `chips` chips:
// the records given (one per chip) and every other setting at its start value.
Configuration StartConfiguration(int chips, std::span<const ChipDacRecord> records);

// "<deviceName> (<chipCount> chips, <chipIdText>).ini" with the first ':' of the whole name
// replaced by '.' and nothing else changed. The folder is the caller's.
std::string DefaultConfigFileName(std::string_view deviceName, int chipCount,
                                  std::string_view chipIdText);

// The exact file text, every line ended by "\n". Chips= and the chip lines cover
// records[0 .. chips-1] with chips held to 0..4. DAC values are unsigned 16-bit decimals each
// followed by one blank, flags "true"/"false", masks and command characters "0x%02x" of
// their unsigned byte, doubles "%lg" in the C locale whatever the process locale is.
// `polarity` is written as it is and must be one word.
std::string ConfigurationText(const Configuration& c);

enum class SaveStatus { kOk, kOpenFailed, kWriteFailed };

// Writes ConfigurationText to a new temporary file in the folder of `path`, then renames it
// over `path`, so a failed save leaves the previous file as it was and removes the temporary
// one. kOpenFailed: the temporary file could not be created (e.g. a missing or read-only
// folder); kWriteFailed: writing, flushing, closing or the rename failed. Creates no folder.
SaveStatus WriteConfiguration(const std::string& path, const Configuration& c);

// The message box text of a failed save ("" for kOk); caption kSaveErrorCaption.
const char* SaveFailureBoxText(SaveStatus s);
inline constexpr const char* kSaveErrorCaption = "Error saving configuration";
inline constexpr const char* kSaveFailedReport = "Save configuration failed.";
inline constexpr const char* kSavedReport = "Configuration saved OK.";

// What loading has just read into the configuration, in the order of the file.
enum class ConfigKey {
    Polarity,
    Fsr,
    ChipRecords,
    Bias,
    Dac0,
    Dac1,
    Manual,
    Frames,
    Period,
    Interval,
    Trigger,
    Counter,
    Commands,
    Monitor,
    Scope,
    Integral,
    ViewRange
};

// The window's side of loading.
class ConfigTarget {
public:
    virtual ~ConfigTarget() = default;
    // A question (caption kQuestionCaption, OK/Cancel); true = OK, go on.
    virtual bool Continue(const std::string& question) = 0;
    // `key` was just read into `c`; the window applies it (controls, commands).
    virtual void Apply(ConfigKey key, const Configuration& c) = 0;
};

struct LoadOutcome {
    enum class Kind { kOk, kOpenFailed, kUnreadableHeader, kFormat, kCancelled } kind;
    std::string boxText;     // message box text ("" = no box); caption kLoadErrorCaption
    std::string reportText;  // the line logged: kind 1 on success, kind 2 otherwise
    int fileChips = 0;       // the Chips= value once read
    bool ok() const { return kind == Kind::kOk; }
};
inline constexpr const char* kLoadErrorCaption = "Error loading configuration";
inline constexpr const char* kQuestionCaption = "Configuration file corrupted";
inline constexpr const char* kLoadedReport = "Configuration loaded OK.";

// The four questions loading may ask.
inline constexpr const char* kPolarityQuestion =
    "Format error: Wrong polarity specified. \nContinue?";
inline constexpr const char* kChipCountQuestion =
    "Config error: Different number of chips. \nContinue?";
inline constexpr const char* kChipOrderQuestion =
    "Format error: Unexpected chip order. \nContinue?";
inline constexpr const char* kDacBitsQuestion =
    "Format error: Unexpected DAC value (more then 10 bits). \nContinue?";

// Reads `path` strictly in the order written; white space between fields and lines is free,
// CR LF line ends load too. `c` starts as the window's current configuration (c.chips its
// chip count, c.records its records). Every key read is stored into `c`, then
// target.Apply(key, c) is called; a failure keeps what was applied before it.
//  - Polarity is applied only when its first letter is p/P or n/N; otherwise the polarity
//    question, and OK keeps the current one.
//  - Chips= different from c.chips asks the chip count question; c.chips stays, and as many
//    chip blocks are read as the file names. Each block fills the chip named on its line
//    (1..4), asking the chip order question when it is not the expected one; a DAC value
//    outside 0..1023 asks the 10-bit question and OK keeps the current value. Sense and
//    bypass are set by a first letter t/T, the code takes the low 8 bits, testPulseWord is
//    0xFF00FF00; fields missing from a present flag line keep their values.
//    ChipRecords is applied once after the last block.
//  - Numbers beyond their field's range (int, or the two trigger items) are format errors
//    of their key; the FSR item and the scope sample count are stored as read for the
//    window to hold to its selectors.
//  - A present Integral line that does not match is passed over without applying it.
// Files above 1 MiB are refused as unreadable.
LoadOutcome ReadConfiguration(const std::string& path, Configuration& c, ConfigTarget& target);

}  // namespace ulvarin::config
