// The main window: owns the device handle through which the whole program talks to the
// interface, the frame, DAC, scope and process stores, the message list, and the timers
// that open the first interface at start and then watch and poll it.
#pragma once

#include <QMainWindow>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/window_state.h"
#include "device/command_response.h"
#include "device/dac_tables.h"
#include "device/device.h"
#include "imaging/display_range.h"
#include "imaging/frame_store.h"
#include "imaging/image_pipeline.h"
#include "imaging/result_view.h"

class QEvent;
class QImage;
class QPainter;
class QTimer;

namespace ulvarin {

class MessageLog;
struct BackgroundItem;

class TFormUlvarin : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kInitDelayMs = 100;
    static constexpr int kTimerMs = 50;
    static constexpr int kScopeTimerMs = 200;
    static constexpr int kPollEveryTicks = 5;

    // Builds the window with every store at its initial value, and runs FormCreate. The
    // start timer opens the first interface found 100 ms later.
    explicit TFormUlvarin(QWidget* parent = nullptr);
    // Runs FormDestroy (monitor stopped, hooks removed, configuration saved).
    ~TFormUlvarin() override;

    // --- Lifecycle and timers -----------------------------------------------------------
    // Installs the report and background hooks, fills the template list, shows the action
    // sets, the open/close state and the check boxes that mirror stored flags.
    void FormCreate();
    // Closes the other windows and the shutter (reading the frame).
    void FormClose();
    // Stops the monitoring thread, removes the hooks, saves the configuration silently.
    void FormDestroy();
    // Once, 100 ms after start: refreshes the device list and opens its first entry.
    void TimerInitTimer();
    // Every 50 ms: hardware watch, action menus, background drain, ADC monitor, polling.
    void TimerTimer();
    void TimerScopeTimer();

    // --- Device connection --------------------------------------------------------------
    // Lists the compatible interfaces in ComboDeviceName.
    void ComboDeviceNameDropDown();
    // The operator chose an entry: opens it.
    void ComboDeviceNameSelect();
    // Opens the interface named in ComboDeviceName: fully (reset, window stores reset for
    // its chips) or, with "Soft open", reattaching to the running interface and keeping the
    // window's state when it is the one last opened.
    void BttnOpenClick();
    // Saves the configuration, switches bias and chip power off unless "Soft open" is
    // checked, and closes the interface.
    void BttnCloseClick();
    void UpdateOpenCloseButtons();

    // --- Message log --------------------------------------------------------------------
    // Starts an operation group in the message list (each operator action that talks to
    // the interface begins with this).
    void BeginOperation();
    // The report hook's body; runs on the reporting thread under the device lock.
    void LogReport(MpxDevice& handle);
    void BttnClearMsgListClick();
    void ListMsgDblClick();
    // Shows only errors and hands the reading of the interfaces to the monitoring thread,
    // or back to the main timer.
    void ChkbMessagesShowJustErrorsClick();

    // --- Background messages and frames -------------------------------------------------
    // The background hook's body; runs on the draining thread under the device lock. Copies
    // what it needs out of the record and hands it to the GUI thread in order.
    void HandleBackgroundMessage(MpxDevice& handle, MpxCommandResponse& record);
    // Reads a frame into the raw frame and shows it.
    void BttnGetDataClick();
    // Closes the shutter and reads the frame.
    void BttnStopClick();
    // Takes in the frame just written to the raw frame (copied, or added while integrating),
    // switches the view back to "Result" and redraws the image.
    void NewFrame();
    // Marks the image for recomputation (view, statistics, range, histogram, colours),
    // recomputes it and repaints it.
    void RequestImageRedraw();

    // --- Image view and statistics ------------------------------------------------------
    void ComboResultSelect();
    // "Integrate pics": starts a sum of frames, or shows the last single frame again.
    void ChkbSumClick();
    void ChkbRangeAutoClick();
    // Enter in a range box: the typed limits take over from Auto.
    void EditRangeEnter();
    // A range button (RangeButton as int): changes the limits, switches Auto off, redraws.
    void RangeButtonClick(int button);
    // Computes the median of the view (masked pixels included) into its label.
    void LabelMedianClick();

    // --- DAC panel ----------------------------------------------------------------------
    // Shows the selected DAC of the selected chip, or of all chips in use ("..." when they
    // differ), and sets the up-down's maximum to that DAC's.
    void ComboDACSelect();
    // Stores the edit box's value in the selected chip's record, or in every chip's record
    // in use; a value that is not a number within the DAC's range is replaced by the stored
    // one. Sends nothing.
    void EditDACValueExit();
    // Shows the selected chip's DAC value and its sense and bypass selection.
    void ComboChipSelect();
    // Sensing and bypass share one code per chip: choosing a DAC for one moves the other
    // selector to it when that one is in use. Send nothing.
    void ComboSenseDACSelect();
    void ComboBypassDACSelect();
    // With four chips, the numbers and outlines over the image tell where each chip lies.
    void ComboChipDropDown();
    void ComboChipCloseUp();
    void LabelSelChipMouseEnter();
    void LabelSelChipMouseLeave();
    // Sends every chip's DAC record to the interface.
    void BttnSetDACsClick();

    // --- Basic commands -----------------------------------------------------------------
    // Each sends one chip command as its own operation; failures are reported by the device
    // layer and skip the follow-up steps.
    void BttnStartClick();        // opens the shutter; only "Close" stays enabled
    void BttnResetMatrixClick();  // erases the counters; only "Open" stays enabled
    void BttnMPXResetClick();
    void BttnFSRtstClick();
    void BttnPowerOnClick();
    void BttnPowerOffClick();
    void CombPolarityChange();
    void CombTimepixClockSelect();
    // Medipix2: selects FSR0 or FSR1. Timepix: writes the counting mode into every pixel
    // configuration word and sends the matrix (or says it could not, offline).
    void CombSelectFSRModeSelect();
    // Sets every pixel configuration word to 0xFFFF and sends the default matrix.
    void BttnResMaskClick();
    // Loads the pixel configuration from a mask file the operator picks and sends it; the
    // configuration is unchanged when the file cannot be read in full.
    void BttnSetMaskClick();
    // Shows the hardware tester window.
    void BttnTesterClick();

    // --- Controls and state -------------------------------------------------------------
    MainControls ui;
    MessageLog* log = nullptr;  // logEnabled, justErrors, separatorPending, operationCount,
                                // lastReportKind live there
    QTimer* TimerInit = nullptr;
    QTimer* Timer = nullptr;
    QTimer* TimerScope = nullptr;

    MpxDevice device;
    bool hardwareBoxShown = false;
    uint32_t timerTicks = 0;

    std::string openedDeviceName;        // the name last opened or tried, at most 63 characters
    std::atomic<uint32_t> chipCount{0};  // read by the background hook on any thread
    bool isMxr = false;
    bool isTimepix = false;
    int32_t tilesAcross = 0;
    int32_t tilesDown = 0;

    std::array<ChipDacRecord, kMaxChips> dacRecords = InitialDacRecords();
    InterfaceAnalog analog;
    // The frame arrays (raw, counts, result, flat field, pixel configuration) and the view,
    // display range and statistics shown from them.
    FrameStore frames;
    ViewSettings view;
    DisplayRangeControls range;
    RecomputedImage shown;      // statistics and histogram of the last recomputation
    bool recompute = false;     // the image must be recomputed at its next paint
    AutosaveTemplate autosave;
    ScopeViews scope;
    ProcessSettings process;
    bool terminalTimerRunning = false;  // told to the terminal window while the timer works
    // The USB terminal and the hardware tester share `device`; made here once they exist.
    QWidget* terminalWindow = nullptr;
    QWidget* testerWindow = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Start-up.
    void ConnectControls();
    void InstallHooks();
    void RemoveHooks();

    // Timer steps.
    void WatchHardware();
    void DrainBackgroundMessages();
    void PollProcess();

    // Connection steps.
    void CloseOpenDevice();
    void RememberOpenedName(const std::string& name);
    void ShowChipCount(uint8_t n, bool mxr, bool tpx);
    bool SoftOpenRefused(const std::string& description);
    void ResetForNewInterface(uint8_t n, bool mxr, bool tpx);
    void FillDacSelectors();
    void ResetDacRecords();
    void ShowSelectedDac();
    void ShowChipPositions();
    void ShowModeSelector();
    void RunMonitorAsSelected();

    // Background messages, on the GUI thread.
    void TakeBackgroundFrame(const BackgroundItem& item);
    void TakeScopeShot(const BackgroundItem& item);
    void PaintImage(QPainter& painter, const QRect& area);
    void ConnectImageView();
    void RecomputeImageIfFlagged();
    void ShowRangeTexts();
    void ShowStatistics();
    void PaintHistogram(QPainter& painter, const QRect& area);

    // Entries that later features fill; until then they do nothing (or report failure).
    bool LoadConfiguration(bool interactive);
    void SaveConfiguration(bool interactive);
    void ShowActionSets();
    void ActionSetsFromMenus();
    void PollProcessState();
    void BttnInterfaceADCreadClick();
    void ShowInTerminal(const QString& line);
    void CloseOtherWindows();
    void DropDisplayBitmap();

    // DAC panel.
    void ConnectDacPanel();
    // The records the chip selector stands for: every chip in use, or the one selected.
    std::span<ChipDacRecord> SelectedDacRecords();
    void SenseOrBypassSelect(bool bypass);
    void ShowChipMarks(bool numbers, bool shapes);

    // Basic commands.
    void ConnectBasicCommands();
    // Runs `command` on the cleared handle; on success reports "\"name\" executed in ... sec".
    bool RunTimed(const char* name, const std::function<bool(MpxDevice&)>& command);
    // As its own operation, sends the pixel configuration words (the default matrix when
    // `defaults`), timed as `timedName` unless that is nullptr; offline, reports
    // `offlineText` instead. Then redraws the image.
    void SendPixelConfig(const char* timedName, bool defaults, const char* offlineText);

    std::string stateDeviceName_;  // the interface whose chips the window's state describes
    std::vector<uint32_t> imagePixels_;  // the coloured image, geometry-sized, 0xFFRRGGBB
};

// The one main window, set by its constructor and cleared by its destructor; the report
// and background hooks reach the window through it.
extern TFormUlvarin* FormUlvarin;

}  // namespace ulvarin
