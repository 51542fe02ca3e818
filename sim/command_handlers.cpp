// What the firmware does for each command letter. Every handler answers with the
// command's response kind; commands whose effects are not modelled yet keep their
// parameters in the interface state and answer with fixed content.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "sim/emulated_interface.h"
#include "sim/matrix_stream.h"

namespace ulvarin::sim {
namespace {

using Params = std::span<const uint8_t>;

// Commands that only change one setting of the interface and acknowledge.
struct StateSetter {
    uint8_t letter;
    void (*apply)(InterfaceState& s, Params params);
};

template <size_t N>
void Keep(std::array<uint8_t, N>& field, Params params) {
    std::copy_n(params.begin(), std::min(N, params.size()), field.begin());
}

constexpr StateSetter kStateSetters[] = {
    {'+', [](InterfaceState& s, Params) { s.triggerOut = true; }},
    {'-', [](InterfaceState& s, Params) { s.triggerOut = false; }},
    {'*', [](InterfaceState& s, Params) { s.triggerOut = !s.triggerOut; }},
    {'R', [](InterfaceState& s, Params) { s.cmos = 0; }},
    {'0', [](InterfaceState& s, Params) { s.fsr = 0; }},
    {'1', [](InterfaceState& s, Params) { s.fsr = 1; }},
    {'p', [](InterfaceState& s, Params) { s.positivePolarity = false; }},
    {'P', [](InterfaceState& s, Params) { s.positivePolarity = true; }},
    {'3', [](InterfaceState& s, Params p) { s.timepixClock = p[0] & 3; }},
    {'x', [](InterfaceState& s, Params) { s.chipPower = true; }},
    {'X', [](InterfaceState& s, Params) { s.chipPower = false; }},
    {'b', [](InterfaceState& s, Params p) { s.biasCode = p[0]; }},
    {'B', [](InterfaceState& s, Params) { s.biasCode = 0; }},
    {'A', [](InterfaceState& s, Params p) { Keep(s.scopeSetup, p); }},
    {'Z', [](InterfaceState& s, Params p) { Keep(s.intervalTimerSetup, p); }},
    {'V', [](InterfaceState& s, Params p) { Keep(s.periodTimerSetup, p); }},
    {'K', [](InterfaceState& s, Params p) { Keep(s.counterSetup, p); }},
    {'Q', [](InterfaceState& s, Params p) { s.triggerSetup = p[0]; }},
    {'<', [](InterfaceState& s, Params p) { Keep(s.coincidenceSetup, p); }},
    {'/', [](InterfaceState& s, Params p) { Keep(s.preActionDelay, p); }},
    {'(', [](InterfaceState& s, Params p) { Keep(s.frameCounterSetup, p); }},
    {'W', [](InterfaceState& s, Params p) { Keep(s.todoCommands, p); }},
    {'~', [](InterfaceState& s, Params p) { s.todoMask = p[0]; }},
};

}  // namespace

struct CommandHandlers {
    using Iface = EmulatedInterface;
    using Cmd = EmulatedInterface::Command;
    using Handler = void (*)(Iface&, const Cmd&);

    static const std::array<Handler, 256>& Table();

    // Kind 0: "OK"; kind n: n zero bytes (the state queries before their processes exist).
    static void Acknowledge(Iface& e, const Cmd& c) {
        const int kind = c.descr.responseKind;
        const std::vector<uint8_t> zeros(static_cast<size_t>(kind > 0 ? kind : 0), 0);
        e.Answer(c, zeros);
    }

    static void ApplyStateSetter(Iface& e, const Cmd& c) {
        for (const StateSetter& setter : kStateSetters)
            if (setter.letter == c.letter()) setter.apply(e.state_, c.params);
        Acknowledge(e, c);
    }

    static void AnswerNumber(Iface& e, const Cmd& c, uint64_t value, int bytes) {
        std::vector<uint8_t> params;
        for (int i = 0; i < bytes; ++i) params.push_back(static_cast<uint8_t>(value >> (8 * i)));
        e.Answer(c, params);
    }

    // --- identification and link -------------------------------------------------------

    static std::string ChipReport(const Iface& e) {
        char text[80];
        if (e.Family() == ChipFamily::kMedipix2) {
            std::snprintf(text, sizeof text, "Medipix chips: %d Ready", e.ChipCount());
        } else {
            const char* type = e.Family() == ChipFamily::kTimepix ? "TPX" : "MXR";
            std::snprintf(text, sizeof text, "Medipix %s chips: %d Medipix chips: 0 Ready", type,
                          e.ChipCount());
        }
        return text;
    }

    // Answers at once, then restarts: input is lost until the reset line comes. Each extra
    // restart costs another delay and repeats the line's prefix. Chips keep their contents.
    static void GlobalReset(Iface& e, const Cmd& c) {
        e.Answer(c, {});
        const int restarts = 1 + e.config_.extraRestarts;
        const auto online = c.now + e.config_.restartDelay * restarts;
        e.GoDeaf(online);
        e.state_ = InterfaceState{};
        e.startedAt_ = online;
        std::string line;
        for (int i = 0; i < restarts; ++i) line += "!Unit is on line. ";
        line += ChipReport(e) + "\r";
        e.Send(std::vector<uint8_t>(line.begin(), line.end()), online);
    }

    static void VersionInfo(Iface& e, const Cmd& c) {
        std::string text = "Emulated interface ver 3.0, ";
        text += FamilyName(e.Family());
        text += " x" + std::to_string(e.ChipCount());
        e.AnswerText(c, text);
    }

    static void CommandList(Iface& e, const Cmd& c) {
        std::string text;
        for (const CommandDescr* d = kCommandTable; d->letter != 0; ++d) {
            if (FindCommand(d->letter) != d) continue;  // rows hidden by an earlier letter
            if (!text.empty()) text += "; ";
            text += "[" + std::string(1, static_cast<char>(d->letter)) + "] " + d->name;
        }
        e.AnswerText(c, text);
    }

    static void ChipIds(Iface& e, const Cmd& c) {
        std::vector<uint8_t> params;
        for (const ChipState& chip : e.chips_) {
            const auto record = EncodeChipId(chip.id);
            params.insert(params.end(), record.begin(), record.end());
        }
        e.Answer(c, params);
    }

    static void Synchronisation(Iface& e, const Cmd& c) {
        constexpr std::string_view kPattern = "1234567890qwertyuiopasdfghjklzxcvbnm";
        e.Answer(c, std::span(reinterpret_cast<const uint8_t*>(kPattern.data()), kPattern.size()));
    }

    // The firmware stops serving the host until its watchdog fires, then reports it.
    static void WatchdogTest(Iface& e, const Cmd& c) {
        const auto alert = c.now + e.config_.watchdogSilence;
        e.GoDeaf(alert);
        e.SendError("Watchdog alert", alert);
    }

    // --- chips -------------------------------------------------------------------------

    static void SetMatrix(Iface& e, const Cmd& c) {
        std::vector<std::span<uint16_t>> words;
        for (ChipState& chip : e.chips_) words.emplace_back(chip.pixelConfig);
        DecodeConfigStream(c.params, e.Wide(), words);
        Acknowledge(e, c);
    }

    static void SetDefaultMatrix(Iface& e, const Cmd& c) {
        for (ChipState& chip : e.chips_)
            std::fill(chip.pixelConfig.begin(), chip.pixelConfig.end(), e.Wide() ? 0x3FFF : 0x1FFF);
        Acknowledge(e, c);
    }

    // Keeps the stream and each chip's 32-byte block (after the leading 0xFF byte).
    static void SetDacs(Iface& e, const Cmd& c) {
        e.state_.dacStream.assign(c.params.begin(), c.params.end());
        for (size_t k = 0; k < e.chips_.size(); ++k)
            Keep(e.chips_[k].dacBlock, c.params.subspan(1 + kDacBlockBytes * k, kDacBlockBytes));
        Acknowledge(e, c);
    }

    static void ReadMatrix(Iface& e, const Cmd& c) { e.AnswerFrame(c); }

    static void TestPulsesRead(Iface& e, const Cmd& c) {
        Keep(e.state_.testPulses, c.params);
        e.AnswerFrame(c);
    }

    static void FsrTest(Iface& e, const Cmd& c) {
        e.AnswerText(c, "FSR test: " + std::to_string(e.ChipCount()) + " chips OK");
    }

    static void OpenShutter(Iface& e, const Cmd& c) {
        e.state_.shutterOpen = true;
        e.state_.shutterOpenedAt = c.now;
        Acknowledge(e, c);
    }

    static void CloseShutterOnly(Iface& e, const Cmd& c) {
        if (e.state_.shutterOpen) e.state_.shutterClosedAt = c.now;
        e.state_.shutterOpen = false;
    }

    static void CloseShutter(Iface& e, const Cmd& c) {
        CloseShutterOnly(e, c);
        Acknowledge(e, c);
    }

    static void CloseShutterRead(Iface& e, const Cmd& c) {
        CloseShutterOnly(e, c);
        e.AnswerFrame(c);
    }

    // Length of the last (or the running) shutter opening, in time counter ticks.
    static void IntervalMeasure(Iface& e, const Cmd& c) {
        const InterfaceState& s = e.state_;
        const auto end = s.shutterOpen ? c.now : s.shutterClosedAt;
        AnswerNumber(e, c, ToTicks(end - s.shutterOpenedAt), 6);
    }

    // --- interface ---------------------------------------------------------------------

    // 13 channels of 12 bits, high byte first; fixed mid-range readings for now.
    static void AdcMonitor(Iface& e, const Cmd& c) {
        std::vector<uint8_t> params;
        for (int channel = 0; channel < 13; ++channel) {
            const int value = 0x400 + 0x50 * channel;
            params.push_back(static_cast<uint8_t>(value >> 8));
            params.push_back(static_cast<uint8_t>(value & 0xFF));
        }
        e.Answer(c, params);
    }

    // K = 0, then one sample of two bytes.
    static void ScopeData(Iface& e, const Cmd& c) {
        constexpr uint8_t kEmptyShot[] = {0, 0, 0, 0};
        e.Answer(c, kEmptyShot);
    }

    static void SetInterfaceDac(Iface& e, const Cmd& c) {
        const size_t channel = c.params[0];
        if (channel < e.state_.interfaceDac.size())
            e.state_.interfaceDac[channel] = static_cast<uint16_t>(c.params[1] | c.params[2] << 8);
        Acknowledge(e, c);
    }

    // Sends the data byte back and reports "enable out" as the enable-in byte set it.
    static void LvdsTest(Iface& e, const Cmd& c) {
        const uint8_t params[] = {c.params[2], static_cast<uint8_t>(c.params[1] != 0)};
        e.Answer(c, params);
    }

    // Reads back the SDA and SCL levels just driven.
    static void I2cTest(Iface& e, const Cmd& c) {
        const uint8_t params[] = {static_cast<uint8_t>(c.params[0] & 0x03)};
        e.Answer(c, params);
    }
};

const std::array<CommandHandlers::Handler, 256>& CommandHandlers::Table() {
    static const auto table = [] {
        std::array<Handler, 256> t;
        t.fill(&Acknowledge);
        t['_'] = &GlobalReset;
        t['i'] = &VersionInfo;
        t['?'] = &CommandList;
        t['|'] = &ChipIds;
        t[' '] = &Synchronisation;
        t[','] = &WatchdogTest;
        t['S'] = &SetMatrix;
        t['E'] = &SetDefaultMatrix;
        t['d'] = &SetDacs;
        t['m'] = &ReadMatrix;
        t['O'] = &TestPulsesRead;
        t['f'] = &FsrTest;
        t['o'] = &OpenShutter;
        t['c'] = &CloseShutter;
        t['C'] = &CloseShutterRead;
        t['%'] = &IntervalMeasure;
        t['M'] = &AdcMonitor;
        t['$'] = &ScopeData;
        t['>'] = &SetInterfaceDac;
        t[':'] = &LvdsTest;
        t['\''] = &I2cTest;
        t['n'] = [](Iface& e, const Cmd& c) { e.Answer(c, std::array{e.state_.cmos}); };
        t['#'] = [](Iface& e, const Cmd& c) { AnswerNumber(e, c, e.chips_.size(), 1); };
        t['w'] = [](Iface& e, const Cmd& c) { e.Answer(c, e.state_.todoCommands); };
        for (const StateSetter& setter : kStateSetters) t[setter.letter] = &ApplyStateSetter;
        return t;
    }();
    return table;
}

void EmulatedInterface::Execute(const Command& command) {
    CommandHandlers::Table()[command.letter()](*this, command);
}

}  // namespace ulvarin::sim
