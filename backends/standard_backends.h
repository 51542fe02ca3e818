// The backends every program offers: real interfaces on USB first, then the emulated set
// that ULVARIN_EMULATOR names (the default set when it is unset, none for "off").
#pragma once

namespace ulvarin {

// Registers both backends with the driver registry; harmless when called again.
void RegisterStandardBackends();

}  // namespace ulvarin
