// A sample configuration and its file text, files in a private folder, and a window
// stand-in that records what loading asks and applies.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/configuration.h"

namespace ulvarin::config::testing {

// One chip, a distinct value in every field.
inline Configuration SampleConfiguration() {
    Configuration c;
    c.fsr = 1;
    for (int i = 0; i < kDacSlots; ++i) c.records[0].dac[i] = static_cast<uint16_t>(i + 1);
    c.records[0].senseEnabled = 1;
    c.records[0].senseCode = 3;
    c.records[0].testPulseWord = 0xFF00FF00;
    c.biasVolts = -12.5;
    c.dac0Volts = 0.25;
    c.dac1Volts = 1.5;
    c.frames = 10;
    c.period = 0.5;
    c.triggerItem = 1;
    c.counter = 100;
    c.monitor = true;
    c.scopeMask = 0x05;
    c.scopeSamples = 200;
    c.rangeMax = 4095;
    c.rangeAuto = true;
    return c;
}

inline const std::string kSampleText =
    "[Medipix]\nPolarity=Positive\nFSR=1\nChips=1\n"
    "Chip 1 DACs: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 true false 3\n"
    "\n[Interface]\nHV=-12.5\nDAC0=0.25\nDAC1=1.5\n"
    "\n[Actions]\nManual=0x06\nFrames=10, 0x06\nPeriod=0.5, 0x06\nInterval=0, 0x01\n"
    "Trigger=1, 0x06\nCounter=100, 0x01\nCommands=0x2b, 0x2d\n"
    "\n[Software]\nMonitor=true\nScope=0x05, 200\nIntegral=false\n"
    "View range=<0, 4095>, Auto=true\n";

// `text` with the first `from` replaced by `to`; a marker text when `from` is not there.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) return "<" + from + " not in the text>";
    return text.replace(at, from.size(), to);
}

class ConfigFolder {
public:
    ConfigFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::path(::testing::TempDir()) /
                (std::string("ulvarin_config_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ConfigFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
        return File(name);
    }
    static std::string Read(const std::string& file) {
        std::stringstream text;
        text << std::ifstream(file, std::ios::binary).rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path_;
};

// Answers from a script (OK once it is used up); keeps every key applied with the
// configuration as it was at that moment.
class RecordingTarget : public ConfigTarget {
public:
    std::vector<bool> answers;
    std::vector<std::string> questions;
    std::vector<ConfigKey> keys;
    std::vector<Configuration> seen;

    bool Continue(const std::string& question) override {
        questions.push_back(question);
        return questions.size() > answers.size() || answers[questions.size() - 1];
    }
    void Apply(ConfigKey key, const Configuration& c) override {
        keys.push_back(key);
        seen.push_back(c);
    }
};

}  // namespace ulvarin::config::testing
