// Stands in for the hardware tester window until that window is built: the same object
// name and caption, and a note that its controls are not available yet.
#pragma once

class QWidget;

namespace ulvarin {

constexpr const char* kTesterCaption =
    "Tester - for hardware checking, needs special dummy chipboard";

// A hidden top-level window owned by `owner` (deleted with it).
QWidget* MakeTesterPlaceholder(QWidget* owner);

}  // namespace ulvarin
