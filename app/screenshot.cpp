#include "app/screenshot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "app/form_ulvarin.h"
#include "device/link.h"
#include "files/frame_file.h"
#include "panels/basic_commands/basic_commands.h"
#include "panels/image/image_panel.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/messages/message_log.h"
#include "panels/messages/message_panel.h"
#include "panels/pulses/pulse_panel.h"
#include "panels/scan/scan_panel.h"
#include "panels/self_tests/self_tests_panel.h"
#include "terminal/terminal_window.h"
#include "tester/tester_window.h"

namespace ulvarin {
namespace {

constexpr int kExposureMs = 200;

// Runs the event loop, asleep between events, until `done` holds (looked at every 10 ms) or
// `milliseconds` have passed; whether `done` holds.
bool RunEventsUntil(const std::function<bool()>& done, int milliseconds) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    check.start(10);
    loop.exec();
    return done();
}

void ProcessEventsFor(int milliseconds) {
    RunEventsUntil([] { return false; }, milliseconds);
}

bool WaitForStart(TFormUlvarin& form, double seconds) {
    return RunEventsUntil([&form] { return !form.TimerInit->isActive(); },
                          static_cast<int>(seconds * 1000));
}

// Types the range an operator would: up to four standard deviations above the average, so a
// few hot pixels do not leave the picture dark.
void ShowTypicalRange(TFormUlvarin& form) {
    const ImageStatistics& stats = form.image->shown().statistics;
    if (stats.goodCount == 0) return;
    const double top = std::ceil(stats.average + 4 * stats.standardDeviation);
    form.image->SetTypedRange(0, std::max(1.0, top));
}

// Back-side pulses as an operator collects them: bias up, the scope set up as its boxes
// show, then one scope shot after the other until the spectrum shows its peak. The shots
// leave no lines in the message list.
void CollectPulses(TFormUlvarin& form, int shots) {
    auto* bias = form.findChild<QComboBox*>(QStringLiteral("CombBias"));
    bias->setEditText(QStringLiteral("100"));
    form.analog->BttnSetBiasClick();
    form.analog->ChkbScope0Click();  // the interface samples only once its scope is set up
    const int32_t start = form.pulses->pulses().PulseCount();
    for (int i = 0; i < shots && form.shared.IsOpen(); ++i) {
        form.messages->log()->logEnabled = false;  // the main timer turns it on again
        form.analog->BttnScopeNowClick();
        // The window's reader takes the shot in as it arrives and hands it over as an event;
        // the loop sleeps until one comes (the main timer's ticks bound each sleep).
        QElapsedTimer clock;
        clock.start();
        while (form.pulses->pulses().PulseCount() < start + i + 1 && clock.elapsed() < 200)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    form.messages->log()->logEnabled = true;
}

// A threshold scan as an operator runs it, waited for to its end.
void RunThresholdScan(TFormUlvarin& form) {
    form.findChild<QComboBox*>(QStringLiteral("CombInterval"))->setEditText(QStringLiteral("0.1"));
    for (auto [name, value] :
         {std::pair{"EditScanFrom", 150}, {"EditScanTo", 190}, {"EditScanStep", 5}}) {
        auto* box = form.findChild<QLineEdit*>(QString::fromUtf8(name));
        box->setText(QString::number(value));
        emit box->editingFinished();
    }
    form.scan->BttnScanStartClick();
    RunEventsUntil([&form] { return !form.scan->Active(); }, 60000);
}

// The image zoomed about the middle of its box, a region drawn across the chips' meeting
// point and the pointer named in the line under the image.
void ShowZoomedRegion(TFormUlvarin& form) {
    auto* box = form.findChild<QWidget*>(QStringLiteral("PaintBoxBitmap"));
    const QPoint centre(box->width() / 2, box->height() / 2);
    form.image->ZoomImageAt(centre.x(), centre.y(), 2.5);
    form.image->SetRegion({232, 236}, {289, 281});
    const QPoint pointer = centre + QPoint(box->width() / 5, -box->height() / 5);
    QMouseEvent move(QEvent::MouseMove, pointer, box->mapToGlobal(pointer), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &move);
}

// False (and a line on stderr) when the frame could not be written.
bool SaveFrame(TFormUlvarin& form, const QString& folder, int index) {
    QDir().mkpath(folder);
    const QString name = QDir(folder).filePath(QString::asprintf("frame_%04d.txt", index));
    const FrameStore& frames = form.shared.frames;
    const auto counts = frames.counts().first(frames.pixelsInUse());
    if (WriteCountFrame(name.toStdString(), counts)) return true;
    std::fprintf(stderr, "ulvarin: cannot write %s\n", qPrintable(name));
    return false;
}

// The tester with a byte looped back over LVDS, both I2C lines high and a pin pattern set.
void ShowTester(TFormUlvarin& form) {
    TUlvarinTester& tester = *form.tester;
    tester.show();
    ProcessEventsFor(100);
    tester.findChild<QCheckBox*>(QStringLiteral("ChkbLVDSenableIn"))->setChecked(true);
    tester.findChild<QComboBox*>(QStringLiteral("ComboLVDSdata"))->setCurrentIndex(2);
    tester.BttnLVDSsendClick();
    tester.findChild<QComboBox*>(QStringLiteral("ComboI2C"))->setCurrentIndex(3);
    tester.ComboI2CSelect();
    tester.findChild<QComboBox*>(QStringLiteral("ComboCMOSpins"))->setCurrentIndex(1);
    tester.ComboCMOSpinsSelect();
}

}  // namespace

int TakeScreenshot(TFormUlvarin& form, const QString& path, int frames, const QString& framesFolder,
                   int width, int height, Scene scene, int pulses, double startSeconds) {
    form.resize(width, height);
    form.show();
    if (!WaitForStart(form, startSeconds))
        std::fprintf(stderr, "ulvarin: the start-up open did not finish in time\n");
    const bool open = form.shared.IsOpen();
    if (!open) std::fprintf(stderr, "ulvarin: no interface is open\n");
    // Plain counting, so an exposure shows the beam rather than arrival times.
    if (open && form.shared.isTimepix) form.basics->ChooseMode(0);
    if (open) form.basics->BttnResetMatrixClick();  // counters from zero
    if (scene == Scene::Terminal) {
        form.terminal->resize(760, 600);
        form.terminal->show();
        form.terminal->SwitchOn();
    }
    bool framesSaved = true;  // a frame that could not be saved fails the run at its end
    for (int i = 0; i < frames && form.shared.IsOpen(); ++i) {
        form.basics->BttnStartClick();
        ProcessEventsFor(kExposureMs);
        form.basics->BttnStopClick();
        if (!framesFolder.isEmpty()) framesSaved = SaveFrame(form, framesFolder, i) && framesSaved;
    }
    if (form.shared.IsOpen() && scene == Scene::Pulses) CollectPulses(form, pulses);
    if (form.shared.IsOpen() && scene == Scene::Scan) RunThresholdScan(form);
    if (scene == Scene::TestMask)
        form.selfTests->BttnTestMaskClick();
    else
        ShowTypicalRange(form);
    // Numbers over the quadrants tell which chip is where.
    if (form.shared.chipCount == 4 && scene != Scene::ImageZoom)
        form.image->ShowChipMarks(true, true);
    if (scene == Scene::ImageZoom) ShowZoomedRegion(form);
    if (scene == Scene::Tester) ShowTester(form);
    ProcessEventsFor(100);  // lets the timer drain and the list and image repaint
    form.terminal->FlushPending();
    QWidget* pictured = scene == Scene::Terminal ? static_cast<QWidget*>(form.terminal)
                        : scene == Scene::Tester ? static_cast<QWidget*>(form.tester)
                                                 : static_cast<QWidget*>(&form);
    const QPixmap picture = pictured->grab();
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "ulvarin: cannot write %s\n", qPrintable(path));
        return 1;
    }
    return framesSaved ? 0 : 1;
}

}  // namespace ulvarin
