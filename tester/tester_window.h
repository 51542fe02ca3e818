// The hardware tester: a window of its own that drives the interface's lines directly while
// a dummy chipboard stands in for the detector. The eight CMOS pins, an LVDS loop-back, the
// clock synthesizer's two I2C lines, the two analog outputs, the bias code and the chip
// power, plus a free message box for checking the dialogs. Every command goes through the
// handle it was given, cleared first; failures are reported by the device layer.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace ulvarin {

struct MpxDevice;
class UpDown;

constexpr const char* kTesterWindowCaption =
    "Tester - for hardware checking, needs special dummy chipboard";

class TUlvarinTester : public QWidget {
    Q_OBJECT
public:
    // A hidden top-level window owned by `owner` (deleted with it) that commands the
    // interface behind `device`; the handle must outlive the window.
    explicit TUlvarinTester(MpxDevice& device, QWidget* owner = nullptr);
    ~TUlvarinTester() override;

    // Reads the CMOS text as a hex number; ticks the pin boxes from its low byte and sends
    // it once. A text holding no number shows the format box and sends nothing.
    void ComboCMOSpinsSelect();
    // Sends the pin byte the eight boxes show and writes it into the CMOS text.
    void ChkbCMOSbit0Click();
    // Sends the LVDS data byte with the three boxes' settings and shows what came back
    // ("Error" in the panel when the command fails). A data text holding no number shows
    // the format box and sends nothing.
    void BttnLVDSsendClick();
    // Sets the SDA and SCL write boxes from the chosen item and sends them once.
    void ComboI2CSelect();
    // Selects the item the two write boxes make and sends them.
    void ChkbSDAClick();
    // Copy the bar's position into its up-down and send it as the DAC or bias code.
    void TrackBarDAC0Change();
    void TrackBarDAC1Change();
    void TrackBarBIASChange();
    void BttnPowerONClick();
    void BttnPowerOFFClick();
    // Sends every line state the window shows: both DACs, the bias, the I2C lines, the CMOS
    // pins and the LVDS settings, in that order.
    void BttnRefreshClick();
    // Shows the custom message box with the buttons the two boxes choose.
    void BttnMsgBoxClick();

signals:
    // The interface has taken a bias code or an interface DAC code from this window: other
    // windows showing those settings show them now.
    void biasSent(int code);
    void interfaceDacSent(int channel, int code);

protected:
    // Activation re-sends every line state, so the interface matches what is shown.
    bool event(QEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    // Sends everything; on activation a malformed LVDS text is skipped without its box,
    // since closing the box would activate the window again and bring the box back.
    void Refresh(bool askOnBadText);
    void SendLvds(bool askOnBadText);
    // Sends the write boxes and shows the lines read back (cleared on failure).
    void SendI2c();
    void SendInterfaceDac(int channel, int code);
    // The hex number in `combo`'s text, or nullopt after the format box `message`.
    std::optional<uint32_t> ReadHexText(QComboBox* combo, const char* message, bool ask);

    MpxDevice& device_;
    QComboBox* ComboCMOSpins = nullptr;
    QCheckBox* ChkbCMOSbit[8] = {};  // index = pin
    QComboBox* ComboLVDSdata = nullptr;
    QCheckBox* ChkbLVDSphase = nullptr;
    QCheckBox* ChkbLVDSenableIn = nullptr;
    QCheckBox* ChkbLVDSpolarity = nullptr;
    QCheckBox* ChkbLVDSenableOut = nullptr;
    QLabel* PanelLVDSdata = nullptr;
    QComboBox* ComboI2C = nullptr;
    QCheckBox* ChkbSDA = nullptr;
    QCheckBox* ChkbSCL = nullptr;
    QCheckBox* ChkbSDAread = nullptr;
    QCheckBox* ChkbSCLread = nullptr;
    QSlider* TrackBarDAC0 = nullptr;
    QSlider* TrackBarDAC1 = nullptr;
    QSlider* TrackBarBIAS = nullptr;
    UpDown* UpDownDAC0 = nullptr;
    UpDown* UpDownDAC1 = nullptr;
    UpDown* UpDownBIAS = nullptr;
    QLineEdit* EditMsgBox = nullptr;
    QCheckBox* ChkbMsgOKcancel = nullptr;
    QCheckBox* ChkbMsgYesNo = nullptr;
};

}  // namespace ulvarin
