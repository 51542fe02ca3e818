// Controls described as data: each cell of a grid names its control (the objectName other
// code finds it by), its caption, hint and initial state. Groups are built from these
// tables so repeated controls are not written out one by one.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

class QGridLayout;
class QGroupBox;
class QWidget;

namespace ulvarin {

enum class Kind {
    Empty,  // an empty cell
    Label,  // a caption for its neighbour; `name` optional
    Button,
    Check,       // `selected` 1: checked at start
    List,        // drop-down list; `selected` item, or the item equal to `text`
    EditList,    // drop-down with an editable text; starts with `text`
    Edit,        // one-line edit box with `text`
    EditUpDown,  // edit box `name` with the up-down `upDown` beside it (min, max, position)
    UpDown,      // an up-down alone
};

struct Cell {
    Kind kind = Kind::Empty;
    const char* name = "";
    const char* text = "";
    const char* hint = "";
    std::vector<std::string> items = {};
    int selected = -1;
    const char* upDown = "";
    int minimum = 0;
    int maximum = 0;
    int position = 0;
    int span = 1;
    bool enabled = true;
};

using Row = std::vector<Cell>;
using Grid = std::vector<Row>;

struct GroupTable {
    const char* name;
    const char* title;
    std::vector<Grid> grids;  // stacked from top to bottom
};

// A caption cell for its neighbour.
inline Cell LabelCell(const char* text) {
    return {.kind = Kind::Label, .text = text};
}

// Makes the control a cell describes (a small container for EditUpDown).
QWidget* MakeControl(const Cell& cell, QWidget* parent);
// Adds the rows to `layout`, cells left to right taking `span` columns each.
void AddRows(QGridLayout* layout, const Grid& grid, QWidget* parent);
// A group box with its grids one under the other.
QGroupBox* MakeGroup(const GroupTable& table, QWidget* parent);

// A widget holding the grid's controls, named `name`; spare room goes to the right.
QWidget* MakeGridPanel(QWidget* parent, const char* name, const Grid& grid);

// The control named `name` under `root`; a missing one is a fault of the tables, found at
// start-up, so the program stops there with the name.
template <class T>
T* FindControl(QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromUtf8(name));
    if (found == nullptr) {
        std::fprintf(stderr, "main window: control %s missing\n", name);
        std::abort();
    }
    return found;
}

// The chip DAC names the selectors show before an interface tells its own.
const std::vector<std::string>& DesignDacNames();

// Item lists that follow a rule: "0.0 V" ... in steps of 0.1 V.
std::vector<std::string> VoltItems(int firstTenths, int lastTenths);

}  // namespace ulvarin
