#include "panels/config_bar/config_bar.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "panels/shared/window_shared.h"
#include "widgets/control_table.h"

namespace ulvarin {
namespace {

Grid ConfigBarGrid() {
    return {{
        LabelCell("Configuration:"),
        {.kind = Kind::Button,
         .name = "BttnSaveCfg",
         .text = "Save",
         .hint = "Saves Medipix, interface and software configuration to specified file"},
        {.kind = Kind::Button,
         .name = "BttnLoadConfig",
         .text = "Load",
         .hint = "Loads Medipix, interface and software configuration from specified file"},
        {.kind = Kind::Button,
         .name = "BttnTerminal",
         .text = "Terminal",
         .hint = "Shows the raw traffic with the interface and sends typed commands"},
    }};
}

}  // namespace

ConfigBar::ConfigBar(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelConfig"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MakeGridPanel(this, "GridConfig", ConfigBarGrid()));
    BttnSaveCfg = FindControl<QPushButton>(this, "BttnSaveCfg");
    BttnLoadConfig = FindControl<QPushButton>(this, "BttnLoadConfig");
    connect(BttnSaveCfg, &QPushButton::clicked, this, &ConfigBar::BttnSaveCfgClick);
    connect(BttnLoadConfig, &QPushButton::clicked, this, &ConfigBar::BttnLoadConfigClick);
    connect(FindControl<QPushButton>(this, "BttnTerminal"), &QPushButton::clicked, this,
            &ConfigBar::BttnTerminalClick);
    connect(&shared_, &WindowShared::openStateChanged, this, &ConfigBar::ShowOpenState);
    ShowOpenState();
}

ConfigBar::~ConfigBar() {
    TearDownControls(this);
}

void ConfigBar::ShowOpenState() {
    BttnSaveCfg->setEnabled(shared_.IsOpen());
    BttnLoadConfig->setEnabled(shared_.IsOpen());
}

void ConfigBar::BttnSaveCfgClick() {
    shared_.SaveConfiguration(true);
}

void ConfigBar::BttnLoadConfigClick() {
    shared_.LoadConfiguration(true);
}

}  // namespace ulvarin
