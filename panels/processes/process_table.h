// The "HW Processes" group as control tables: names, captions, hints, items and initial
// state.
#pragma once

#include "widgets/control_table.h"

namespace ulvarin {

GroupTable HWProcessesGroup();

}  // namespace ulvarin
