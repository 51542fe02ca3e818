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
}

}  // namespace ulvarin
