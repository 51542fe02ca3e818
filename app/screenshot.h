// A picture of the main window as the operator sees it, made without a display: the default
// interface is opened as at start, frames are exposed with the shutter buttons (Timepix chips
// switched to plain counting), the chip numbers are shown over the image, and the window is
// rendered to a PNG file.
#pragma once

#include <QString>

namespace ulvarin {

class TFormUlvarin;

// What the picture shows after the frames: the pulses and spectrum of `pulses` scope shots
// at 100 V, the curves of a threshold scan (150 to 190 in steps of 5, 0.1 s per step), the
// test pattern read back from the chips, or the image zoomed with a region drawn over it.
// Terminal and Tester picture those windows instead of the main one: the terminal logging the
// frames read, the tester with a byte looped back over LVDS and both I2C lines set.
enum class Scene { Pulses, Scan, TestMask, Terminal, Tester, ImageZoom };

// Waits for the start-up open (at most `startSeconds`), exposes and reads `frames` frames
// when an interface is open (writing each as a count frame file into `framesFolder` unless
// it is empty), sets the scene up, renders the window at `width` x `height` and writes it to
// `path`. Returns 0 when the file was written, 1 otherwise; says on stderr what went wrong.
int TakeScreenshot(TFormUlvarin& form, const QString& path, int frames,
                   const QString& framesFolder = QString(), int width = 1280, int height = 720,
                   Scene scene = Scene::Pulses, int pulses = 400, double startSeconds = 10.0);

}  // namespace ulvarin
