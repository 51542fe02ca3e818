// The "HW Processes" group: the six action sets edited in pop-up menus, the values of the
// frame counter, the period and interval timers, the trigger and the event counter, their
// Start buttons and the state read back, "Start process", and the built-in templates. The
// window's main timer takes the action menus and polls the process through this panel.
#pragma once

#include <QWidget>
#include <array>
#include <optional>

#include "hardware_process/process_io.h"
#include "hardware_process/process_settings.h"
#include "wire/action_sets.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace ulvarin {

class UpDown;
class WindowShared;

class ProcessPanel : public QWidget {
    Q_OBJECT
public:
    // The timer polls the process on every this many ticks (50 ms each).
    static constexpr int kPollEveryTicks = 5;

    ProcessPanel(WindowShared& shared, QWidget* parent);

    // The action buttons open their source's menu.
    void BttnDoClick() { PopupActionMenu(process::kManual); }
    void BttnDataActionClick() { PopupActionMenu(process::kFrames); }
    void BttnPeriodActionClick() { PopupActionMenu(process::kPeriod); }
    void BttnIntervalActionClick() { PopupActionMenu(process::kInterval); }
    void BttnTriggerActionClick() { PopupActionMenu(process::kTrigger); }
    void BttnCounterActionClick() { PopupActionMenu(process::kCounter); }
    // Returns the template list to its blank item, shows the sets and pops up the menu of
    // `source` (0 to 5; others do nothing) under its button. Its check marks are taken by
    // the next TakeActionMenus after it has closed.
    void PopupActionMenu(int source);

    // Stops a running process ("Abort exposition"), or configures every source and starts
    // one with the Manual set (and the period timer when it is on); then reads the state.
    void BttnStartProcessClick();
    // Starts a process as "Start process" does, for a step of a run (a scan, an
    // equalisation); nothing happens while one runs. A stall of such a process is the run's
    // to report (processStalled); the panel writes no line of its own about it.
    void StartProcessForRun();
    // Stop the source when it runs, else configure and start it; then read its state.
    void BttnPeriodStartClick() { StartOrStopSource(process::kPeriod); }
    void BttnIntervalStartClick() { StartOrStopSource(process::kInterval); }
    void BttnTriggerStartClick() { StartOrStopSource(process::kTrigger); }
    void BttnCounterStartClick() { StartOrStopSource(process::kCounter); }
    // Applies the template chosen in the template list.
    void CombProcessTemplateSelect();

    // Check marks and button captions from the action sets.
    void ShowActionSets();
    // Action sets and captions from the check marks, then every setting is sent.
    void ActionSetsFromMenus();
    // Reads the value controls of `selector` (-1 every source, 1 to 5 one) into the
    // settings and rewrites them normalised; with `send`, as an operation of its own, also
    // configures those sources on the interface.
    void ReadProcessSettings(int selector, bool send);
    // Reads the state of `selector`'s sources (0 every source, -1 the frame counter and the
    // running ones, 1 to 5 one) and shows what changed.
    void ReadProcessState(int selector);
    // Fills in template `item` (1 to 10; 0 and others do nothing): action sets, values and
    // trigger selector, and sends every setting. The process is not started.
    void ApplyProcessTemplate(int item);

    // --- the window's main timer ---------------------------------------------------------
    // Every tick: after an action menu was shown, takes its check marks and sends them.
    void TakeActionMenus();
    // Every tick while an interface is open: every fifth tick, while a process or a source
    // runs, reads the state. When nothing runs any more the process has ended:
    // processEnded. When no state query is answered the interface is taken as gone: the
    // process and sources count as stopped, a line says so, and processLost.
    void PollProcess();
    bool ProcessRunning() const { return settings_.processRunning; }
    // After the interface was closed: the process and the sources show stopped, and
    // processLost is emitted when a process was running.
    void InterfaceClosed();

    // --- for the configuration file --------------------------------------------------------
    // The settings as last read or normalised (call ReadProcessSettings(-1, false) first to
    // take the controls' texts).
    const process::ProcessSettings& Settings() const { return settings_; }
    process::ProcessSettings& Settings() { return settings_; }
    // Shows the settings' values in the value controls (0 or less as "Off") and the
    // action sets on buttons and menus; sends nothing and leaves the template list alone.
    void ShowSettings();
    // The trigger selector's item: 0 "Off", 1 "On" (stored only, no command uses it).
    int TriggerItem() const;
    void SetTriggerItem(int item);

signals:
    // A poll found no timer, trigger wait or counter running any more: a process that was
    // started has ended (a DAC scan takes its next step). Also when the polls rested and the
    // watch over the process found it ended.
    void processEnded();
    // A poll got no answer from the interface: the process was given up.
    void processLost();
    // A process whose frames the interface's timers pace went `silentSeconds` without a
    // frame (StallLimit of its pace `paceSeconds`), and is not found ended: it was stopped on
    // the interface and shows stopped. Not emitted for a process that waits for a trigger or
    // an event count.
    void processStalled(double silentSeconds, double paceSeconds);

private:
    void BuildControls();
    void BuildMenus();
    void ConnectControls();
    void StartOrStopSource(int source);
    // Normalises the value texts of `selector` and, with `send`, configures the sources on
    // the handle as it is (no operation of its own).
    void NormaliseAndSend(int selector, bool send);
    process::ValueTexts TextsShown() const;
    void ShowTexts(const process::ValueTexts& texts);
    void ShowStateChanges(const process::StateChanges& changes);
    void ShowProcessRunning(bool running);
    void GiveUpProcess();
    void ShowAllStopped();
    void StartProcess(bool forRun);
    // The watch over a running process: (re)started by its start and by each frame, it
    // expires when a frame is overdue; stopped when the process is not running.
    void RestartWatch();
    void WatchExpired();

    WindowShared& shared_;
    process::ProcessSettings settings_;
    int pollTicks_ = 0;
    QTimer* watch_ = nullptr;
    std::optional<double> pace_;  // FramePace of the running process
    double lastProgress_ = 0;     // when it started or its last frame came
    int framesTaken_ = 0;         // frames of the running process so far
    bool forRun_ = false;         // started for a step of a run

    std::array<QPushButton*, process::kActionSources> actionButtons_{};
    std::array<QMenu*, process::kActionSources> actionMenus_{};
    QLineEdit* EditRepeat = nullptr;
    UpDown* UpDown4 = nullptr;
    QComboBox* CombPeriod = nullptr;
    QComboBox* CombInterval = nullptr;
    QComboBox* CombTrigger = nullptr;
    QComboBox* CombCounter = nullptr;
    QComboBox* CombProcessTemplate = nullptr;
    QLabel* LabelRepeat = nullptr;
    QLabel* LabelPeriod = nullptr;
    QLabel* LabelInterval = nullptr;
    QLabel* LabelTrigger = nullptr;
    QLabel* LabelCounter = nullptr;
    QPushButton* BttnPeriodStart = nullptr;
    QPushButton* BttnIntervalStart = nullptr;
    QPushButton* BttnTriggerStart = nullptr;
    QPushButton* BttnCounterStart = nullptr;
    QPushButton* BttnStartProcess = nullptr;
};

}  // namespace ulvarin
