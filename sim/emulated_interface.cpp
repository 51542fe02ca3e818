#include "sim/emulated_interface.h"

#include <algorithm>
#include <stdexcept>

#include "device/stream_layout.h"
#include "sim/matrix_stream.h"

namespace ulvarin::sim {
namespace {

constexpr uint8_t kOk[] = {'O', 'K', '\r'};

void AppendOk(std::vector<uint8_t>& bytes) {
    bytes.insert(bytes.end(), std::begin(kOk), std::end(kOk));
}

}  // namespace

EmulatedInterface::EmulatedInterface(InterfaceConfig config, Clock::time_point now)
    : config_(std::move(config)), startedAt_(now) {
    if (!IsValid(config_)) throw std::invalid_argument("invalid emulated interface configuration");
    for (int i = static_cast<int>(config_.chipIds.size()); i < config_.chipCount; ++i)
        config_.chipIds.push_back(DefaultChipId(config_.family, i));
    config_.chipIds.resize(static_cast<size_t>(config_.chipCount));
    for (int i = 0; i < config_.chipCount; ++i)
        chips_.push_back(MakeChipState(i, Wide(), config_.chipIds[static_cast<size_t>(i)]));
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

void EmulatedInterface::Receive(std::span<const uint8_t> bytes, Clock::time_point now) {
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
    output_.Push(std::move(bytes), at);
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

void EmulatedInterface::AnswerFrame(const Command& command) {
    std::vector<uint8_t> bytes;
    bytes.reserve(1 + 6 + FrameStreamBytes(ChipCount(), Wide()) + 3);
    bytes.push_back(command.letter());
    const uint64_t ticks = TimeCounter(command.now);
    for (int i = 0; i < 6; ++i) bytes.push_back(static_cast<uint8_t>(ticks >> (8 * i)));
    std::vector<std::span<const uint16_t>> counts;
    for (const ChipState& chip : chips_) counts.emplace_back(chip.counts);
    AppendFrameStream(bytes, counts, Wide());
    AppendOk(bytes);
    Send(std::move(bytes), command.now);
}

void EmulatedInterface::SendError(std::string_view text, Clock::time_point at) {
    std::vector<uint8_t> bytes{'!'};
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back('\r');
    Send(std::move(bytes), at);
}

uint64_t EmulatedInterface::TimeCounter(Clock::time_point now) const {
    return ToTicks(now - startedAt_);
}

void EmulatedInterface::GoDeaf(Clock::time_point until) {
    deafUntil_ = std::max(deafUntil_, until);
    pending_.clear();
    pendingCommand_ = nullptr;
}

}  // namespace ulvarin::sim
