// The "Medipix DACs" group: one DAC of one chip (or of all chips) shown and edited, the
// sense and bypass selection, and "Set DACs". Editing changes the shared DAC records only;
// "Set DACs" sends them.
#pragma once

#include <QWidget>
#include <span>

#include "device/dac_tables.h"
#include "widgets/up_down.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace ulvarin {

class DropDownCombo;
class WindowShared;

class DacPanel : public QWidget {
    Q_OBJECT
public:
    DacPanel(WindowShared& shared, QWidget* parent);
    ~DacPanel() override;

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
    // Shows chip 1's value of the selected DAC (after the records changed as a whole).
    void ShowSelectedDac();
    // Selects DAC `index` and shows its value (a scan shows the DAC it scans).
    void ShowDac(int index);
    // The chip selector's item: 0 for all chips, k for chip k.
    int ChipItem() const;

signals:
    // Chip numbers and outlines over the image: shown while the chip list is open.
    void chipMarksWanted(bool numbers, bool outlines);
    // Outline the chips of selector item `item` (0: all, k: chip k).
    void chipOutlineWanted(int item);
    // The operator chose item `item` of the chip selector.
    void chipSelected(int item);

private:
    void BuildControls();
    void ConnectControls();
    // A new interface: its DAC names, sense codes and default records.
    void ResetForInterface();
    void FillDacSelectors();
    void ResetDacRecords();
    void StepDacValue(UpDown::Change* change);
    // The records the chip selector stands for: every chip in use, or the one selected.
    std::span<ChipDacRecord> SelectedDacRecords();
    void SenseOrBypassSelect(bool bypass);

    WindowShared& shared_;
    DropDownCombo* ComboDAC = nullptr;
    DropDownCombo* ComboChip = nullptr;
    DropDownCombo* ComboSenseDAC = nullptr;
    DropDownCombo* ComboBypassDAC = nullptr;
    QLineEdit* EditDACValue = nullptr;
    UpDown* UpDownDACValue = nullptr;
    QPushButton* BttnSetDACs = nullptr;
    QLabel* LabelSelChip = nullptr;
};

}  // namespace ulvarin
