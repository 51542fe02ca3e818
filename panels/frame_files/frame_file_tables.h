// The frame file controls as a table: names, captions, hints and initial state.
#pragma once

#include "widgets/control_table.h"

namespace ulvarin {

// "Save Image Data" and "Load Raw Data ..." above "Autosave", the file name, "...", "<<"
// and ">>".
Grid ImageFileGrid();

}  // namespace ulvarin
