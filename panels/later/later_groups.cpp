#include "panels/later/later_groups.h"

#include <QWidget>

#include "panels/later/later_tables.h"
#include "panels/shared/control_table.h"
#include "panels/shared/window_shared.h"

namespace ulvarin {
namespace {

QWidget* Disabled(QWidget* widget) {
    widget->setEnabled(false);
    return widget;
}

}  // namespace

LaterGroups::LaterGroups(WindowShared& shared, QWidget* parent) : QObject(parent), shared_(shared) {
    configBar = Disabled(MakeGridPanel(parent, "PanelConfig", ConfigBarGrid()));

    imageFiles = Disabled(MakeGridPanel(parent, "PanelImageFiles", ImageFileGrid()));
    auto* fileName = FindControl<QWidget>(imageFiles, "EditFileName");
    fileName->setMinimumWidth(
        fileName->fontMetrics().horizontalAdvance(QStringLiteral("data_0000.txt")) + 16);

    connect(&shared_, &WindowShared::interfaceReset, this, &LaterGroups::ResetForInterface);
}

void LaterGroups::ResetForInterface() {
    autosave.lastFileNumber = 0;
}

}  // namespace ulvarin
