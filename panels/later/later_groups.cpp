#include "panels/later/later_groups.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "panels/later/later_tables.h"
#include "panels/shared/control_table.h"
#include "panels/shared/drop_down_combo.h"
#include "panels/shared/window_shared.h"

namespace ulvarin {
namespace {

constexpr const char* kActionButtons[kActionSources] = {"BttnDo",
                                                        "BttnDataAction",
                                                        "BttnPeriodAction",
                                                        "BttnIntervalAction",
                                                        "BttnTriggerAction",
                                                        "BttnCounterAction"};

QWidget* Disabled(QWidget* widget) {
    widget->setEnabled(false);
    return widget;
}

}  // namespace

LaterGroups::LaterGroups(WindowShared& shared, QWidget* parent) : QObject(parent), shared_(shared) {
    configBar = Disabled(MakeGridPanel(parent, "PanelConfig", ConfigBarGrid()));

    processColumn = new QWidget(parent);
    auto* column = new QVBoxLayout(processColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(Disabled(MakeGroup(ProcessesGroup(), processColumn)));
    column->addStretch(1);

    imageFiles = Disabled(MakeGridPanel(parent, "PanelImageFiles", ImageFileGrid()));
    auto* fileName = FindControl<QWidget>(imageFiles, "EditFileName");
    fileName->setMinimumWidth(
        fileName->fontMetrics().horizontalAdvance(QStringLiteral("data_0000.txt")) + 16);

    auto* templates = FindControl<QComboBox>(processColumn, "CombProcessTemplate");
    for (const std::string& name : ProcessTemplateNames())
        templates->addItem(QString::fromStdString(name));
    templates->setCurrentIndex(0);
    ShowActionSets();
    connect(&shared_, &WindowShared::interfaceReset, this, &LaterGroups::ResetForInterface);
}

void LaterGroups::ShowActionSets() {
    for (int s = 0; s < kActionSources; ++s)
        FindControl<QPushButton>(processColumn, kActionButtons[s])
            ->setText(QString::fromStdString(ActionCaption(process.actionSet[s])));
}

void LaterGroups::ResetForInterface() {
    autosave.lastFileNumber = 0;
}

}  // namespace ulvarin
