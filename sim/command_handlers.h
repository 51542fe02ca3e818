// The firmware's command handlers, by group. Each group's file fills its letters into the
// one dispatch table; letters no group claims are acknowledged in their response kind.
// Private to sim/: only EmulatedInterface and the handler files include this.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/emulated_interface.h"

namespace ulvarin::sim {

struct CommandHandlers {
    using Iface = EmulatedInterface;
    using Cmd = EmulatedInterface::Command;
    using Handler = void (*)(Iface&, const Cmd&);
    using Table = std::array<Handler, 256>;

    static const Table& All();

    // Kind 0: "OK"; kind n: n zero bytes.
    static void Acknowledge(Iface& e, const Cmd& c);
    // `value` in `bytes` bytes, least significant first.
    static void AnswerNumber(Iface& e, const Cmd& c, uint64_t value, int bytes);

    // The groups; each defines its handlers and registers them.
    struct Link;     // identification, synchronisation, trigger-out, stored settings
    struct Chips;    // DACs, matrix, shutter, frames, power, polarity
    struct Analog;   // bias, interface DACs, ADC monitor, scope
    struct Process;  // timers, trigger, counters, frame counter, actions
    static void AddLink(Table& t);
    static void AddChips(Table& t);
    static void AddAnalog(Table& t);
    static void AddProcess(Table& t);
};

// The little-endian number in `bytes` (up to 8 of them).
inline uint64_t LittleEndian(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

}  // namespace ulvarin::sim
