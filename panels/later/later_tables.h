// The groups whose behaviour is still to come, as control tables: names, captions, hints,
// items and initial state. Each moves to its own panel when that panel is built.
#pragma once

#include "panels/shared/control_table.h"

namespace ulvarin {

Grid ConfigBarGrid();

}  // namespace ulvarin
