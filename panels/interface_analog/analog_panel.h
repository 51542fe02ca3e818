// The "Interface DACs/ADCs" group: the sensor bias, the interface's two analog outputs, the
// ADC monitor with its scope monitor of the 13 channels, and the set-up and manual trigger
// of the pulse scope. Values typed or chosen are converted to codes and sent, and each box
// then shows the voltage the code really gives.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

#include "analog/scope_ring.h"
#include "widgets/up_down.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPainter;

namespace ulvarin {

class PaintBox;
class WindowShared;
struct ScopeSetup;
struct SentSettings;

// The last value accepted for each output and the scope set-up last sent.
struct InterfaceAnalog {
    double biasVolts = 0.0;
    double dac0Volts = 2.4;
    double dac1Volts = 1.3;
    uint8_t scopeChannelMask = 0x02;
    uint32_t scopeSampleCount = 450;
};

class AnalogPanel : public QWidget {
    Q_OBJECT
public:
    AnalogPanel(WindowShared& shared, QWidget* parent);
    ~AnalogPanel() override;

    // Reads the bias box ("OFF" or 0 to 105 V), sends its code, and shows the code's voltage.
    void BttnSetBiasClick();
    void CombBiasSelect() { BttnSetBiasClick(); }
    // Steps the bias code: up raises the voltage (lowers the code), from off up goes to the
    // lowest voltage; the up-down's own position is never used.
    void UpDownHVChangingEx(UpDown::Change* change);
    // Reads the box's voltage, sends trunc(v * 1638.6) to DAC0 or DAC1, and shows the
    // voltage that code gives.
    void BttnDAC0SetClick() { SetInterfaceDacFromBox(0); }
    void BttnDAC1SetClick() { SetInterfaceDacFromBox(1); }
    void CombDAC0Select() { BttnDAC0SetClick(); }
    void CombDAC1Select() { BttnDAC1SetClick(); }
    void UpDownDAC0ChangingEx(UpDown::Change* change) { StepInterfaceDac(0, change); }
    void UpDownDAC1ChangingEx(UpDown::Change* change) { StepInterfaceDac(1, change); }
    // Reads all 13 ADC channels: the labels show channels 0 to 7, every ring gets a sample.
    void BttnInterfaceADCreadClick();
    void BttnScopeClearClick();
    void ChkbInternalMonitorClick();
    void BttnScopeNowClick();
    // Sends the scope set-up from the channel boxes, the sampling and the sample count,
    // and has the pulse history emptied (scopeConfigured).
    void ChkbScope0Click();
    // Turns drawing of ADC channel `channel` (0 to 7) on or off; its label is struck out
    // while off.
    void LabelADCClick(int channel);

    void RepaintScope();
    // "Monitor": the main timer reads the ADCs while it is checked.
    bool Monitoring() const;
    // Bit c set: scope channel c is ticked / inverted.
    uint8_t CheckedScopeChannels() const;
    uint8_t InvertedScopeChannels() const;

    // --- for the configuration file ----------------------------------------------------
    // Stores a bias voltage and shows its code's voltage; sends nothing.
    void ShowBias(double volts);
    // Stores an interface DAC voltage and shows its 12-bit code's voltage (held within the
    // 12 bits); sends nothing.
    void ShowInterfaceDac(int channel, double volts);
    void SetMonitoring(bool on);
    // Shows the bias, interface DACs and scope set-up that another part of the program sent
    // (the tester, the terminal, a configuration file), stored as if set here.
    void ShowSentSettings(const SentSettings& settings);
    // Stores the scope channels and sample count and ticks the channel boxes; a box whose
    // state changes sends the scope set-up as a click on it does.
    void ApplyScope(uint8_t channelMask, int sampleCount);

    InterfaceAnalog analog;
    ScopeMonitor monitor;

signals:
    void scopeConfigured();

private:
    void BuildControls();
    void ConnectControls();
    void SetInterfaceDacFromBox(int channel);
    void StepInterfaceDac(int channel, UpDown::Change* change);
    bool SendBias(uint8_t code);
    bool SendInterfaceDac(int channel, uint16_t code);
    // Ticks the channel boxes, the sampling and the sample count of a set-up sent elsewhere;
    // the pulses of the set-up before are forgotten, as after a set-up sent here.
    void ShowScope(const ScopeSetup& setup);
    // Shows `volts` in `box` and remembers the text, so that Enter or leaving the box sends
    // only a value typed since.
    static void ShowVolts(QComboBox* box, QString& shown, double volts);
    void PaintScope(QPainter& painter, const QRect& area);

    WindowShared& shared_;
    QComboBox* CombBias = nullptr;
    std::array<QComboBox*, 2> CombDAC{};
    std::array<QLabel*, 8> LabelADC{};
    std::array<QCheckBox*, 8> ChkbScope{};
    std::array<QCheckBox*, 8> ChkbScopeInv{};
    QCheckBox* ChkbInterfaceADCread = nullptr;
    QCheckBox* ChkbInternalMonitor = nullptr;
    QComboBox* CombScopeSampling = nullptr;
    QComboBox* ComboScopeSamples = nullptr;
    PaintBox* PaintBoxScope = nullptr;
    // The texts last shown by a set: a box left or entered unchanged sends nothing.
    QString biasShown_;
    std::array<QString, 2> dacShown_;
};

}  // namespace ulvarin
