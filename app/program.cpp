#include "app/program.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "app/device_boxes.h"
#include "app/dialogs.h"
#include "app/drop_down_combo.h"
#include "app/layout_tables.h"
#include "app/message_log.h"
#include "app/paint_box.h"
#include "device/link.h"
#include "device/monitor.h"
#include "device/protocol.h"
#include "device/report.h"

namespace ulvarin {

TFormUlvarin* FormUlvarin = nullptr;

namespace {

constexpr const char* kResetConditionText =
    "Device reported unexpected reset condition probably due to power voltage instability.\r"
    "Check quality of your USB cable or quality of external power supply if used.\r"
    "Voltage source have to be able to supply 4.75V - 5.25V at 500mA, no drop-outs or spikes "
    "outside of this range.";
constexpr const char* kDisconnectedText =
    "Device is not responding. It has been probably disconnected.\nDevice has to be closed!";
constexpr const char* kHardwareErrorCaption = "Hardware Error";

void ReportHookFunction(MpxDevice& handle, void*) {
    if (FormUlvarin != nullptr) FormUlvarin->LogReport(handle);
}

void BackgroundHookFunction(MpxDevice& handle, MpxCommandResponse& record, void*) {
    if (FormUlvarin != nullptr) FormUlvarin->HandleBackgroundMessage(handle, record);
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
    ui = BuildMainLayout(this);
    for (QWidget* control : ui.notYetWorking) control->setEnabled(false);
    log = new MessageLog(ui.ListMsg, this);
    FormUlvarin = this;

    TimerInit = MakeTimer(this, kInitDelayMs, true);
    Timer = MakeTimer(this, kTimerMs, false);
    TimerScope = MakeTimer(this, kScopeTimerMs, false);
    connect(TimerInit, &QTimer::timeout, this, &TFormUlvarin::TimerInitTimer);
    connect(Timer, &QTimer::timeout, this, &TFormUlvarin::TimerTimer);
    connect(TimerScope, &QTimer::timeout, this, &TFormUlvarin::TimerScopeTimer);
    ConnectControls();

    log->logEnabled = true;
    FormCreate();
    TimerInit->start();
}

TFormUlvarin::~TFormUlvarin() {
    FormDestroy();
    if (FormUlvarin == this) FormUlvarin = nullptr;
}

void TFormUlvarin::ConnectControls() {
    connect(ui.ComboDeviceName, &DropDownCombo::dropDown, this,
            &TFormUlvarin::ComboDeviceNameDropDown);
    connect(ui.ComboDeviceName, &QComboBox::activated, this, &TFormUlvarin::ComboDeviceNameSelect);
    connect(ui.BttnOpen, &QPushButton::clicked, this, &TFormUlvarin::BttnOpenClick);
    connect(ui.BttnClose, &QPushButton::clicked, this, &TFormUlvarin::BttnCloseClick);
    connect(ui.BttnClearMsgList, &QPushButton::clicked, this, &TFormUlvarin::BttnClearMsgListClick);
    connect(ui.ListMsg, &QListWidget::itemDoubleClicked, this, &TFormUlvarin::ListMsgDblClick);
    connect(ui.ChkbMessagesShowJustErrors, &QCheckBox::clicked, this,
            &TFormUlvarin::ChkbMessagesShowJustErrorsClick);
    connect(ui.BttnStop, &QPushButton::clicked, this, &TFormUlvarin::BttnStopClick);
    connect(ui.BttnGetData, &QPushButton::clicked, this, &TFormUlvarin::BttnGetDataClick);
    ConnectImageView();
    ConnectDacPanel();
    ConnectBasicCommands();
    ui.PaintBoxBitmap->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintImage(painter, area); });
}

void TFormUlvarin::InstallHooks() {
    SetReportHook(ReportHookFunction, nullptr);
    SetBackgroundHook(BackgroundHookFunction, nullptr);
    InstallDeviceBoxes(this);
}

void TFormUlvarin::RemoveHooks() {
    RemoveDeviceBoxes();
    SetBackgroundHook(nullptr, nullptr);
    SetReportHook(nullptr, nullptr);
}

void TFormUlvarin::FormCreate() {
    InstallHooks();
    ui.CombProcessTemplate->clear();
    for (const std::string& name : ProcessTemplateNames())
        ui.CombProcessTemplate->addItem(QString::fromStdString(name));
    ui.CombProcessTemplate->setCurrentIndex(0);
    ShowActionSets();
    UpdateOpenCloseButtons();
    ui.ChkbSum->setChecked(frames.integrating());
    ui.ChkbMessagesShowJustErrors->setChecked(log->justErrors);
}

void TFormUlvarin::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TFormUlvarin::FormClose() {
    CloseOtherWindows();
    BttnStopClick();
}

void TFormUlvarin::FormDestroy() {
    TimerInit->stop();
    Timer->stop();
    TimerScope->stop();
    StopMonitor();
    RemoveHooks();
    SaveConfiguration(false);
}

void TFormUlvarin::TimerInitTimer() {
    ComboDeviceNameDropDown();
    if (ui.ComboDeviceName->count() > 0) {
        ui.ComboDeviceName->setCurrentIndex(0);
        ComboDeviceNameSelect();
    } else {
        UpdateOpenCloseButtons();
    }
    TimerInit->stop();
    Timer->start();
}

void TFormUlvarin::TimerTimer() {
    WatchHardware();
    if (process.actionMenuShown) {
        ActionSetsFromMenus();
        process.actionMenuShown = false;
    }
    if (device.device == nullptr) return;
    DrainBackgroundMessages();
    // The periodic work below leaves no lines in the message list.
    log->logEnabled = false;
    terminalTimerRunning = true;
    if (ui.ChkbInterfaceADCread->isChecked()) BttnInterfaceADCreadClick();
    PollProcess();
    terminalTimerRunning = false;
    log->logEnabled = true;
}

// Reacts to the kind of the last report shown: a reset interface brings the power-quality
// box; a dead one the disconnection box, and it is closed. The flag keeps the ticks that run
// while a box is open from opening another.
void TFormUlvarin::WatchHardware() {
    const int8_t kind = log->lastReportKind;
    if (kind <= kMessage || hardwareBoxShown) return;
    if (kind == kBadResponse) {
        hardwareBoxShown = true;
        CurrentDialogs().Error(kResetConditionText, kHardwareErrorCaption);
        hardwareBoxShown = false;
    } else if (kind == kNotResponding && !IsAlive(device)) {
        // Stays set until the next full open: the interface is gone, one box is enough.
        hardwareBoxShown = true;
        CurrentDialogs().Error(kDisconnectedText, kHardwareErrorCaption);
        BttnCloseClick();
    }
    log->lastReportKind = 0;
}

// While the monitoring thread is stopped, the timer hands every message the interface sent
// on its own to the background hook.
void TFormUlvarin::DrainBackgroundMessages() {
    if (IsMonitorRunning()) return;
    MpxCommandResponse record;
    device.Clear();
    DrainBackground(device, record);
}

void TFormUlvarin::PollProcess() {
    if (++timerTicks < kPollEveryTicks) return;
    timerTicks = 0;
    PollProcessState();
}

void TFormUlvarin::TimerScopeTimer() {
    ui.PaintBoxScope->update();
}

// --- Entries that later features fill ----------------------------------------------------

bool TFormUlvarin::LoadConfiguration(bool) {
    return false;
}
void TFormUlvarin::SaveConfiguration(bool) {}

void TFormUlvarin::ShowActionSets() {
    for (int s = 0; s < kActionSources; ++s)
        ui.actionButtons[s]->setText(QString::fromStdString(ActionCaption(process.actionSet[s])));
}

void TFormUlvarin::ActionSetsFromMenus() {}
void TFormUlvarin::PollProcessState() {}
void TFormUlvarin::BttnInterfaceADCreadClick() {}
void TFormUlvarin::ShowInTerminal(const QString&) {}
void TFormUlvarin::CloseOtherWindows() {
    for (QWidget* window : {terminalWindow, testerWindow})
        if (window != nullptr) window->close();
}

}  // namespace ulvarin
