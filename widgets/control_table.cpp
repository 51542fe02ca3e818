#include "widgets/control_table.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "widgets/drop_down_combo.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QWidget* MakeCombo(const Cell& cell, QWidget* parent) {
    auto* combo = new DropDownCombo(parent);
    combo->setEditable(cell.kind == Kind::EditList);
    // An editable list keeps its fixed choices: a value typed and entered is used, not listed.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMaxVisibleItems(20);
    // Long items must not widen the window; the list shows them in full when dropped down.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(6);
    for (const std::string& item : cell.items) combo->addItem(QString::fromStdString(item));
    if (cell.kind == Kind::EditList)
        combo->setEditText(Text(cell.text));
    else if (cell.selected >= 0)
        combo->setCurrentIndex(cell.selected);
    else
        combo->setCurrentIndex(combo->findText(Text(cell.text)));
    return combo;
}

UpDown* MakeUpDown(const Cell& cell, QWidget* parent, const char* name) {
    auto* upDown = new UpDown(parent);
    upDown->setObjectName(Text(name));
    upDown->SetRange(cell.minimum, cell.maximum);
    upDown->SetPosition(cell.position);
    return upDown;
}

QWidget* MakeEditUpDown(const Cell& cell, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    auto* edit = new QLineEdit(Text(cell.text), box);
    edit->setObjectName(Text(cell.name));
    edit->setToolTip(Text(cell.hint));
    edit->setMinimumWidth(44);
    UpDown* upDown = MakeUpDown(cell, box, cell.upDown);
    upDown->SetBuddy(edit);
    layout->addWidget(edit, 1);
    layout->addWidget(upDown);
    return box;
}

QWidget* MakeBasic(const Cell& cell, QWidget* parent) {
    switch (cell.kind) {
        case Kind::Label:
            return new QLabel(Text(cell.text), parent);
        case Kind::Button:
            return new QPushButton(Text(cell.text), parent);
        case Kind::Check: {
            auto* check = new QCheckBox(Text(cell.text), parent);
            check->setChecked(cell.selected == 1);
            return check;
        }
        case Kind::Edit:
            return new QLineEdit(Text(cell.text), parent);
        case Kind::UpDown:
            return MakeUpDown(cell, parent, cell.name);
        default:
            return new QWidget(parent);
    }
}

}  // namespace

QWidget* MakeControl(const Cell& cell, QWidget* parent) {
    QWidget* control = nullptr;
    if (cell.kind == Kind::List || cell.kind == Kind::EditList)
        control = MakeCombo(cell, parent);
    else if (cell.kind == Kind::EditUpDown)
        return MakeEditUpDown(cell, parent);  // names and hints are on its parts
    else
        control = MakeBasic(cell, parent);
    control->setObjectName(Text(cell.name));
    if (*cell.hint != 0) control->setToolTip(Text(cell.hint));
    control->setEnabled(cell.enabled);
    return control;
}

void AddRows(QGridLayout* layout, const Grid& grid, QWidget* parent) {
    const int firstRow = layout->rowCount() == 1 && layout->count() == 0 ? 0 : layout->rowCount();
    for (size_t r = 0; r < grid.size(); ++r) {
        int column = 0;
        for (const Cell& cell : grid[r]) {
            if (cell.kind != Kind::Empty)
                layout->addWidget(MakeControl(cell, parent), firstRow + static_cast<int>(r), column,
                                  1, cell.span);
            column += cell.span;
        }
    }
}

QGroupBox* MakeGroup(const GroupTable& table, QWidget* parent) {
    auto* group = new QGroupBox(Text(table.title), parent);
    group->setObjectName(Text(table.name));
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(5, 3, 5, 5);
    layout->setSpacing(4);
    for (const Grid& grid : table.grids) {
        auto* gridLayout = new QGridLayout;
        gridLayout->setHorizontalSpacing(4);
        gridLayout->setVerticalSpacing(3);
        AddRows(gridLayout, grid, group);
        layout->addLayout(gridLayout);
    }
    return group;
}

QWidget* MakeGridPanel(QWidget* parent, const char* name, const Grid& grid) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(Text(name));
    auto* layout = new QGridLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(3);
    AddRows(layout, grid, panel);
    layout->setColumnStretch(layout->columnCount(), 1);
    return panel;
}

const std::vector<std::string>& DesignDacNames() {
    static const std::vector<std::string> kNames = {
        "DelayN", "Disc", "Preamp", "SetDisc", "Ths",        "Ikrum",    "ABuffer",
        "Vthh",   "Vthl", "Vfbk",   "Vgnd",    "BiasLVDStx", "RefLVDStx"};
    return kNames;
}

std::vector<std::string> VoltItems(int firstTenths, int lastTenths) {
    std::vector<std::string> items;
    for (int t = firstTenths; t <= lastTenths; ++t) {
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d V", t / 10, t % 10);
        items.emplace_back(text);
    }
    return items;
}

}  // namespace ulvarin
