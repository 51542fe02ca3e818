// One emulated readout interface: the firmware's command interpreter, the chips behind it,
// its analog side and its hardware processes. It consumes the bytes the host writes exactly
// as the firmware would (a letter, then that command's parameter bytes) and queues its
// answers, and what its processes send by themselves, in the interface's output.
//
// Time only moves when the owner says so: every entry point takes the current time, and
// Advance fires the process events that have come due, each at its own due time.
// Not thread-safe: its owner serialises calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/analog_side.h"
#include "sim/chip_state.h"
#include "sim/interface_config.h"
#include "sim/interface_state.h"
#include "sim/output_queue.h"
#include "sim/pixel_physics.h"
#include "sim/process_engine.h"
#include "sim/sim_clock.h"
#include "wire/command_table.h"

namespace ulvarin::sim {

class EmulatedInterface final : private ProcessActions {
public:
    // The firmware stops making output by itself while the host has this much unread: a
    // full USB FIFO stalls it.
    static constexpr size_t kMaxBacklogBytes = 1u << 20;

    // Powers the interface up at `now`. Throws std::invalid_argument unless IsValid(config).
    EmulatedInterface(InterfaceConfig config, Clock::time_point now);
    EmulatedInterface(const EmulatedInterface&) = delete;
    EmulatedInterface& operator=(const EmulatedInterface&) = delete;

    // Takes bytes the host wrote at `now` (after advancing to `now`). A command may arrive
    // split over several calls; its bytes wait until the last parameter byte is in, however
    // long that takes. As in the firmware, there is no timeout between parameter bytes: after
    // a write that stopped part way, whatever the host sends next (the synchronisation
    // packet or another command's letter included) is taken as the missing parameters. While
    // the interface restarts after a global reset or sits in its watchdog test, whatever
    // arrives is lost. `hostBacklog` as for Advance.
    void Receive(std::span<const uint8_t> bytes, Clock::time_point now, size_t hostBacklog = 0);

    // Fires every process event and finishes every scope shot due by `now`, in time order.
    // `hostBacklog` is what the host has not read yet; beyond kMaxBacklogBytes events wait.
    void Advance(Clock::time_point now, size_t hostBacklog = 0);
    // When something next happens by itself: output becoming readable, a process event, a
    // scope shot finishing. Events held back by a full backlog do not count.
    std::optional<Clock::time_point> NextEventTime(Clock::time_point now,
                                                   size_t hostBacklog = 0) const;

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
    AnalogSide& Analog() { return analog_; }
    ProcessEngine& Process() { return engine_; }

    // Bytes of a command received so far whose parameters are still arriving (0 when none).
    size_t PendingCommandBytes() const { return pending_.size(); }

    // Parameter bytes the host sends after `command`'s letter on this interface.
    size_t ParameterBytes(const CommandDescr& command) const;

    // --- test access: the world outside the interface ----------------------------------
    // Each advances to `now` first, and counts an open shutter's exposure up to `now` with
    // the settings before the change.

    // Changes the X-ray field (level or pattern).
    void ChangeIllumination(const std::function<void(Illumination&)>& change,
                            Clock::time_point now);
    // A pulse on the trigger input.
    void FireTrigger(Clock::time_point now);
    // `events` pulses on the event counter input.
    void InjectEvents(uint64_t events, Clock::time_point now);
    // Holds the dummy chipboard's I2C lines in `lines` low (bit 1 SDA, bit 0 SCL; 0 frees
    // them); kept across resets like any board fault.
    void HoldI2cLow(uint8_t lines) { config_.i2cHeldLow = lines & 0x03; }
    // Puts `counts` (one vector of kChipPixels values per chip) in the chips' counters, as if
    // they had counted them: the next read shows them, also after a pixel configuration was
    // shifted in. Throws std::invalid_argument unless there is one full vector per chip.
    void LoadCounts(const std::vector<std::vector<uint16_t>>& counts);

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
    bool Blocked(size_t hostBacklog) const;

    // Output helpers. "At" times let restarts and the watchdog delay what follows.
    void Send(std::vector<uint8_t> bytes, Clock::time_point at);
    // The command's letter, `params`, then "OK\r".
    void Answer(const Command& command, std::span<const uint8_t> params);
    // The command's letter, `text`, CR, then "OK\r".
    void AnswerText(const Command& command, std::string_view text);
    // The command's letter, the time counter, a frame of the chips' counts, then "OK\r".
    // The time counter is the frame's exposure: how long the shutter was open while the
    // counters counted what the frame holds. A plain read ("m") shifts the counters back in
    // as it reads them; the commands and actions that end a measurement clear them after
    // the readout, so that every frame of a process holds its own exposure.
    void AnswerFrame(const Command& command);
    std::vector<uint8_t> FrameResponse(uint8_t letter, Clock::time_point at);
    // A background block holding one item.
    void SendBackground(std::vector<uint8_t> item, Clock::time_point at);
    // An error message: "!", `text`, CR.
    void SendError(std::string_view text, Clock::time_point at);

    // Input is lost until `until` (restart, watchdog test).
    void GoDeaf(Clock::time_point until);

    // Counting: the shutter's exposure is added to the counters lazily, up to `now`.
    FrontEnd CurrentFrontEnd() const;
    AnalogInputs CurrentAnalogInputs() const;
    void SettleCounts(Clock::time_point now);
    void OpenShutterAt(Clock::time_point now);
    void CloseShutterAt(Clock::time_point now);
    // Zeroes the counters and their exposure at `at`.
    void ClearCounters(Clock::time_point at);
    void FinishScopeShot(Clock::time_point at);

    // ProcessActions: what the process engine's actions do here.
    void CloseShutterAndSendFrame(Clock::time_point at) override;
    void OpenShutter(Clock::time_point at) override { OpenShutterAt(at); }
    void CloseShutter(Clock::time_point at) override { CloseShutterAt(at); }
    void EraseCounters(Clock::time_point at) override { ClearCounters(at); }
    void PeriodicErase(Clock::time_point at) override;
    void TriggerScope(Clock::time_point at) override { analog_.StartShot(at); }
    void RunActionCommand(int which, Clock::time_point at) override;

    InterfaceConfig config_;
    std::vector<ChipState> chips_;
    InterfaceState state_;
    PixelPhysics physics_;
    AnalogSide analog_;
    ProcessEngine engine_;
    OutputQueue output_;
    Clock::time_point deafUntil_{};
    Clock::time_point countedUntil_{};  // the open shutter's counts are in up to here
    Clock::duration exposure_{};        // shutter time the counters hold, up to countedUntil_
    bool silent_ = false;               // an action command runs: its answer is not sent
    // The pixel configuration was just shifted in through the counters, which then hold it
    // until they count or are cleared: a read shows the configuration words.
    bool configInCounters_ = false;
    std::vector<uint8_t> pending_;  // letter and parameters received so far
    const CommandDescr* pendingCommand_ = nullptr;
};

}  // namespace ulvarin::sim
