#include "panels/interface_analog/analog_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "analog/plot_series.h"
#include "analog/scope_plot.h"
#include "base/number_text.h"
#include "device/clock.h"
#include "device/conversions.h"
#include "device/interface_commands.h"
#include "device/report.h"
#include "panels/interface_analog/analog_table.h"
#include "panels/shared/window_shared.h"
#include "widgets/event_watch.h"
#include "widgets/paint_box.h"
#include "widgets/plot_painter.h"

namespace ulvarin {
namespace {

constexpr double kMaxTypedVolts = 105.0;
constexpr uint16_t kMaxDacCode = 4095;
constexpr uint8_t kBiasHighest = 1;  // code 1 gives the highest voltage, 0 switches off
constexpr uint8_t kBiasLowest = 255;
constexpr int kMinScopeSamples = 16;
constexpr int kMaxScopeSamples = 450;
constexpr uint8_t kScopeModeBits = 0x0C;
// The sampling selector's items ("32 us/S", "8 us/S", "4 us/S", "2 us/S") as codes.
constexpr uint8_t kSamplingCodes[4] = {0, 2, 1, 3};

QString VoltsText(double volts) {
    return QString::fromStdString(FormatDouble("%.5lg V", volts));
}

// The voltage typed into a box, as "%lg" reads it, when it lies within 0 to 105 V.
std::optional<double> TypedVolts(const QComboBox* box) {
    const std::optional<double> v = LeadingDouble(box->currentText().toStdString());
    if (!v || !(*v >= 0.0 && *v <= kMaxTypedVolts)) return std::nullopt;
    return v;
}

// The channel colours of ADC inputs 0 to 7 on black, as the scope monitor draws them.
void ColourAdcLabel(QLabel* label, int channel, bool struckOut) {
    label->setStyleSheet(
        QStringLiteral("QLabel { background: black; color: %1; padding: 1px 4px; %2 }")
            .arg(ToQColor(ChannelColour(channel)).name(),
                 struckOut ? QStringLiteral("text-decoration: line-through;") : QString()));
}

}  // namespace

AnalogPanel::AnalogPanel(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelInterface"));
    BuildControls();
    ConnectControls();
}

AnalogPanel::~AnalogPanel() {
    TearDownControls(this);
}

void AnalogPanel::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QGroupBox* group = MakeGroup(InterfaceGroup(), this);
    PaintBoxScope = MakePaintBox(group, "PaintBoxScope", "Monitor of all ADC channels.", 150);
    group->layout()->addWidget(PaintBoxScope);
    layout->addWidget(group);

    CombBias = FindControl<QComboBox>(this, "CombBias");
    CombDAC[0] = FindControl<QComboBox>(this, "CombDAC0");
    CombDAC[1] = FindControl<QComboBox>(this, "CombDAC1");
    for (int c = 0; c < 8; ++c) {
        const QByteArray n = QByteArray::number(c);
        LabelADC[c] = FindControl<QLabel>(this, ("LabelADC" + n).constData());
        LabelADC[c]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ColourAdcLabel(LabelADC[c], c, false);
        ChkbScope[c] = FindControl<QCheckBox>(this, ("ChkbScope" + n).constData());
        ChkbScopeInv[c] = FindControl<QCheckBox>(this, ("ChkbScopeInv" + n).constData());
    }
    ChkbInterfaceADCread = FindControl<QCheckBox>(this, "ChkbInterfaceADCread");
    ChkbInternalMonitor = FindControl<QCheckBox>(this, "ChkbInternalMonitor");
    CombScopeSampling = FindControl<QComboBox>(this, "CombScopeSampling");
    ComboScopeSamples = FindControl<QComboBox>(this, "ComboScopeSamples");
    biasShown_ = CombBias->currentText();
    for (int c = 0; c < 2; ++c) dacShown_[c] = CombDAC[c]->currentText();
}

void AnalogPanel::ConnectControls() {
    const auto button = [this](const char* name) { return FindControl<QPushButton>(this, name); };
    connect(button("BttnSetBias"), &QPushButton::clicked, this, &AnalogPanel::BttnSetBiasClick);
    connect(button("BttnDAC0Set"), &QPushButton::clicked, this, &AnalogPanel::BttnDAC0SetClick);
    connect(button("BttnDAC1Set"), &QPushButton::clicked, this, &AnalogPanel::BttnDAC1SetClick);
    connect(button("BttnInterfaceADCread"), &QPushButton::clicked, this,
            &AnalogPanel::BttnInterfaceADCreadClick);
    connect(button("BttnScopeClear"), &QPushButton::clicked, this,
            &AnalogPanel::BttnScopeClearClick);
    connect(button("BttnScopeNow"), &QPushButton::clicked, this, &AnalogPanel::BttnScopeNowClick);
    connect(CombBias, &QComboBox::activated, this, &AnalogPanel::CombBiasSelect);
    connect(CombDAC[0], &QComboBox::activated, this, &AnalogPanel::CombDAC0Select);
    connect(CombDAC[1], &QComboBox::activated, this, &AnalogPanel::CombDAC1Select);
    // Leaving the bias box sets what was typed; a box left as it was shown sends nothing.
    connect(CombBias->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (CombBias->currentText() != biasShown_) BttnSetBiasClick();
    });
    // Enter in a DAC box sets what was typed (a listed choice is set by its selection).
    for (int c = 0; c < 2; ++c)
        connect(CombDAC[c]->lineEdit(), &QLineEdit::returnPressed, this, [this, c] {
            if (CombDAC[c]->currentText() != dacShown_[c]) SetInterfaceDacFromBox(c);
        });
    const auto upDown = [this](const char* name) { return FindControl<UpDown>(this, name); };
    connect(upDown("UpDownHV"), &UpDown::changing, this, &AnalogPanel::UpDownHVChangingEx,
            Qt::DirectConnection);
    connect(upDown("UpDownDAC0"), &UpDown::changing, this, &AnalogPanel::UpDownDAC0ChangingEx,
            Qt::DirectConnection);
    connect(upDown("UpDownDAC1"), &UpDown::changing, this, &AnalogPanel::UpDownDAC1ChangingEx,
            Qt::DirectConnection);
    // A wheel turned over the boxes would pick another item and send it: a bias of 100 V
    // must not come from scrolling past.
    for (QWidget* box : {static_cast<QWidget*>(CombBias), static_cast<QWidget*>(CombDAC[0]),
                         static_cast<QWidget*>(CombDAC[1])})
        IgnoreWheel(box);
    connect(ChkbInternalMonitor, &QCheckBox::clicked, this, &AnalogPanel::ChkbInternalMonitorClick);
    for (QCheckBox* box : ChkbScope)
        connect(box, &QCheckBox::clicked, this, &AnalogPanel::ChkbScope0Click);
    connect(CombScopeSampling, &QComboBox::activated, this, &AnalogPanel::ChkbScope0Click);
    connect(ComboScopeSamples, &QComboBox::activated, this, &AnalogPanel::ChkbScope0Click);
    connect(ComboScopeSamples->lineEdit(), &QLineEdit::editingFinished, this,
            &AnalogPanel::ChkbScope0Click);
    for (int c = 0; c < 8; ++c)
        OnEvent(LabelADC[c], QEvent::MouseButtonRelease, [this, c] { LabelADCClick(c); });
    PaintBoxScope->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintScope(painter, area); });
    connect(&shared_, &WindowShared::interfaceSettingsSent, this, &AnalogPanel::ShowSentSettings);
}

bool AnalogPanel::SendBias(uint8_t code) {
    shared_.BeginOperation();
    shared_.device.Clear();
    return SetBias(shared_.device, code);
}

void AnalogPanel::BttnSetBiasClick() {
    double v = 0.0;
    if (CombBias->currentText() != QLatin1String("OFF")) {
        const std::optional<double> typed = TypedVolts(CombBias);
        if (!typed) {
            shared_.dialogs().Error("Incorect value of bias voltage!", "Format error");
            return;
        }
        v = *typed;
    }
    const uint8_t code = BiasToCode(v);
    if (!SendBias(code)) return;
    analog.biasVolts = v;
    ShowVolts(CombBias, biasShown_, CodeToBias(code));
}

void AnalogPanel::UpDownHVChangingEx(UpDown::Change* change) {
    change->allow = false;
    if (change->direction == UpDown::Direction::None) return;
    const bool up = change->direction == UpDown::Direction::Up;
    const int code = BiasToCode(analog.biasVolts);
    int next = 0;
    if (code == 0) {
        if (!up) return;  // already off
        next = kBiasLowest;
    } else {
        if (up && code == kBiasHighest) return;
        next = up ? code - 1 : code + 1;
        if (next > kBiasLowest) return;  // down from the lowest voltage does not switch off
    }
    if (!SendBias(static_cast<uint8_t>(next))) return;
    analog.biasVolts = CodeToBias(static_cast<uint8_t>(next));
    ShowVolts(CombBias, biasShown_, analog.biasVolts);
}

void AnalogPanel::ShowVolts(QComboBox* box, QString& shown, double volts) {
    shown = VoltsText(volts);
    box->setEditText(shown);
}

bool AnalogPanel::SendInterfaceDac(int channel, uint16_t code) {
    shared_.BeginOperation();
    shared_.device.Clear();
    return SetInterfaceDac(shared_.device, static_cast<uint8_t>(channel), code);
}

// A voltage whose code would not fit the 12-bit DAC (above about 2.5 V) is refused like a
// malformed one, rather than sent wrapped to 16 bits and shown as if it had been set.
void AnalogPanel::SetInterfaceDacFromBox(int channel) {
    const std::optional<double> v = TypedVolts(CombDAC[channel]);
    const double code = v ? std::trunc(*v * 1638.6) : 0.0;
    if (!v || code > kMaxDacCode) {
        shared_.dialogs().Error(
            channel == 0 ? "Incorect value of DAC0 voltage!" : "Incorect value of DAC1 voltage!",
            "Format error");
        return;
    }
    if (!SendInterfaceDac(channel, static_cast<uint16_t>(code))) return;
    (channel == 0 ? analog.dac0Volts : analog.dac1Volts) = *v;
    ShowVolts(CombDAC[channel], dacShown_[channel], DacCodeToVolts(static_cast<uint32_t>(code)));
}

void AnalogPanel::ShowBias(double volts) {
    analog.biasVolts = volts;
    ShowVolts(CombBias, biasShown_, CodeToBias(BiasToCode(volts)));
}

void AnalogPanel::ShowInterfaceDac(int channel, double volts) {
    if (channel != 0 && channel != 1) return;
    (channel == 0 ? analog.dac0Volts : analog.dac1Volts) = volts;
    ShowVolts(CombDAC[channel], dacShown_[channel], DacCodeToVolts(ConfiguredDacCode(volts)));
}

void AnalogPanel::ShowSentSettings(const SentSettings& settings) {
    if (settings.biasVolts) ShowBias(*settings.biasVolts);
    for (int c = 0; c < 2; ++c)
        if (const std::optional<double>& volts = settings.interfaceDacVolts[static_cast<size_t>(c)])
            ShowInterfaceDac(c, *volts);
    if (settings.scope) ShowScope(*settings.scope);
}

void AnalogPanel::ShowScope(const ScopeSetup& setup) {
    analog.scopeChannelMask = setup.channelMask;
    analog.scopeSampleCount = setup.samples;
    for (int c = 0; c < 8; ++c) ChkbScope[c]->setChecked(((setup.channelMask >> c) & 1) != 0);
    ComboScopeSamples->setEditText(QString::number(setup.samples));
    const uint8_t sampling = setup.mode & 0x03;
    for (int item = 0; item < 4; ++item)
        if (kSamplingCodes[item] == sampling) CombScopeSampling->setCurrentIndex(item);
    emit scopeConfigured();
}

void AnalogPanel::SetMonitoring(bool on) {
    ChkbInterfaceADCread->setChecked(on);
}

void AnalogPanel::ApplyScope(uint8_t channelMask, int sampleCount) {
    analog.scopeChannelMask = channelMask;
    analog.scopeSampleCount = static_cast<uint32_t>(std::max(sampleCount, 0));
    ComboScopeSamples->setEditText(QString::number(sampleCount));
    for (int c = 0; c < 8; ++c) {
        const bool on = (channelMask >> c) & 1;
        if (ChkbScope[c]->isChecked() == on) continue;
        ChkbScope[c]->setChecked(on);
        ChkbScope0Click();
    }
}

void AnalogPanel::StepInterfaceDac(int channel, UpDown::Change* change) {
    change->allow = false;
    if (change->direction == UpDown::Direction::None) return;
    double& stored = channel == 0 ? analog.dac0Volts : analog.dac1Volts;
    const int code = DacVoltsToCode(stored) + (change->direction == UpDown::Direction::Up ? 1 : -1);
    if (code < 0 || code > kMaxDacCode) return;
    if (!SendInterfaceDac(channel, static_cast<uint16_t>(code))) return;
    stored = DacCodeToVolts(static_cast<uint32_t>(code));
    ShowVolts(CombDAC[channel], dacShown_[channel], stored);
}

void AnalogPanel::BttnInterfaceADCreadClick() {
    shared_.BeginOperation();
    shared_.device.Clear();
    std::array<uint16_t, kAdcChannels> values{};
    if (!ReadAdcs(shared_.device, values.data())) return;
    const double t = Now();
    for (int c = 0; c < 8; ++c)
        LabelADC[c]->setText(QString::fromStdString(FormatAdcVolts(AdcToVolts(values[c]))));
    monitor.PushReading(values, t);
    PaintBoxScope->update();
}

void AnalogPanel::BttnScopeClearClick() {
    monitor.Clear();
    PaintBoxScope->update();
}

void AnalogPanel::ChkbInternalMonitorClick() {
    monitor.SetInternalMonitors(ChkbInternalMonitor->isChecked());
    PaintBoxScope->update();
}

void AnalogPanel::LabelADCClick(int channel) {
    monitor.ToggleChannel(channel);
    ColourAdcLabel(LabelADC[channel], channel, !monitor.channelEnabled[channel]);
    PaintBoxScope->update();
}

void AnalogPanel::BttnScopeNowClick() {
    shared_.BeginOperation();
    shared_.RunTimed("Scope single shot", ScopeSingleShot);
}

void AnalogPanel::ChkbScope0Click() {
    shared_.BeginOperation();
    const uint8_t mask = CheckedScopeChannels();
    // A count that is not a number keeps 450; a negative one counts as too large.
    int samples =
        LeadingInteger(ComboScopeSamples->currentText().toStdString()).value_or(kMaxScopeSamples);
    if (samples < 0 || samples > kMaxScopeSamples) samples = kMaxScopeSamples;
    samples = std::max(samples, kMinScopeSamples);
    ComboScopeSamples->setEditText(QString::number(samples));
    const int item = std::clamp(CombScopeSampling->currentIndex(), 0, 3);
    const uint8_t mode = kSamplingCodes[item] | kScopeModeBits;
    shared_.device.Clear();
    ConfigureScope(shared_.device, mask, static_cast<uint16_t>(samples), mode);
    analog.scopeChannelMask = mask;
    analog.scopeSampleCount = static_cast<uint32_t>(samples);
    emit scopeConfigured();
}

void AnalogPanel::RepaintScope() {
    PaintBoxScope->update();
}

bool AnalogPanel::Monitoring() const {
    return ChkbInterfaceADCread->isChecked();
}

uint8_t AnalogPanel::CheckedScopeChannels() const {
    uint8_t mask = 0;
    for (int c = 0; c < 8; ++c)
        if (ChkbScope[c]->isChecked()) mask |= static_cast<uint8_t>(1u << c);
    return mask;
}

uint8_t AnalogPanel::InvertedScopeChannels() const {
    uint8_t mask = 0;
    for (int c = 0; c < 8; ++c)
        if (ChkbScopeInv[c]->isChecked()) mask |= static_cast<uint8_t>(1u << c);
    return mask;
}

void AnalogPanel::PaintScope(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::black);
    const ScopePlot plot =
        LayoutScopeMonitor(monitor, area.width(), area.height(), Monitoring(), Now());
    const QColor grey(64, 64, 64);
    DrawGrid(painter, plot.voltageGrid, grey);
    DrawGrid(painter, plot.timeGrid, grey);
    // The channels' labels start where their curves end, usually all at one point: they
    // are stacked apart so each stays readable.
    const QFontMetrics metrics(painter.font());
    std::vector<LabelBox> boxes;
    for (const ScopeCurve& curve : plot.curves)
        boxes.push_back({curve.label.x, curve.label.y,
                         metrics.horizontalAdvance(QString::fromStdString(curve.label.text)),
                         metrics.height()});
    const std::vector<PlotPoint> placed = SpreadLabels(boxes, area.height());
    for (size_t i = 0; i < plot.curves.size(); ++i) {
        const ScopeCurve& curve = plot.curves[i];
        painter.setPen(ToQColor(curve.colour));
        DrawPolyline(painter, curve.points);
        DrawLabel(painter, {placed[i].x, placed[i].y, curve.label.text});
    }
}

}  // namespace ulvarin
