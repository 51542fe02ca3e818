// The chip group: DAC words, pixel configuration, shutter, frames, test pulses, resets,
// power, polarity and the Timepix clock.
#include <algorithm>
#include <string>

#include "sim/command_handlers.h"
#include "sim/matrix_stream.h"

namespace ulvarin::sim {

struct CommandHandlers::Chips {
    // A stream that does not look as the host builds it (a byte lost or gained on the way
    // shifts everything) is refused: the chips keep their settings and the host is told
    // before the usual answer, whose framing stays intact.
    static void SetMatrix(Iface& e, const Cmd& c) {
        if (!IsPlausibleConfigStream(c.params, e.Wide(), e.ChipCount())) {
            e.SendError("Matrix stream rejected", c.now);
        } else {
            std::vector<std::span<uint16_t>> words;
            for (ChipState& chip : e.chips_) words.emplace_back(chip.pixelConfig);
            DecodeConfigStream(c.params, e.Wide(), words);
            e.physics_.Invalidate();
            e.configInCounters_ = true;
        }
        Acknowledge(e, c);
    }

    static void SetDefaultMatrix(Iface& e, const Cmd& c) {
        for (ChipState& chip : e.chips_)
            std::fill(chip.pixelConfig.begin(), chip.pixelConfig.end(), e.Wide() ? 0x3FFF : 0x1FFF);
        e.physics_.Invalidate();
        Acknowledge(e, c);
    }

    // An all-0xFF stream (the flush a Timepix board gets first) changes nothing; an
    // implausible one is refused like an implausible matrix stream.
    static void SetDacs(Iface& e, const Cmd& c) {
        std::vector<ChipDacs> dacs(e.chips_.size());
        switch (DecodeDacStream(e.Family(), c.params, dacs)) {
            case DacStreamOutcome::kApplied:
                ApplyDacs(e, c.params, dacs);
                break;
            case DacStreamOutcome::kRejected:
                e.SendError("DAC stream rejected", c.now);
                break;
            case DacStreamOutcome::kPreBlock:
                break;
        }
        Acknowledge(e, c);
    }

    static void ApplyDacs(Iface& e, std::span<const uint8_t> stream,
                          std::span<const ChipDacs> dacs) {
        e.state_.dacStream.assign(stream.begin(), stream.end());
        for (size_t k = 0; k < e.chips_.size(); ++k) {
            ChipState& chip = e.chips_[k];
            chip.dacs = dacs[k];
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(1 + kDacWordBytes * k),
                        kDacWordBytes, chip.dacBlock.begin());
        }
        e.physics_.Invalidate();
    }

    // Pulses (16 bits), then a byte passed to the pulse generator. The run starts on
    // erased counters, so its frame holds the pulses alone; the counters gate only the
    // pulses, so light on the sensor adds nothing, and the frame's exposure is 0. The
    // counters are cleared again after the readout like after every measurement.
    static void TestPulsesRead(Iface& e, const Cmd& c) {
        std::copy_n(c.params.begin(), 3, e.state_.testPulses.begin());
        const int pulses = c.params[0] | c.params[1] << 8;
        e.ClearCounters(c.now);
        e.physics_.TestPulses(e.chips_, e.CurrentFrontEnd(), pulses);
        e.AnswerFrame(c);
    }

    static void FsrTest(Iface& e, const Cmd& c) {
        e.AnswerText(c, "FSR test: " + std::to_string(e.ChipCount()) + " chips OK");
    }

    static void OpenShutter(Iface& e, const Cmd& c) {
        e.OpenShutterAt(c.now);
        Acknowledge(e, c);
    }

    static void CloseShutter(Iface& e, const Cmd& c) {
        e.CloseShutterAt(c.now);
        Acknowledge(e, c);
    }

    static void CloseShutterRead(Iface& e, const Cmd& c) {
        e.CloseShutterAt(c.now);
        e.AnswerFrame(c);
    }

    // Length of the last (or the running) shutter opening, in time counter ticks.
    static void IntervalMeasure(Iface& e, const Cmd& c) {
        const InterfaceState& s = e.state_;
        const auto end = s.shutterOpen ? c.now : s.shutterClosedAt;
        AnswerNumber(e, c, ToTicks(end - s.shutterOpenedAt), 6);
    }

    // A chip reset closes the shutter and clears the counters; DACs and pixel
    // configuration stay. "R" also restores the default CMOS settings.
    static void ResetChips(Iface& e, const Cmd& c) {
        e.CloseShutterAt(c.now);
        e.ClearCounters(c.now);
        if (c.letter() == 'R') e.state_.cmos = 0;
        Acknowledge(e, c);
    }

    static void Erase(Iface& e, const Cmd& c) {
        e.ClearCounters(c.now);
        Acknowledge(e, c);
    }

    // Settings the pixels' counting depends on; the counting sees them change by itself.
    static void Setting(Iface& e, const Cmd& c) {
        InterfaceState& s = e.state_;
        switch (c.letter()) {
            case 'x':
                s.chipPower = true;
                break;
            case 'X':
                s.chipPower = false;
                break;
            case 'P':
                s.positivePolarity = true;
                break;
            case 'p':
                s.positivePolarity = false;
                break;
            case '3':
                s.timepixClock = c.params[0] & 3;
                break;
            case '0':
                s.fsr = 0;
                break;
            case '1':
                s.fsr = 1;
                break;
            default:
                break;
        }
        Acknowledge(e, c);
    }
};

void CommandHandlers::AddChips(Table& t) {
    t['S'] = &Chips::SetMatrix;
    t['E'] = &Chips::SetDefaultMatrix;
    t['d'] = &Chips::SetDacs;
    t['m'] = [](Iface& e, const Cmd& c) { e.AnswerFrame(c); };
    t['O'] = &Chips::TestPulsesRead;
    t['f'] = &Chips::FsrTest;
    t['o'] = &Chips::OpenShutter;
    t['c'] = &Chips::CloseShutter;
    t['C'] = &Chips::CloseShutterRead;
    t['%'] = &Chips::IntervalMeasure;
    t['r'] = t['R'] = &Chips::ResetChips;
    t['e'] = &Chips::Erase;
    for (uint8_t letter : {'x', 'X', 'P', 'p', '3', '0', '1'}) t[letter] = &Chips::Setting;
}

}  // namespace ulvarin::sim
