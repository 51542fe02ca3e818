// The image of the selected view with its display range, colour bar, histogram and
// statistics. The view is recomputed only when flagged (view, statistics, range, histogram
// and colours), drawn with square pixels in whatever room the window gives it, and the
// pixel under the mouse is described in a status line. Every recomputation asks for the
// image to be painted again, whichever path brought it. The wheel zooms the image towards the
// pointer, a drag moves the zoomed image, a double click shows the whole image again; Shift+drag or
// a right-drag draws a region whose statistics show beside the whole image's.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/display_range.h"
#include "imaging/image_recompute.h"
#include "imaging/image_placement.h"
#include "imaging/recompute_thread.h"
#include "imaging/image_view.h"
#include "imaging/result_view.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;

namespace ulvarin {

enum class MaskRule;
class ColourBar;
class PaintBox;
class WindowShared;

class ImagePanel : public QWidget {
    Q_OBJECT
public:
    ImagePanel(WindowShared& shared, QWidget* parent);
    ~ImagePanel() override;

    // Takes in the frame just written to the raw frame (copied, or added while integrating),
    // switches the view back to "Result" and redraws the image.
    void NewFrame();
    // The same for a frame of a stream: the image is recomputed on the renderer's thread
    // and shown when it is ready; frames that come meanwhile are taken in, and the newest
    // is shown next.
    void NewFrameDeferred();
    // True while a recomputation runs elsewhere; the image shows the one before.
    bool Rendering() const { return renderInFlight_; }
    // True while the image shown is older than its inputs.
    bool Stale() const { return recompute_; }
    // Frames of a stream are recomputed on the renderer's thread; cleared (for comparison),
    // at the next repaint on this one.
    bool renderElsewhere = true;
    // Marks the image for recomputation, recomputes it and repaints it.
    void RequestImageRedraw();

    void ComboResultSelect();
    // "Use Img. for FF": flat-field factors from the view as shown, normalised by its median.
    void BttnUseAsFFClick();
    void ChkbFFClick() { RequestImageRedraw(); }
    // "Mask nonzero pix" and "Mask outer pixels": masks pixels by their value in the view
    // as shown (outside the display range for the second), sends the matrix and says in
    // the message list how many pixels it masked.
    void BttnImgAsMskClick();
    void BttnMaskOuterClick();
    void ChkbInterpolateClick() { RequestImageRedraw(); }
    // "Integrate pics": starts a sum of frames, or shows the last single frame again.
    void ChkbSumClick();
    void ChkbRangeAutoClick();
    // "Robust": Auto takes the 0.1 % and 99.9 % percentiles of the good pixels instead of
    // the lowest and highest value; ticking it ticks Auto too.
    void ChkbRangeRobustClick();
    // Enter in a range box: the typed limits take over from Auto.
    void EditRangeEnter();
    // A range button (RangeButton as int): changes the limits, switches Auto off, redraws.
    void RangeButtonClick(int button);
    // Computes the median of the view (masked pixels included) into its label; returns it.
    double LabelMedianClick();
    // Types `minimum` and `maximum` into the range boxes and applies them as Enter does.
    void SetTypedRange(double minimum, double maximum);
    // Unticks Auto and "Interpolate bad" and types the range, for a pattern to be shown as
    // it was written.
    void ShowFixedRange(double minimum, double maximum);

    // For a scan step: the statistics of the view as it is now (recomputed first when
    // flagged), and its median as the median label shows it.
    const ImageStatistics& CurrentStatistics();
    double MedianNow();
    // "Integrate pics" set as the operator would set it (its handler runs on a change).
    void SetIntegrating(bool on);
    bool Integrating() const;
    // "Flat field corr." ticked: the counts are shown corrected.
    bool FlatFieldShown() const;
    // A fresh sum: "Integrate pics" ticked, the sum and its time at 0. The image and its
    // statistics keep showing the frame before until the next one is taken in, so a scan
    // shows each step's frame while the following step exposes.
    void StartFreshSum();

    // --- for the configuration file ----------------------------------------------------
    // The display range as last computed, and the Auto box.
    DisplayRange ViewRange() const { return range_.range; }
    bool RangeAuto() const;
    // Stores the range, shows its texts, sets Auto and redraws the image with them.
    void ApplyViewRange(double minimum, double maximum, bool autoRange);

    // Chip numbers and outlines over the quadrants of a four-chip image.
    void ShowChipMarks(bool numbers, bool outlines);
    // Outlines the chips selector item `item` stands for (0: all, k: chip k).
    void OutlineChip(int item);

    // Statistics and histogram of the last recomputation.
    const RecomputedImage& shown() const { return shown_; }
    // Where the whole image is drawn in its box when not zoomed.
    Placement ImagePlacement() const;

    // --- zoom, pan and region ------------------------------------------------------------
    // Where the whole image lies in its box now, zoomed and moved as the operator left it;
    // what is drawn at a box point and the pixel named there both follow it.
    ViewTransform ImageTransform() const;
    const ImageZoom& Zoom() const { return zoom_; }
    // The wheel: zooms by `factor` about point (x, y) of the image box.
    void ZoomImageAt(int x, int y, double factor);
    // The whole image, fitted to its box again.
    void BttnResetZoomClick();
    // The region whose statistics are shown: the image pixels from `from` to `to`, both
    // corners included.
    void SetRegion(ImagePoint from, ImagePoint to);
    void BttnClearRegionClick();
    const std::optional<ImageRect>& Region() const { return region_; }
    // Statistics of the region's good pixels in the view as shown; empty without a region.
    const ImageStatistics& RegionStatistics() const { return regionStatistics_; }
    void ComboColourMapSelect() { RequestImageRedraw(); }
    void ChkbLogScaleClick() { RequestImageRedraw(); }

signals:
    // A frame has been taken in (its view may be recomputed later).
    void frameTakenIn();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void ConnectControls();
    // A new interface: a fresh image and the chip numbers of its type.
    void ResetForInterface();
    void RecomputeImageIfFlagged();
    // A recomputed image: range texts, statistics, colour bar and histogram follow, and the
    // image is painted again.
    void ShowNewImage(double time);
    void ShowColourBar();
    void PlaceColourBar();
    // A frame just written to the raw frame is taken into the counts; the view follows.
    void TakeInFrame();
    GoodPixels GoodPixelsNow() const;
    // The view, correction and colour controls into view_.
    void ReadViewControls();
    void MaskFromImage(MaskRule rule);
    void ReadRangeBoxes();
    void ShowRangeTexts();
    // Writes the two limits into the range boxes; runs no handler.
    void ShowLimitTexts(double minimum, double maximum);
    void ShowStatistics(double time);
    // The inputs of the image changed: it is to be recomputed.
    void FlagRecompute();
    void ScheduleRender();
    void TakeRender(const RenderedImage& rendered);
    void StepLimit(QLineEdit* edit, int direction);
    void ShowPointedPixel(int x, int y);
    void ShowRegionStatistics();
    // The mouse over the image box: zoom, pan and region; true when the event is used up.
    bool ImageMouseEvent(QEvent* event);
    ViewArea ImageArea() const;
    // The zoom or pan changed: marks, pointed pixel and picture follow.
    void ViewMoved(QPoint pointer);
    void PlaceChipMarks();
    void PaintImage(QPainter& painter, const QRect& area);
    void PaintHistogram(QPainter& painter, const QRect& area);

    WindowShared& shared_;
    PaintBox* PaintBoxBitmap = nullptr;
    PaintBox* PaintBoxHistogram = nullptr;
    ColourBar* ColourBarImage = nullptr;
    QLabel* LabelPixelInfo = nullptr;
    QComboBox* ComboResult = nullptr;
    QCheckBox* ChkbSum = nullptr;
    QLineEdit* EditRangeMin = nullptr;
    QLineEdit* EditRangeMax = nullptr;
    QCheckBox* ChkbRangeAuto = nullptr;
    QCheckBox* ChkbRangeRobust = nullptr;
    QCheckBox* ChkbFF = nullptr;
    QCheckBox* ChkbInterpolate = nullptr;
    // "-", "+", "<<", ">>": wider, narrower, down, up.
    std::array<QPushButton*, 4> rangeButtons_{};
    QLabel* LabelRange = nullptr;
    QLabel* LabelSum = nullptr;
    QLabel* LabelAverage = nullptr;
    QLabel* LabelStdDev = nullptr;
    QLabel* LabelMedian = nullptr;
    QLabel* LabelTime = nullptr;
    QComboBox* ComboColourMap = nullptr;
    QCheckBox* ChkbLogScale = nullptr;
    QLabel* LabelRegion = nullptr;
    QLabel* LabelRegionSum = nullptr;
    QLabel* LabelRegionCount = nullptr;
    QLabel* LabelRegionAverage = nullptr;
    QLabel* LabelRegionStdDev = nullptr;
    // Over the image quadrants, index 0 = chip position 1 (upper right).
    std::array<QLabel*, 4> numberLabels_{};
    std::array<QFrame*, 4> numberShapes_{};

    ViewSettings view_;
    DisplayRangeControls range_;
    RecomputedImage shown_;
    bool recompute_ = false;             // the image must be recomputed at its next paint
    bool paintingImage_ = false;         // inside the image box's paint
    uint64_t inputVersion_ = 0;          // counts FlagRecompute calls
    std::vector<uint32_t> imagePixels_;  // the coloured image, geometry-sized, 0xFFRRGGBB
    std::unique_ptr<ImageRenderer> renderer_;
    bool renderInFlight_ = false;
    bool renderWanted_ = false;  // frames came while a recomputation ran

    ImageZoom zoom_;
    std::optional<ImageRect> region_;
    ImageStatistics regionStatistics_;
    std::vector<uint32_t> boxPixels_;  // the box's picture, as RenderView makes it
    // A drag over the image: moving the zoomed image, or drawing the region.
    enum class Drag { None, Pan, Region };
    Drag drag_ = Drag::None;
    QPoint dragFrom_;
    ImageZoom dragZoom_;     // the zoom when a pan began
    ImagePoint regionFrom_;  // the pixel where a region began
};

}  // namespace ulvarin
