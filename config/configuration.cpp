#include "config/configuration.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>

#include "base/input_file.h"
#include "config/scanf_cursor.h"

namespace ulvarin::config {

namespace {

// A chip record as a chip has it at start-up ends with this word; loading sets it.
constexpr uint32_t kLoadedTestPulseWord = 0xFF00FF00;
constexpr int kDacValueMask = 0x3FF;
// Sizes of the words and header lines a reader keeps (the whole word is consumed; only
// its first letter is ever used, so cutting loses nothing).
constexpr size_t kWordLength = 511;
constexpr size_t kSecondFlagLength = 51;
constexpr size_t kHeaderLength = 511;
// A configuration file is a few hundred bytes; anything far larger is not one and is
// refused as unreadable before a single key is applied.
constexpr size_t kMaxFileBytes = size_t{1} << 20;

// ---- Writing ----

std::string Decimal(long long value) {
    char text[24];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// "0x%02x".
std::string Hex(uint8_t value) {
    constexpr char kDigits[] = "0123456789abcdef";
    return {'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
}

// "%lg" (six significant digits) as the C locale writes it.
std::string General(double value) {
    char text[32];
    return std::string(
        text, std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6).ptr);
}

const char* FlagText(bool set) {
    return set ? "true" : "false";
}

uint8_t Byte(char c) {
    return static_cast<unsigned char>(c);
}

void AppendChip(std::string& out, int number, const ChipDacRecord& record) {
    out += "Chip " + Decimal(number) + " DACs: ";
    for (const uint16_t value : record.dac) out += Decimal(value) + " ";
    out += std::string(FlagText(record.senseEnabled != 0)) + " " +
           FlagText(record.bypassEnabled != 0) + " " + Decimal(record.senseCode) + "\n";
}

// "<name>=<value>, 0x<set>".
std::string ValueAndSet(const char* name, const std::string& value, process::ActionSet set) {
    return std::string(name) + "=" + value + ", " + Hex(set) + "\n";
}

// ---- Reading ----

bool FlagSet(std::string_view word) {
    return !word.empty() && (word[0] == 't' || word[0] == 'T');
}

std::string FormatFailureText(const char* detail) {
    return std::string("Configuration cant be loaded. \rWrong ini file format. \r(") + detail + ")";
}

// No header could be read where one is expected (the text ended or could not be read).
LoadOutcome UnreadableOutcome(int fileChips) {
    return {LoadOutcome::Kind::kUnreadableHeader,
            "Configuration cant be loaded. \rCant read ini file.", "Load configuration failed.",
            fileChips};
}

enum class FileRead { kOk, kOpenFailed, kReadFailed };

// Only a regular file is read (a pipe or device would block or never end), whole and at
// most kMaxFileBytes.
FileRead ReadWhole(const std::string& path, std::string& text) {
    InputCheck check{};
    const InputFilePtr file = OpenInputFile(path, kMaxFileBytes, check);
    if (check == InputCheck::kCannotOpen) return FileRead::kOpenFailed;
    if (check != InputCheck::kOk) return FileRead::kReadFailed;
    return ReadInputFile(file.get(), kMaxFileBytes, text) ? FileRead::kOk : FileRead::kReadFailed;
}

// One pass over the file text, applying every key as it is read. Each step returns false
// once the load has ended, with the outcome set.
class Loader {
public:
    Loader(std::string_view text, Configuration& c, ConfigTarget& target)
        : in_(text), c_(c), target_(target) {}

    LoadOutcome Run() {
        if (MedipixSection() && InterfaceSection() && ActionsSection() && SoftwareSection())
            outcome_ = {LoadOutcome::Kind::kOk, "", kLoadedReport, outcome_.fileChips};
        return outcome_;
    }

private:
    bool Fail(const char* detail) {
        outcome_.kind = LoadOutcome::Kind::kFormat;
        outcome_.boxText = outcome_.reportText = FormatFailureText(detail);
        return false;
    }

    bool Ask(const char* question) {
        if (target_.Continue(question)) return true;
        outcome_.kind = LoadOutcome::Kind::kCancelled;
        outcome_.reportText = question;
        return false;
    }

    void Apply(ConfigKey key) { target_.Apply(key, c_); }

    // A header is a whole line; a CR before its line feed is allowed.
    bool Header(std::string_view name) {
        const std::optional<std::string_view> line = in_.Line(kHeaderLength);
        if (!line) {
            outcome_ = UnreadableOutcome(outcome_.fileChips);
            return false;
        }
        std::string_view body = *line;
        const bool ended = !body.empty() && body.back() == '\n';
        if (ended) body.remove_suffix(1);
        if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
        if (ended && body == name) return true;
        return Fail((std::string("Expected key: ") + std::string(name)).c_str());
    }

    // Ends a key line: a match skips the white space up to the next line, otherwise the
    // load fails with `detail`.
    bool Matched(bool matched, const char* detail) {
        if (!matched) return Fail(detail);
        in_.SkipWhite();
        return true;
    }

    // "%d" within [low, high].
    bool IntIn(long long low, long long high, long long& value) {
        return in_.Int(value) && value >= low && value <= high;
    }

    bool IntField(int& value) {
        long long read = 0;
        if (!IntIn(INT_MIN, INT_MAX, read)) return false;
        value = static_cast<int>(read);
        return true;
    }

    // "<prefix>%s"; a word read is never empty.
    bool PrefixedWord(const char* prefix, std::string_view& word) {
        if (!in_.Literal(prefix)) return false;
        const std::optional<std::string_view> read = in_.Word(kWordLength);
        if (!read) return false;
        word = *read;
        return true;
    }

    bool SetField(process::ActionSet& set) {
        unsigned value = 0;
        if (!in_.Hex2(value)) return false;
        set = static_cast<process::ActionSet>(value);
        return true;
    }

    bool MedipixSection() {
        if (!Header("[Medipix]") || !Polarity()) return false;
        int fsr = 0;
        if (!Matched(in_.Literal("FSR=") && IntField(fsr), "Medipix: Bad FSR format")) return false;
        c_.fsr = fsr;
        Apply(ConfigKey::Fsr);

        int chips = 0;
        if (!Matched(in_.Literal("Chips=") && IntField(chips), "Medipix: Bad 'Chips' format"))
            return false;
        outcome_.fileChips = chips;
        if (chips != c_.chips && !Ask(kChipCountQuestion)) return false;
        for (int i = 1; i <= chips; ++i) {
            if (!ChipBlock(i)) return false;
        }
        Apply(ConfigKey::ChipRecords);
        return true;
    }

    bool Polarity() {
        std::string_view word;
        if (!Matched(PrefixedWord("Polarity=", word), "Medipix: Bad polarity format")) return false;
        const char first = word[0];
        if (first == 'p' || first == 'P' || first == 'n' || first == 'N') {
            c_.polarity = first == 'p' || first == 'P' ? "Positive" : "Negative";
            Apply(ConfigKey::Polarity);
            return true;
        }
        return Ask(kPolarityQuestion);
    }

    // "Chip %d DACs: ", 15 × "%d ", then "%s %s %d\n".
    bool ChipBlock(int expected) {
        long long chip = 0;
        if (!(in_.Literal("Chip ") && in_.Int(chip) && in_.Literal(" DACs: ")))
            return Fail("Medipix: Bad chip DACs format (heading)");
        if (chip < 1 || chip > kMaxChips) return Fail("Medipix: Wrong chip order");
        if (chip != expected && !Ask(kChipOrderQuestion)) return false;
        ChipDacRecord& record = c_.records[static_cast<size_t>(chip - 1)];

        for (uint16_t& dac : record.dac) {
            long long value = 0;
            if (!in_.Int(value)) return Fail("Medipix: Bad chip DACs format (values)");
            in_.SkipWhite();
            if ((value & ~static_cast<long long>(kDacValueMask)) == 0) {
                dac = static_cast<uint16_t>(value);
            } else if (!Ask(kDacBitsQuestion)) {
                return false;
            }
        }
        return ChipFlags(record);
    }

    // The line counts as present unless the text has ended; fields missing from it keep
    // the record's values.
    bool ChipFlags(ChipDacRecord& record) {
        const std::optional<std::string_view> sense = in_.Word(kWordLength);
        if (!sense) return Fail("Medipix: Bad chip DACs format (sense,bypass,code)");
        record.senseEnabled = FlagSet(*sense);
        record.testPulseWord = kLoadedTestPulseWord;
        const std::optional<std::string_view> bypass = in_.Word(kSecondFlagLength);
        if (!bypass) return true;
        record.bypassEnabled = FlagSet(*bypass);
        long long code = 0;
        if (!IntIn(INT_MIN, INT_MAX, code)) return true;
        record.senseCode = static_cast<uint8_t>(code & 0xFF);
        in_.SkipWhite();
        return true;
    }

    // "<prefix>%lg" into a double field.
    bool DoubleKey(const char* prefix, double Configuration::*field, ConfigKey key,
                   const char* detail) {
        double value = 0;
        if (!Matched(in_.Literal(prefix) && in_.Double(value), detail)) return false;
        c_.*field = value;
        Apply(key);
        return true;
    }

    bool InterfaceSection() {
        return Header("[Interface]") &&
               DoubleKey("HV=", &Configuration::biasVolts, ConfigKey::Bias, "Interface: HV") &&
               DoubleKey("DAC0=", &Configuration::dac0Volts, ConfigKey::Dac0,
                         "Interface: DAC0 value") &&
               DoubleKey("DAC1=", &Configuration::dac1Volts, ConfigKey::Dac1,
                         "Interface: DAC1 value");
    }

    // "<prefix>%lg, 0x%02x" into a double field and a source's set.
    bool DoubleAndSetKey(const char* prefix, double Configuration::*field,
                         process::ActionSource source, ConfigKey key, const char* detail) {
        double value = 0;
        process::ActionSet set = 0;
        if (!Matched(
                in_.Literal(prefix) && in_.Double(value) && in_.Literal(", 0x") && SetField(set),
                detail))
            return false;
        c_.*field = value;
        c_.actionSet[source] = set;
        Apply(key);
        return true;
    }

    // "<prefix>%d, 0x%02x" with the number within [low, high].
    bool IntAndSetKey(const char* prefix, long long low, long long high, long long& value,
                      process::ActionSet& set, const char* detail) {
        return Matched(
            in_.Literal(prefix) && IntIn(low, high, value) && in_.Literal(", 0x") && SetField(set),
            detail);
    }

    bool ActionsSection() {
        process::ActionSet set = 0;
        if (!Header("[Actions]") ||
            !Matched(in_.Literal("Manual=0x") && SetField(set), "Actions: Manual"))
            return false;
        c_.actionSet[process::kManual] = set;
        Apply(ConfigKey::Manual);

        long long frames = 0;
        if (!IntAndSetKey("Frames=", INT32_MIN, INT32_MAX, frames, set, "Actions: Frames"))
            return false;
        c_.frames = static_cast<int32_t>(frames);
        c_.actionSet[process::kFrames] = set;
        Apply(ConfigKey::Frames);

        if (!DoubleAndSetKey("Period=", &Configuration::period, process::kPeriod, ConfigKey::Period,
                             "Actions: Period") ||
            !DoubleAndSetKey("Interval=", &Configuration::interval, process::kInterval,
                             ConfigKey::Interval, "Actions: Interval"))
            return false;

        // An index into the two trigger items, never used unchecked.
        long long trigger = 0;
        if (!IntAndSetKey("Trigger=", 0, kTriggerItems - 1, trigger, set, "Actions: Trigger"))
            return false;
        c_.triggerItem = static_cast<int>(trigger);
        c_.actionSet[process::kTrigger] = set;
        Apply(ConfigKey::Trigger);

        if (!DoubleAndSetKey("Counter=", &Configuration::counter, process::kCounter,
                             ConfigKey::Counter, "Actions: Counter"))
            return false;

        unsigned command1 = 0, command2 = 0;
        if (!Matched(in_.Literal("Commands=0x") && in_.Hex2(command1) && in_.Literal(", 0x") &&
                         in_.Hex2(command2),
                     "Actions: Commands"))
            return false;
        c_.actionCommand1 = static_cast<char>(command1);
        c_.actionCommand2 = static_cast<char>(command2);
        Apply(ConfigKey::Commands);
        return true;
    }

    bool SoftwareSection() {
        std::string_view word;
        if (!Header("[Software]") || !Matched(PrefixedWord("Monitor=", word), "Software: Monitor"))
            return false;
        c_.monitor = FlagSet(word);
        Apply(ConfigKey::Monitor);

        unsigned mask = 0;
        int samples = 0;
        if (!Matched(
                in_.Literal("Scope=0x") && in_.Hex2(mask) && in_.Literal(", ") && IntField(samples),
                "Software: Scope"))
            return false;
        c_.scopeMask = static_cast<uint8_t>(mask);
        c_.scopeSamples = samples;
        Apply(ConfigKey::Scope);

        if (!Integral()) return false;

        double low = 0, high = 0;
        if (!Matched(in_.Literal("View range=<") && in_.Double(low) && in_.Literal(", ") &&
                         in_.Double(high) && PrefixedWord(">, Auto=", word),
                     "Software: View range"))
            return false;
        c_.rangeMin = low;
        c_.rangeMax = high;
        c_.rangeAuto = FlagSet(word);
        Apply(ConfigKey::ViewRange);
        return true;
    }

    // The line counts as present unless the text ends before its word; a present line that
    // does not match is passed over, keeping the current setting.
    bool Integral() {
        if (!in_.Literal("Integral=")) return in_.AtEnd() ? Fail("Software: Integral") : true;
        std::string_view word;
        if (!Matched(PrefixedWord("", word), "Software: Integral")) return false;
        c_.integrating = FlagSet(word);
        Apply(ConfigKey::Integral);
        return true;
    }

    ScanCursor in_;
    Configuration& c_;
    ConfigTarget& target_;
    LoadOutcome outcome_{LoadOutcome::Kind::kOk, "", "", 0};
};

}  // namespace

std::string DefaultConfigFileName(std::string_view deviceName, int chipCount,
                                  std::string_view chipIdText) {
    std::string name = std::string(deviceName) + " (" + Decimal(chipCount) + " chips, " +
                       std::string(chipIdText) + ").ini";
    const size_t colon = name.find(':');
    if (colon != std::string::npos) name[colon] = '.';
    return name;
}

std::string ConfigurationText(const Configuration& c) {
    const int chips = c.chips < 0 ? 0 : c.chips > kMaxChips ? kMaxChips : c.chips;
    std::string out = "[Medipix]\nPolarity=" + c.polarity + "\nFSR=" + Decimal(c.fsr) +
                      "\nChips=" + Decimal(chips) + "\n";
    for (int i = 0; i < chips; ++i) AppendChip(out, i + 1, c.records[static_cast<size_t>(i)]);

    out += "\n[Interface]\nHV=" + General(c.biasVolts) + "\nDAC0=" + General(c.dac0Volts) +
           "\nDAC1=" + General(c.dac1Volts) + "\n";

    const process::ActionSets& sets = c.actionSet;
    out += "\n[Actions]\nManual=" + Hex(sets[process::kManual]) + "\n";
    out += ValueAndSet("Frames", Decimal(c.frames), sets[process::kFrames]);
    out += ValueAndSet("Period", General(c.period), sets[process::kPeriod]);
    out += ValueAndSet("Interval", General(c.interval), sets[process::kInterval]);
    out += ValueAndSet("Trigger", Decimal(c.triggerItem), sets[process::kTrigger]);
    out += ValueAndSet("Counter", General(c.counter), sets[process::kCounter]);
    out += "Commands=" + Hex(Byte(c.actionCommand1)) + ", " + Hex(Byte(c.actionCommand2)) + "\n";

    out += std::string("\n[Software]\nMonitor=") + FlagText(c.monitor) + "\n";
    out += "Scope=" + Hex(c.scopeMask) + ", " + Decimal(c.scopeSamples) + "\n";
    out += std::string("Integral=") + FlagText(c.integrating) + "\n";
    out += "View range=<" + General(c.rangeMin) + ", " + General(c.rangeMax) +
           ">, Auto=" + FlagText(c.rangeAuto) + "\n";
    return out;
}

namespace {

// A new file beside `path` that no one else is writing; "" in `name` when none could be made.
std::FILE* CreateTemporary(const std::string& path, std::string& name) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 8; ++attempt) {
        name = path + ".~" + Decimal(getpid()) + "-" + Decimal(serial++);
        if (std::FILE* file = std::fopen(name.c_str(), "wx")) return file;
        if (errno != EEXIST) break;
    }
    name.clear();
    return nullptr;
}

}  // namespace

SaveStatus WriteConfiguration(const std::string& path, const Configuration& c) {
    const std::string text = ConfigurationText(c);
    std::string temporary;
    std::FILE* file = CreateTemporary(path, temporary);
    if (!file) return SaveStatus::kOpenFailed;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = written && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    written = (std::fclose(file) == 0) && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return SaveStatus::kOk;
    std::remove(temporary.c_str());
    return SaveStatus::kWriteFailed;
}

const char* SaveFailureBoxText(SaveStatus s) {
    switch (s) {
        case SaveStatus::kOpenFailed:
            return "Configuration cant be saved. \rCant open ini file.";
        case SaveStatus::kWriteFailed:
            return "Configuration cant be saved. \rCant write to ini file.";
        case SaveStatus::kOk:
            break;
    }
    return "";
}

LoadOutcome ReadConfiguration(const std::string& path, Configuration& c, ConfigTarget& target) {
    std::string text;
    switch (ReadWhole(path, text)) {
        case FileRead::kOpenFailed:
            return {LoadOutcome::Kind::kOpenFailed, "",
                    "Configuration cant be Loaded. Cant open ini file.", 0};
        case FileRead::kReadFailed:
            return UnreadableOutcome(0);
        case FileRead::kOk:
            break;
    }
    return Loader(text, c, target).Run();
}

Configuration StartConfiguration(int chips, std::span<const ChipDacRecord> records) {
    Configuration c;
    c.chips = chips;
    std::copy_n(records.begin(), std::min(records.size(), c.records.size()), c.records.begin());
    return c;
}

}  // namespace ulvarin::config
