// The display range controls of the image panel (Auto, Robust, the limit boxes and the
// range buttons), the colour bar that shows the range beside the image, and the histogram.
#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>

#include "imaging/colour_map.h"
#include "imaging/histogram.h"
#include "imaging/readable_number.h"
#include "panels/image/image_panel.h"
#include "panels/shared/window_shared.h"
#include "widgets/colour_bar.h"
#include "widgets/paint_box.h"

namespace ulvarin {
namespace {

// A limit as the range boxes show it. The range keeps the limit's other digits as long as
// its box shows this text (see ComputeDisplayRange).
QString LimitText(double value) {
    return QString::fromStdString(ReadableNumber(value));
}

QString ReadableText(double value) {
    return QString::fromStdString(ReadableNumber(value));
}

}  // namespace

// Up and Down keys and the wheel step a limit by a tenth of the range's order of magnitude
// and apply it, as Enter applies a typed one.
void ImagePanel::StepLimit(QLineEdit* edit, int direction) {
    ReadRangeBoxes();
    ComputeDisplayRange(shared_.frames.result().first(shared_.frames.pixelsInUse()), range_,
                        GoodPixelsNow());
    const double step = LimitStep(range_.range);
    const double now = edit == EditRangeMin ? range_.range.min : range_.range.max;
    edit->setText(LimitText(now + direction * step));
    EditRangeEnter();
}

void ImagePanel::ReadRangeBoxes() {
    range_.autoRange = ChkbRangeAuto->isChecked();
    range_.robust = ChkbRangeRobust->isChecked();
    range_.minText = EditRangeMin->text().toStdString();
    range_.maxText = EditRangeMax->text().toStdString();
}

void ImagePanel::ShowColourBar() {
    const ColourTable& table = TableOf(view_.colouring.map);
    ColourBarImage->SetColours(table.levels, table.below, table.above);
    const DisplayRange r = range_.range;
    ColourBarImage->SetNumbers(ReadableText(r.min),
                               ReadableText(RangeValueAt(0.5, r, view_.colouring.log)),
                               ReadableText(r.max));
    PlaceColourBar();
}

// The ramp spans the rows of the whole image beside it.
void ImagePanel::PlaceColourBar() {
    const Placement at = ImagePlacement();
    ColourBarImage->SetSpan(at.top + PaintBoxBitmap->y() - ColourBarImage->y(), at.height);
}

void ImagePanel::ShowRangeTexts() {
    EditRangeMin->setText(QString::fromStdString(range_.minText));
    EditRangeMax->setText(QString::fromStdString(range_.maxText));
}

void ImagePanel::ShowLimitTexts(double minimum, double maximum) {
    EditRangeMin->setText(LimitText(minimum));
    EditRangeMax->setText(LimitText(maximum));
}

void ImagePanel::PaintHistogram(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::black);
    const Histogram& h = shown_.histogram;
    if (!h.hasPeak()) return;
    const QColor green(0, 128, 0);
    for (int bin = 0; bin < kHistogramBins; ++bin) {
        const BarRect r = HistogramBar(h, bin, area.width(), area.height());
        painter.fillRect(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)), green);
    }
    painter.setPen(Qt::red);
    painter.setBackground(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    const QFontMetrics metrics(painter.font());
    const QString peak = QString::fromStdString(FormatPeakLabel(h));
    // 60 pixels from the right edge, moved left where a long number would not fit.
    const int x = std::min(area.width() - 60, area.width() - metrics.horizontalAdvance(peak) - 2);
    painter.drawText(x, 5 + metrics.ascent(), peak);
}

void ImagePanel::ChkbRangeAutoClick() {
    RequestImageRedraw();
}

void ImagePanel::ChkbRangeRobustClick() {
    // The robust range is an automatic one: choosing it lets the data decide again.
    if (ChkbRangeRobust->isChecked()) ChkbRangeAuto->setChecked(true);
    RequestImageRedraw();
}

void ImagePanel::EditRangeEnter() {
    ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

void ImagePanel::SetTypedRange(double minimum, double maximum) {
    range_.range = {minimum, maximum};  // the boxes show them shortened; the range keeps them
    ShowLimitTexts(minimum, maximum);
    EditRangeEnter();
}

void ImagePanel::ShowFixedRange(double minimum, double maximum) {
    if (ChkbRangeAuto->isChecked()) {
        ChkbRangeAuto->setChecked(false);
        ChkbRangeAutoClick();
    }
    if (ChkbInterpolate->isChecked()) {
        ChkbInterpolate->setChecked(false);
        ChkbInterpolateClick();
    }
    range_.range = {minimum, maximum};
    ShowLimitTexts(minimum, maximum);
}

bool ImagePanel::RangeAuto() const {
    return ChkbRangeAuto->isChecked();
}

void ImagePanel::ApplyViewRange(double minimum, double maximum, bool autoRange) {
    range_.range = {minimum, maximum};
    ShowLimitTexts(minimum, maximum);
    ChkbRangeAuto->setChecked(autoRange);
    // The image, its colour bar and the boxes show the range now, Auto or not.
    RequestImageRedraw();
}

void ImagePanel::RangeButtonClick(int button) {
    ReadRangeBoxes();
    const auto values = shared_.frames.result().first(shared_.frames.pixelsInUse());
    if (!PressRangeButton(static_cast<RangeButton>(button), values, range_, GoodPixelsNow()))
        return;
    ShowRangeTexts();
    ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

}  // namespace ulvarin
