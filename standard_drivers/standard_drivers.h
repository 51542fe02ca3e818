// The drivers every program offers: real interfaces on USB first, then the emulated set
// that ULVARIN_EMULATOR names (the default set when it is unset, none for "off"), on links
// as fast as a real interface's (ULVARIN_EMULATOR_RATE in MB/s chooses another; 0: no limit).
#pragma once

#include <string>

namespace ulvarin {

// A warning for the entries of ULVARIN_EMULATOR that name no emulated interface (they are
// left out), and for an ULVARIN_EMULATOR_RATE that is no rate (negative, not a number, or a
// number with more after it: the default rate is kept); empty when there is nothing to say.
std::string EmulatorSetWarning();

// Registers both drivers with the driver registry; harmless when called again.
void RegisterStandardDrivers();

}  // namespace ulvarin
