// The controls of the image view and its statistics: view selector, integration switch,
// display range boxes and buttons, and the statistics labels.
#pragma once

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ulvarin {

struct ImageControls {
    QLineEdit* EditRangeMin = nullptr;
    QLineEdit* EditRangeMax = nullptr;
    QCheckBox* ChkbRangeAuto = nullptr;
    // "-", "+", "<<", ">>": wider, narrower, down, up.
    std::array<QPushButton*, 4> rangeButtons{};
    QLabel* LabelRange = nullptr;
    QLabel* LabelSum = nullptr;
    QLabel* LabelAverage = nullptr;
    QLabel* LabelStdDev = nullptr;
    QLabel* LabelMedian = nullptr;
    QLabel* LabelTime = nullptr;
};

// Finds the image controls below `root` by their names.
ImageControls FindImageControls(QWidget* root);

}  // namespace ulvarin
