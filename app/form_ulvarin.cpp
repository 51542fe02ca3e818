#include "app/form_ulvarin.h"

#include <QCloseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "app/device_boxes.h"
#include "app/main_layout.h"
#include "app/window_configuration.h"
#include "device/background_reader.h"
#include "device/clock.h"
#include "device/link.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/report.h"
#include "panels/basic_commands/basic_commands.h"
#include "panels/config_bar/config_bar.h"
#include "panels/dac_panel/dac_panel.h"
#include "panels/device_bar/device_bar.h"
#include "panels/frame_files/frame_file_panel.h"
#include "panels/image/image_panel.h"
#include "panels/interface_analog/analog_panel.h"
#include "panels/messages/message_log.h"
#include "panels/messages/message_panel.h"
#include "panels/processes/process_panel.h"
#include "panels/pulses/pulse_panel.h"
#include "panels/scan/scan_panel.h"
#include "panels/self_tests/self_tests_panel.h"
#include "terminal/terminal_window.h"
#include "tester/tester_window.h"

namespace ulvarin {

namespace {

constexpr const char* kResetConditionText =
    "Device reported unexpected reset condition probably due to power voltage instability.\r"
    "Check quality of your USB cable or quality of external power supply if used.\r"
    "Voltage source have to be able to supply 4.75V - 5.25V at 500mA, no drop-outs or spikes "
    "outside of this range.";
constexpr const char* kDisconnectedText =
    "Device is not responding. It has been probably disconnected.\nDevice has to be closed!";
constexpr const char* kHardwareErrorCaption = "Hardware Error";

// The hooks' user value is the window that installed them.
void ReportHookFunction(MpxDevice& handle, void* window) {
    if (window != nullptr) static_cast<TFormUlvarin*>(window)->messages->LogReport(handle);
}

void BackgroundHookFunction(MpxDevice& handle, MpxCommandResponse& record, void* window) {
    if (window != nullptr)
        static_cast<TFormUlvarin*>(window)->HandleBackgroundMessage(handle, record);
}

QTimer* MakeTimer(QObject* parent, int intervalMs, bool singleShot) {
    auto* timer = new QTimer(parent);
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    return timer;
}

}  // namespace

TFormUlvarin::TFormUlvarin(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("FormUlvarin"));
    setWindowTitle(QStringLiteral("Ulvarin interface tester"));
    // Compact buttons: the style's minimum button width would not let the columns fit.
    setStyleSheet(QStringLiteral("QPushButton { padding: 3px 5px; }"));
    BuildPanels();
    terminal = new TFormTerminal(shared.device, this);
    tester = new TUlvarinTester(shared.device, this);
    ConnectPanels();
    configuration_ = std::make_unique<WindowConfiguration>(
        ConfiguredGroups{shared, *basics, *analog, *processes, *image});
    configuration_->Install();

    TimerInit = MakeTimer(this, kInitDelayMs, true);
    Timer = MakeTimer(this, kTimerMs, false);
    TimerScope = MakeTimer(this, kScopeTimerMs, false);
    connect(TimerInit, &QTimer::timeout, this, &TFormUlvarin::TimerInitTimer);
    connect(Timer, &QTimer::timeout, this, &TFormUlvarin::TimerTimer);
    connect(TimerScope, &QTimer::timeout, this, &TFormUlvarin::TimerScopeTimer);

    messages->log()->logEnabled = true;
    FitStartSize();
    FormCreate();
    TimerInit->start();
}

TFormUlvarin::~TFormUlvarin() {
    FormDestroy();
    TearDownChildren();
}

// The panels and the two other windows hold `shared`, a member, which is destroyed before
// the widget base deletes its children: they are deleted here, while it is whole. Every
// signal is blocked first, so the focus and the pointer leaving the controls as the windows
// hide run no handler (a value typed but not entered is dropped; the configuration has been
// saved already).
void TFormUlvarin::TearDownChildren() {
    shared.blockSignals(true);
    for (QObject* child : findChildren<QObject*>()) child->blockSignals(true);
    terminal->hide();
    tester->hide();
    hide();
    delete terminal;
    delete tester;
    delete takeCentralWidget();
    terminal = nullptr;
    tester = nullptr;
    deviceBar = nullptr;
    messages = nullptr;
    dacPanel = nullptr;
    basics = nullptr;
    analog = nullptr;
    pulses = nullptr;
    selfTests = nullptr;
    scan = nullptr;
    processes = nullptr;
    image = nullptr;
    configBar = nullptr;
    frameFiles = nullptr;
}

void TFormUlvarin::FitStartSize() {
    const QScreen* where = screen();
    if (where == nullptr) return;
    startSize_ = FitIntoArea(QRect(QPoint(), size()), QMargins(), where->availableGeometry(),
                             minimumSizeHint())
                     .size();
    resize(startSize_);
}

bool TFormUlvarin::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            FitFrameIntoScreen(false);
            break;
        case QEvent::WindowActivate:
            FitFrameIntoScreen(true);
            break;
        default:
            break;
    }
    return handled;
}

// A window manager adds its frame only once the window is on the screen, so the start size
// could not allow for it; a window it made too large for the screen, or pushed past its
// edge, is fitted again, once. A size chosen by the program or the operator since stays.
void TFormUlvarin::FitFrameIntoScreen(bool frameSettled) {
    if (!fittingFrame_ || !isVisible()) return;
    const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    if (frame.isNull() && !frameSettled) return;
    fittingFrame_ = false;
    const QScreen* where = screen();
    if (where == nullptr || size() != startSize_ ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0)
        return;
    const QRect fitted =
        FitIntoArea(geometry(), frame, where->availableGeometry(), minimumSizeHint());
    if (fitted != geometry()) setGeometry(fitted);
}

// Panels are made in the order of the layout, so the keyboard focus follows it.
void TFormUlvarin::BuildPanels() {
    deviceBar = new DeviceBar(shared, this);
    configBar = new ConfigBar(shared, this);
    image = new ImagePanel(shared, this);
    frameFiles = new FrameFilePanel(shared, this);
    dacPanel = new DacPanel(shared, this);
    basics = new BasicCommands(shared, this);
    analog = new AnalogPanel(shared, this);
    processes = new ProcessPanel(shared, this);
    scan = new ScanPanel(shared, this);
    selfTests = new SelfTestsPanel(shared, this);
    pulses = new PulsePanel(shared, this);
    messages = new MessagePanel(shared, this);
    WindowParts parts;
    parts.deviceBar = deviceBar;
    parts.configBar = configBar;
    parts.imageSide = {image, frameFiles};
    parts.chipColumn = {dacPanel, basics, analog};
    parts.processColumn = {processes, scan, selfTests, pulses};
    parts.messages = messages;
    PlaceParts(this, parts);
    setTabOrder(deviceBar, image);
    setTabOrder(image, frameFiles);
    setTabOrder(frameFiles, dacPanel);
    setTabOrder(dacPanel, basics);
    setTabOrder(basics, analog);
    setTabOrder(analog, processes);
    setTabOrder(processes, scan);
    setTabOrder(scan, selfTests);
    setTabOrder(selfTests, pulses);
    setTabOrder(pulses, messages);
}

// The calls from one group into another.
void TFormUlvarin::ConnectPanels() {
    connect(dacPanel, &DacPanel::chipMarksWanted, image, &ImagePanel::ShowChipMarks);
    connect(dacPanel, &DacPanel::chipOutlineWanted, image, &ImagePanel::OutlineChip);
    connect(dacPanel, &DacPanel::chipSelected, pulses, &PulsePanel::ChipSelected);
    connect(basics, &BasicCommands::testerRequested, this, &TFormUlvarin::ShowTester);
    connect(configBar, &ConfigBar::terminalRequested, this, &TFormUlvarin::ShowTerminal);
    connect(messages, &MessagePanel::lineChosen, terminal, &TFormTerminal::AddMessageLine);
    connect(image, &ImagePanel::frameTakenIn, frameFiles, &FrameFilePanel::FrameTakenIn);
    frameFiles->flatFieldShown = [this] { return image->FlatFieldShown(); };
    connect(frameFiles, &FrameFilePanel::chipCountLoaded, deviceBar,
            &DeviceBar::ShowLoadedChipCount);
    connect(selfTests, &SelfTestsPanel::fixedRangeWanted, image, &ImagePanel::ShowFixedRange);
    connect(analog, &AnalogPanel::scopeConfigured, pulses, &PulsePanel::ForgetPulses);
    pulses->SetScopeChannelSource([this] { return analog->CheckedScopeChannels(); });
    connect(&shared, &WindowShared::interfaceReset, this, [this] { hardwareBoxShown = false; });
    // Any operator action with the interface, or another interface, wakes the periodic reads.
    connect(&shared, &WindowShared::operationBegun, this, [this] {
        if (!inTick_) pollingResting = false;
    });
    connect(&shared, &WindowShared::openStateChanged, this, [this] {
        pollingResting = false;
        FollowInterface();
    });
    // Nothing on a closed interface can be followed: its process and a scan end there.
    connect(&shared, &WindowShared::openStateChanged, this, [this] {
        if (shared.IsOpen()) return;
        processes->InterfaceClosed();
        if (scan->Active()) scan->BttnScanStartClick();
    });
    ConnectScan();
    ConnectSentSettings();
}

void TFormUlvarin::ConnectSentSettings() {
    connect(tester, &TUlvarinTester::biasSent, &shared, [this](int code) {
        shared.SettingsSent(SentSettings::BiasCode(static_cast<uint8_t>(code)));
    });
    connect(tester, &TUlvarinTester::interfaceDacSent, &shared, [this](int channel, int code) {
        shared.SettingsSent(SentSettings::InterfaceDacCode(channel, static_cast<uint16_t>(code)));
    });
    connect(terminal, &TFormTerminal::bytesSent, &shared, [this](const QByteArray& bytes) {
        shared.SettingsSent(
            SettingsInCommandBytes({reinterpret_cast<const uint8_t*>(bytes.constData()),
                                    static_cast<size_t>(bytes.size())}));
    });
    // The polarity and the Medipix2 counter pair are shown among the basic commands.
    connect(&shared, &WindowShared::interfaceSettingsSent, basics,
            [this](const SentSettings& settings) {
                if (settings.negativePolarity) basics->ShowPolarity(*settings.negativePolarity);
                if (settings.fsr && !shared.isMxr) basics->ShowMode(*settings.fsr);
            });
}

// A scan steps a DAC through the DAC panel's records, sums each step's frames in the image,
// runs a process per step and draws its curves in the pulse view; the groups that could
// disturb it are disabled while it runs.
void TFormUlvarin::ConnectScan() {
    scan->SetQueries({
        .processRunning = [this] { return processes->ProcessRunning(); },
        .chipItem = [this] { return dacPanel->ChipItem(); },
        .integrating = [this] { return image->Integrating(); },
        .imageMedian = [this] { return image->MedianNow(); },
        .imageAverage = [this] { return image->CurrentStatistics().average; },
    });
    connect(scan, &ScanPanel::dacShown, dacPanel, &DacPanel::ShowDac);
    connect(scan, &ScanPanel::dacRecordsChanged, dacPanel, &DacPanel::ComboDACSelect);
    connect(scan, &ScanPanel::curvesBegun, pulses, &PulsePanel::BeginScanCurves);
    connect(scan, &ScanPanel::pointMeasured, pulses, &PulsePanel::AppendScanPoint);
    connect(scan, &ScanPanel::integrationWanted, image, &ImagePanel::SetIntegrating);
    connect(scan, &ScanPanel::freshSumWanted, image, &ImagePanel::StartFreshSum);
    connect(scan, &ScanPanel::processWanted, processes, &ProcessPanel::StartProcessForRun);
    // A step whose frame does not come ends the run, which says why and puts back what it
    // changed.
    connect(processes, &ProcessPanel::processStalled, scan, &ScanPanel::StepStalled);
    // Frames the reader has handed over but the GUI thread not yet taken in belong to the
    // step that has just ended: they are summed before the step is measured. The step is
    // taken once the poll that saw the end has returned (queued): the tick takes a poll that
    // lasts as an interface that does not answer and rests its reads, and a step's work
    // (at the end of an equalisation scan, the equaliser's arithmetic, the results file and a
    // new pixel configuration) would then leave the next step's process unpolled for ever.
    // Like the tick's own work, a step leaves no lines in the message list.
    connect(
        processes, &ProcessPanel::processEnded, scan,
        [this] {
            if (!scan->Active()) return;
            TakeBackgroundFrames();
            messages->log()->logEnabled = false;
            scan->ScanStep();
            messages->log()->logEnabled = true;
        },
        Qt::QueuedConnection);
    // A process given up by an interface that stopped answering ends the scan as well.
    connect(processes, &ProcessPanel::processLost, scan, [this] {
        if (scan->Active()) scan->BttnScanStartClick();
    });
    connect(scan, &ScanPanel::activeChanged, this, [this](bool active) {
        for (QWidget* group : {static_cast<QWidget*>(basics), static_cast<QWidget*>(dacPanel),
                               static_cast<QWidget*>(selfTests), static_cast<QWidget*>(processes)})
            group->setEnabled(!active);
    });
}

void TFormUlvarin::InstallHooks() {
    SetReportHook(ReportHookFunction, this);
    SetBackgroundHook(BackgroundHookFunction, this);
    reader_ = std::make_unique<BackgroundReader>();
    InstallDeviceBoxes(this);
    configuration_->reporting = true;
}

void TFormUlvarin::RemoveHooks() {
    reader_.reset();  // no message reaches the hooks from it any more
    configuration_->reporting = false;
    RemoveDeviceBoxes();
    SetBackgroundHook(nullptr, nullptr);
    SetReportHook(nullptr, nullptr);
}

void TFormUlvarin::FormCreate() {
    InstallHooks();
    deviceBar->UpdateOpenCloseButtons();
}

void TFormUlvarin::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TFormUlvarin::FormClose() {
    terminal->close();
    tester->close();
    basics->BttnStopClick();
}

void TFormUlvarin::FormDestroy() {
    TimerInit->stop();
    Timer->stop();
    TimerScope->stop();
    StopMonitor();
    RemoveHooks();
    shared.SaveConfiguration(false);
}

void TFormUlvarin::TimerInitTimer() {
    deviceBar->OpenFirstListed();
    TimerInit->stop();
    Timer->start();
}

void TFormUlvarin::TimerTimer() {
    WatchHardware();
    processes->TakeActionMenus();
    FollowInterface();
    if (!shared.IsOpen()) return;
    if (!readInBackground) DrainBackgroundMessages();
    // The periodic work below leaves no lines in the message list.
    messages->log()->logEnabled = false;
    terminal->SetTimerRunning(true);
    inTick_ = true;
    // A silent interface (alive on the bus, answering nothing) would make every periodic
    // command wait out its timeout on this thread, tick after tick: once one has, the
    // periodic reads rest until the operator does something with the interface.
    const auto waitedOut = [this](const std::function<void()>& work) {
        const double started = Now();
        work();
        if (Now() - started >= 0.8 * DefaultTimeout(shared.device)) pollingResting = true;
    };
    if (analog->Monitoring() && !pollingResting)
        waitedOut([this] { analog->BttnInterfaceADCreadClick(); });
    if (!pollingResting) waitedOut([this] { processes->PollProcess(); });
    inTick_ = false;
    terminal->SetTimerRunning(false);
    messages->log()->logEnabled = true;
}

// Reacts to the kind of the last report shown: a reset interface brings the power-quality
// box; an open one that has gone the disconnection box, and it is closed (an open the driver
// refused reports the same kind with nothing to close). The flag keeps the ticks that run
// while a box is open from opening another.
void TFormUlvarin::WatchHardware() {
    MessageLog& log = *messages->log();
    const int8_t kind = log.lastReportKind;
    if (kind <= kMessage || hardwareBoxShown) return;
    if (kind == kBadResponse) {
        hardwareBoxShown = true;
        shared.dialogs().Error(kResetConditionText, kHardwareErrorCaption);
        hardwareBoxShown = false;
    } else if (kind == kNotResponding && shared.IsOpen() && !IsAlive(shared.device)) {
        // Stays set until the next full open: the interface is gone, one box is enough.
        hardwareBoxShown = true;
        shared.dialogs().Error(kDisconnectedText, kHardwareErrorCaption);
        deviceBar->CloseGoneInterface();
    }
    log.lastReportKind = 0;
}

void TFormUlvarin::FollowInterface() {
    if (!reader_) return;
    const bool follow = readInBackground && shared.IsOpen() && !IsMonitorRunning();
    reader_->Follow(follow ? shared.device.device : nullptr);
}

void TFormUlvarin::DrainBackgroundMessages() {
    if (IsMonitorRunning()) return;
    MpxCommandResponse record;
    shared.device.Clear();
    DrainBackground(shared.device, record, drainSeconds);
}

void TFormUlvarin::TimerScopeTimer() {
    analog->RepaintScope();
}

void TFormUlvarin::ShowTester() {
    tester->show();
    tester->raise();
}

void TFormUlvarin::ShowTerminal() {
    terminal->show();
    terminal->raise();
    terminal->SwitchOn();
}

}  // namespace ulvarin
