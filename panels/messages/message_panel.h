// The message list at the bottom of the window with its bar: one line per report, grouped
// by operator action, narrowed to errors on request (which hands the reading of the
// interfaces to the monitoring thread), cleared on request.
#pragma once

#include <QString>
#include <QWidget>

#include "device/device.h"

class QCheckBox;
class QListWidget;

namespace ulvarin {

class MessageLog;
class WindowShared;

class MessagePanel : public QWidget {
    Q_OBJECT
public:
    MessagePanel(WindowShared& shared, QWidget* parent);
    ~MessagePanel() override;

    // The report hook's body; runs on the reporting thread under the device lock.
    void LogReport(MpxDevice& handle);
    void BttnClearMsgListClick();
    // A double-clicked line is offered to the terminal window.
    void ListMsgDblClick();
    // Shows only errors and hands the reading of the interfaces to the monitoring thread,
    // or back to the main timer.
    void ChkbMessagesShowJustErrorsClick();
    // With "just errors" the monitoring thread reads the interfaces; otherwise the main
    // timer does.
    void RunMonitorAsSelected();

    // logEnabled, justErrors, operationCount and lastReportKind live there.
    MessageLog* log() const { return log_; }

signals:
    void lineChosen(const QString& line);

private:
    WindowShared& shared_;
    QListWidget* ListMsg = nullptr;
    QCheckBox* ChkbMessagesShowJustErrors = nullptr;
    MessageLog* log_ = nullptr;
};

}  // namespace ulvarin
