// "Configuration:": saving and loading the open interface's configuration through a file
// dialog (enabled while an interface is open), and the terminal button.
#pragma once

#include <QWidget>

class QPushButton;

namespace ulvarin {

class WindowShared;

class ConfigBar : public QWidget {
    Q_OBJECT
public:
    ConfigBar(WindowShared& shared, QWidget* parent);
    ~ConfigBar() override;

    void BttnSaveCfgClick();
    void BttnLoadConfigClick();
    // Asks for the terminal window, shown and switched on.
    void BttnTerminalClick() { emit terminalRequested(); }

signals:
    void terminalRequested();

private:
    void ShowOpenState();

    WindowShared& shared_;
    QPushButton* BttnSaveCfg = nullptr;
    QPushButton* BttnLoadConfig = nullptr;
};

}  // namespace ulvarin
