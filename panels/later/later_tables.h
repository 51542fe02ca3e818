// The groups whose behaviour is still to come, as control tables: names, captions, hints,
// items and initial state. Each moves to its own panel when that panel is built.
#pragma once

#include <string>
#include <vector>

#include "panels/shared/control_table.h"

namespace ulvarin {

Grid ConfigBarGrid();
GroupTable ProcessesGroup();
Grid ImageFileGrid();

// Names of the built-in process configurations, in list order (the first is blank).
const std::vector<std::string>& ProcessTemplateNames();

}  // namespace ulvarin
