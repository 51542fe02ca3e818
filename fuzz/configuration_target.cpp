#include <string_view>

#include "config/configuration.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/targets.h"

namespace ulvarin::fuzz {

namespace {

// Answers loading's questions from a byte's bits in turn.
class AnsweringTarget : public config::ConfigTarget {
public:
    explicit AnsweringTarget(uint8_t answers) : answers_(answers) {}
    bool Continue(const std::string&) override { return (answers_ >> (asked_++ % 8)) & 1; }
    void Apply(config::ConfigKey, const config::Configuration&) override {}

private:
    uint8_t answers_;
    int asked_ = 0;
};

}  // namespace

void ConfigurationTarget(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    config::Configuration c;
    c.chips = 1 + static_cast<int>(in.Below(config::kMaxChips));
    const int chips = c.chips;
    AnsweringTarget target(in.Byte());
    const std::string_view file(reinterpret_cast<const char*>(in.Rest()), in.Left());

    const config::LoadOutcome outcome =
        config::ReadConfiguration(ScratchFile(file, ".ini"), c, target);
    Check(outcome.kind != config::LoadOutcome::Kind::kOpenFailed, "configuration not opened");
    Check(c.chips == chips, "loading changed the window's chip count");
    if (!outcome.ok()) return;

    // What loaded writes out as a file that loads again without a question.
    config::Configuration reloaded = c;
    AnsweringTarget refuseAll(0);
    const std::string text = config::ConfigurationText(c);
    const config::LoadOutcome again =
        config::ReadConfiguration(ScratchFile(text, ".again.ini"), reloaded, refuseAll);
    Check(again.ok(), "a written configuration does not load");
}

}  // namespace ulvarin::fuzz
