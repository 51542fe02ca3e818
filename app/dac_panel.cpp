// The "Medipix DACs" group: one DAC of one chip (or of all chips) shown and edited, the
// sense and bypass selection, the chip position marks over the image, and "Set DACs".
// Editing changes the window's DAC records only; "Set DACs" sends them.
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <optional>

#include "app/drop_down_combo.h"
#include "app/paint_box.h"
#include "app/program.h"
#include "app/up_down.h"
#include "device/chip_commands.h"

namespace ulvarin {
namespace {

constexpr int kSenseCodes = 16;

// The DAC the selector names; with none selected, or an index past the table, the last slot.
int ShownDacIndex(int item) {
    return item >= 0 && item < kDacSlots ? item : kDacSlots - 1;
}

// The number at the start of `text` as "%d" reads it (leading white space, a sign, decimal
// digits; whatever follows is ignored). Numbers beyond int come back as INT_MAX or INT_MIN
// rather than overflowing.
std::optional<int> LeadingInteger(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const char* start = bytes.constData();
    char* end = nullptr;
    const long value = std::strtol(start, &end, 10);
    if (end == start) return std::nullopt;
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// Calls back when the mouse enters or leaves the watched widget.
class HoverWatch : public QObject {
public:
    HoverWatch(QObject* parent, std::function<void()> onEnter, std::function<void()> onLeave)
        : QObject(parent), onEnter_(std::move(onEnter)), onLeave_(std::move(onLeave)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Enter) onEnter_();
        if (event->type() == QEvent::Leave) onLeave_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onEnter_;
    std::function<void()> onLeave_;
};

}  // namespace

void TFormUlvarin::ConnectDacPanel() {
    connect(ui.ComboDAC, &QComboBox::activated, this, &TFormUlvarin::ComboDACSelect);
    // Typing stores at once; leaving the box restores a value left invalid.
    connect(ui.EditDACValue, &QLineEdit::textEdited, this, &TFormUlvarin::EditDACValueExit);
    connect(ui.EditDACValue, &QLineEdit::editingFinished, this, &TFormUlvarin::EditDACValueExit);
    // The arrows step from the value the records hold for the selection, which typing may
    // have changed since the up-down last moved.
    connect(
        ui.UpDownDACValue, &UpDown::changing, this,
        [this](UpDown::Change* change) {
            const std::span<ChipDacRecord> records = SelectedDacRecords();
            const int d = ShownDacIndex(ui.ComboDAC->currentIndex());
            const int stored = records.empty() ? dacRecords[0].dac[d] : records.front().dac[d];
            ui.UpDownDACValue->SetPosition(stored);
            change->newPosition = stored + (change->direction == UpDown::Direction::Up     ? 1
                                            : change->direction == UpDown::Direction::Down ? -1
                                                                                           : 0);
        },
        Qt::DirectConnection);
    connect(ui.UpDownDACValue, &UpDown::positionChanged, this, &TFormUlvarin::EditDACValueExit);
    connect(ui.ComboChip, &QComboBox::activated, this, &TFormUlvarin::ComboChipSelect);
    connect(ui.ComboChip, &DropDownCombo::dropDown, this, &TFormUlvarin::ComboChipDropDown);
    connect(ui.ComboChip, &DropDownCombo::closeUp, this, &TFormUlvarin::ComboChipCloseUp);
    connect(ui.ComboSenseDAC, &QComboBox::activated, this, &TFormUlvarin::ComboSenseDACSelect);
    connect(ui.ComboBypassDAC, &QComboBox::activated, this, &TFormUlvarin::ComboBypassDACSelect);
    connect(ui.BttnSetDACs, &QPushButton::clicked, this, &TFormUlvarin::BttnSetDACsClick);
    ui.LabelSelChip->installEventFilter(new HoverWatch(
        this, [this] { LabelSelChipMouseEnter(); }, [this] { LabelSelChipMouseLeave(); }));
}

// Item 0 ("All") stands for every chip in use; item k for chip k - 1. With no item selected
// the selector counts as "All", so no record outside the four is ever addressed.
std::span<ChipDacRecord> TFormUlvarin::SelectedDacRecords() {
    const int item = ui.ComboChip->currentIndex();
    if (item >= 1 && item <= kMaxChips) return {&dacRecords[static_cast<size_t>(item - 1)], 1};
    return {dacRecords.data(), std::min<size_t>(chipCount, kMaxChips)};
}

void TFormUlvarin::ComboDACSelect() {
    const int d = ShownDacIndex(ui.ComboDAC->currentIndex());
    ui.UpDownDACValue->SetMaximum(DacMaxValue(device, d));
    const std::span<const ChipDacRecord> records = SelectedDacRecords();
    const uint16_t value = records.empty() ? dacRecords[0].dac[d] : records.front().dac[d];
    const bool same = std::all_of(records.begin(), records.end(),
                                  [&](const ChipDacRecord& r) { return r.dac[d] == value; });
    // The up-down writes its position into the box, so it goes first.
    ui.UpDownDACValue->SetPosition(value);
    ui.EditDACValue->setText(same ? QString::number(value) : QStringLiteral("..."));
}

void TFormUlvarin::EditDACValueExit() {
    const int d = ui.ComboDAC->currentIndex();
    if (d < 0 || d >= kDacSlots) return;
    const std::optional<int> value = LeadingInteger(ui.EditDACValue->text());
    if (!value || *value < 0 || *value > DacMaxValue(device, d)) {
        ComboDACSelect();  // puts the stored value back
        return;
    }
    for (ChipDacRecord& record : SelectedDacRecords())
        record.dac[d] = static_cast<uint16_t>(*value);
}

void TFormUlvarin::ComboChipSelect() {
    ComboDACSelect();
    const std::span<const ChipDacRecord> records = SelectedDacRecords();
    const ChipDacRecord& first = records.empty() ? dacRecords[0] : records.front();
    // The selector shows the shared code when every chip selected uses it the same way.
    const auto itemFor = [&](uint8_t ChipDacRecord::*enabled) {
        const bool agree = std::all_of(records.begin(), records.end(), [&](const auto& r) {
            return r.senseCode == first.senseCode && r.*enabled == first.*enabled;
        });
        return agree && first.*enabled != 0 ? first.senseCode + 1 : 0;
    };
    ui.ComboSenseDAC->setCurrentIndex(itemFor(&ChipDacRecord::senseEnabled));
    ui.ComboBypassDAC->setCurrentIndex(itemFor(&ChipDacRecord::bypassEnabled));
    if (scope.historyHoldsScan) {
        scope.historyIndex = ui.ComboChip->currentIndex();
        ui.PaintBoxPulse->update();
    }
}

void TFormUlvarin::ComboSenseDACSelect() {
    SenseOrBypassSelect(false);
}

void TFormUlvarin::ComboBypassDACSelect() {
    SenseOrBypassSelect(true);
}

// Sensing and bypass share the chip's one code: choosing a DAC for one while the other is
// in use moves the other to the same DAC. "(none)" clears the flag and keeps the code.
void TFormUlvarin::SenseOrBypassSelect(bool bypass) {
    DropDownCombo* own = bypass ? ui.ComboBypassDAC : ui.ComboSenseDAC;
    DropDownCombo* other = bypass ? ui.ComboSenseDAC : ui.ComboBypassDAC;
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
    const bool allChips = ui.ComboChip->currentIndex() <= 0;
    const bool otherInUse =
        allChips ? other->currentIndex() != 0 : !records.empty() && records.front().*otherFlag != 0;
    if (otherInUse) other->setCurrentIndex(code + 1);
}

void TFormUlvarin::ShowChipMarks(bool numbers, bool shapes) {
    for (int i = 0; i < 4; ++i) {
        ui.numberLabels[static_cast<size_t>(i)]->setVisible(numbers);
        ui.numberShapes[static_cast<size_t>(i)]->setVisible(shapes);
    }
}

// The marks only help when four chips share the image.
void TFormUlvarin::ComboChipDropDown() {
    if (chipCount == 4) ShowChipMarks(true, true);
}

void TFormUlvarin::ComboChipCloseUp() {
    ShowChipMarks(false, false);
}

// Outlines the chips the selector stands for. A quadrant's number label names the chip the
// image shows there, which is not the quadrant's position on every chip type.
void TFormUlvarin::LabelSelChipMouseEnter() {
    if (chipCount != 4) return;
    const int item = ui.ComboChip->currentIndex();
    for (size_t i = 0; i < 4; ++i) {
        const bool selected = item <= 0 || ui.numberLabels[i]->text() == QString::number(item);
        ui.numberShapes[i]->setVisible(selected);
    }
}

void TFormUlvarin::LabelSelChipMouseLeave() {
    for (QFrame* shape : ui.numberShapes) shape->hide();
}

void TFormUlvarin::BttnSetDACsClick() {
    BeginOperation();
    RunTimed("Set DACs", [this](MpxDevice& handle) {
        return SetChipDacs(handle, dacRecords.data(), 0);  // 0: every chip of the interface
    });
}

}  // namespace ulvarin
