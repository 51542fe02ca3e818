// The main window's overall layout: the device bar on top; below it the image side (image,
// histogram, range and statistics, frame files) beside the controls (chip and interface
// groups, processes and views), which scroll when the window is small, over the message
// list. Splitters share the room, so the window fits a 1366 x 768 screen and still shows
// every group at 1280 x 720.
#pragma once

#include <vector>

class QMainWindow;
class QMargins;
class QRect;
class QSize;
class QWidget;

namespace ulvarin {

struct WindowParts {
    QWidget* deviceBar = nullptr;
    QWidget* configBar = nullptr;
    std::vector<QWidget*> imageSide;      // top to bottom; the first takes the spare height
    std::vector<QWidget*> chipColumn;     // top to bottom
    std::vector<QWidget*> processColumn;  // top to bottom
    QWidget* messages = nullptr;
};

constexpr int kStartWidth = 1340;
constexpr int kStartHeight = 740;

// Places the parts (made with any parent) in `window`'s central widget.
void PlaceParts(QMainWindow* window, const WindowParts& parts);

// Where a window at `window` (without its frame) goes on a screen whose free area is
// `available`, when the window manager's frame adds `frame` around it: as large as before
// where the frame fits, smaller where it would not (never below `minimum`), and moved so
// that the frame lies inside the area (its top left corner, when it cannot lie there whole).
QRect FitIntoArea(const QRect& window, const QMargins& frame, const QRect& available,
                  const QSize& minimum);

}  // namespace ulvarin
