#include "panels/processes/process_panel.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "base/number_text.h"
#include "device/clock.h"
#include "device/interface_commands.h"
#include "panels/processes/process_table.h"
#include "panels/shared/window_shared.h"
#include "hardware_process/process_templates.h"
#include "widgets/control_table.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

using namespace process;

constexpr const char* kActionButtons[kActionSources] = {"BttnDo",
                                                        "BttnDataAction",
                                                        "BttnPeriodAction",
                                                        "BttnIntervalAction",
                                                        "BttnTriggerAction",
                                                        "BttnCounterAction"};
constexpr const char* kActionMenus[kActionSources] = {"MenuDoAction",      "MenuDataAction",
                                                      "MenuPeriodAction",  "MenuIntervalAction",
                                                      "MenuTriggerAction", "MenuCounterActions"};

// What a Start button does for its source.
struct SourceStart {
    int source;
    bool ProcessSettings::*running;
    bool (*stop)(MpxDevice&);
    bool (*start)(MpxDevice&);
};

const SourceStart kSourceStarts[] = {
    {kPeriod, &ProcessSettings::periodRunning, StopPeriodTimer, ReloadPeriodTimer},
    {kInterval, &ProcessSettings::intervalRunning, StopIntervalTimer, ReloadIntervalTimer},
    {kTrigger, &ProcessSettings::triggerRunning, StopTriggerWait, StartTriggerWait},
    {kCounter, &ProcessSettings::counterRunning, StopCounter, ReloadCounter},
};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString RunCaption(bool running) {
    return running ? QStringLiteral("Stop") : QStringLiteral("Start");
}

void SetEditText(QComboBox* box, const std::string& text) {
    if (box->currentText() != Text(text)) box->setEditText(Text(text));
}

}  // namespace

ProcessPanel::ProcessPanel(WindowShared& shared, QWidget* parent)
    : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelProcesses"));
    BuildControls();
    BuildMenus();
    ConnectControls();
    ShowActionSets();
    watch_ = new QTimer(this);
    watch_->setSingleShot(true);
    watch_->setTimerType(Qt::PreciseTimer);
    connect(watch_, &QTimer::timeout, this, &ProcessPanel::WatchExpired);
    connect(&shared_, &WindowShared::backgroundFrameArrived, this, [this] {
        if (!settings_.processRunning) return;
        ++framesTaken_;
        RestartWatch();
    });
}

void ProcessPanel::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGroup(HWProcessesGroup(), this));

    for (int s = 0; s < kActionSources; ++s)
        actionButtons_[s] = FindControl<QPushButton>(this, kActionButtons[s]);
    EditRepeat = FindControl<QLineEdit>(this, "EditRepeat");
    UpDown4 = FindControl<UpDown>(this, "UpDown4");
    CombPeriod = FindControl<QComboBox>(this, "CombPeriod");
    CombInterval = FindControl<QComboBox>(this, "CombInterval");
    CombTrigger = FindControl<QComboBox>(this, "CombTrigger");
    CombCounter = FindControl<QComboBox>(this, "CombCounter");
    CombProcessTemplate = FindControl<QComboBox>(this, "CombProcessTemplate");
    LabelRepeat = FindControl<QLabel>(this, "LabelRepeat");
    LabelPeriod = FindControl<QLabel>(this, "LabelPeriod");
    LabelInterval = FindControl<QLabel>(this, "LabelInterval");
    LabelTrigger = FindControl<QLabel>(this, "LabelTrigger");
    LabelCounter = FindControl<QLabel>(this, "LabelCounter");
    BttnPeriodStart = FindControl<QPushButton>(this, "BttnPeriodStart");
    BttnIntervalStart = FindControl<QPushButton>(this, "BttnIntervalStart");
    BttnTriggerStart = FindControl<QPushButton>(this, "BttnTriggerStart");
    BttnCounterStart = FindControl<QPushButton>(this, "BttnCounterStart");
    BttnStartProcess = FindControl<QPushButton>(this, "BttnStartProcess");
    // Bold and red in both states, so the one button that starts and stops the interface's
    // process stands out; greyed as usual while disabled (during a scan).
    BttnStartProcess->setStyleSheet(
        QStringLiteral("QPushButton { font-weight: bold; } QPushButton:enabled { color: red; }"));

    for (const ProcessTemplate& process : ProcessTemplates())
        CombProcessTemplate->addItem(QString::fromUtf8(process.name));
    CombProcessTemplate->setCurrentIndex(0);
}

// Eight checkable items per source in bit order. The check marks are taken at the next
// timer tick after a menu has closed, when the item chosen has toggled itself.
void ProcessPanel::BuildMenus() {
    for (int s = 0; s < kActionSources; ++s) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QString::fromUtf8(kActionMenus[s]));
        for (int bit = 0; bit < kActionCount; ++bit) {
            QAction* item = menu->addAction(QString::fromUtf8(ActionItemCaption(bit)));
            item->setCheckable(true);
        }
        connect(menu, &QMenu::aboutToHide, this, [this] { settings_.actionMenuShown = true; });
        actionMenus_[s] = menu;
    }
    // The operator cannot add C to the Frames set; a template or a file still may.
    actionMenus_[kFrames]->actions().at(0)->setEnabled(false);
}

void ProcessPanel::ConnectControls() {
    const std::array<void (ProcessPanel::*)(), kActionSources> actionClicks = {
        &ProcessPanel::BttnDoClick,
        &ProcessPanel::BttnDataActionClick,
        &ProcessPanel::BttnPeriodActionClick,
        &ProcessPanel::BttnIntervalActionClick,
        &ProcessPanel::BttnTriggerActionClick,
        &ProcessPanel::BttnCounterActionClick};
    for (int s = 0; s < kActionSources; ++s)
        connect(actionButtons_[s], &QPushButton::clicked, this, actionClicks[s]);
    connect(BttnStartProcess, &QPushButton::clicked, this, &ProcessPanel::BttnStartProcessClick);
    connect(BttnPeriodStart, &QPushButton::clicked, this, &ProcessPanel::BttnPeriodStartClick);
    connect(BttnIntervalStart, &QPushButton::clicked, this, &ProcessPanel::BttnIntervalStartClick);
    connect(BttnTriggerStart, &QPushButton::clicked, this, &ProcessPanel::BttnTriggerStartClick);
    connect(BttnCounterStart, &QPushButton::clicked, this, &ProcessPanel::BttnCounterStartClick);
    connect(CombProcessTemplate, &QComboBox::activated, this,
            &ProcessPanel::CombProcessTemplateSelect);
    // The arrows step from the number in the box, which the operator and the state reads
    // write, not from a position of their own.
    connect(
        UpDown4, &UpDown::changing, this,
        [this](UpDown::Change* change) {
            const int shown =
                LeadingInteger(EditRepeat->text().toStdString()).value_or(change->position);
            const int step = change->direction == UpDown::Direction::Up     ? 1
                             : change->direction == UpDown::Direction::Down ? -1
                                                                            : 0;
            UpDown4->SetPosition(shown);
            change->newPosition = shown + step;
        },
        Qt::DirectConnection);
    StepUpDownFromBox(EditRepeat, UpDown4);
}

void ProcessPanel::PopupActionMenu(int source) {
    if (source < 0 || source >= kActionSources) return;
    CombProcessTemplate->setCurrentIndex(0);  // the process no longer follows a template
    ShowActionSets();
    const QPushButton* button = actionButtons_[source];
    actionMenus_[source]->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void ProcessPanel::ShowActionSets() {
    for (int s = 0; s < kActionSources; ++s) {
        const QList<QAction*> items = actionMenus_[s]->actions();
        for (int bit = 0; bit < kActionCount; ++bit)
            items.at(bit)->setChecked(settings_.actionSet[s] & (1u << bit));
        actionButtons_[s]->setText(Text(ActionCaption(settings_.actionSet[s])));
    }
}

void ProcessPanel::ActionSetsFromMenus() {
    for (int s = 0; s < kActionSources; ++s) {
        const QList<QAction*> items = actionMenus_[s]->actions();
        ActionSet set = 0;
        for (int bit = 0; bit < kActionCount; ++bit)
            if (items.at(bit)->isChecked()) set |= static_cast<ActionSet>(1u << bit);
        settings_.actionSet[s] = set;
        actionButtons_[s]->setText(Text(ActionCaption(set)));
    }
    ReadProcessSettings(kAllSources, true);
}

void ProcessPanel::TakeActionMenus() {
    if (!settings_.actionMenuShown) return;
    settings_.actionMenuShown = false;
    ActionSetsFromMenus();
}

ValueTexts ProcessPanel::TextsShown() const {
    return {EditRepeat->text().toStdString(), CombPeriod->currentText().toStdString(),
            CombInterval->currentText().toStdString(), CombCounter->currentText().toStdString()};
}

void ProcessPanel::ShowTexts(const ValueTexts& texts) {
    if (EditRepeat->text() != Text(texts.frames)) EditRepeat->setText(Text(texts.frames));
    SetEditText(CombPeriod, texts.period);
    SetEditText(CombInterval, texts.interval);
    SetEditText(CombCounter, texts.counter);
}

void ProcessPanel::NormaliseAndSend(int selector, bool send) {
    ValueTexts texts = TextsShown();
    NormaliseValues(settings_, texts, selector);
    ShowTexts(texts);
    if (send) ConfigureSources(shared_.device, settings_, selector);
}

void ProcessPanel::ReadProcessSettings(int selector, bool send) {
    if (send) {
        shared_.BeginOperation();
        shared_.device.Clear();
    }
    NormaliseAndSend(selector, send);
}

void ProcessPanel::ReadProcessState(int selector) {
    ShowStateChanges(ReadSourceStates(shared_.device, selector, settings_));
}

void ProcessPanel::ShowStateChanges(const StateChanges& c) {
    const ProcessSettings& s = settings_;
    if (c.frames) EditRepeat->setText(QString::number(s.frames));
    if (c.framesLeft) LabelRepeat->setText(QString::number(s.framesLeft));
    if (c.periodRunning) BttnPeriodStart->setText(RunCaption(s.periodRunning));
    if (c.period) SetEditText(CombPeriod, StateTimeText(s.period));
    if (c.periodLeft) LabelPeriod->setText(Text(RemainingTimeText(s.periodLeft)));
    if (c.intervalRunning) BttnIntervalStart->setText(RunCaption(s.intervalRunning));
    if (c.interval) SetEditText(CombInterval, StateTimeText(s.interval));
    if (c.intervalLeft) LabelInterval->setText(Text(RemainingTimeText(s.intervalLeft)));
    if (c.triggerRunning) BttnTriggerStart->setText(RunCaption(s.triggerRunning));
    if (c.triggerCount) LabelTrigger->setText(Text(TriggerCountText(s.triggerCount)));
    if (c.counterRunning) BttnCounterStart->setText(RunCaption(s.counterRunning));
    if (c.counter) SetEditText(CombCounter, NumberOrOff(s.counter));
    if (c.counterLeft) LabelCounter->setText(Text(RemainingCountText(s.counterLeft)));
}

void ProcessPanel::ShowProcessRunning(bool running) {
    settings_.processRunning = running;
    BttnStartProcess->setText(running ? QStringLiteral("Stop Process")
                                      : QStringLiteral("Start Process"));
    RestartWatch();
}

void ProcessPanel::BttnStartProcessClick() {
    if (settings_.processRunning) {
        shared_.BeginOperation();
        shared_.device.Clear();
        if (AbortExposition(shared_.device)) ShowProcessRunning(false);
        ReadProcessState(kEverySource);
        return;
    }
    StartProcess(false);
}

void ProcessPanel::StartProcessForRun() {
    if (!settings_.processRunning) StartProcess(true);
}

void ProcessPanel::StartProcess(bool forRun) {
    shared_.BeginOperation();
    MpxDevice& device = shared_.device;
    device.Clear();
    // Every source is configured, and those that are off are stopped, before the Manual set
    // starts the process; the interface starts the interval timer, the trigger wait and the
    // counter by its actions, the period timer is started here.
    NormaliseAndSend(kAllSources, true);
    forRun_ = forRun;
    pace_ = FramePace(settings_);
    framesTaken_ = 0;
    if (MakeTodoMask(device, settings_.actionSet[kManual])) {
        ShowProcessRunning(true);
        if (settings_.period > 0) ReloadPeriodTimer(device);
    }
    ReadProcessState(kEverySource);
}

// The periodic polls may rest (a silent interface, a read slowed by a busy machine) and a
// frame may never come: the watch runs on its own, so a process that stalls is ended rather
// than shown running for ever. It is a single timer, restarted by each frame; nothing polls
// for it.
void ProcessPanel::RestartWatch() {
    lastProgress_ = Now();
    if (!settings_.processRunning || !pace_) {
        watch_->stop();
        return;
    }
    // A timer of longer than about 24 days is out of QTimer's range; no process is watched
    // that closely anyway.
    constexpr double kLongestMs = 2e9;
    watch_->start(static_cast<int>(std::min(StallLimit(*pace_) * 1000.0, kLongestMs)));
}

void ProcessPanel::WatchExpired() {
    if (!settings_.processRunning || !pace_) return;
    const double silent = Now() - lastProgress_;
    const double pace = *pace_;
    // An operation of its own, which also wakes the window's periodic reads if they rest.
    shared_.BeginOperation();
    // Frames came, then no more: the process may have ended with its last frame while the
    // polls rested. Asked once; ended, it ends as at a poll, and a run goes on.
    if (framesTaken_ > 0 && shared_.IsOpen()) {
        shared_.device.Clear();
        const StateChanges changes = ReadSourceStates(shared_.device, kEverySource, settings_);
        ShowStateChanges(changes);
        if (changes.answered > 0 && !AnySourceRunning(settings_)) {
            ShowProcessRunning(false);
            emit processEnded();
            return;
        }
    }
    // Stopped on the interface as "Stop Process" does; whether or not it answers, the window
    // no longer waits for it.
    bool stopped = false;
    if (shared_.IsOpen()) {
        shared_.device.Clear();
        stopped = AbortExposition(shared_.device);
    }
    ShowAllStopped();
    if (!forRun_) {
        const QString why = QStringLiteral("no frame for %1 s (exposure %2 s)")
                                .arg(silent, 0, 'f', 1)
                                .arg(pace > 0 ? Text(TimeText(pace)) : QStringLiteral("0"));
        shared_.AddLogLine(stopped ? QStringLiteral("Process stopped: ") + why
                                   : QStringLiteral("Process given up: ") + why +
                                         QStringLiteral(", and the interface did not take the "
                                                        "stop"));
    }
    emit processStalled(silent, pace);
}

void ProcessPanel::StartOrStopSource(int source) {
    for (const SourceStart& s : kSourceStarts) {
        if (s.source != source) continue;
        shared_.BeginOperation();
        shared_.device.Clear();
        if (settings_.*s.running) {
            s.stop(shared_.device);
        } else {
            NormaliseAndSend(source, true);
            s.start(shared_.device);
        }
        ReadProcessState(source);
    }
}

void ProcessPanel::CombProcessTemplateSelect() {
    ApplyProcessTemplate(CombProcessTemplate->currentIndex());
}

void ProcessPanel::ApplyProcessTemplate(int item) {
    if (item <= 0 || item >= kTemplateCount) return;
    const ProcessTemplate& process = ProcessTemplates()[static_cast<size_t>(item)];
    settings_.actionSet = process.actionSet;
    ShowActionSets();
    ShowTexts(TemplateTexts(process));
    CombTrigger->setCurrentIndex(process.trigger ? 1 : 0);
    ReadProcessSettings(kAllSources, true);
}

void ProcessPanel::PollProcess() {
    if (++pollTicks_ < kPollEveryTicks) return;
    pollTicks_ = 0;
    if (!shared_.IsOpen()) return;
    if (!settings_.processRunning && !AnySourceRunning(settings_)) return;
    shared_.device.Clear();
    // While a process runs every source is read: its actions start the interval timer, the
    // trigger wait and the counter by themselves, and a source started since the last read
    // would otherwise go unseen and the process be taken as ended while it still runs.
    const StateChanges changes = ReadSourceStates(
        shared_.device, settings_.processRunning ? kEverySource : kAllSources, settings_);
    ShowStateChanges(changes);
    if (changes.answered == 0) {
        GiveUpProcess();
        return;
    }
    if (AnySourceRunning(settings_)) return;
    ShowProcessRunning(false);
    emit processEnded();
}

void ProcessPanel::ShowAllStopped() {
    for (const SourceStart& s : kSourceStarts) settings_.*s.running = false;
    for (QPushButton* button :
         {BttnPeriodStart, BttnIntervalStart, BttnTriggerStart, BttnCounterStart})
        button->setText(RunCaption(false));
    ShowProcessRunning(false);
}

// A closed interface (cable pulled, or closed by the operator) runs nothing the window can
// follow: the process and the sources show stopped, and whoever waits for the end is told.
void ProcessPanel::InterfaceClosed() {
    const bool wasRunning = settings_.processRunning;
    ShowAllStopped();
    if (wasRunning) emit processLost();
}

// No state query was answered: the interface is gone or dead, and polling it on would only
// repeat the failure every quarter second. The process and the sources count as stopped.
void ProcessPanel::GiveUpProcess() {
    const bool wasRunning = settings_.processRunning;
    ShowAllStopped();
    QString line = QStringLiteral("Process given up: the interface does not answer");
    if (shared_.device.HasPendingReport())
        line += QStringLiteral(" (%1)").arg(QString::fromUtf8(shared_.device.reportText));
    shared_.AddLogLine(line + QLatin1Char('.'));
    if (wasRunning) emit processLost();
}

void ProcessPanel::ShowSettings() {
    ShowTexts(ValueTextsOf(settings_));
    ShowActionSets();
}

int ProcessPanel::TriggerItem() const {
    return CombTrigger->currentIndex();
}

void ProcessPanel::SetTriggerItem(int item) {
    CombTrigger->setCurrentIndex(item);
}

}  // namespace ulvarin
