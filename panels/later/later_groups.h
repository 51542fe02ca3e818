// The groups of the window whose behaviour is still to come: built from their tables,
// placed by the window, and disabled. They keep the stores they will work on, at their
// initial values, and the few start-up steps that already concern them. Each group leaves
// this class for a panel of its own when it is built.
#pragma once

#include <QObject>

#include "panels/later/later_state.h"

class QWidget;

namespace ulvarin {

class WindowShared;

class LaterGroups : public QObject {
    Q_OBJECT
public:
    LaterGroups(WindowShared& shared, QWidget* parent);

    // "Configuration:" with Save, Load and Terminal.
    QWidget* configBar = nullptr;
    // Saving, loading and autosaving frames.
    QWidget* imageFiles = nullptr;

    AutosaveTemplate autosave;

private:
    void ResetForInterface();

    WindowShared& shared_;
};

}  // namespace ulvarin
