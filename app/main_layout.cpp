#include "app/main_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/drop_down_combo.h"
#include "app/layout_tables.h"
#include "app/paint_box.h"
#include "app/up_down.h"

namespace ulvarin {
namespace {

// The control named `name`; a missing one is a fault of the tables, found at start-up.
template <class T>
T* Find(QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromUtf8(name));
    if (found == nullptr) {
        std::fprintf(stderr, "main window: control %s missing\n", name);
        std::abort();
    }
    return found;
}

PaintBox* MakePaintBox(QWidget* parent, const char* name, const char* hint, int width, int height) {
    auto* box = new PaintBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    if (*hint != 0) box->setToolTip(QString::fromUtf8(hint));
    if (width > 0)
        box->setFixedSize(width, height);
    else
        box->setMinimumHeight(height);
    return box;
}

QWidget* MakeGridPanel(QWidget* parent, const char* name, const Grid& grid) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromUtf8(name));
    auto* layout = new QGridLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(3);
    AddRows(layout, grid, panel);
    layout->setColumnStretch(layout->columnCount(), 1);  // spare room goes to the right
    return panel;
}

// Chip numbers and outlines over the four quadrants of the image, hidden until asked for.
// Index 0 (position 1) is the upper right quadrant, then upper left, lower left, lower right.
void AddQuadrantMarks(PaintBox* image) {
    static constexpr int kLeft[4] = {256, 0, 0, 256};
    static constexpr int kTop[4] = {0, 0, 256, 256};
    for (int i = 0; i < 4; ++i) {
        auto* shape = new QFrame(image);
        shape->setObjectName(QString::fromUtf8(kNumberShapes[i]));
        shape->setGeometry(kLeft[i] + 2, kTop[i] + 2, 252, 252);
        shape->setStyleSheet(QStringLiteral("QFrame { border: 2px solid yellow; }"));
        shape->hide();
        auto* label = new QLabel(QString::number(i + 1), image);
        label->setObjectName(QString::fromUtf8(kNumberLabels[i]));
        label->setGeometry(kLeft[i] + 108, kTop[i] + 98, 40, 60);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(
            QStringLiteral("QLabel { color: yellow; font-size: 40px; font-weight: bold; }"));
        label->hide();
    }
}

QWidget* ImageColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setFixedWidth(kImageSide);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    PaintBox* image =
        MakePaintBox(column, "PaintBoxBitmap", "Current image", kImageSide, kImageSide);
    AddQuadrantMarks(image);
    layout->addWidget(image);
    layout->addWidget(
        MakePaintBox(column, "PaintBoxHistogram", "Histogram of current image", kImageSide, 64));
    layout->addWidget(MakeGridPanel(column, "PanelImageView", ImageViewGrid()));
    layout->addWidget(MakeGridPanel(column, "PanelImageFiles", ImageFileGrid()));
    layout->addWidget(MakeGroup(StatisticsGroup(), column));
    layout->addStretch(1);
    return column;
}

QVBoxLayout* StackLayout(QWidget* column) {
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

QWidget* ChipColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    QVBoxLayout* layout = StackLayout(column);
    layout->addWidget(MakeGroup(MpxDacsGroup(), column));
    layout->addWidget(MakeGroup(BasicsGroup(), column));
    QGroupBox* analog = MakeGroup(InterfaceGroup(), column);
    analog->layout()->addWidget(
        MakePaintBox(analog, "PaintBoxScope", "Monitor of all ADC channels.", 0, 110));
    layout->addWidget(analog);
    layout->addStretch(1);
    return column;
}

QWidget* ProcessColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    QVBoxLayout* layout = StackLayout(column);
    layout->addWidget(MakeGroup(ProcessesGroup(), column));
    layout->addWidget(MakeGroup(ScanGroup(), column));
    layout->addWidget(MakeGroup(TestsGroup(), column));
    QGroupBox* pulses = MakeGroup(PulsesGroup(), column);
    auto* views = new QHBoxLayout;
    views->setSpacing(4);
    views->addWidget(MakePaintBox(pulses, "PaintBoxPulse", "Scope screen", 0, 100));
    views->addWidget(MakePaintBox(pulses, "PaintBoxSpectrum", "", 0, 100));
    static_cast<QVBoxLayout*>(pulses->layout())->insertLayout(0, views);
    layout->addWidget(pulses);
    layout->addStretch(1);
    return column;
}

QWidget* MessagePanel(QWidget* parent) {
    auto* panel = new QWidget(parent);
    auto* layout = StackLayout(panel);
    layout->setSpacing(3);
    auto* list = new QListWidget(panel);
    list->setObjectName(QStringLiteral("ListMsg"));
    list->setToolTip(QStringLiteral("Messages/errors"));
    list->setUniformItemSizes(true);
    list->setMinimumHeight(100);
    layout->addWidget(MakeGridPanel(panel, "PanelMessages", MessageBarGrid()));
    layout->addWidget(list, 1);
    return panel;
}

// The channel colours of ADC inputs 0 to 7, shown on black as in the scope monitor.
void ColourAdcLabels(QWidget* root) {
    static constexpr const char* kColours[8] = {"#0000ff", "#ff0000", "#00ff00", "#ffff00",
                                                "#ff00ff", "#00ffff", "#ffffff", "#ff8040"};
    for (int c = 0; c < 8; ++c) {
        const QByteArray name = "LabelADC" + QByteArray::number(c);
        auto* label = Find<QLabel>(root, name.constData());
        label->setStyleSheet(
            QStringLiteral("QLabel { background: black; color: %1; padding: 1px 4px; }")
                .arg(QLatin1String(kColours[c])));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    Find<QLabel>(root, "LabelMedian")->setStyleSheet(QStringLiteral("QLabel { color: blue; }"));
    auto* chips = Find<QLabel>(root, "LabelNumChips");
    chips->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; }"));
    chips->setMinimumWidth(150);
    auto* fileName = Find<QLineEdit>(root, "EditFileName");
    fileName->setMinimumWidth(
        fileName->fontMetrics().horizontalAdvance(QStringLiteral("data_0000.txt")) + 16);
    auto* devices = Find<QWidget>(root, "ComboDeviceName");
    static_cast<QComboBox*>(devices)->setMinimumContentsLength(36);
}

void Collect(QWidget* root, MainControls& c) {
    c.ComboDeviceName = Find<DropDownCombo>(root, "ComboDeviceName");
    c.BttnOpen = Find<QPushButton>(root, "BttnOpen");
    c.BttnClose = Find<QPushButton>(root, "BttnClose");
    c.ChkbSoftOpen = Find<QCheckBox>(root, "ChkbSoftOpen");
    c.LabelNumChips = Find<QLabel>(root, "LabelNumChips");
    c.BttnSaveCfg = Find<QPushButton>(root, "BttnSaveCfg");
    c.BttnLoadConfig = Find<QPushButton>(root, "BttnLoadConfig");
    c.ComboDAC = Find<DropDownCombo>(root, "ComboDAC");
    c.ComboChip = Find<DropDownCombo>(root, "ComboChip");
    c.ComboSenseDAC = Find<DropDownCombo>(root, "ComboSenseDAC");
    c.ComboBypassDAC = Find<DropDownCombo>(root, "ComboBypassDAC");
    c.CombScanDAC = Find<DropDownCombo>(root, "CombScanDAC");
    c.EditDACValue = Find<QLineEdit>(root, "EditDACValue");
    c.UpDownDACValue = Find<UpDown>(root, "UpDownDACValue");
    c.BttnSetDACs = Find<QPushButton>(root, "BttnSetDACs");
    c.LabelSelChip = Find<QLabel>(root, "LabelSelChip");
    c.LabelFSRMode = Find<QLabel>(root, "LabelFSRMode");
    c.CombSelectFSRMode = Find<DropDownCombo>(root, "CombSelectFSRMode");
    c.CombTimepixClock = Find<DropDownCombo>(root, "CombTimepixClock");
    c.BttnStart = Find<QPushButton>(root, "BttnStart");
    c.BttnStop = Find<QPushButton>(root, "BttnStop");
    c.BttnGetData = Find<QPushButton>(root, "BttnGetData");
    c.BttnResetMatrix = Find<QPushButton>(root, "BttnResetMatrix");
    c.BttnMPXReset = Find<QPushButton>(root, "BttnMPXReset");
    c.BttnFSRtst = Find<QPushButton>(root, "BttnFSRtst");
    c.BttnSetMask = Find<QPushButton>(root, "BttnSetMask");
    c.BttnResMask = Find<QPushButton>(root, "BttnResMask");
    c.BttnPowerOn = Find<QPushButton>(root, "BttnPowerOn");
    c.BttnPowerOff = Find<QPushButton>(root, "BttnPowerOff");
    c.BttnTester = Find<QPushButton>(root, "BttnTester");
    c.CombPolarity = Find<DropDownCombo>(root, "CombPolarity");
    c.ChkbSum = Find<QCheckBox>(root, "ChkbSum");
    c.ComboResult = Find<QComboBox>(root, "ComboResult");
    c.EditRangeMin = Find<QLineEdit>(root, "EditRangeMin");
    c.EditRangeMax = Find<QLineEdit>(root, "EditRangeMax");
    c.ChkbRangeAuto = Find<QCheckBox>(root, "ChkbRangeAuto");
    static constexpr const char* kRangeButtons[4] = {"BttnRangeMore", "BttnRangeLess",
                                                     "BttnRangeLeft", "BttnRangeRight"};
    for (int i = 0; i < 4; ++i) c.rangeButtons[i] = Find<QPushButton>(root, kRangeButtons[i]);
    c.LabelRange = Find<QLabel>(root, "LabelRange");
    c.LabelSum = Find<QLabel>(root, "LabelSum");
    c.LabelAverage = Find<QLabel>(root, "LabelAverage");
    c.LabelStdDev = Find<QLabel>(root, "LabelStdDev");
    c.LabelMedian = Find<QLabel>(root, "LabelMedian");
    c.LabelTime = Find<QLabel>(root, "LabelTime");
    c.ChkbInterfaceADCread = Find<QCheckBox>(root, "ChkbInterfaceADCread");
    c.CombProcessTemplate = Find<DropDownCombo>(root, "CombProcessTemplate");
    static constexpr const char* kActionButtons[6] = {"BttnDo",
                                                      "BttnDataAction",
                                                      "BttnPeriodAction",
                                                      "BttnIntervalAction",
                                                      "BttnTriggerAction",
                                                      "BttnCounterAction"};
    for (int s = 0; s < 6; ++s) c.actionButtons[s] = Find<QPushButton>(root, kActionButtons[s]);
    c.ListMsg = Find<QListWidget>(root, "ListMsg");
    c.ChkbMessagesShowJustErrors = Find<QCheckBox>(root, "ChkbMessagesShowJustErrors");
    c.BttnClearMsgList = Find<QPushButton>(root, "BttnClearMsgList");
    c.PaintBoxBitmap = Find<PaintBox>(root, "PaintBoxBitmap");
    c.PaintBoxHistogram = Find<PaintBox>(root, "PaintBoxHistogram");
    c.PaintBoxScope = Find<PaintBox>(root, "PaintBoxScope");
    c.PaintBoxPulse = Find<PaintBox>(root, "PaintBoxPulse");
    c.PaintBoxSpectrum = Find<PaintBox>(root, "PaintBoxSpectrum");
    for (int i = 0; i < 4; ++i) {
        c.numberLabels[i] = Find<QLabel>(root, kNumberLabels[i]);
        c.numberShapes[i] = Find<QFrame>(root, kNumberShapes[i]);
    }
    static constexpr const char* kLater[] = {
        "GroupBox5",            "GroupHWProcesses",  "GroupScan",
        "GroupTests",           "GroupPulses",       "PanelImageFiles",
        "PanelConfig",
        // Flat field, masks from the image and interpolation are still to come.
        "BttnUseAsFF",          "BttnImgAsMsk",      "BttnMaskOuter",
        "ChkbFF",               "ChkbInterpolate"};
    for (const char* name : kLater) c.notYetWorking.push_back(Find<QWidget>(root, name));
}

}  // namespace

MainControls BuildMainLayout(QMainWindow* window) {
    auto* central = new QWidget(window);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(5);
    auto* bar = new QHBoxLayout;
    bar->setSpacing(24);
    bar->addWidget(MakeGridPanel(central, "PanelDevice", DeviceBarGrid()), 1);
    bar->addWidget(MakeGridPanel(central, "PanelConfig", ConfigBarGrid()));
    layout->addLayout(bar);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(6);
    columns->addWidget(ImageColumn(central), 0, Qt::AlignTop);
    auto* right = new QGridLayout;
    right->setHorizontalSpacing(6);
    right->setVerticalSpacing(6);
    right->addWidget(ChipColumn(central), 0, 0);
    right->addWidget(ProcessColumn(central), 0, 1);
    right->addWidget(MessagePanel(central), 1, 0, 1, 2);
    right->setRowStretch(1, 1);
    columns->addLayout(right, 1);
    layout->addLayout(columns, 1);
    window->setCentralWidget(central);

    ColourAdcLabels(central);
    MainControls controls;
    Collect(central, controls);
    return controls;
}

}  // namespace ulvarin
