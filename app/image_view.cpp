// The image of the selected view: recomputed only when flagged (view, statistics, display
// range, histogram and colours), coloured into a 32-bit image and stretched over the image
// box; the statistics labels, the median on request and the histogram box.
#include "app/image_view.h"

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

template <class T>
T* Child(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromUtf8(name));
}

const QString kMedianStyle = QStringLiteral("QLabel { color: blue; }");

}  // namespace

ImageControls FindImageControls(QWidget* root) {
    ImageControls c;
    c.EditRangeMin = Child<QLineEdit>(root, "EditRangeMin");
    c.EditRangeMax = Child<QLineEdit>(root, "EditRangeMax");
    c.ChkbRangeAuto = Child<QCheckBox>(root, "ChkbRangeAuto");
    const char* const buttons[4] = {"BttnRangeMore", "BttnRangeLess", "BttnRangeLeft",
                                    "BttnRangeRight"};
    for (int i = 0; i < 4; ++i) c.rangeButtons[i] = Child<QPushButton>(root, buttons[i]);
    c.LabelRange = Child<QLabel>(root, "LabelRange");
    c.LabelSum = Child<QLabel>(root, "LabelSum");
    c.LabelAverage = Child<QLabel>(root, "LabelAverage");
    c.LabelStdDev = Child<QLabel>(root, "LabelStdDev");
    c.LabelMedian = Child<QLabel>(root, "LabelMedian");
    c.LabelTime = Child<QLabel>(root, "LabelTime");
    return c;
}

void TFormUlvarin::ConnectImageView() {
    imageUi = FindImageControls(this);
    connect(ui.ComboResult, &QComboBox::activated, this, &TFormUlvarin::ComboResultSelect);
    connect(ui.ChkbSum, &QCheckBox::clicked, this, &TFormUlvarin::ChkbSumClick);
    connect(imageUi.ChkbRangeAuto, &QCheckBox::clicked, this, &TFormUlvarin::ChkbRangeAutoClick);
    for (QLineEdit* edit : {imageUi.EditRangeMin, imageUi.EditRangeMax}) {
        connect(edit, &QLineEdit::returnPressed, this, &TFormUlvarin::EditRangeEnter);
        connect(edit, &QLineEdit::editingFinished, this, &TFormUlvarin::RequestImageRedraw);
    }
    for (int i = 0; i < 4; ++i)
        connect(imageUi.rangeButtons[i], &QPushButton::clicked, this,
                [this, i] { RangeButtonClick(static_cast<int>(kRangeButtonKinds[i])); });
    imageUi.LabelMedian->installEventFilter(this);
    ui.PaintBoxHistogram->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintHistogram(painter, area); });
}

bool TFormUlvarin::eventFilter(QObject* watched, QEvent* event) {
    if (watched == imageUi.LabelMedian && event->type() == QEvent::MouseButtonRelease) {
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
    range.autoRange = imageUi.ChkbRangeAuto->isChecked();
    range.minText = imageUi.EditRangeMin->text().toStdString();
    range.maxText = imageUi.EditRangeMax->text().toStdString();
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
    imageUi.EditRangeMin->setText(QString::fromStdString(range.minText));
    imageUi.EditRangeMax->setText(QString::fromStdString(range.maxText));
}

void TFormUlvarin::ShowStatistics() {
    const StatisticsLabels labels = FormatStatisticsLabels(shown.statistics, frames.integratedTime);
    imageUi.LabelRange->setText(QString::fromStdString(labels.range));
    imageUi.LabelSum->setText(QString::fromStdString(labels.sum));
    imageUi.LabelAverage->setText(QString::fromStdString(labels.average));
    imageUi.LabelStdDev->setText(QString::fromStdString(labels.standardDeviation));
    imageUi.LabelTime->setText(QString::fromStdString(labels.time));
    imageUi.LabelMedian->setText(QString::fromStdString(labels.median));
    imageUi.LabelMedian->setStyleSheet(kMedianStyle);
}

void TFormUlvarin::LabelMedianClick() {
    const double median = MedianOf(frames.result().first(frames.pixelsInUse()));
    imageUi.LabelMedian->setText(QString::fromStdString(FormatMedianLabel(median)));
    imageUi.LabelMedian->setStyleSheet(QString());
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
    imageUi.ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

void TFormUlvarin::RangeButtonClick(int button) {
    range.autoRange = imageUi.ChkbRangeAuto->isChecked();
    range.minText = imageUi.EditRangeMin->text().toStdString();
    range.maxText = imageUi.EditRangeMax->text().toStdString();
    const auto values = frames.result().first(frames.pixelsInUse());
    if (!PressRangeButton(static_cast<RangeButton>(button), values, range)) return;
    ShowRangeTexts();
    imageUi.ChkbRangeAuto->setChecked(false);
    RequestImageRedraw();
}

}  // namespace ulvarin
