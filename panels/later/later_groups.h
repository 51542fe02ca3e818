// The groups of the window whose behaviour is still to come: built from their tables,
// placed by the window, and disabled. They keep the stores they will work on, at their
// initial values, and the few start-up steps that already concern them. Each group leaves
// this class for a panel of its own when it is built.
#pragma once

#include <QObject>

#include "imaging/pulse_store.h"
#include "panels/later/later_state.h"

class QWidget;

namespace ulvarin {

class PaintBox;
class WindowShared;

class LaterGroups : public QObject {
    Q_OBJECT
public:
    LaterGroups(WindowShared& shared, QWidget* parent);

    // "Configuration:" with Save, Load and Terminal.
    QWidget* configBar = nullptr;
    // Processes, scan, tests, and the pulse view and spectrum, one under the other.
    QWidget* processColumn = nullptr;
    // Saving, loading and autosaving frames.
    QWidget* imageFiles = nullptr;

    AutosaveTemplate autosave;
    PulseStore pulses;
    uint32_t scopeMessages = 0;
    ProcessSettings process;

    // A scope shot arrived; it is counted until the pulse view takes shots in.
    void TakeScopeShot() { ++scopeMessages; }
    // After a scan, the chip selector chooses the scan curve shown in full colour.
    void ChipSelected(int item);

private:
    void ShowActionSets();
    void ResetForInterface();

    WindowShared& shared_;
    PaintBox* PaintBoxPulse = nullptr;
};

}  // namespace ulvarin
