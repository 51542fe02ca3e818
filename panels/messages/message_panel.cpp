#include "panels/messages/message_panel.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/monitor.h"
#include "panels/messages/message_log.h"
#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"

namespace ulvarin {
namespace {

Grid MessageBarGrid() {
    return {{
        {.kind = Kind::Check,
         .name = "ChkbMessagesShowJustErrors",
         .text = "Messages:  Show just errors",
         .hint = "EXPERIMENTAL !! - Uses separate thread for monitoring interface activity - just "
                 "error messages are displayed"},
        {.kind = Kind::Button,
         .name = "BttnClearMsgList",
         .text = "Clear",
         .hint = "Clears message history"},
    }};
}

}  // namespace

MessagePanel::MessagePanel(WindowShared& shared, QWidget* parent)
    : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelMessageList"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addWidget(MakeGridPanel(this, "PanelMessages", MessageBarGrid()));
    ListMsg = new QListWidget(this);
    ListMsg->setObjectName(QStringLiteral("ListMsg"));
    ListMsg->setToolTip(QStringLiteral("Messages/errors"));
    ListMsg->setUniformItemSizes(true);
    ListMsg->setMinimumHeight(60);
    layout->addWidget(ListMsg, 1);
    ChkbMessagesShowJustErrors = FindControl<QCheckBox>(this, "ChkbMessagesShowJustErrors");
    log_ = new MessageLog(ListMsg, this);
    ChkbMessagesShowJustErrors->setChecked(log_->justErrors);

    connect(FindControl<QPushButton>(this, "BttnClearMsgList"), &QPushButton::clicked, this,
            &MessagePanel::BttnClearMsgListClick);
    connect(ListMsg, &QListWidget::itemDoubleClicked, this, &MessagePanel::ListMsgDblClick);
    connect(ChkbMessagesShowJustErrors, &QCheckBox::clicked, this,
            &MessagePanel::ChkbMessagesShowJustErrorsClick);
    connect(&shared_, &WindowShared::operationBegun, log_, &MessageLog::BeginOperation);
    connect(&shared_, &WindowShared::logLine, log_, &MessageLog::AddLine);
    connect(&shared_, &WindowShared::openStateChanged, this, [this] {
        if (shared_.IsOpen()) RunMonitorAsSelected();
    });
}

// The log goes before the list it fills.
MessagePanel::~MessagePanel() {
    delete log_;
    TearDownControls(this);
}

void MessagePanel::LogReport(MpxDevice& handle) {
    log_->LogReport(handle);
}

void MessagePanel::BttnClearMsgListClick() {
    log_->Clear();
}

void MessagePanel::ListMsgDblClick() {
    const QListWidgetItem* item = ListMsg->currentItem();
    if (item == nullptr) return;  // nothing selected: nothing to show
    emit lineChosen(item->text());
}

void MessagePanel::ChkbMessagesShowJustErrorsClick() {
    log_->justErrors = ChkbMessagesShowJustErrors->isChecked();
    log_->Clear();
    RunMonitorAsSelected();
}

void MessagePanel::RunMonitorAsSelected() {
    if (!log_->justErrors) {
        StopMonitor();
        return;
    }
    if (!StartMonitor()) shared_.dialogs().Error("Cant run background monitor", "Error");
}

}  // namespace ulvarin
