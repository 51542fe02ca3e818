// The "Tests" group: the interface's firmware version, the watchdog test, a test pattern
// written into the chips' pixel configuration and read back into the image, and the chip
// identification of MXR chips.
#pragma once

#include <QWidget>

namespace ulvarin {

class WindowShared;

class SelfTestsPanel : public QWidget {
    Q_OBJECT
public:
    SelfTestsPanel(WindowShared& shared, QWidget* parent);

    // Shows the interface's version text, or the report of the failure.
    void BtnGetFirmwareVersionClick();
    void BttnWatchDogTstClick();
    // Writes the test pattern into every chip's pixel configuration, sends it, and reads
    // the matrix back undecoded into the raw frame, shown with a fixed display range.
    void BttnTestMaskClick();
    void BttnMXRIDClick();

signals:
    // The image is to show the range minimum..maximum as typed, without Auto and without
    // interpolation of bad pixels.
    void fixedRangeWanted(double minimum, double maximum);

private:
    WindowShared& shared_;
};

}  // namespace ulvarin
