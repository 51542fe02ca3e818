#include "panels/dac_panel/dac_panel.h"

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "base/number_text.h"
#include "device/chip_commands.h"
#include "panels/dac_panel/dac_table.h"
#include "panels/shared/window_shared.h"
#include "widgets/drop_down_combo.h"
#include "widgets/event_watch.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

constexpr int kSenseCodes = 16;

// The DAC the selector names; with none selected, or an index past the table, the last slot.
int ShownDacIndex(int item) {
    return item >= 0 && item < kDacSlots ? item : kDacSlots - 1;
}

}  // namespace

DacPanel::DacPanel(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelMpxDACs"));
    BuildControls();
    ConnectControls();
}

DacPanel::~DacPanel() {
    TearDownControls(this);
}

void DacPanel::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGroup(MpxDacsGroup(), this));
    ComboDAC = FindControl<DropDownCombo>(this, "ComboDAC");
    ComboChip = FindControl<DropDownCombo>(this, "ComboChip");
    ComboSenseDAC = FindControl<DropDownCombo>(this, "ComboSenseDAC");
    ComboBypassDAC = FindControl<DropDownCombo>(this, "ComboBypassDAC");
    EditDACValue = FindControl<QLineEdit>(this, "EditDACValue");
    UpDownDACValue = FindControl<UpDown>(this, "UpDownDACValue");
    BttnSetDACs = FindControl<QPushButton>(this, "BttnSetDACs");
    LabelSelChip = FindControl<QLabel>(this, "LabelSelChip");
    BttnSetDACs->setShortcut(QKeySequence(Qt::Key_F9));
    BttnSetDACs->setToolTip(BttnSetDACs->toolTip() + QStringLiteral(" (F9)"));
}

void DacPanel::ConnectControls() {
    connect(ComboDAC, &QComboBox::activated, this, &DacPanel::ComboDACSelect);
    // Typing stores at once; leaving the box restores a value left invalid.
    connect(EditDACValue, &QLineEdit::textEdited, this, &DacPanel::EditDACValueExit);
    connect(EditDACValue, &QLineEdit::editingFinished, this, &DacPanel::EditDACValueExit);
    connect(UpDownDACValue, &UpDown::changing, this, &DacPanel::StepDacValue, Qt::DirectConnection);
    connect(UpDownDACValue, &UpDown::positionChanged, this, &DacPanel::EditDACValueExit);
    StepUpDownFromBox(EditDACValue, UpDownDACValue);
    connect(ComboChip, &QComboBox::activated, this, &DacPanel::ComboChipSelect);
    connect(ComboChip, &DropDownCombo::dropDown, this, &DacPanel::ComboChipDropDown);
    connect(ComboChip, &DropDownCombo::closeUp, this, &DacPanel::ComboChipCloseUp);
    connect(ComboSenseDAC, &QComboBox::activated, this, &DacPanel::ComboSenseDACSelect);
    connect(ComboBypassDAC, &QComboBox::activated, this, &DacPanel::ComboBypassDACSelect);
    connect(BttnSetDACs, &QPushButton::clicked, this, &DacPanel::BttnSetDACsClick);
    OnEvent(LabelSelChip, QEvent::Enter, [this] { LabelSelChipMouseEnter(); });
    OnEvent(LabelSelChip, QEvent::Leave, [this] { LabelSelChipMouseLeave(); });
    connect(&shared_, &WindowShared::interfaceReset, this, &DacPanel::ResetForInterface);
    connect(&shared_, &WindowShared::interfaceSettingsSent, this,
            [this](const SentSettings& settings) {
                if (settings.chipDacs) ComboChipSelect();
            });
}

// The arrows step from the value the records hold for the selection, which typing may
// have changed since the up-down last moved.
void DacPanel::StepDacValue(UpDown::Change* change) {
    const std::span<ChipDacRecord> records = SelectedDacRecords();
    const int d = ShownDacIndex(ComboDAC->currentIndex());
    const int stored = records.empty() ? shared_.dacRecords[0].dac[d] : records.front().dac[d];
    UpDownDACValue->SetPosition(stored);
    change->newPosition = stored + (change->direction == UpDown::Direction::Up     ? 1
                                    : change->direction == UpDown::Direction::Down ? -1
                                                                                   : 0);
}

void DacPanel::ResetForInterface() {
    ComboChip->setEnabled(shared_.chipCount > 1);
    ComboChip->setCurrentIndex(0);
    FillDacSelectors();
    ResetDacRecords();
    ShowSelectedDac();
}

void DacPanel::FillDacSelectors() {
    ComboDAC->clear();
    for (int i = 0; i < DacCount(shared_.device); ++i) {
        const QString name = QString::fromUtf8(DacName(shared_.device, i));
        ComboDAC->addItem(name);
    }
    const int selected = shared_.isMxr ? 6 : 8;
    ComboDAC->setCurrentIndex(selected);
    for (DropDownCombo* combo : {ComboBypassDAC, ComboSenseDAC}) {
        combo->clear();
        combo->addItem(QStringLiteral("(none)"));
        for (int code = 0; code < kSenseCodes; ++code)
            combo->addItem(QString::fromUtf8(SenseDacName(shared_.device, code)));
    }
    ComboBypassDAC->setCurrentIndex(0);
    ComboSenseDAC->setCurrentIndex(shared_.isMxr ? 7 : 12);
}

void DacPanel::ResetDacRecords() {
    const ChipType type = shared_.Type();
    for (ChipDacRecord& record : shared_.dacRecords) {
        for (int i = 0; i < kDacSlots; ++i) record.dac[i] = DacDefaultOf(type, i);
        record.senseEnabled = 1;
        record.bypassEnabled = 0;
        record.senseCode = shared_.isMxr ? 6 : 11;
        if (shared_.isMxr) record.testPulseWord = 0;  // Medipix2 records keep their word
    }
}

void DacPanel::ShowSelectedDac() {
    const int d = ComboDAC->currentIndex();
    if (d < 0 || d >= kDacSlots) return;
    UpDownDACValue->SetMaximum(DacMaxValue(shared_.device, d));
    UpDownDACValue->SetPosition(shared_.dacRecords[0].dac[d]);
    EditDACValue->setText(QString::number(shared_.dacRecords[0].dac[d]));
}

// Item 0 ("All") stands for every chip in use; item k for chip k - 1. With no item selected
// the selector counts as "All", so no record outside the four is ever addressed.
std::span<ChipDacRecord> DacPanel::SelectedDacRecords() {
    const int item = ComboChip->currentIndex();
    if (item >= 1 && item <= kMaxChips)
        return {&shared_.dacRecords[static_cast<size_t>(item - 1)], 1};
    return shared_.ChipRecords();
}

void DacPanel::ShowDac(int index) {
    ComboDAC->setCurrentIndex(index);
    ComboDACSelect();
}

int DacPanel::ChipItem() const {
    return std::max(0, ComboChip->currentIndex());
}

void DacPanel::ComboDACSelect() {
    const int d = ShownDacIndex(ComboDAC->currentIndex());
    UpDownDACValue->SetMaximum(DacMaxValue(shared_.device, d));
    const std::span<const ChipDacRecord> records = SelectedDacRecords();
    const uint16_t value = records.empty() ? shared_.dacRecords[0].dac[d] : records.front().dac[d];
    const bool same = std::all_of(records.begin(), records.end(),
                                  [&](const ChipDacRecord& r) { return r.dac[d] == value; });
    // The up-down writes its position into the box, so it goes first.
    UpDownDACValue->SetPosition(value);
    EditDACValue->setText(same ? QString::number(value) : QStringLiteral("..."));
}

void DacPanel::EditDACValueExit() {
    const int d = ComboDAC->currentIndex();
    if (d < 0 || d >= kDacSlots) return;
    const std::optional<int> value = LeadingInteger(EditDACValue->text().toStdString());
    if (!value || *value < 0 || *value > DacMaxValue(shared_.device, d)) {
        ComboDACSelect();  // puts the stored value back
        return;
    }
    for (ChipDacRecord& record : SelectedDacRecords())
        record.dac[d] = static_cast<uint16_t>(*value);
}

void DacPanel::ComboChipSelect() {
    ComboDACSelect();
    const std::span<const ChipDacRecord> records = SelectedDacRecords();
    const ChipDacRecord& first = records.empty() ? shared_.dacRecords[0] : records.front();
    // The selector shows the shared code when every chip selected uses it the same way.
    const auto itemFor = [&](uint8_t ChipDacRecord::*enabled) {
        const bool agree = std::all_of(records.begin(), records.end(), [&](const auto& r) {
            return r.senseCode == first.senseCode && r.*enabled == first.*enabled;
        });
        return agree && first.*enabled != 0 ? first.senseCode + 1 : 0;
    };
    ComboSenseDAC->setCurrentIndex(itemFor(&ChipDacRecord::senseEnabled));
    ComboBypassDAC->setCurrentIndex(itemFor(&ChipDacRecord::bypassEnabled));
    emit chipSelected(ComboChip->currentIndex());
}

void DacPanel::ComboSenseDACSelect() {
    SenseOrBypassSelect(false);
}

void DacPanel::ComboBypassDACSelect() {
    SenseOrBypassSelect(true);
}

// Sensing and bypass share the chip's one code: choosing a DAC for one while the other is
// in use moves the other to the same DAC. "(none)" clears the flag and keeps the code.
void DacPanel::SenseOrBypassSelect(bool bypass) {
    DropDownCombo* own = bypass ? ComboBypassDAC : ComboSenseDAC;
    DropDownCombo* other = bypass ? ComboSenseDAC : ComboBypassDAC;
    uint8_t ChipDacRecord::*ownFlag =
        bypass ? &ChipDacRecord::bypassEnabled : &ChipDacRecord::senseEnabled;
    uint8_t ChipDacRecord::*otherFlag =
        bypass ? &ChipDacRecord::senseEnabled : &ChipDacRecord::bypassEnabled;
    int code = own->currentIndex() - 1;
    if (code >= kSenseCodes) code = 0;
    const std::span<ChipDacRecord> records = SelectedDacRecords();
    for (ChipDacRecord& record : records) {
        record.*ownFlag = code >= 0 ? 1 : 0;
        if (code >= 0) record.senseCode = static_cast<uint8_t>(code);
    }
    if (code < 0) return;
    const bool allChips = ComboChip->currentIndex() <= 0;
    const bool otherInUse =
        allChips ? other->currentIndex() != 0 : !records.empty() && records.front().*otherFlag != 0;
    if (otherInUse) other->setCurrentIndex(code + 1);
}

// The marks only help when four chips share the image.
void DacPanel::ComboChipDropDown() {
    if (shared_.chipCount == 4) emit chipMarksWanted(true, true);
}

void DacPanel::ComboChipCloseUp() {
    emit chipMarksWanted(false, false);
}

// Outlines the chips the selector stands for.
void DacPanel::LabelSelChipMouseEnter() {
    if (shared_.chipCount == 4) emit chipOutlineWanted(std::max(0, ComboChip->currentIndex()));
}

void DacPanel::LabelSelChipMouseLeave() {
    emit chipMarksWanted(false, false);
}

void DacPanel::BttnSetDACsClick() {
    shared_.BeginOperation();
    shared_.RunTimed("Set DACs", [this](MpxDevice& handle) {
        return SetChipDacs(handle, shared_.dacRecords.data(), 0);  // 0: every chip of the interface
    });
}

}  // namespace ulvarin
