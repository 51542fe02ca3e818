// The main window's side of the message list: the report hook and the list's controls.
#include <QCheckBox>
#include <QListWidget>

#include "app/dialogs.h"
#include "app/message_log.h"
#include "app/program.h"
#include "device/monitor.h"

namespace ulvarin {

void TFormUlvarin::BeginOperation() {
    log->BeginOperation();
}

void TFormUlvarin::LogReport(MpxDevice& handle) {
    log->LogReport(handle);
}

void TFormUlvarin::BttnClearMsgListClick() {
    log->Clear();
}

void TFormUlvarin::ListMsgDblClick() {
    const QListWidgetItem* item = ui.ListMsg->currentItem();
    if (item == nullptr) return;  // nothing selected: nothing to show
    ShowInTerminal(item->text());
}

void TFormUlvarin::ChkbMessagesShowJustErrorsClick() {
    log->justErrors = ui.ChkbMessagesShowJustErrors->isChecked();
    log->Clear();
    RunMonitorAsSelected();
}

// With "just errors" the monitoring thread reads the interfaces; otherwise the main timer.
void TFormUlvarin::RunMonitorAsSelected() {
    if (!log->justErrors) {
        StopMonitor();
        return;
    }
    if (!StartMonitor()) CurrentDialogs().Error("Cant run background monitor", "Error");
}

}  // namespace ulvarin
