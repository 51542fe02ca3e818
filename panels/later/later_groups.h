// The groups of the window whose behaviour is still to come (configuration and frame
// files): built from their tables, placed by the window, and disabled, with the autosave
// template they will work on. Each leaves this class for a panel of its own when built.
#pragma once

#include <QObject>

#include "imaging/autosave_template.h"

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
