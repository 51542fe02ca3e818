// The "Basic commands" group: shutter, read-out and erase, chip reset, FSR test, power,
// polarity, the FSR or Timepix mode, the Timepix clock, the pixel configuration masks and
// the tester window. Each command is its own operation in the message list; failures are
// reported by the device layer and skip the follow-up steps.
#pragma once

#include <QWidget>
#include <string>

class QLabel;
class QPushButton;

namespace ulvarin {

class DropDownCombo;
class WindowShared;

class BasicCommands : public QWidget {
    Q_OBJECT
public:
    BasicCommands(WindowShared& shared, QWidget* parent);

    void BttnStartClick();  // opens the shutter; only "Close" stays enabled
    // Closes the shutter and reads the frame.
    void BttnStopClick();
    // Reads a frame into the raw frame and shows it.
    void BttnGetDataClick();
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
    // Asks for the hardware tester window.
    void BttnTesterClick();

    // Chooses item `mode` of the mode selector and applies it as the operator would. -1
    // (nothing chosen) is shown and sends nothing; an item the selector does not have is
    // ignored.
    void ChooseMode(int mode);
    int ModeItem() const;

    // --- for the configuration file ----------------------------------------------------
    // "Positive" or "Negative".
    std::string PolarityText() const;
    // Shows the polarity; sends nothing.
    void ShowPolarity(bool negative);
    // Shows item `mode` of the mode selector (-1: nothing chosen) and sends nothing; false,
    // with nothing shown, for an item the selector does not have.
    bool ShowMode(int mode);

signals:
    void testerRequested();

private:
    void BuildControls();
    void ConnectControls();
    // A new interface: the mode selector and the clock of its chip type.
    void ResetForInterface();
    void ShowShutter(bool open);
    // As its own operation, sends the pixel configuration words (the default matrix when
    // `defaults`), timed as `timedName` unless that is nullptr; offline, reports
    // `offlineText` instead. Then redraws the image.

    WindowShared& shared_;
    QLabel* LabelFSRMode = nullptr;
    DropDownCombo* CombSelectFSRMode = nullptr;
    DropDownCombo* CombTimepixClock = nullptr;
    DropDownCombo* CombPolarity = nullptr;
    QPushButton* BttnStart = nullptr;
    QPushButton* BttnStop = nullptr;
};

}  // namespace ulvarin
