// The results of a threshold equalisation as the window shows them: the summary line, the
// histograms of the pixels' thresholds before and after, the map of the thresholds after,
// and the buttons that keep them (the HDF5 results file written during the run, and the
// new pixel configuration as a mask file "Set Mask" loads). Not modal: the window goes on
// working while it is open.
#pragma once

#include <QDialog>
#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "calibration/threshold_equalizer.h"

class QLabel;
class QPushButton;
class QTemporaryDir;

namespace ulvarin {

class PaintBox;

// Pixels per threshold bin before and after, over one common range of DAC values.
struct ThresholdHistograms {
    double low = 0;
    double binWidth = 1;
    std::vector<int> before;
    std::vector<int> after;
    int highest = 0;  // the fullest bin of either
};

// Bins the finite thresholds of both maps over the range that holds all but the outer
// 0.1 % of the "before" values and every "after" value within it, widened to whole DAC
// steps; values outside fall into the end bins. Empty bins when neither map has a value.
ThresholdHistograms BinThresholds(const EqualizationResult& result, int bins);

// The "after" map in the image layout: dark grey at `low` to white at `high`, blue below,
// red above, black where no threshold was found.
QImage ThresholdMapImage(const EqualizationResult& result, double low, double high);

class EqualizationDialog : public QDialog {
    Q_OBJECT
public:
    explicit EqualizationDialog(QWidget* parent);
    ~EqualizationDialog() override;

    // Shows `result` (replacing any shown before). `resultsFolder` holds the results file
    // `resultsFile` written during the run; empty `resultsFile` with `fileError` saying why
    // none could be written.
    void ShowResult(EqualizationResult result, std::unique_ptr<QTemporaryDir> resultsFolder,
                    std::string resultsFile, std::string fileError);

    // Asks for a name and copies the results file there.
    void BttnSaveResultsClick();
    // Asks for a name and writes the new pixel configuration as an ASCII mask file.
    void BttnSaveMaskClick();

    const EqualizationResult& result() const { return result_; }

private:
    void PaintHistograms(QPainter& painter, const QRect& area);
    void PaintMap(QPainter& painter, const QRect& area);

    EqualizationResult result_;
    ThresholdHistograms histograms_;
    QImage map_;
    double mapLow_ = 0, mapHigh_ = 0;
    std::unique_ptr<QTemporaryDir> resultsFolder_;
    std::string resultsFile_;
    std::string fileError_;
    QLabel* LabelSummary = nullptr;
    PaintBox* PaintBoxHistograms = nullptr;
    PaintBox* PaintBoxMap = nullptr;
    QPushButton* BttnSaveResults = nullptr;
    QPushButton* BttnSaveMask = nullptr;
};

}  // namespace ulvarin
