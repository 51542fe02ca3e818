// The "Pulses and spectrum" group as a control table: names, captions, hints and initial
// state of its rows (the two views above them are added by the panel).
#pragma once

#include "widgets/control_table.h"

namespace ulvarin {

GroupTable PulseGroupTable();

}  // namespace ulvarin
