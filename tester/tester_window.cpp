#include "tester/tester_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <string>

#include "device/chip_commands.h"
#include "device/device.h"
#include "device/interface_commands.h"
#include "tester/hex_text.h"
#include "widgets/control_table.h"
#include "widgets/dialogs.h"
#include "widgets/paint_box.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

constexpr int kDacMaximum = 4095;
constexpr int kBiasMaximum = 255;

QString HexByteText(uint8_t value) {
    return QString::asprintf("0x%02X", value);
}

Cell Check(const char* name, const char* text, bool enabled = true) {
    return {.kind = Kind::Check, .name = name, .text = text, .enabled = enabled};
}

Cell Button(const char* name, const char* text, bool enabled = true) {
    return {.kind = Kind::Button, .name = name, .text = text, .enabled = enabled};
}

const GroupTable& CmosGroup() {
    static const GroupTable kTable{
        "GroupCMOSpins",
        "CMOS pins",
        {{{{.kind = Kind::EditList,
            .name = "ComboCMOSpins",
            .text = "0x00",
            .items = {"0x00", "0x55", "0xAA", "0x03", "0x0C", "0x0F", "0x30", "0x33", "0x3C",
                      "0x3F", "0xC0", "0xC3", "0xCC", "0xCF", "0xF0", "0xF3", "0xFC", "0xFF"},
            .span = 8}},
          {Check("ChkbCMOSbit7", "7"), Check("ChkbCMOSbit6", "6"), Check("ChkbCMOSbit5", "5"),
           Check("ChkbCMOSbit4", "4"), Check("ChkbCMOSbit3", "3"), Check("ChkbCMOSbit2", "2"),
           Check("ChkbCMOSbit1", "1"), Check("ChkbCMOSbit0", "0")}}}};
    return kTable;
}

const GroupTable& LvdsGroup() {
    static const GroupTable kTable{
        "GroupLVDS",
        "LVDS test",
        {{{{.kind = Kind::EditList,
            .name = "ComboLVDSdata",
            .text = "0x00",
            .items = {"0x00", "0x55", "0xAA", "0xFF"}},
           Button("BttnLVDSsend", "Send")},
          {Check("ChkbLVDSpolarity", "Positive polarity"),
           Check("ChkbLVDSphase", "Positive phase")},
          {Check("ChkbLVDSenableIn", "Enable In"), Check("ChkbLVDSenableOut", "Enable Out")},
          {LabelCell("Received:"),
           {.kind = Kind::Label, .name = "PanelLVDSdata", .text = "---"}}}}};
    return kTable;
}

const GroupTable& I2cGroup() {
    static const GroupTable kTable{
        "GroupI2C",
        "I2C (PLL)",
        {{{{.kind = Kind::List,
            .name = "ComboI2C",
            .items = {"0x00", "0x01", "0x02", "0x03"},
            .selected = 0,
            .span = 3}},
          {LabelCell("Write:"), Check("ChkbSDA", "SDA"), Check("ChkbSCL", "SCL")},
          {LabelCell("Read:"), Check("ChkbSDAread", "SDA"), Check("ChkbSCLread", "SCL")}}}};
    return kTable;
}

const GroupTable& PowerGroup() {
    static const GroupTable kTable{
        "GroupPower",
        "MPX Power",
        {{{Button("BttnPowerON", "ON"), Button("BttnPowerOFF", "OFF")},
          {{.kind = Kind::Button, .name = "BttnRefresh", .text = "Refresh All", .span = 2}}}}};
    return kTable;
}

const GroupTable& MessageGroup() {
    static const GroupTable kTable{
        "GroupMsgBox",
        "Custom message box:",
        {{{{.kind = Kind::Edit, .name = "EditMsgBox", .text = "This is the message.", .span = 3}},
          {Button("BttnMsgBox", "Use"), Check("ChkbMsgOKcancel", "OK/Cancel"),
           Check("ChkbMsgYesNo", "Yes/No")}}}};
    return kTable;
}

// Laid out for scripts the tester does not run yet: present but disabled.
const Grid& ScriptButtons() {
    static const Grid kGrid{{Button("BttnSave", "Save", false), Button("BttnLoad", "Load", false),
                             Button("BttnRunScript", "Run Script", false),
                             Button("BttnClear", "Clear", false),
                             Check("ChkbRecord", "Record", false)}};
    return kGrid;
}

// Shows `text` in an editable list, on its item when it has one: the list then takes the
// text as chosen already and does not choose it again when focus leaves.
void ShowText(QComboBox* combo, const QString& text) {
    const int item = combo->findText(text);
    if (item >= 0) combo->setCurrentIndex(item);
    combo->setEditText(text);
}

// A check box that only shows a state the interface reported.
void MakeDisplayOnly(QCheckBox* box) {
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
}

// Runs an action when the operator moves focus from a control to another control of the
// window (mouse, Tab or a shortcut). Not when the window itself loses activation or the
// control's own list drops down, which would repeat the action (and any box it shows) at
// every switch between windows, nor when the window is hidden or torn down.
class ExitWatch : public QObject {
public:
    ExitWatch(QObject* parent, std::function<void()> action)
        : QObject(parent), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
                action_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> action_;
};

void OnExit(QWidget* control, std::function<void()> action) {
    control->installEventFilter(new ExitWatch(control, std::move(action)));
}

}  // namespace

TUlvarinTester::TUlvarinTester(MpxDevice& device, QWidget* owner)
    : QWidget(owner, Qt::Window), device_(device) {
    setObjectName(QStringLiteral("UlvarinTester"));
    setWindowTitle(QString::fromUtf8(kTesterWindowCaption));
    BuildControls();
    ConnectControls();
}

// Focus and edits that end while the controls are torn down must not run a handler.
TUlvarinTester::~TUlvarinTester() {
    for (QWidget* control : findChildren<QWidget*>()) control->blockSignals(true);
}

namespace {

QSlider* MakeTrackBar(QWidget* parent, const char* name, int maximum, int tick) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromUtf8(name));
    bar->setRange(0, maximum);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(tick);
    bar->setPageStep(tick);
    bar->setMinimumWidth(200);
    return bar;
}

// One row of the DAC group: caption, track bar, and the edit box with its up-down.
void AddTrackRow(QGridLayout* layout, int row, const char* caption, const char* barName,
                 const char* editName, const char* upDownName, int maximum, int tick) {
    QWidget* parent = layout->parentWidget();
    layout->addWidget(new QLabel(QString::fromUtf8(caption), parent), row, 0);
    layout->addWidget(MakeTrackBar(parent, barName, maximum, tick), row, 1);
    layout->addWidget(MakeControl({.kind = Kind::EditUpDown,
                                   .name = editName,
                                   .text = "0",
                                   .upDown = upDownName,
                                   .maximum = maximum},
                                  parent),
                      row, 2);
}

QGroupBox* MakeDacGroup(QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("DACs"), parent);
    group->setObjectName(QStringLiteral("GroupDACs"));
    auto* layout = new QGridLayout(group);
    AddTrackRow(layout, 0, "DAC0", "TrackBarDAC0", "EditDAC0", "UpDownDAC0", kDacMaximum, 128);
    AddTrackRow(layout, 1, "DAC1", "TrackBarDAC1", "EditDAC1", "UpDownDAC1", kDacMaximum, 128);
    AddTrackRow(layout, 2, "BIAS", "TrackBarBIAS", "EditBIAS", "UpDownBIAS", kBiasMaximum, 8);
    return group;
}

QWidget* MakeScriptArea(QWidget* parent) {
    auto* area = new QWidget(parent);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* memo = new QPlainTextEdit(area);
    memo->setObjectName(QStringLiteral("MemoScript"));
    memo->setEnabled(false);
    layout->addWidget(memo, 1);
    PaintBox* paint = MakePaintBox(area, "PaintBoxScript", "", 80);
    paint->setEnabled(false);
    layout->addWidget(paint);
    layout->addWidget(MakeGridPanel(area, "PanelScriptButtons", ScriptButtons()));
    return area;
}

}  // namespace

void TUlvarinTester::BuildControls() {
    auto* lines = new QVBoxLayout;
    for (const GroupTable* table : {&CmosGroup(), &LvdsGroup(), &I2cGroup()})
        lines->addWidget(MakeGroup(*table, this));
    lines->addStretch(1);

    auto* analog = new QVBoxLayout;
    analog->addWidget(MakeDacGroup(this));
    analog->addWidget(MakeGroup(PowerGroup(), this));
    analog->addWidget(MakeGroup(MessageGroup(), this));
    analog->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(lines);
    layout->addLayout(analog);
    layout->addWidget(MakeScriptArea(this), 1);

    ComboCMOSpins = FindControl<QComboBox>(this, "ComboCMOSpins");
    ComboLVDSdata = FindControl<QComboBox>(this, "ComboLVDSdata");
    // Typed numbers are sent, not added to the lists.
    for (QComboBox* combo : {ComboCMOSpins, ComboLVDSdata})
        combo->setInsertPolicy(QComboBox::NoInsert);
    for (int pin = 0; pin < 8; ++pin)
        ChkbCMOSbit[pin] =
            FindControl<QCheckBox>(this, ("ChkbCMOSbit" + std::to_string(pin)).c_str());
    ChkbLVDSphase = FindControl<QCheckBox>(this, "ChkbLVDSphase");
    ChkbLVDSenableIn = FindControl<QCheckBox>(this, "ChkbLVDSenableIn");
    ChkbLVDSpolarity = FindControl<QCheckBox>(this, "ChkbLVDSpolarity");
    ChkbLVDSenableOut = FindControl<QCheckBox>(this, "ChkbLVDSenableOut");
    PanelLVDSdata = FindControl<QLabel>(this, "PanelLVDSdata");
    PanelLVDSdata->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelLVDSdata->setAlignment(Qt::AlignCenter);
    PanelLVDSdata->setMinimumWidth(60);
    ComboI2C = FindControl<QComboBox>(this, "ComboI2C");
    ChkbSDA = FindControl<QCheckBox>(this, "ChkbSDA");
    ChkbSCL = FindControl<QCheckBox>(this, "ChkbSCL");
    ChkbSDAread = FindControl<QCheckBox>(this, "ChkbSDAread");
    ChkbSCLread = FindControl<QCheckBox>(this, "ChkbSCLread");
    for (QCheckBox* box : {ChkbLVDSenableOut, ChkbSDAread, ChkbSCLread}) MakeDisplayOnly(box);
    TrackBarDAC0 = FindControl<QSlider>(this, "TrackBarDAC0");
    TrackBarDAC1 = FindControl<QSlider>(this, "TrackBarDAC1");
    TrackBarBIAS = FindControl<QSlider>(this, "TrackBarBIAS");
    UpDownDAC0 = FindControl<UpDown>(this, "UpDownDAC0");
    UpDownDAC1 = FindControl<UpDown>(this, "UpDownDAC1");
    UpDownBIAS = FindControl<UpDown>(this, "UpDownBIAS");
    EditMsgBox = FindControl<QLineEdit>(this, "EditMsgBox");
    ChkbMsgOKcancel = FindControl<QCheckBox>(this, "ChkbMsgOKcancel");
    ChkbMsgYesNo = FindControl<QCheckBox>(this, "ChkbMsgYesNo");
}

namespace {

// The up-down moves its bar, which sends from its own handler; Enter in the edit box moves
// the bar to the typed number (kept within range), and a text that is no number is put back.
void LinkUpDownToBar(QWidget* root, const char* editName, UpDown* upDown, QSlider* bar) {
    QObject::connect(upDown, &UpDown::positionChanged, bar, &QSlider::setValue);
    auto* edit = FindControl<QLineEdit>(root, editName);
    StepUpDownFromBox(edit, upDown);
    QObject::connect(edit, &QLineEdit::editingFinished, bar, [edit, bar] {
        bool ok = false;
        const int typed = edit->text().trimmed().toInt(&ok);
        if (ok) bar->setValue(std::clamp(typed, bar->minimum(), bar->maximum()));
        edit->setText(QString::number(bar->value()));
    });
}

}  // namespace

void TUlvarinTester::ConnectControls() {
    connect(ComboCMOSpins, &QComboBox::activated, this, &TUlvarinTester::ComboCMOSpinsSelect);
    OnExit(ComboCMOSpins, [this] { ComboCMOSpinsSelect(); });
    for (QCheckBox* box : ChkbCMOSbit)
        connect(box, &QCheckBox::clicked, this, &TUlvarinTester::ChkbCMOSbit0Click);

    connect(ComboLVDSdata, &QComboBox::activated, this, &TUlvarinTester::BttnLVDSsendClick);
    connect(FindControl<QPushButton>(this, "BttnLVDSsend"), &QPushButton::clicked, this,
            &TUlvarinTester::BttnLVDSsendClick);
    for (QCheckBox* box : {ChkbLVDSphase, ChkbLVDSenableIn, ChkbLVDSpolarity})
        connect(box, &QCheckBox::clicked, this, &TUlvarinTester::BttnLVDSsendClick);

    connect(ComboI2C, &QComboBox::activated, this, &TUlvarinTester::ComboI2CSelect);
    OnExit(ComboI2C, [this] { ComboI2CSelect(); });
    for (QCheckBox* box : {ChkbSDA, ChkbSCL})
        connect(box, &QCheckBox::clicked, this, &TUlvarinTester::ChkbSDAClick);

    connect(TrackBarDAC0, &QSlider::valueChanged, this, &TUlvarinTester::TrackBarDAC0Change);
    connect(TrackBarDAC1, &QSlider::valueChanged, this, &TUlvarinTester::TrackBarDAC1Change);
    connect(TrackBarBIAS, &QSlider::valueChanged, this, &TUlvarinTester::TrackBarBIASChange);
    LinkUpDownToBar(this, "EditDAC0", UpDownDAC0, TrackBarDAC0);
    LinkUpDownToBar(this, "EditDAC1", UpDownDAC1, TrackBarDAC1);
    LinkUpDownToBar(this, "EditBIAS", UpDownBIAS, TrackBarBIAS);

    connect(FindControl<QPushButton>(this, "BttnPowerON"), &QPushButton::clicked, this,
            &TUlvarinTester::BttnPowerONClick);
    connect(FindControl<QPushButton>(this, "BttnPowerOFF"), &QPushButton::clicked, this,
            &TUlvarinTester::BttnPowerOFFClick);
    connect(FindControl<QPushButton>(this, "BttnRefresh"), &QPushButton::clicked, this,
            &TUlvarinTester::BttnRefreshClick);
    connect(FindControl<QPushButton>(this, "BttnMsgBox"), &QPushButton::clicked, this,
            &TUlvarinTester::BttnMsgBoxClick);
}

std::optional<uint32_t> TUlvarinTester::ReadHexText(QComboBox* combo, const char* message,
                                                    bool ask) {
    const std::optional<uint32_t> number = ReadHexNumber(combo->currentText().toStdString());
    if (!number && ask)
        CurrentDialogs().Message({message, "Format error", DialogIcon::Error, DialogButtons::Ok});
    return number;
}

// The boxes are set without running their handler, so the pins change once, straight to
// the chosen byte, rather than passing through a partial byte per box.
void TUlvarinTester::ComboCMOSpinsSelect() {
    const std::optional<uint32_t> number =
        ReadHexText(ComboCMOSpins, "Incorect data to be sent (CMOS pins) - syntax error!", true);
    if (!number) return;
    for (int pin = 0; pin < 8; ++pin) ChkbCMOSbit[pin]->setChecked((*number >> pin & 1) != 0);
    ChkbCMOSbit0Click();
}

void TUlvarinTester::ChkbCMOSbit0Click() {
    uint8_t pins = 0;
    for (int pin = 0; pin < 8; ++pin)
        if (ChkbCMOSbit[pin]->isChecked()) pins |= static_cast<uint8_t>(1u << pin);
    ShowText(ComboCMOSpins, HexByteText(pins));
    device_.Clear();
    CmosTest(device_, pins);
}

void TUlvarinTester::BttnLVDSsendClick() {
    SendLvds(true);
}

void TUlvarinTester::SendLvds(bool askOnBadText) {
    const std::optional<uint32_t> number =
        ReadHexText(ComboLVDSdata, "Incorect data to be sent - syntax error!", askOnBadText);
    if (!number) return;
    uint8_t received = 0;
    bool enableOut = false;
    device_.Clear();
    if (!LvdsTest(device_, ChkbLVDSpolarity->isChecked(), ChkbLVDSphase->isChecked(),
                  ChkbLVDSenableIn->isChecked(), static_cast<uint8_t>(*number), &received,
                  &enableOut)) {
        PanelLVDSdata->setText(QStringLiteral("Error"));
        return;
    }
    PanelLVDSdata->setText(HexByteText(received));
    ChkbLVDSenableOut->setChecked(enableOut);
}

// As with the CMOS pins, both lines change in one command: an I2C line pair passing
// through an intermediate state would put a start or stop condition on the bus.
void TUlvarinTester::ComboI2CSelect() {
    const int item = std::max(ComboI2C->currentIndex(), 0);
    ChkbSDA->setChecked((item & 2) != 0);
    ChkbSCL->setChecked((item & 1) != 0);
    SendI2c();
}

void TUlvarinTester::ChkbSDAClick() {
    ComboI2C->setCurrentIndex((ChkbSDA->isChecked() ? 2 : 0) + (ChkbSCL->isChecked() ? 1 : 0));
    SendI2c();
}

void TUlvarinTester::SendI2c() {
    bool sda = false;
    bool scl = false;
    device_.Clear();
    if (!I2cTest(device_, ChkbSDA->isChecked(), ChkbSCL->isChecked(), &sda, &scl))
        sda = scl = false;
    ChkbSDAread->setChecked(sda);
    ChkbSCLread->setChecked(scl);
}

void TUlvarinTester::SendInterfaceDac(int channel, int code) {
    device_.Clear();
    if (SetInterfaceDac(device_, static_cast<uint8_t>(channel), static_cast<uint16_t>(code)))
        emit interfaceDacSent(channel, code);
}

void TUlvarinTester::TrackBarDAC0Change() {
    UpDownDAC0->SetPosition(TrackBarDAC0->value());
    SendInterfaceDac(0, TrackBarDAC0->value());
}

void TUlvarinTester::TrackBarDAC1Change() {
    UpDownDAC1->SetPosition(TrackBarDAC1->value());
    SendInterfaceDac(1, TrackBarDAC1->value());
}

void TUlvarinTester::TrackBarBIASChange() {
    UpDownBIAS->SetPosition(TrackBarBIAS->value());
    device_.Clear();
    if (SetBias(device_, static_cast<uint8_t>(TrackBarBIAS->value())))
        emit biasSent(TrackBarBIAS->value());
}

void TUlvarinTester::BttnPowerONClick() {
    device_.Clear();
    PowerOn(device_);
}

void TUlvarinTester::BttnPowerOFFClick() {
    device_.Clear();
    PowerOff(device_);
}

void TUlvarinTester::BttnRefreshClick() {
    Refresh(true);
}

void TUlvarinTester::Refresh(bool askOnBadText) {
    TrackBarDAC0Change();
    TrackBarDAC1Change();
    TrackBarBIASChange();
    ChkbSDAClick();
    ChkbCMOSbit0Click();
    SendLvds(askOnBadText);
}

void TUlvarinTester::BttnMsgBoxClick() {
    const bool yesNo = ChkbMsgYesNo->isChecked();
    const bool okCancel = ChkbMsgOKcancel->isChecked();
    const DialogButtons buttons = yesNo && okCancel ? DialogButtons::YesNoCancel
                                  : yesNo           ? DialogButtons::YesNo
                                  : okCancel        ? DialogButtons::OkCancel
                                                    : DialogButtons::Ok;
    CurrentDialogs().Message(
        {EditMsgBox->text().toStdString(), "Custom message", DialogIcon::Information, buttons});
}

bool TUlvarinTester::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) Refresh(false);
    return QWidget::event(event);
}

}  // namespace ulvarin
