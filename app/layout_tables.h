// The main window's controls as tables: names, captions, hints, items and initial state.
#pragma once

#include <string>
#include <vector>

#include "app/control_table.h"

namespace ulvarin {

Grid DeviceBarGrid();
Grid ConfigBarGrid();
GroupTable MpxDacsGroup();
GroupTable BasicsGroup();
GroupTable InterfaceGroup();
GroupTable ProcessesGroup();
GroupTable ScanGroup();
GroupTable TestsGroup();
GroupTable StatisticsGroup();
GroupTable PulsesGroup();
Grid ImageViewGrid();
Grid ImageFileGrid();
Grid MessageBarGrid();

// Names of the built-in process configurations, in list order (the first is blank).
const std::vector<std::string>& ProcessTemplateNames();

// Names of the controls that exist only as the chip-dependent number and outline over each
// image quadrant (index 0 = chip position 1).
extern const char* const kNumberLabels[4];
extern const char* const kNumberShapes[4];

}  // namespace ulvarin
