// The main window's widgets: built from the control tables and placed in three columns
// (image, chip and interface controls, processes and views) under the device bar, with the
// message list at the bottom. Other code finds controls by their objectName; the ones the
// shell itself uses are collected here.
#pragma once

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMainWindow;
class QPushButton;
class QWidget;

namespace ulvarin {

class DropDownCombo;
class PaintBox;
class UpDown;

constexpr int kImageSide = 512;

struct MainControls {
    DropDownCombo* ComboDeviceName = nullptr;
    QPushButton* BttnOpen = nullptr;
    QPushButton* BttnClose = nullptr;
    QCheckBox* ChkbSoftOpen = nullptr;
    QLabel* LabelNumChips = nullptr;
    QPushButton* BttnSaveCfg = nullptr;
    QPushButton* BttnLoadConfig = nullptr;

    DropDownCombo* ComboDAC = nullptr;
    DropDownCombo* ComboChip = nullptr;
    DropDownCombo* ComboSenseDAC = nullptr;
    DropDownCombo* ComboBypassDAC = nullptr;
    DropDownCombo* CombScanDAC = nullptr;
    QLineEdit* EditDACValue = nullptr;
    UpDown* UpDownDACValue = nullptr;
    QPushButton* BttnSetDACs = nullptr;
    QLabel* LabelSelChip = nullptr;

    QLabel* LabelFSRMode = nullptr;
    DropDownCombo* CombSelectFSRMode = nullptr;
    DropDownCombo* CombTimepixClock = nullptr;
    QPushButton* BttnStart = nullptr;
    QPushButton* BttnStop = nullptr;
    QPushButton* BttnGetData = nullptr;
    QPushButton* BttnResetMatrix = nullptr;
    QPushButton* BttnMPXReset = nullptr;
    QPushButton* BttnFSRtst = nullptr;
    QPushButton* BttnSetMask = nullptr;
    QPushButton* BttnResMask = nullptr;
    QPushButton* BttnPowerOn = nullptr;
    QPushButton* BttnPowerOff = nullptr;
    QPushButton* BttnTester = nullptr;
    DropDownCombo* CombPolarity = nullptr;

    QCheckBox* ChkbSum = nullptr;
    QComboBox* ComboResult = nullptr;
    QLineEdit* EditRangeMin = nullptr;
    QLineEdit* EditRangeMax = nullptr;
    QCheckBox* ChkbRangeAuto = nullptr;
    // "-", "+", "<<", ">>": wider, narrower, down, up.
    std::array<QPushButton*, 4> rangeButtons{};
    QLabel* LabelRange = nullptr;
    QLabel* LabelSum = nullptr;
    QLabel* LabelAverage = nullptr;
    QLabel* LabelStdDev = nullptr;
    QLabel* LabelMedian = nullptr;
    QLabel* LabelTime = nullptr;
    QCheckBox* ChkbInterfaceADCread = nullptr;
    DropDownCombo* CombProcessTemplate = nullptr;
    // The source buttons that show the action sets, in source order (Manual first).
    std::array<QPushButton*, 6> actionButtons{};

    QListWidget* ListMsg = nullptr;
    QCheckBox* ChkbMessagesShowJustErrors = nullptr;
    QPushButton* BttnClearMsgList = nullptr;

    PaintBox* PaintBoxBitmap = nullptr;
    PaintBox* PaintBoxHistogram = nullptr;
    PaintBox* PaintBoxScope = nullptr;
    PaintBox* PaintBoxPulse = nullptr;
    PaintBox* PaintBoxSpectrum = nullptr;

    // Over the image quadrants, index 0 = chip position 1 (upper right).
    std::array<QLabel*, 4> numberLabels{};
    std::array<QFrame*, 4> numberShapes{};

    // Controls whose behaviour is still to come; they stay disabled until then.
    std::vector<QWidget*> notYetWorking;
};

// Builds every control into `window` and returns the ones the shell works with.
MainControls BuildMainLayout(QMainWindow* window);

}  // namespace ulvarin
