#include "app/screenshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/program.h"

namespace ulvarin {
namespace {

void ProcessEventsFor(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool WaitForStart(TFormUlvarin& form, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (form.TimerInit->isActive() && clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !form.TimerInit->isActive();
}

}  // namespace

int TakeScreenshot(TFormUlvarin& form, const QString& path, int frames, int width, int height,
                   double startSeconds) {
    form.resize(width, height);
    form.show();
    if (!WaitForStart(form, startSeconds))
        std::fprintf(stderr, "ulvarin: the start-up open did not finish in time\n");
    if (form.device.device == nullptr) std::fprintf(stderr, "ulvarin: no interface is open\n");
    for (int i = 0; i < frames && form.device.device != nullptr; ++i) {
        form.BttnGetDataClick();
        ProcessEventsFor(20);
    }
    ProcessEventsFor(100);  // lets the timer drain and the list and image repaint
    const QPixmap picture = form.grab();
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "ulvarin: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

}  // namespace ulvarin
