// One emulated readout interface: the firmware's command interpreter and the chips behind
// it. It consumes the bytes the host writes exactly as the firmware would (a letter, then
// that command's parameter bytes) and queues its answers in the interface's output.
// Not thread-safe: its owner serialises calls.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "device/command_table.h"
#include "sim/chip_state.h"
#include "sim/interface_config.h"
#include "sim/interface_state.h"
#include "sim/output_queue.h"
#include "sim/sim_clock.h"

namespace ulvarin::sim {

class EmulatedInterface {
public:
    // Powers the interface up at `now`. Throws std::invalid_argument unless IsValid(config).
    EmulatedInterface(InterfaceConfig config, Clock::time_point now);

    // Takes bytes the host wrote at `now`. A command may arrive split over several calls; its
    // bytes wait until the last parameter byte is in. While the interface restarts after a
    // global reset or sits in its watchdog test, whatever arrives is lost.
    void Receive(std::span<const uint8_t> bytes, Clock::time_point now);

    // Bytes for the host, each readable from its own time.
    OutputQueue& Output() { return output_; }

    const InterfaceConfig& Config() const { return config_; }
    ChipFamily Family() const { return config_.family; }
    int ChipCount() const { return config_.chipCount; }
    bool Wide() const { return IsWide(config_.family); }

    // Chip `index`, 0..ChipCount() - 1: counts to send, configuration and DACs received.
    ChipState& Chip(int index) { return chips_.at(static_cast<size_t>(index)); }
    const ChipState& Chip(int index) const { return chips_.at(static_cast<size_t>(index)); }
    InterfaceState& State() { return state_; }

    // Bytes of a command received so far whose parameters are still arriving (0 when none).
    size_t PendingCommandBytes() const { return pending_.size(); }

    // Parameter bytes the host sends after `command`'s letter on this interface.
    size_t ParameterBytes(const CommandDescr& command) const;

private:
    friend struct CommandHandlers;

    struct Command {
        const CommandDescr& descr;
        std::span<const uint8_t> params;
        Clock::time_point now;
        uint8_t letter() const { return descr.letter; }
    };

    void StartCommand(uint8_t letter, Clock::time_point now);
    void Execute(const Command& command);  // in command_handlers.cpp

    // Output helpers. "At" times let restarts and the watchdog delay what follows.
    void Send(std::vector<uint8_t> bytes, Clock::time_point at);
    // The command's letter, `params`, then "OK\r".
    void Answer(const Command& command, std::span<const uint8_t> params);
    // The command's letter, `text`, CR, then "OK\r".
    void AnswerText(const Command& command, std::string_view text);
    // The command's letter, the time counter, a frame of the chips' counts, then "OK\r".
    void AnswerFrame(const Command& command);
    // An error message: "!", `text`, CR.
    void SendError(std::string_view text, Clock::time_point at);

    // The 48-bit, 20 MHz time counter at `now`, counted from the last start.
    uint64_t TimeCounter(Clock::time_point now) const;
    // Input is lost until `until` (restart, watchdog test).
    void GoDeaf(Clock::time_point until);

    InterfaceConfig config_;
    std::vector<ChipState> chips_;
    InterfaceState state_;
    OutputQueue output_;
    Clock::time_point startedAt_;
    Clock::time_point deafUntil_{};
    std::vector<uint8_t> pending_;  // letter and parameters received so far
    const CommandDescr* pendingCommand_ = nullptr;
};

}  // namespace ulvarin::sim
