// Runs a function when a widget receives an event of one type (a click on a label, the mouse
// entering it), for controls that have no signal of their own for it.
#pragma once

#include <QEvent>
#include <functional>

class QWidget;

namespace ulvarin {

// Calls `action` each time `widget` receives an event of `type`; the event then goes on as
// usual. The watcher lives as long as the widget.
void OnEvent(QWidget* widget, QEvent::Type type, std::function<void()> action);

}  // namespace ulvarin
