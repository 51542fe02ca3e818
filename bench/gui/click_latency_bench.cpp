// How long the window keeps an operator waiting while the emulated quad streams frames at
// the link's rate: a queued call (as a click is) is posted every few milliseconds and the
// time until it runs is measured. Compared in one run: frames read and images recomputed
// off the GUI thread as built, against doing either on it.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "app/form_ulvarin.h"
#include "standard_drivers/emulator_driver.h"
#include "device/drivers/driver_registry.h"
#include "device/interface_commands.h"
#include "device/link.h"
#include "device/monitor.h"
#include "panels/image/image_panel.h"
#include "panels/messages/message_log.h"
#include "panels/messages/message_panel.h"
#include "widgets/dialogs.h"

namespace ulvarin {
namespace {

constexpr uint8_t kClose = 0x01, kOpen = 0x02, kInterval = 0x04;

// A window on an emulated Timepix quad whose process reads out a 10 ms exposure every
// 12 ms: faster than the host takes frames in, so frames stream as fast as it can.
std::unique_ptr<TFormUlvarin> StreamingWindow(int path) {
    InstallDriver(MakeEmulatorDriver("timepix:4"));
    auto form = std::make_unique<TFormUlvarin>();
    form->readInBackground = path >= 1;
    form->image->renderElsewhere = path >= 2;
    form->resize(1280, 720);
    form->show();  // every frame is painted, as on a screen
    QElapsedTimer clock;
    clock.start();
    while (!form->Timer->isActive() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    MpxDevice& handle = form->shared.device;
    handle.Clear();
    SetupFrameCounter(handle, 1000000, 0);
    SetupIntervalTimer(handle, 0.010, kClose);
    SetupPeriodTimer(handle, 0.012, kOpen | kInterval);
    MakeTodoMask(handle, kOpen | kInterval);
    ReloadPeriodTimer(handle);
    // The first paints lay the window out and load its fonts; the clicks come after them.
    clock.restart();
    while (clock.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return form;
}

void BM_ClickLatencyWhileFramesStream(benchmark::State& state) {
    auto form = StreamingWindow(static_cast<int>(state.range(0)));
    int64_t frames = 0;
    QObject::connect(&form->shared, &WindowShared::backgroundFrameArrived, [&] { ++frames; });
    double worst = 0, total = 0;
    int64_t clicks = 0;
    QElapsedTimer run;
    run.start();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        bool answered = false;
        QMetaObject::invokeMethod(
            form.get(), [&] { answered = true; }, Qt::QueuedConnection);
        while (!answered) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const double ms = clock.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        total += ms;
        ++clicks;
        state.SetIterationTime(ms / 1000.0);
        // The next click comes a little later, at another point of the timer's cycle.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 7) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    state.counters["worst_ms"] = worst;
    state.counters["mean_ms"] = total / std::max<int64_t>(clicks, 1);
    state.counters["frames_per_s"] = frames / (run.nsecsElapsed() / 1e9);
    form.reset();
    StopMonitor();
    MpxDevice leftOpen;
    while ((leftOpen.device = registry::At(0)) != nullptr) CloseDevice(leftOpen, true);
    InstallDriver(nullptr);
}

// Argument: 2 as built (frames read by the reader thread, images recomputed by the
// renderer's), 1 images recomputed at each repaint on the GUI thread, 0 frames also read by
// the main timer on the GUI thread.
BENCHMARK(BM_ClickLatencyWhileFramesStream)
    ->Arg(2)
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(150)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ulvarin
