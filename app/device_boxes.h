// Boxes the device layer shows (errors without a report hook, the monitor's dead-lock box)
// go through the window's Dialogs, always on the GUI thread.
#pragma once

class QObject;

namespace ulvarin {

// Routes the device layer's boxes to CurrentDialogs(): at once on the thread of `gui`,
// queued to it from any other thread (the reporting thread may hold the device lock, so it
// must not wait for the GUI thread).
void InstallDeviceBoxes(QObject* gui);
// Restores the device layer's own box function.
void RemoveDeviceBoxes();

}  // namespace ulvarin
