#include "app/screenshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QComboBox>
#include <QTimer>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/drop_down_combo.h"
#include "app/program.h"
#include "imaging/frame_file.h"

namespace ulvarin {
namespace {

constexpr int kExposureMs = 200;

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

// Types the range an operator would: up to four standard deviations above the average, so a
// few hot pixels do not leave the picture dark.
void ShowTypicalRange(TFormUlvarin& form) {
    const ImageStatistics& stats = form.shown.statistics;
    if (stats.goodCount == 0) return;
    const double top = std::ceil(stats.average + 4 * stats.standardDeviation);
    form.ui.EditRangeMin->setText(QStringLiteral("0"));
    form.ui.EditRangeMax->setText(QString::number(std::max(1.0, top)));
    form.EditRangeEnter();
}

void SaveFrame(TFormUlvarin& form, const QString& folder, int index) {
    QDir().mkpath(folder);
    const QString name = QDir(folder).filePath(QString::asprintf("frame_%04d.txt", index));
    const auto counts = form.frames.counts().first(form.frames.pixelsInUse());
    if (!WriteCountFrame(name.toStdString(), counts))
        std::fprintf(stderr, "ulvarin: cannot write %s\n", qPrintable(name));
}

}  // namespace

int TakeScreenshot(TFormUlvarin& form, const QString& path, int frames,
                   const QString& framesFolder, int width, int height, double startSeconds) {
    form.resize(width, height);
    form.show();
    if (!WaitForStart(form, startSeconds))
        std::fprintf(stderr, "ulvarin: the start-up open did not finish in time\n");
    if (form.device.device == nullptr) std::fprintf(stderr, "ulvarin: no interface is open\n");
    if (form.device.device != nullptr && form.isTimepix) {
        // Plain counting, so an exposure shows the beam rather than arrival times.
        form.ui.CombSelectFSRMode->setCurrentIndex(0);
        form.CombSelectFSRModeSelect();
    }
    if (form.device.device != nullptr) form.BttnResetMatrixClick();  // counters from zero
    for (int i = 0; i < frames && form.device.device != nullptr; ++i) {
        form.BttnStartClick();
        ProcessEventsFor(kExposureMs);
        form.BttnStopClick();
        if (!framesFolder.isEmpty()) SaveFrame(form, framesFolder, i);
    }
    ShowTypicalRange(form);
    form.ComboChipDropDown();  // numbers over the quadrants tell which chip is where
    ProcessEventsFor(100);  // lets the timer drain and the list and image repaint
    const QPixmap picture = form.grab();
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "ulvarin: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}

}  // namespace ulvarin
