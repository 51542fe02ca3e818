// The device bar: the list of interfaces, opening one fully or softly, and closing it.
// A full open lays the shared stores out for the chips found and tells every group
// (WindowShared::interfaceReset); every open attempt and close is announced as well
// (WindowShared::openStateChanged).
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;

namespace ulvarin {

class DropDownCombo;
class WindowShared;

class DeviceBar : public QWidget {
    Q_OBJECT
public:
    DeviceBar(WindowShared& shared, QWidget* parent);
    ~DeviceBar() override;

    // Lists the compatible interfaces in ComboDeviceName.
    void ComboDeviceNameDropDown();
    // The operator chose an entry: opens it.
    void ComboDeviceNameSelect();
    // Opens the interface named in ComboDeviceName: fully (reset, stores reset for its
    // chips) or, with "Soft open", reattaching to the running interface and keeping the
    // window's state when it is the one last opened.
    void BttnOpenClick();
    // Saves the configuration, switches bias and chip power off unless "Soft open" is
    // checked, and closes the interface.
    void BttnCloseClick();
    // Closes an interface that no longer answers: its configuration is saved, but nothing
    // more is sent to it (each command would only wait out its timeout).
    void CloseGoneInterface();
    void UpdateOpenCloseButtons();
    // Refreshes the list and opens its first entry; false when the list is empty.
    bool OpenFirstListed();
    // A frame file set the chip count with no interface open: the label names that count.
    void ShowLoadedChipCount();

    // The name last opened or tried, at most 63 characters.
    const std::string& openedDeviceName() const { return openedDeviceName_; }

private:
    void CloseOpenDevice();
    // `answering`: the interface is switched safe (bias and chip power off) before closing.
    void CloseInterface(bool answering);
    void RememberOpenedName(const std::string& name);
    void ShowChipCount(uint8_t n, bool mxr, bool tpx);
    bool SoftOpenRefused(const std::string& description);
    void ResetForNewInterface(uint8_t n, bool mxr, bool tpx);

    WindowShared& shared_;
    DropDownCombo* ComboDeviceName = nullptr;
    QPushButton* BttnOpen = nullptr;
    QPushButton* BttnClose = nullptr;
    QCheckBox* ChkbSoftOpen = nullptr;
    QLabel* LabelNumChips = nullptr;
    std::string openedDeviceName_;
    std::string stateDeviceName_;  // the interface whose chips the window's state describes
};

}  // namespace ulvarin
