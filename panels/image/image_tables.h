// The image view and statistics controls as control tables: names, captions, hints, items and
// initial state.
#pragma once

#include "widgets/control_table.h"

namespace ulvarin {

Grid ImageViewGrid();
GroupTable StatisticsGroup();

}  // namespace ulvarin
