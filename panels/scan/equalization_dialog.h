// The results of a threshold equalisation as the window shows them: the summary line, the
// histograms of the pixels' thresholds before and after, maps before and after (of the
// thresholds or of the adjustment bits), each on a colour scale of its own with a colour
// bar, the pixels the run could not bring to the target marked and counted, and the buttons
// that keep the results (the HDF5 results file written during the run, the new pixel
// configuration as a mask file "Set Mask" loads) or revert them (the pixel configuration
// from before the run, back in the window and on the chips). A result the run did not keep
// (a spread widened, most pixels out of reach) is shown with the reason, the chips holding
// the configuration from before, and can still be applied. Not modal: the window goes on
// working while it is open.
#pragma once

#include <QDialog>
#include <QImage>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "calibration/threshold_equalizer.h"
#include "wire/chip_type.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTemporaryDir;

namespace ulvarin {

class PaintBox;
class WindowShared;

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

// The values a map's colours span, low at the bottom of its colour bar.
struct MapScale {
    double low = 0;
    double high = 1;

    bool operator==(const MapScale&) const = default;
};

// The scale of one threshold map: the middle 99 % of the finite values of the pixels that
// were equalised, at least one DAC step wide (widened about its middle). Each map gets its
// own, so the thresholds after a good run, a few tenths of a step apart, still show their
// pattern instead of one flat colour. 0 to 1 when no pixel counts.
MapScale ThresholdMapScale(const std::vector<float>& values,
                           const std::vector<PixelOutcome>& outcome);

// The colours of the pixels a map does not show by value.
constexpr uint32_t kOutOfReachColour = 0xFFFF0000;  // red: cannot reach the target
constexpr uint32_t kNoEdgeColour = 0xFFFFFFFF;      // white: no threshold found
constexpr uint32_t kMaskedColour = 0xFF808080;      // grey: masked, left alone

// A map in the image layout: `values` by pixel index on the viridis scale from
// `scale.low` to `scale.high` (values beyond in its end colours), except the pixels marked
// by their outcome: out of reach, without an edge, masked. A value that is not a number
// shows as no edge.
QImage PixelMapImage(const std::vector<float>& values, const std::vector<PixelOutcome>& outcome,
                     const ChipLayout& layout, MapScale scale);

struct OutcomeCounts {
    int equalized = 0;
    int outOfReach = 0;
    int noEdge = 0;
    int masked = 0;
};
OutcomeCounts CountOutcomes(const std::vector<PixelOutcome>& outcome);

class EqualizationDialog : public QDialog {
    Q_OBJECT
public:
    enum class MapKind { Thresholds = 0, Adjustments = 1 };

    EqualizationDialog(WindowShared& shared, QWidget* parent);
    ~EqualizationDialog() override;

    // Shows `result` (replacing any shown before). `wordsBefore` is the pixel configuration
    // the chips held before the run, which "Revert" puts back. `resultsFolder` holds the
    // results file `resultsFile` written during the run; empty `resultsFile` with
    // `fileError` saying why none could be written. `notKept` says why the run kept the
    // configuration from before ("" when it kept the result): the window then starts
    // reverted, the reason in its status line, and "Apply result" sends the result.
    void ShowResult(EqualizationResult result, std::vector<uint16_t> wordsBefore,
                    std::unique_ptr<QTemporaryDir> resultsFolder, std::string resultsFile,
                    std::string fileError, const std::string& notKept = {});

    // Asks for a name and copies the results file there.
    void BttnSaveResultsClick();
    // Asks for a name and writes the new pixel configuration as an ASCII mask file.
    void BttnSaveMaskClick();
    // "Revert": the pixel configuration from before the run goes back into the window and
    // to the chips; pressed again ("Apply result") the equalised one does. Refused when
    // another interface (other chips) is open now.
    void BttnRevertClick();
    // Shows the maps of the thresholds or of the adjustment bits.
    void ShowMaps(MapKind kind);

    const EqualizationResult& result() const { return result_; }
    bool Reverted() const { return reverted_; }
    // The last thing done: "Saved results to /path", "Reverted: ...".
    QString Status() const;
    MapScale BeforeScale() const { return beforeScale_; }
    MapScale AfterScale() const { return afterScale_; }
    const QImage& BeforeMap() const { return beforeMap_; }
    const QImage& AfterMap() const { return afterMap_; }

private:
    enum class Sent { kRefused, kFailed, kOffline, kSent };

    // The Revert button's caption and hint for the configuration the chips hold now.
    void ShowRevertState();
    // Puts `words` into the window's pixel configuration and sends them to the chips.
    // Refused (nothing changed) when other chips are in use now; a failed send is said in
    // an error box, the window keeping the words.
    Sent SendWords(const std::vector<uint16_t>& words);
    // Says what was done in the status line and in the message list.
    void Tell(const QString& text);
    void PaintHistograms(QPainter& painter, const QRect& area);
    void PaintMap(QPainter& painter, const QRect& area, bool after);

    WindowShared& shared_;
    EqualizationResult result_;
    std::vector<uint16_t> wordsBefore_;
    ChipType type_ = ChipType::Medipix2;
    bool reverted_ = false;
    ThresholdHistograms histograms_;
    MapKind mapKind_ = MapKind::Thresholds;
    QImage beforeMap_, afterMap_;
    MapScale beforeScale_, afterScale_;
    std::unique_ptr<QTemporaryDir> resultsFolder_;
    std::string resultsFile_;
    std::string fileError_;
    QLabel* LabelSummary = nullptr;
    QLabel* LabelLegend = nullptr;
    QLabel* LabelStatus = nullptr;
    QComboBox* CombMaps = nullptr;
    PaintBox* PaintBoxHistograms = nullptr;
    PaintBox* PaintBoxMapBefore = nullptr;
    PaintBox* PaintBoxMapAfter = nullptr;
    QPushButton* BttnSaveResults = nullptr;
    QPushButton* BttnSaveMask = nullptr;
    QPushButton* BttnRevert = nullptr;
};

}  // namespace ulvarin
