// The analog group: bias supply, interface DACs, ADC monitor and scope.
#include "sim/command_handlers.h"

namespace ulvarin::sim {

struct CommandHandlers::Analog {
    static void SetBias(Iface& e, const Cmd& c) {
        e.analog_.SetBias(c.letter() == 'b' ? c.params[0] : 0);
        Acknowledge(e, c);
    }

    static void SetInterfaceDac(Iface& e, const Cmd& c) {
        e.analog_.SetInterfaceDac(c.params[0], static_cast<uint16_t>(c.params[1] | c.params[2] << 8));
        Acknowledge(e, c);
    }

    static void Monitor(Iface& e, const Cmd& c) {
        e.Answer(c, e.analog_.AdcBytes(e.CurrentAnalogInputs()));
    }

    static void ConfigureScope(Iface& e, const Cmd& c) {
        e.analog_.ConfigureScope(c.params);
        Acknowledge(e, c);
    }

    // The samples follow in a background block when the shot is done.
    static void SingleShot(Iface& e, const Cmd& c) {
        e.analog_.StartShot(c.now);
        Acknowledge(e, c);
    }

    // "Scope data" asked for by the host: an empty shot (K = 0, the end word).
    static void ScopeData(Iface& e, const Cmd& c) {
        constexpr uint8_t kEmptyShot[] = {0, 0, 0, 0};
        e.Answer(c, kEmptyShot);
    }
};

void CommandHandlers::AddAnalog(Table& t) {
    t['b'] = t['B'] = &Analog::SetBias;
    t['>'] = &Analog::SetInterfaceDac;
    t['M'] = &Analog::Monitor;
    t['A'] = &Analog::ConfigureScope;
    t['a'] = &Analog::SingleShot;
    t['$'] = &Analog::ScopeData;
}

}  // namespace ulvarin::sim
