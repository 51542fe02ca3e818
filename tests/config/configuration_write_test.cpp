#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "config/configuration.h"
#include "config_test_support.h"
#include "tests/support/comma_locale.h"

namespace ulvarin::config {
namespace {

using testing::ConfigFolder;
using testing::kSampleText;
using testing::RecordingTarget;
using testing::SampleConfiguration;

TEST(ConfigText, WritesEveryLineLetterByLetterForAtMostFourChips) {
    EXPECT_EQ(ConfigurationText(SampleConfiguration()), kSampleText);

    Configuration c = SampleConfiguration();
    c.chips = 7;
    const std::string many = ConfigurationText(c);
    EXPECT_NE(many.find("Chips=4\n"), std::string::npos);
    EXPECT_NE(many.find("\nChip 4 DACs: "), std::string::npos);
    EXPECT_EQ(many.find("Chip 5"), std::string::npos);
    c.chips = -1;
    EXPECT_NE(ConfigurationText(c).find("Chips=0\n\n[Interface]"), std::string::npos);
}

TEST(ConfigFileName, ReplacesOnlyTheFirstColon) {
    EXPECT_EQ(DefaultConfigFileName("A:B", 1, "X"), "A.B (1 chips, X).ini");
    EXPECT_EQ(DefaultConfigFileName("A:B:C", 4, "X:Y"), "A.B:C (4 chips, X:Y).ini");
    EXPECT_EQ(DefaultConfigFileName("Box", 2, "K:1"), "Box (2 chips, K.1).ini");
}

// Every field away from its default, the keys applied in the order of the file, each as
// it is read.
TEST(ConfigRoundTrip, FourChipsComeBackWithEveryKeyInFileOrder) {
    ConfigFolder folder;
    Configuration saved;
    saved.polarity = "Negative";
    saved.fsr = 1;
    saved.chips = 4;
    for (int chip = 0; chip < 4; ++chip) {
        ChipDacRecord& r = saved.records[static_cast<size_t>(chip)];
        for (int i = 0; i < kDacSlots; ++i) r.dac[i] = static_cast<uint16_t>(1023 - 60 * i - chip);
        r.senseEnabled = chip % 2;
        r.bypassEnabled = chip < 2;
        r.senseCode = static_cast<uint8_t>(200 + chip);
        r.testPulseWord = 0xFF00FF00;
    }
    saved.biasVolts = -87.25;
    saved.dac0Volts = 0.125;
    saved.dac1Volts = std::numeric_limits<double>::infinity();
    saved.actionSet = {0x81, 0xff, 0x06, 0x00, 0x5a, 0x3c};
    saved.frames = 2147483647;
    saved.interval = 1e-300;
    saved.counter = 1e6;
    saved.actionCommand1 = 'x';
    saved.actionCommand2 = static_cast<char>(0xe9);
    saved.scopeMask = 0xa5;
    saved.scopeSamples = 450;
    saved.integrating = true;
    saved.rangeMin = -3.5;
    saved.rangeMax = 1.5e9;
    const std::string path = folder.File("quad.ini");
    ASSERT_EQ(WriteConfiguration(path, saved), SaveStatus::kOk);
    const std::string text = ConfigFolder::Read(path);
    EXPECT_NE(text.find("\nPeriod=0, 0x06\n"), std::string::npos);
    EXPECT_NE(text.find("\nCommands=0x78, 0xe9\n"), std::string::npos);

    Configuration loaded;
    loaded.chips = 4;
    RecordingTarget target;
    const LoadOutcome outcome = ReadConfiguration(path, loaded, target);
    EXPECT_EQ(outcome.kind, LoadOutcome::Kind::kOk);
    EXPECT_EQ(outcome.reportText, "Configuration loaded OK.");
    EXPECT_EQ(outcome.boxText, "");
    EXPECT_EQ(outcome.fileChips, 4);
    EXPECT_TRUE(target.questions.empty());
    EXPECT_EQ(loaded, saved);

    std::vector<ConfigKey> inOrder;
    for (int k = 0; k <= static_cast<int>(ConfigKey::ViewRange); ++k)
        inOrder.push_back(static_cast<ConfigKey>(k));
    ASSERT_EQ(target.keys, inOrder);
    EXPECT_EQ(target.seen[0].polarity, "Negative");
    EXPECT_EQ(target.seen[0].fsr, 0);
    EXPECT_EQ(target.seen[2].records, saved.records);
    EXPECT_EQ(target.seen[2].biasVolts, 0);
    EXPECT_EQ(target.seen[12].actionCommand2, saved.actionCommand2);
    EXPECT_EQ(target.seen[12].scopeMask, 0);
}

// A decimal comma locale changes neither the text written nor what is read back.
TEST(ConfigRoundTrip, IgnoresTheProcessLocale) {
    ConfigFolder folder;
    std::string text;
    Configuration loaded;
    RecordingTarget target;
    bool ok = false;
    {
        test::CommaLocale comma;
        if (!comma.active()) GTEST_SKIP() << "no decimal comma locale installed";
        text = ConfigurationText(SampleConfiguration());
        ok = ReadConfiguration(folder.Write("a.ini", kSampleText), loaded, target).ok();
    }
    EXPECT_EQ(text, kSampleText);
    EXPECT_TRUE(ok);
    EXPECT_EQ(loaded, SampleConfiguration());
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConfigSave, ReplacesThePreviousFileAndLeavesNoTemporaryFile) {
    ConfigFolder folder;
    const std::string path = folder.Write("A.B (1 chips, X).ini", std::string(5000, 'x'));
    ASSERT_EQ(WriteConfiguration(path, SampleConfiguration()), SaveStatus::kOk);
    EXPECT_EQ(ConfigFolder::Read(path), kSampleText);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"A.B (1 chips, X).ini"});
    EXPECT_STREQ(SaveFailureBoxText(SaveStatus::kOk), "");
}

// A missing folder fails at the open and is not created; a target the rename cannot replace
// (a folder here) fails as a write, keeps what was there and removes the temporary file.
TEST(ConfigSave, FailuresKeepThePreviousEntryAndLeaveNothingBehind) {
    ConfigFolder folder;
    EXPECT_EQ(WriteConfiguration(folder.File("Config/a.ini"), SampleConfiguration()),
              SaveStatus::kOpenFailed);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "Config"));
    EXPECT_STREQ(SaveFailureBoxText(SaveStatus::kOpenFailed),
                 "Configuration cant be saved. \rCant open ini file.");

    const std::string path = folder.File("taken.ini");
    std::filesystem::create_directory(path);
    folder.Write("taken.ini/keep", "previous");
    EXPECT_EQ(WriteConfiguration(path, SampleConfiguration()), SaveStatus::kWriteFailed);
    EXPECT_EQ(ConfigFolder::Read(path + "/keep"), "previous");
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"taken.ini"});
    EXPECT_STREQ(SaveFailureBoxText(SaveStatus::kWriteFailed),
                 "Configuration cant be saved. \rCant write to ini file.");
}

}  // namespace
}  // namespace ulvarin::config
