// A picture of the main window as the operator sees it, made without a display: the default
// interface is opened as at start, frames are exposed with the shutter buttons (Timepix chips
// switched to plain counting), the chip numbers are shown over the image, and the window is
// rendered to a PNG file.
#pragma once

#include <QString>

namespace ulvarin {

class TFormUlvarin;

// Waits for the start-up open (at most `startSeconds`), exposes and reads `frames` frames
// when an interface is open (writing each as a count frame file into `framesFolder` unless
// it is empty), sets the bias to 100 V and takes `pulses` scope shots into the pulse view
// and the spectrum, renders the window at `width` x `height` and writes it to `path`.
// Returns 0 when the file was written, 1 otherwise; says on stderr what went wrong.
int TakeScreenshot(TFormUlvarin& form, const QString& path, int frames,
                   const QString& framesFolder = QString(), int width = 1280, int height = 720,
                   int pulses = 400, double startSeconds = 10.0);

}  // namespace ulvarin
