// The main window: a shell that owns what the groups share, lays out the panels and
// connects them, runs the three timers and installs the device layer's hooks. The groups'
// controls and handlers live in their panels.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <memory>

#include "app/background_item.h"
#include "panels/shared/window_shared.h"

class QTimer;

namespace ulvarin {

class AnalogPanel;
class BasicCommands;
class DacPanel;
class DeviceBar;
class FrameFilePanel;
class ImagePanel;
class ConfigBar;
class WindowConfiguration;
class MessagePanel;
class ProcessPanel;
class PulsePanel;
class ScanPanel;
class TFormTerminal;
class TUlvarinTester;
class SelfTestsPanel;
class BackgroundReader;

class TFormUlvarin : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kInitDelayMs = 100;
    static constexpr int kTimerMs = 50;
    static constexpr int kScopeTimerMs = 200;
    // What the interface sends on its own is read by a thread of the window's as it
    // arrives, so a stream of frames never holds up the operator. Cleared (for comparison),
    // the main timer reads it instead, for at most drainSeconds a tick.
    bool readInBackground = true;
    static constexpr double kDrainSeconds = 0.03;
    double drainSeconds = kDrainSeconds;

    // Builds the window with every store at its initial value, and runs FormCreate. The
    // start timer opens the first interface found 100 ms later.
    explicit TFormUlvarin(QWidget* parent = nullptr);
    // Runs FormDestroy (monitor stopped, hooks removed, configuration saved).
    ~TFormUlvarin() override;

    // Installs the report and background hooks.
    void FormCreate();
    // Closes the other windows and the shutter (reading the frame).
    void FormClose();
    // Stops the monitoring thread, removes the hooks, saves the configuration silently.
    void FormDestroy();
    // Once, 100 ms after start: refreshes the device list and opens its first entry.
    void TimerInitTimer();
    // Every 50 ms: hardware watch, action menus, which interface the reader follows (or the
    // background drain), ADC monitor, polling.
    void TimerTimer();
    void TimerScopeTimer();
    // The background hook's body; runs on the draining thread under the device lock. Copies
    // what it needs out of the record and hands it to the GUI thread in order.
    void HandleBackgroundMessage(MpxDevice& handle, MpxCommandResponse& record);
    // While the monitoring thread is stopped, hands every message the interface sent on its
    // own and not yet read to the background hook, on this thread, at once.
    void DrainBackgroundMessages();

    WindowShared shared;
    DeviceBar* deviceBar = nullptr;
    MessagePanel* messages = nullptr;
    DacPanel* dacPanel = nullptr;
    BasicCommands* basics = nullptr;
    AnalogPanel* analog = nullptr;
    PulsePanel* pulses = nullptr;
    SelfTestsPanel* selfTests = nullptr;
    ScanPanel* scan = nullptr;
    ProcessPanel* processes = nullptr;
    ImagePanel* image = nullptr;
    ConfigBar* configBar = nullptr;
    FrameFilePanel* frameFiles = nullptr;
    // The two debugging windows, made with this one and sharing its device handle.
    TFormTerminal* terminal = nullptr;
    TUlvarinTester* tester = nullptr;
    QTimer* TimerInit = nullptr;
    QTimer* Timer = nullptr;
    QTimer* TimerScope = nullptr;
    bool hardwareBoxShown = false;  // a hardware error box is open, or the interface is gone
    // A periodic read waited out its timeout: the periodic reads rest (see TimerTimer).
    bool pollingResting = false;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Fits the window with its frame into the screen once the frame is known.
    bool event(QEvent* event) override;

private:
    void BuildPanels();
    void ConnectPanels();
    // What the tester, the terminal and the configuration send reaches the groups that
    // show it.
    void ConnectSentSettings();
    // The window opens at the start size where the screen has room for it, smaller where
    // it has not.
    void FitStartSize();
    // Once, when the window manager's frame is known (or the window is active without one):
    // the frame too is fitted into the screen, unless the size was chosen since.
    void FitFrameIntoScreen(bool frameSettled);
    // Deletes the panels and the two other windows while `shared` is whole.
    void TearDownChildren();
    void ConnectScan();
    void InstallHooks();
    void RemoveHooks();
    void WatchHardware();
    void TakeBackgroundFrames();
    void ShowTester();
    void ShowTerminal();

    // Points the reader at the open interface (none while the monitoring thread reads).
    void FollowInterface();

    std::unique_ptr<WindowConfiguration> configuration_;
    std::unique_ptr<BackgroundReader> reader_;
    // Over a second of four-chip frames at the link's rate (64 MiB).
    FrameHandoff frameHandoff_{128};
    bool inTick_ = false;  // the main timer's periodic work is running
    QSize startSize_;
    bool fittingFrame_ = true;
};

}  // namespace ulvarin
