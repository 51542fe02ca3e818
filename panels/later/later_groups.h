// The group of the window whose behaviour is still to come (the configuration bar): built
// from its table, placed by the window, and disabled. It leaves this class for a panel of its
// own when built.
#pragma once

#include <QObject>

class QWidget;

namespace ulvarin {

class WindowShared;

class LaterGroups : public QObject {
    Q_OBJECT
public:
    LaterGroups(WindowShared& shared, QWidget* parent);

    // "Configuration:" with Save, Load and Terminal.
    QWidget* configBar = nullptr;

private:
    WindowShared& shared_;
};

}  // namespace ulvarin
