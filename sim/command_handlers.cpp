// The dispatch table and the link group: identification, synchronisation, the watchdog,
// trigger-out and the settings the firmware only stores.
#include "sim/command_handlers.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

namespace ulvarin::sim {
namespace {

template <size_t N>
void Keep(std::array<uint8_t, N>& field, std::span<const uint8_t> params) {
    std::copy_n(params.begin(), std::min(N, params.size()), field.begin());
}

// Commands that change what the pixels count: an open shutter's exposure so far is
// counted with the old settings first.
constexpr std::string_view kCountingInputs = "dSEpPxXbB3rReO";

}  // namespace

void CommandHandlers::Acknowledge(Iface& e, const Cmd& c) {
    const int kind = c.descr.responseKind;
    const std::vector<uint8_t> zeros(static_cast<size_t>(kind > 0 ? kind : 0), 0);
    e.Answer(c, zeros);
}

void CommandHandlers::AnswerNumber(Iface& e, const Cmd& c, uint64_t value, int bytes) {
    std::vector<uint8_t> params;
    for (int i = 0; i < bytes; ++i) params.push_back(static_cast<uint8_t>(value >> (8 * i)));
    e.Answer(c, params);
}

struct CommandHandlers::Link {
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
    // restart costs another delay and repeats the line's prefix. Chips keep their contents;
    // the interface forgets its settings and processes.
    static void GlobalReset(Iface& e, const Cmd& c) {
        e.Answer(c, {});
        const int restarts = 1 + e.config_.extraRestarts;
        const auto online = c.now + e.config_.restartDelay * restarts;
        e.GoDeaf(online);
        e.CloseShutterAt(c.now);
        e.state_ = InterfaceState{};
        e.analog_.Reset();
        e.engine_.Reset();
        std::string line;
        for (int i = 0; i < restarts; ++i) line += "!Unit is on line. ";
        line += ChipReport(e);
        line += '\r';
        e.Send(std::vector<uint8_t>(line.begin(), line.end()), online);
    }

    static void VersionInfo(Iface& e, const Cmd& c) {
        std::string text = "Emulated interface ver 3.0, ";
        text += FamilyName(e.Family());
        text += " x";
        text += std::to_string(e.ChipCount());
        e.AnswerText(c, text);
    }

    static void CommandList(Iface& e, const Cmd& c) {
        std::string text;
        for (const CommandDescr* d = kCommandTable; d->letter != 0; ++d) {
            if (FindCommand(d->letter) != d) continue;  // rows hidden by an earlier letter
            if (!text.empty()) text += "; ";
            text += '[';
            text += static_cast<char>(d->letter);
            text += "] ";
            text += d->name;
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

    static void TriggerOut(Iface& e, const Cmd& c) {
        bool& out = e.state_.triggerOut;
        out = c.letter() == '+' || (c.letter() == '*' && !out);
        Acknowledge(e, c);
    }

    // The dummy chipboard drives the CMOS pins as told; "n" reads them back.
    static void CmosTest(Iface& e, const Cmd& c) {
        e.state_.cmos = c.params[0];
        Acknowledge(e, c);
    }

    // The board's LVDS loop: the data byte comes back only while "enable in" is set (the
    // receiver is off otherwise and reads 0), and enable out follows enable in.
    static void LvdsTest(Iface& e, const Cmd& c) {
        const bool enabled = c.params[1] != 0;
        const uint8_t params[] = {enabled ? c.params[2] : uint8_t{0},
                                  static_cast<uint8_t>(enabled)};
        e.Answer(c, params);
    }

    // Reads back the SDA and SCL levels just driven, less any line the board holds low.
    static void I2cTest(Iface& e, const Cmd& c) {
        const auto levels = static_cast<uint8_t>(c.params[0] & 0x03 & ~e.config_.i2cHeldLow);
        const uint8_t params[] = {levels};
        e.Answer(c, params);
    }
};

void CommandHandlers::AddLink(Table& t) {
    t['_'] = &Link::GlobalReset;
    t['i'] = &Link::VersionInfo;
    t['?'] = &Link::CommandList;
    t['|'] = &Link::ChipIds;
    t[' '] = &Link::Synchronisation;
    t[','] = &Link::WatchdogTest;
    t['+'] = t['-'] = t['*'] = &Link::TriggerOut;
    t['I'] = &Link::CmosTest;
    t[':'] = &Link::LvdsTest;
    t['\''] = &Link::I2cTest;
    t['n'] = [](Iface& e, const Cmd& c) { e.Answer(c, std::array{e.state_.cmos}); };
    t['#'] = [](Iface& e, const Cmd& c) { AnswerNumber(e, c, e.chips_.size(), 1); };
    t['<'] = [](Iface& e, const Cmd& c) {
        Keep(e.state_.coincidenceSetup, c.params);
        Acknowledge(e, c);
    };
    t['/'] = [](Iface& e, const Cmd& c) {
        Keep(e.state_.preActionDelay, c.params);
        Acknowledge(e, c);
    };
    t['W'] = [](Iface& e, const Cmd& c) {
        Keep(e.state_.todoCommands, c.params);
        Acknowledge(e, c);
    };
    t['w'] = [](Iface& e, const Cmd& c) { e.Answer(c, e.state_.todoCommands); };
}

const CommandHandlers::Table& CommandHandlers::All() {
    static const Table table = [] {
        Table t;
        t.fill(&Acknowledge);
        AddLink(t);
        AddChips(t);
        AddAnalog(t);
        AddProcess(t);
        return t;
    }();
    return table;
}

void EmulatedInterface::Execute(const Command& command) {
    if (kCountingInputs.find(static_cast<char>(command.letter())) != std::string_view::npos)
        SettleCounts(command.now);
    CommandHandlers::All()[command.letter()](*this, command);
}

}  // namespace ulvarin::sim
