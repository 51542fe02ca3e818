// The image of the selected view: recomputed only when flagged (view, statistics, display
// range, histogram and colours), coloured into a 32-bit image and stretched over the image
// box; the statistics labels, the median on request and the histogram box.
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "app/paint_box.h"
#include "app/program.h"
#include "imaging/median.h"

namespace ulvarin {
namespace {

constexpr RangeButton kRangeButtonKinds[4] = {RangeButton::Wider, RangeButton::Narrower,
                                              RangeButton::Down, RangeButton::Up};

const QString kMedianStyle = QStringLiteral("QLabel { color: blue; }");

}  // namespace

void TFormUlvarin::ConnectImageView() {
    connect(ui.ComboResult, &QComboBox::activated, this, &TFormUlvarin::ComboResultSelect);
    connect(ui.ChkbSum, &QCheckBox::clicked, this, &TFormUlvarin::ChkbSumClick);
    connect(ui.ChkbRangeAuto, &QCheckBox::clicked, this, &TFormUlvarin::ChkbRangeAutoClick);
    for (QLineEdit* edit : {ui.EditRangeMin, ui.EditRangeMax}) {
        connect(edit, &QLineEdit::returnPressed, this, &TFormUlvarin::EditRangeEnter);
        connect(edit, &QLineEdit::editingFinished, this, &TFormUlvarin::RequestImageRedraw);
    }
    for (int i = 0; i < 4; ++i)
        connect(ui.rangeButtons[i], &QPushButton::clicked, this,
                [this, i] { RangeButtonClick(static_cast<int>(kRangeButtonKinds[i])); });
    ui.LabelMedian->installEventFilter(this);
    ui.PaintBoxHistogram->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintHistogram(painter, area); });
}

bool TFormUlvarin::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.LabelMedian && event->type() == QEvent::MouseButtonRelease) {
        LabelMedianClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormUlvarin::RequestImageRedraw() {
    recompute = true;
    RecomputeImageIfFlagged();
    ui.PaintBoxBitmap->update();
}

void TFormUlvarin::DropDisplayBitmap() { imagePixels_.clear(); }

void TFormUlvarin::RecomputeImageIfFlagged() {
    if (frames.pixelsInUse() == 0) return;
    const ImageGeometry g = frames.geometry();
    if (imagePixels_.size() != g.pixels()) {
        imagePixels_.assign(g.pixels(), 0xFF000000u);
        recompute = true;
    }
    if (!recompute) return;
    view.view = static_cast<ResultView>(std::max(0, ui.ComboResult->currentIndex()));
    range.autoRange = ui.ChkbRangeAuto->isChecked();
    range.minText = ui.EditRangeMin->text().toStdString();
    range.maxText = ui.EditRangeMax->text().toStdString();
    shown = RecomputeImage(frames, view, range, imagePixels_);
    recompute = false;
    if (shown.rangeTextsChanged) ShowRangeTexts();
    ShowStatistics();
    ui.PaintBoxHistogram->update();
}

void TFormUlvarin::PaintImage(QPainter& painter, const QRect& area) {
    RecomputeImageIfFlagged();
    if (frames.pixelsInUse() == 0 || imagePixels_.empty()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    const ImageGeometry g = frames.geometry();
    const QImage image(reinterpret_cast<const uchar*>(imagePixels_.data()),
                       static_cast<int>(g.width()), static_cast<int>(g.height()),
                       QImage::Format_RGB32);
    painter.drawImage(area, image);
}

void TFormUlvarin::ShowRangeTexts() {
    ui.EditRangeMin->setText(QString::fromStdString(range.minText));
    ui.EditRangeMax->setText(QString::fromStdString(range.maxText));
}

void TFormUlvarin::ShowStatistics() {
    const StatisticsLabels labels = FormatStatisticsLabels(shown.statistics, frames.integratedTime);
    ui.LabelRange->setText(QString::fromStdString(labels.range));
    ui.LabelSum->setText(QString::fromStdString(labels.sum));
    ui.LabelAverage->setText(QString::fromStdString(labels.average));
    ui.LabelStdDev->setText(QString::fromStdString(labels.standardDeviation));
    ui.LabelTime->setText(QString::fromStdString(labels.time));
    ui.LabelMedian->setText(QString::fromStdString(labels.median));
    ui.LabelMedian->setStyleSheet(kMedianStyle);
}

void TFormUlvarin::LabelMedianClick() {
    const double median = MedianOf(frames.result().first(frames.pixelsInUse()));
    ui.LabelMedian->setText(QString::fromStdString(FormatMedianLabel(median)));
    ui.LabelMedian->setStyleSheet(QString());
}

void TFormUlvarin::PaintHistogram(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::black);
    const Histogram& h = shown.histogram;
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

void TFormUlvarin::ComboResultSelect() { RequestImageRedraw(); }

void TFormUlvarin::ChkbSumClick() {
    frames.SetIntegrating(ui.ChkbSum->isChecked());
    RequestImageRedraw();
}

void TFormUlvarin::ChkbRangeAutoClick() { RequestImageRedraw(); }

void TFormUlvarin::EditRangeEnter() {
    ui.ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

void TFormUlvarin::RangeButtonClick(int button) {
    range.autoRange = ui.ChkbRangeAuto->isChecked();
    range.minText = ui.EditRangeMin->text().toStdString();
    range.maxText = ui.EditRangeMax->text().toStdString();
    const auto values = frames.result().first(frames.pixelsInUse());
    if (!PressRangeButton(static_cast<RangeButton>(button), values, range)) return;
    ShowRangeTexts();
    ui.ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

}  // namespace ulvarin
