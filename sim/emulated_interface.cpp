#include "sim/emulated_interface.h"

#include <algorithm>
#include <stdexcept>

#include "sim/matrix_stream.h"
#include "wire/stream_layout.h"

namespace ulvarin::sim {
namespace {

constexpr uint8_t kOk[] = {'O', 'K', '\r'};

void AppendOk(std::vector<uint8_t>& bytes) {
    bytes.insert(bytes.end(), std::begin(kOk), std::end(kOk));
}

// Bounds the work of one Advance, so a host that stays away for long cannot make one call
// fire an unbounded burst of events; the rest fire on the next call.
constexpr int kMaxEventsPerAdvance = 10000;

// Every interface gets its own fixed pixel properties and noise, the same on every run.
uint64_t SeedOf(const InterfaceConfig& config) {
    return Mix64(static_cast<uint64_t>(config.family) * 131 +
                 static_cast<uint64_t>(config.chipCount));
}

}  // namespace

EmulatedInterface::EmulatedInterface(InterfaceConfig config, Clock::time_point now)
    : config_(std::move(config)),
      physics_(config_.family, std::clamp(config_.chipCount, 1, kMaxChips), SeedOf(config_)),
      analog_(SeedOf(config_) + 1),
      engine_(*this) {
    if (!IsValid(config_)) throw std::invalid_argument("invalid emulated interface configuration");
    for (int i = static_cast<int>(config_.chipIds.size()); i < config_.chipCount; ++i)
        config_.chipIds.push_back(DefaultChipId(config_.family, i));
    config_.chipIds.resize(static_cast<size_t>(config_.chipCount));
    for (int i = 0; i < config_.chipCount; ++i)
        chips_.push_back(MakeChipState(i, config_.family, config_.chipIds[static_cast<size_t>(i)]));
    engine_.SetTriggerRate(config_.triggerRate, now);
    engine_.SetEventRate(config_.eventRate, now);
}

size_t EmulatedInterface::ParameterBytes(const CommandDescr& command) const {
    const auto chips = static_cast<size_t>(config_.chipCount);
    if (command.commandBytes == kParamFrameStream)
        return FrameStreamBytes(config_.chipCount, Wide());
    if (command.letter == 'd') {
        // The DAC stream carries one byte more on multi-chip Medipix2 interfaces.
        const bool extra = config_.family == ChipFamily::kMedipix2 && chips > 1;
        return 33 * chips + (extra ? 1 : 0);
    }
    return static_cast<size_t>(std::max(command.commandBytes, 0));
}

void EmulatedInterface::Receive(std::span<const uint8_t> bytes, Clock::time_point now,
                                size_t hostBacklog) {
    Advance(now, hostBacklog);
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (now < deafUntil_) return;
        if (pendingCommand_ == nullptr) {
            StartCommand(bytes[pos++], now);
            if (pendingCommand_ == nullptr) continue;
        }
        const size_t wanted = 1 + ParameterBytes(*pendingCommand_);
        const size_t take = std::min(wanted - pending_.size(), bytes.size() - pos);
        pending_.insert(pending_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                        bytes.begin() + static_cast<std::ptrdiff_t>(pos + take));
        pos += take;
        if (pending_.size() < wanted) continue;
        // Detach the command first: a handler may restart the interface.
        const std::vector<uint8_t> received = std::move(pending_);
        const CommandDescr& descr = *pendingCommand_;
        pending_.clear();
        pendingCommand_ = nullptr;
        Execute({descr, std::span(received).subspan(1), now});
    }
}

bool EmulatedInterface::Blocked(size_t hostBacklog) const {
    return output_.Size() + hostBacklog > kMaxBacklogBytes;
}

void EmulatedInterface::Advance(Clock::time_point now, size_t hostBacklog) {
    for (int fired = 0; fired < kMaxEventsPerAdvance && !Blocked(hostBacklog); ++fired) {
        const auto shot = analog_.ShotDue();
        const auto event = engine_.NextDue();
        if (shot && *shot <= now && (!event || *shot <= *event)) {
            FinishScopeShot(*shot);
        } else if (!engine_.FireNext(now)) {
            return;
        }
    }
}

std::optional<Clock::time_point> EmulatedInterface::NextEventTime(Clock::time_point now,
                                                                  size_t hostBacklog) const {
    std::optional<Clock::time_point> next = output_.NextArrival(now);
    if (Blocked(hostBacklog)) return next;
    for (const auto& due : {engine_.NextDue(), analog_.ShotDue()})
        if (due && (!next || *due < *next)) next = due;
    return next;
}

void EmulatedInterface::ChangeIllumination(const std::function<void(Illumination&)>& change,
                                           Clock::time_point now) {
    Advance(now);
    SettleCounts(now);
    change(physics_.Light());
    physics_.Invalidate();
}

void EmulatedInterface::FireTrigger(Clock::time_point now) {
    Advance(now);
    engine_.Trigger(now);
}

void EmulatedInterface::InjectEvents(uint64_t events, Clock::time_point now) {
    Advance(now);
    engine_.ExternalEvents(events, now);
}

void EmulatedInterface::LoadCounts(const std::vector<std::vector<uint16_t>>& counts) {
    if (counts.size() != chips_.size())
        throw std::invalid_argument("one set of counts per chip expected");
    for (size_t c = 0; c < chips_.size(); ++c) {
        if (counts[c].size() != chips_[c].counts.size())
            throw std::invalid_argument("one count per pixel expected");
    }
    for (size_t c = 0; c < chips_.size(); ++c) chips_[c].counts = counts[c];
    configInCounters_ = false;
}

void EmulatedInterface::StartCommand(uint8_t letter, Clock::time_point now) {
    pendingCommand_ = FindCommand(letter);
    if (pendingCommand_ == nullptr) {
        SendError("Unknown command", now);
        return;
    }
    pending_.reserve(1 + ParameterBytes(*pendingCommand_));
    pending_.push_back(letter);
}

void EmulatedInterface::Send(std::vector<uint8_t> bytes, Clock::time_point at) {
    if (!silent_) output_.Push(std::move(bytes), at);
}

void EmulatedInterface::Answer(const Command& command, std::span<const uint8_t> params) {
    std::vector<uint8_t> bytes;
    bytes.reserve(params.size() + 4);
    bytes.push_back(command.letter());
    bytes.insert(bytes.end(), params.begin(), params.end());
    AppendOk(bytes);
    Send(std::move(bytes), command.now);
}

void EmulatedInterface::AnswerText(const Command& command, std::string_view text) {
    std::vector<uint8_t> params(text.begin(), text.end());
    params.push_back('\r');
    Answer(command, params);
}

std::vector<uint8_t> EmulatedInterface::FrameResponse(uint8_t letter, Clock::time_point at) {
    SettleCounts(at);
    std::vector<uint8_t> bytes;
    bytes.reserve(1 + 6 + FrameStreamBytes(ChipCount(), Wide()) + 3);
    bytes.push_back(letter);
    const uint64_t ticks = ToTicks(exposure_);
    for (int i = 0; i < 6; ++i) bytes.push_back(static_cast<uint8_t>(ticks >> (8 * i)));
    std::vector<std::span<const uint16_t>> counts;
    for (const ChipState& chip : chips_)
        counts.emplace_back(configInCounters_ ? chip.pixelConfig : chip.counts);
    AppendFrameStream(bytes, counts, Wide(), configInCounters_);
    AppendOk(bytes);
    return bytes;
}

void EmulatedInterface::AnswerFrame(const Command& command) {
    Send(FrameResponse(command.letter(), command.now), command.now);
    if (command.letter() != 'm') ClearCounters(command.now);
}

void EmulatedInterface::SendBackground(std::vector<uint8_t> item, Clock::time_point at) {
    item.insert(item.begin(), '[');
    item.push_back(']');
    Send(std::move(item), at);
}

void EmulatedInterface::SendError(std::string_view text, Clock::time_point at) {
    std::vector<uint8_t> bytes{'!'};
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back('\r');
    Send(std::move(bytes), at);
}

void EmulatedInterface::GoDeaf(Clock::time_point until) {
    deafUntil_ = std::max(deafUntil_, until);
    pending_.clear();
    pendingCommand_ = nullptr;
}

FrontEnd EmulatedInterface::CurrentFrontEnd() const {
    return {state_.chipPower, state_.positivePolarity, analog_.BiasOutput(), state_.timepixClock};
}

// The sense lines of all chips meet at ADC0; the first chip that senses drives it.
AnalogInputs EmulatedInterface::CurrentAnalogInputs() const {
    AnalogInputs inputs{std::nullopt, state_.chipPower, state_.positivePolarity};
    for (const ChipState& chip : chips_) {
        if (!chip.dacs.senseEnabled) continue;
        inputs.sensedVolts = state_.chipPower ? SensedDacVolts(Family(), chip.dacs) : 0.0;
        break;
    }
    return inputs;
}

void EmulatedInterface::SettleCounts(Clock::time_point now) {
    if (!state_.shutterOpen || now <= countedUntil_) return;
    const double seconds = std::chrono::duration<double>(now - countedUntil_).count();
    physics_.Expose(chips_, CurrentFrontEnd(), seconds);
    exposure_ += now - countedUntil_;
    countedUntil_ = now;
}

void EmulatedInterface::OpenShutterAt(Clock::time_point now) {
    if (state_.shutterOpen) return;
    configInCounters_ = false;
    state_.shutterOpen = true;
    state_.shutterOpenedAt = now;
    countedUntil_ = now;
}

void EmulatedInterface::CloseShutterAt(Clock::time_point now) {
    if (!state_.shutterOpen) return;
    SettleCounts(now);
    state_.shutterOpen = false;
    state_.shutterClosedAt = now;
}

// What an open shutter let in before `at` is dropped with the counts.
void EmulatedInterface::ClearCounters(Clock::time_point at) {
    configInCounters_ = false;
    for (ChipState& chip : chips_) std::fill(chip.counts.begin(), chip.counts.end(), 0);
    exposure_ = {};
    if (state_.shutterOpen) countedUntil_ = std::max(countedUntil_, at);
}

void EmulatedInterface::FinishScopeShot(Clock::time_point at) {
    std::vector<uint8_t> item{'$'};
    const std::vector<uint8_t> samples = analog_.FinishShot(CurrentAnalogInputs());
    item.insert(item.end(), samples.begin(), samples.end());
    AppendOk(item);
    SendBackground(std::move(item), at);
}

void EmulatedInterface::CloseShutterAndSendFrame(Clock::time_point at) {
    CloseShutterAt(at);
    SendBackground(FrameResponse('m', at), at);
    ClearCounters(at);
}

void EmulatedInterface::PeriodicErase(Clock::time_point at) {
    ClearCounters(at);
    std::vector<uint8_t> item{'='};
    AppendOk(item);
    SendBackground(std::move(item), at);
}

// Actions 1 and 2 run the interface's stored command letters. Only commands without
// parameters can run so; the reset and watchdog commands are refused, since they would
// take the interface off line in the middle of a process. Their answers are not sent.
void EmulatedInterface::RunActionCommand(int which, Clock::time_point at) {
    const uint8_t letter = state_.todoCommands[static_cast<size_t>(which & 1)];
    const CommandDescr* descr = FindCommand(letter);
    if (descr == nullptr || ParameterBytes(*descr) != 0 || letter == '_' || letter == ',') return;
    silent_ = true;
    Execute({*descr, {}, at});
    silent_ = false;
}

}  // namespace ulvarin::sim
