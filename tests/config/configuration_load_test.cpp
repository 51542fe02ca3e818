#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "config_test_support.h"

namespace ulvarin::config {
namespace {

using testing::kSampleText;
using testing::Replaced;
using testing::SampleConfiguration;

const std::string kDacQuestion =
    "Format error: Unexpected DAC value (more then 10 bits). \nContinue?";

class ConfigLoad : public ::testing::Test {
protected:
    LoadOutcome Load(const std::string& text, std::vector<bool> answers = {}) {
        target_ = {};
        target_.answers = std::move(answers);
        return ReadConfiguration(folder_.Write("load.ini", text), config_, target_);
    }
    void ExpectFormatError(const std::string& text, const std::string& detail) {
        const LoadOutcome outcome = Load(text);
        const std::string message =
            "Configuration cant be loaded. \rWrong ini file format. \r(" + detail + ")";
        EXPECT_EQ(outcome.kind, LoadOutcome::Kind::kFormat) << detail;
        EXPECT_EQ(outcome.boxText, message);
        EXPECT_EQ(outcome.reportText, message);
    }
    static void ExpectUnreadable(const LoadOutcome& outcome) {
        EXPECT_EQ(outcome.kind, LoadOutcome::Kind::kUnreadableHeader);
        EXPECT_EQ(outcome.boxText, "Configuration cant be loaded. \rCant read ini file.");
        EXPECT_EQ(outcome.reportText, "Load configuration failed.");
    }
    bool Applied(ConfigKey key) const {
        return std::find(target_.keys.begin(), target_.keys.end(), key) != target_.keys.end();
    }

    testing::ConfigFolder folder_;
    Configuration config_;
    testing::RecordingTarget target_;
};

TEST_F(ConfigLoad, MissingEmptyAndBlankStartedFiles) {
    const LoadOutcome missing = ReadConfiguration(folder_.File("none.ini"), config_, target_);
    EXPECT_EQ(missing.kind, LoadOutcome::Kind::kOpenFailed);
    EXPECT_EQ(missing.boxText, "");
    EXPECT_EQ(missing.reportText, "Configuration cant be Loaded. Cant open ini file.");
    ExpectUnreadable(Load(""));
    ExpectFormatError("\n" + kSampleText, "Expected key: [Medipix]");
    EXPECT_TRUE(target_.keys.empty());
}

TEST_F(ConfigLoad, PolarityByFirstLetterOrAQuestionThatKeepsTheCurrentOne) {
    ASSERT_TRUE(Load(Replaced(kSampleText, "Positive", "negative")).ok());
    EXPECT_EQ(config_.polarity, "Negative");

    ASSERT_TRUE(Load(Replaced(kSampleText, "Positive", "Off")).ok());
    EXPECT_EQ(target_.questions,
              std::vector<std::string>{"Format error: Wrong polarity specified. \nContinue?"});
    EXPECT_EQ(config_.polarity, "Negative");
    EXPECT_FALSE(Applied(ConfigKey::Polarity));

    const LoadOutcome outcome = Load(Replaced(kSampleText, "Positive", "Off"), {false});
    EXPECT_EQ(outcome.kind, LoadOutcome::Kind::kCancelled);
    EXPECT_EQ(outcome.boxText, "");
    EXPECT_EQ(outcome.reportText, "Format error: Wrong polarity specified. \nContinue?");
}

TEST_F(ConfigLoad, DacBeyondTenBitsAsksAndOkKeepsTheCurrentValue) {
    config_.records[0].dac[2] = 77;
    config_.records[0].dac[5] = 88;
    config_.records[0].dac[3] = 55;
    ASSERT_TRUE(
        Load(Replaced(kSampleText, " 3 4 5 6 ", " 1024 99999999999999999999999 5 -1 ")).ok());
    EXPECT_EQ(target_.questions, std::vector<std::string>(3, kDacQuestion));
    const uint16_t expected[kDacSlots] = {1, 2, 77, 55, 5, 88, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_TRUE(std::equal(expected, expected + kDacSlots, config_.records[0].dac));
}

TEST_F(ConfigLoad, ChipCountAndChipOrderQuestions) {
    const std::string twoChips = Replaced(
        Replaced(kSampleText, "Chips=1", "Chips=2"), "3\n\n[Interface]",
        "3\nChip 2 DACs: 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35 false true 9\n[Interface]");
    const LoadOutcome outcome = Load(twoChips);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.fileChips, 2);
    EXPECT_EQ(config_.chips, 1);
    EXPECT_EQ(target_.questions,
              std::vector<std::string>{"Config error: Different number of chips. \nContinue?"});
    EXPECT_EQ(config_.records[0], SampleConfiguration().records[0]);
    EXPECT_EQ(config_.records[1].dac[14], 35);
    EXPECT_EQ(config_.records[1].senseCode, 9);
    EXPECT_EQ(std::count(target_.keys.begin(), target_.keys.end(), ConfigKey::ChipRecords), 1);

    config_ = {};
    ASSERT_TRUE(Load(Replaced(kSampleText, "Chip 1", "Chip 3")).ok());
    EXPECT_EQ(target_.questions,
              std::vector<std::string>{"Format error: Unexpected chip order. \nContinue?"});
    EXPECT_EQ(config_.records[2], SampleConfiguration().records[0]);
    EXPECT_EQ(config_.records[0], ChipDacRecord{});

    for (const char* chip : {"Chip 5", "Chip 0", "Chip 99999999999999999999"}) {
        ExpectFormatError(Replaced(kSampleText, "Chip 1", chip), "Medipix: Wrong chip order");
        EXPECT_TRUE(target_.questions.empty()) << chip;
    }
}

// The flag line counts as present unless the file ends; what it leaves out keeps its value.
TEST_F(ConfigLoad, ChipFlagLineFields) {
    config_.records[0].senseCode = 42;
    ASSERT_TRUE(Load(Replaced(kSampleText, "true false 3", "T false")).ok());
    EXPECT_EQ(config_.records[0].senseEnabled, 1);
    EXPECT_EQ(config_.records[0].senseCode, 42);
    EXPECT_EQ(config_.records[0].testPulseWord, 0xFF00FF00u);

    ASSERT_TRUE(Load(Replaced(kSampleText, "true false 3", "false True -1")).ok());
    EXPECT_EQ(config_.records[0].senseEnabled, 0);
    EXPECT_EQ(config_.records[0].bypassEnabled, 1);
    EXPECT_EQ(config_.records[0].senseCode, 255);

    ExpectFormatError(kSampleText.substr(0, kSampleText.find(" true false 3")),
                      "Medipix: Bad chip DACs format (sense,bypass,code)");
}

TEST_F(ConfigLoad, WhiteSpaceAndEndsOfFile) {
    std::string spaced = Replaced(kSampleText, "FSR=1\n", "FSR=   1  \n\n \t\n");
    spaced = Replaced(spaced, "Scope=0x05, 200", "Scope=0x 5,\n200");
    ASSERT_TRUE(Load(Replaced(spaced, "\n[Software]", "\n\n\n[Software]")).ok());
    EXPECT_EQ(config_, SampleConfiguration());
    ExpectFormatError(Replaced(kSampleText, "FSR=1", "FSR = 1"), "Medipix: Bad FSR format");

    EXPECT_TRUE(Load(kSampleText.substr(0, kSampleText.size() - 1)).ok());
    ExpectUnreadable(Load(kSampleText.substr(0, kSampleText.find("\n[Software]"))));
    EXPECT_EQ(target_.keys.back(), ConfigKey::Commands);

    // No Integral line: passed over, the setting stays as it was.
    config_.integrating = true;
    ASSERT_TRUE(Load(Replaced(kSampleText, "Integral=false\n", "")).ok());
    EXPECT_TRUE(config_.integrating);
    EXPECT_FALSE(Applied(ConfigKey::Integral));
}

// Each line replaced by garbage fails with that line's detail; the key before it was the
// last one applied.
TEST_F(ConfigLoad, EveryLineReplacedByGarbageNamesItsKey) {
    const struct {
        const char* line;
        const char* detail;
        int applied;  // keys applied before the failure
    } rows[] = {
        {"[Medipix]", "Expected key: [Medipix]", 0},
        {"Polarity=Positive", "Medipix: Bad polarity format", 0},
        {"FSR=1", "Medipix: Bad FSR format", 1},
        {"Chips=1", "Medipix: Bad 'Chips' format", 2},
        {"Chip 1 DACs:", "Medipix: Bad chip DACs format (heading)", 2},
        {" 14 15 ", "Medipix: Bad chip DACs format (values)", 2},
        {"[Interface]", "Expected key: [Interface]", 3},
        {"HV=-12.5", "Interface: HV", 3},
        {"DAC0=0.25", "Interface: DAC0 value", 4},
        {"DAC1=1.5", "Interface: DAC1 value", 5},
        {"[Actions]", "Expected key: [Actions]", 6},
        {"Manual=0x06", "Actions: Manual", 6},
        {"Frames=10, 0x06", "Actions: Frames", 7},
        {"Period=0.5, 0x06", "Actions: Period", 8},
        {"Interval=0, 0x01", "Actions: Interval", 9},
        {"Trigger=1, 0x06", "Actions: Trigger", 10},
        {"Counter=100, 0x01", "Actions: Counter", 11},
        {"Commands=0x2b, 0x2d", "Actions: Commands", 12},
        {"[Software]", "Expected key: [Software]", 13},
        {"Monitor=true", "Software: Monitor", 13},
        {"Scope=0x05, 200", "Software: Scope", 14},
        // A present Integral line that does not match is passed over; the next key fails.
        {"Integral=false", "Software: View range", 15},
        {"View range=<0, 4095>, Auto=true", "Software: View range", 16},
    };
    for (const auto& row : rows) {
        ExpectFormatError(Replaced(kSampleText, row.line, " garbage "), row.detail);
        EXPECT_EQ(target_.keys.size(), static_cast<size_t>(row.applied)) << row.line;
    }
}

// Numbers beyond their field's range, or beyond any integer type, fail their own key and
// are neither stored nor applied.
TEST_F(ConfigLoad, ValuesBeyondTheirRangeFailTheirKey) {
    const struct {
        const char* from;
        const char* to;
        const char* detail;
    } rows[] = {
        {"FSR=1", "FSR=2147483648", "Medipix: Bad FSR format"},
        {"Chips=1", "Chips=-99999999999999999999", "Medipix: Bad 'Chips' format"},
        {"Frames=10,", "Frames=-2147483649,", "Actions: Frames"},
        {"Trigger=1,", "Trigger=2,", "Actions: Trigger"},
        {"Trigger=1,", "Trigger=-1,", "Actions: Trigger"},
        {"Trigger=1,", "Trigger=4294967297,", "Actions: Trigger"},
        {"Scope=0x05, 200", "Scope=0x05, 99999999999", "Software: Scope"},
        {"HV=-12.5", "HV=1e999", "Interface: HV"},
        {"Manual=0x06", "Manual=0x-6", "Actions: Manual"},
        {"Period=0.5,", "Period=+-0.5,", "Actions: Period"},
        // Two hexadecimal digits at most: the third is where the next key should be.
        {"Manual=0x06", "Manual=0x006", "Actions: Frames"},
    };
    for (const auto& row : rows) {
        config_ = {};
        ExpectFormatError(Replaced(kSampleText, row.from, row.to), row.detail);
        if (std::string_view(row.from).starts_with("Trigger")) {
            EXPECT_EQ(config_.triggerItem, 0) << row.to;
            EXPECT_EQ(target_.keys.back(), ConfigKey::Interval);
        }
    }
}

TEST_F(ConfigLoad, ExtremeValuesWithinRangeAreStoredAsRead) {
    std::string text = Replaced(kSampleText, "Frames=10,", "Frames=-2147483648,");
    text = Replaced(text, "HV=-12.5", "HV=+INF");
    text = Replaced(text, "DAC0=0.25", "DAC0=nan");
    text = Replaced(text, "DAC1=1.5", "DAC1=4.9e-324");
    text = Replaced(text, "Manual=0x06", "Manual=0xFf");
    ASSERT_TRUE(Load(Replaced(text, "Scope=0x05, 200", "Scope=0x5, -7")).ok());
    EXPECT_EQ(config_.frames, INT32_MIN);
    EXPECT_EQ(config_.biasVolts, HUGE_VAL);
    EXPECT_TRUE(std::isnan(config_.dac0Volts));
    EXPECT_GT(config_.dac1Volts, 0.0);
    EXPECT_EQ(config_.actionSet[process::kManual], 0xFF);
    EXPECT_EQ(config_.scopeSamples, -7);
}

// Cut after every byte: never a crash, success only once the last word has begun, the keys
// applied always the file's keys in order, and a cut before a section header unreadable.
TEST_F(ConfigLoad, TruncatedAnywhereFailsCleanly) {
    ASSERT_TRUE(Load(kSampleText).ok());
    const std::vector<ConfigKey> all = target_.keys;
    const size_t complete = kSampleText.find("Auto=") + 6;
    for (size_t length = 0; length < kSampleText.size(); ++length) {
        const LoadOutcome outcome = Load(kSampleText.substr(0, length));
        EXPECT_EQ(outcome.ok(), length >= complete) << length;
        EXPECT_NE(outcome.kind, LoadOutcome::Kind::kCancelled);
        ASSERT_LE(target_.keys.size(), all.size());
        EXPECT_TRUE(std::equal(target_.keys.begin(), target_.keys.end(), all.begin()));
        const std::string rest = kSampleText.substr(length);
        if (length == 0 || (kSampleText[length - 1] == '\n' && rest.find_first_of("\n[") == 0))
            ExpectUnreadable(outcome);
    }
}

TEST_F(ConfigLoad, CrLfLineEndsLoadLikeLineFeeds) {
    std::string crlf;
    for (const char ch : kSampleText) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    ASSERT_TRUE(Load(crlf).ok());
    EXPECT_EQ(config_, SampleConfiguration());
    ExpectFormatError(Replaced(kSampleText, "[Medipix]\n", "[Medipix]\r"),
                      "Expected key: [Medipix]");
}

TEST_F(ConfigLoad, LongLinesAndWordsAreCutOrRefusedWithoutHarm) {
    // A line longer than a header line is not that header.
    ExpectFormatError(Replaced(kSampleText, "[Medipix]", "[Medipix]" + std::string(600, '.')),
                      "Expected key: [Medipix]");
    ExpectFormatError(Replaced(kSampleText, "FSR=1", "FSR=1" + std::string(100000, '0')),
                      "Medipix: Bad FSR format");

    // Words longer than their buffers are taken whole; only their first letter counts.
    std::string text = Replaced(kSampleText, "Positive", "n" + std::string(5000, 'x'));
    text = Replaced(text, "true false 3", "true T" + std::string(3000, 'y') + " 3");
    ASSERT_TRUE(Load(Replaced(text, "Monitor=true", "Monitor=f" + std::string(2000, 'z'))).ok());
    EXPECT_EQ(config_.polarity, "Negative");
    EXPECT_EQ(config_.records[0].bypassEnabled, 1);
    EXPECT_EQ(config_.records[0].senseCode, 3);
    EXPECT_FALSE(config_.monitor);

    // Files beyond 1 MiB are refused before any key is applied.
    const size_t room = (1 << 20) - kSampleText.size();
    ExpectUnreadable(Load(kSampleText + std::string(room + 1, ' ')));
    EXPECT_TRUE(target_.keys.empty());
    EXPECT_TRUE(Load(kSampleText + std::string(room, ' ')).ok());
}

}  // namespace
}  // namespace ulvarin::config
