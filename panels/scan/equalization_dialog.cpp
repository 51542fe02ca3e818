#include "panels/scan/equalization_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "files/mask_file.h"
#include "widgets/dialogs.h"
#include "widgets/paint_box.h"

namespace ulvarin {
namespace {

constexpr int kBins = 64;
const QColor kBeforeColour(230, 130, 0);
const QColor kAfterColour(0, 170, 0);

std::vector<float> Finite(const std::vector<float>& values) {
    std::vector<float> out;
    out.reserve(values.size());
    for (float v : values)
        if (std::isfinite(v)) out.push_back(v);
    std::sort(out.begin(), out.end());
    return out;
}

// The value below which `share` of the sorted values lie.
double Quantile(const std::vector<float>& sorted, double share) {
    const auto k = static_cast<size_t>(share * static_cast<double>(sorted.size() - 1));
    return sorted[k];
}

void Count(const std::vector<float>& values, const ThresholdHistograms& h, std::vector<int>& bins) {
    std::fill(bins.begin(), bins.end(), 0);
    const int last = static_cast<int>(bins.size()) - 1;
    for (float v : values) {
        if (!std::isfinite(v)) continue;
        const int bin = std::clamp(static_cast<int>(std::floor((v - h.low) / h.binWidth)), 0, last);
        ++bins[static_cast<size_t>(bin)];
    }
}

QString Number(double value) {
    return QString::number(value, 'g', 4);
}

}  // namespace

ThresholdHistograms BinThresholds(const EqualizationResult& result, int bins) {
    ThresholdHistograms h;
    const std::vector<float> before = Finite(result.before);
    const std::vector<float> after = Finite(result.after);
    if ((before.empty() && after.empty()) || bins < 1) return h;
    // A few stray pixels (dead, hot) would stretch the axis until the peak is one bar.
    const std::vector<float>& main = before.empty() ? after : before;
    double low = Quantile(main, 0.001), high = Quantile(main, 0.999);
    if (!after.empty()) {
        low = std::min(low, Quantile(after, 0.001));
        high = std::max(high, Quantile(after, 0.999));
    }
    low = std::floor(low);
    high = std::max(std::ceil(high), low + 1);
    h.low = low;
    h.binWidth = (high - low) / bins;
    h.before.resize(static_cast<size_t>(bins));
    h.after.resize(static_cast<size_t>(bins));
    Count(result.before, h, h.before);
    Count(result.after, h, h.after);
    for (const std::vector<int>* counts : {&h.before, &h.after})
        for (int c : *counts) h.highest = std::max(h.highest, c);
    return h;
}

QImage ThresholdMapImage(const EqualizationResult& result, double low, double high) {
    const ImageGeometry geometry = GeometryFor(result.layout.chipCount);
    QImage image(static_cast<int>(geometry.width()), static_cast<int>(geometry.height()),
                 QImage::Format_RGB32);
    const double span = high > low ? high - low : 1;
    for (uint32_t i = 0; i < geometry.pixels(); ++i) {
        const uint32_t pixel = ImageIndexToPixel(i, result.layout);
        const float value = pixel < result.after.size() ? result.after[pixel] : NAN;
        QRgb colour = qRgb(0, 0, 0);
        if (std::isfinite(value)) {
            if (value < low) {
                colour = qRgb(0, 0, 255);
            } else if (value > high) {
                colour = qRgb(255, 0, 0);
            } else {
                // Dark grey at the bottom, so pixels without an edge (black) stand out.
                const int grey = 48 + static_cast<int>(std::lround(207.0 * (value - low) / span));
                colour = qRgb(grey, grey, grey);
            }
        }
        image.setPixel(static_cast<int>(i % geometry.width()), static_cast<int>(i / geometry.width()),
                       colour);
    }
    return image;
}

EqualizationDialog::EqualizationDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormEqualization"));
    setWindowTitle(QStringLiteral("Threshold equalization"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    LabelSummary = new QLabel(this);
    LabelSummary->setObjectName(QStringLiteral("LabelEqualizationSummary"));
    LabelSummary->setWordWrap(true);
    layout->addWidget(LabelSummary);
    auto* views = new QHBoxLayout;
    PaintBoxHistograms = MakePaintBox(this, "PaintBoxThresholdHistograms",
                                      "Pixels by threshold before and after equalization", 260);
    PaintBoxHistograms->setMinimumWidth(380);
    PaintBoxMap = MakePaintBox(this, "PaintBoxThresholdMap",
                               "Thresholds after equalization: grey over the chips' targets "
                               "+- 3 spreads, blue below, red above, black without an edge",
                               260);
    PaintBoxMap->setMinimumWidth(260);
    views->addWidget(PaintBoxHistograms, 3);
    views->addWidget(PaintBoxMap, 2);
    layout->addLayout(views, 1);
    auto* buttons = new QHBoxLayout;
    BttnSaveResults = new QPushButton(QStringLiteral("Save results..."), this);
    BttnSaveResults->setObjectName(QStringLiteral("BttnSaveEqualization"));
    BttnSaveResults->setToolTip(
        QStringLiteral("Save the threshold maps, adjustment bits and the three scans (HDF5)"));
    BttnSaveMask = new QPushButton(QStringLiteral("Save mask..."), this);
    BttnSaveMask->setObjectName(QStringLiteral("BttnSaveEqualizedMask"));
    BttnSaveMask->setToolTip(
        QStringLiteral("Save the new pixel configuration as a mask file \"Set Mask\" loads"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BttnCloseEqualization"));
    buttons->addWidget(BttnSaveResults);
    buttons->addWidget(BttnSaveMask);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(BttnSaveResults, &QPushButton::clicked, this,
            &EqualizationDialog::BttnSaveResultsClick);
    connect(BttnSaveMask, &QPushButton::clicked, this, &EqualizationDialog::BttnSaveMaskClick);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    PaintBoxHistograms->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintHistograms(painter, area); });
    PaintBoxMap->SetPainter([this](QPainter& painter, const QRect& area) { PaintMap(painter, area); });
    resize(760, 420);
}

EqualizationDialog::~EqualizationDialog() = default;

void EqualizationDialog::ShowResult(EqualizationResult result,
                                    std::unique_ptr<QTemporaryDir> resultsFolder,
                                    std::string resultsFile, std::string fileError) {
    result_ = std::move(result);
    resultsFolder_ = std::move(resultsFolder);
    resultsFile_ = std::move(resultsFile);
    fileError_ = std::move(fileError);
    histograms_ = BinThresholds(result_, kBins);
    // The map's grey scale spans every chip's target within three spreads of before.
    double spread = 0;
    mapLow_ = INFINITY;
    mapHigh_ = -INFINITY;
    for (const ChipEqualization& chip : result_.chips) {
        if (!std::isfinite(chip.target)) continue;
        spread = std::max(spread, std::isfinite(chip.spreadBefore) ? chip.spreadBefore : 0.0);
        mapLow_ = std::min(mapLow_, chip.target);
        mapHigh_ = std::max(mapHigh_, chip.target);
    }
    if (!std::isfinite(mapLow_)) {
        mapLow_ = histograms_.low;
        mapHigh_ = histograms_.low + histograms_.binWidth * static_cast<double>(histograms_.before.size());
    } else {
        spread = std::max(spread, 1.0);
        mapLow_ -= 3 * spread;
        mapHigh_ += 3 * spread;
    }
    map_ = ThresholdMapImage(result_, mapLow_, mapHigh_);
    LabelSummary->setText(QString::fromStdString(DescribeEqualization(result_)));
    BttnSaveResults->setEnabled(true);
    PaintBoxHistograms->update();
    PaintBoxMap->update();
    show();
    raise();
}

void EqualizationDialog::BttnSaveResultsClick() {
    Dialogs& dialogs = CurrentDialogs();
    if (resultsFile_.empty()) {
        dialogs.Error("The results file could not be written during the run: " + fileError_,
                      "Save Failed");
        return;
    }
    const std::optional<std::string> path =
        dialogs.SaveFile({.title = "Save Equalization Results",
                          .filter = "HDF5 file|*.h5|All files|*.*",
                          .initialName = "equalization.h5",
                          .defaultExtension = "h5",
                          .overwritePrompt = true});
    if (!path) return;
    std::error_code error;
    std::filesystem::copy_file(resultsFile_, *path,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        dialogs.Error("Can't save the results to " + *path + ": " + error.message(), "Save Failed");
}

void EqualizationDialog::BttnSaveMaskClick() {
    Dialogs& dialogs = CurrentDialogs();
    const std::optional<std::string> path =
        dialogs.SaveFile({.title = "Save Mask File",
                          .filter = "ASCII matrix|*.txt|All files|*.*",
                          .initialName = "equalized_mask.txt",
                          .defaultExtension = "txt",
                          .overwritePrompt = true});
    if (!path) return;
    // "Set Mask" reads any other extension as a binary file: an ASCII matrix under such a
    // name would load as garbage.
    if (MaskFormatFor(*path) != MaskFormat::Ascii) {
        dialogs.Error("Masks are saved as ASCII matrices; choose a name ending in .txt: " + *path,
                      "Save Failed");
        return;
    }
    std::string error;
    if (!WriteMaskFile(*path, result_.words, error))
        dialogs.Error("Can't save the mask to " + *path + ": " + error, "Save Failed");
}

void EqualizationDialog::PaintHistograms(QPainter& painter, const QRect& area) {
    painter.fillRect(area, Qt::white);
    const ThresholdHistograms& h = histograms_;
    const int bins = static_cast<int>(h.before.size());
    const QFontMetrics metrics = painter.fontMetrics();
    const int text = metrics.height();
    const QRect plot = area.adjusted(metrics.horizontalAdvance(QStringLiteral("000000")) + 6,
                                     text + 8, -10, -(2 * text + 8));
    painter.setPen(Qt::black);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    painter.drawText(QRect(area.left(), area.bottom() - text, area.width(), text), Qt::AlignCenter,
                     QStringLiteral("Threshold (DAC steps)"));
    painter.drawText(QRect(area.left() + 2, area.top() + 2, plot.left(), text), Qt::AlignLeft,
                     QStringLiteral("Pixels"));
    if (bins == 0 || h.highest == 0 || plot.width() < 2 || plot.height() < 2) return;
    const double high = h.low + h.binWidth * bins;
    const auto x = [&](double value) {
        return plot.left() + (value - h.low) / (high - h.low) * plot.width();
    };
    const auto y = [&](int count) {
        return plot.bottom() - static_cast<double>(count) / h.highest * plot.height();
    };
    // Axis numbers: both ends and the middle of the threshold range, 0 and the fullest bin.
    const int labelTop = plot.bottom() + 3;
    for (double value : {h.low, (h.low + high) / 2, high}) {
        const QString label = Number(value);
        const int w = metrics.horizontalAdvance(label);
        const int at = std::clamp(static_cast<int>(x(value)) - w / 2, area.left(), area.right() - w);
        painter.drawText(at, labelTop + metrics.ascent(), label);
        painter.drawLine(QPointF(x(value), plot.bottom()), QPointF(x(value), plot.bottom() + 3));
    }
    const QRect yLabels(area.left(), plot.top(), plot.left() - area.left() - 4, plot.height());
    painter.drawText(yLabels, Qt::AlignRight | Qt::AlignTop, QString::number(h.highest));
    painter.drawText(yLabels, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("0"));
    // Each histogram as a stepped outline.
    const auto curve = [&](const std::vector<int>& counts, const QColor& colour) {
        QPolygonF line;
        line << QPointF(x(h.low), y(0));
        for (int b = 0; b < bins; ++b) {
            const double left = x(h.low + b * h.binWidth), right = x(h.low + (b + 1) * h.binWidth);
            line << QPointF(left, y(counts[static_cast<size_t>(b)]))
                 << QPointF(right, y(counts[static_cast<size_t>(b)]));
        }
        line << QPointF(x(high), y(0));
        painter.setPen(QPen(colour, 2));
        painter.drawPolyline(line);
    };
    painter.setRenderHint(QPainter::Antialiasing, true);
    curve(h.before, kBeforeColour);
    curve(h.after, kAfterColour);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // The legend names each curve with the largest spread over the chips.
    double before = 0, after = 0;
    for (const ChipEqualization& chip : result_.chips) {
        before = std::max(before, chip.spreadBefore);
        after = std::max(after, chip.spreadAfter);
    }
    int legend = plot.right() - 2;
    const auto entry = [&](const QString& label, const QColor& colour) {
        const int w = metrics.horizontalAdvance(label);
        legend -= w;
        painter.setPen(colour);
        painter.drawText(legend, area.top() + 2 + metrics.ascent(), label);
        legend -= 12;
    };
    entry(QStringLiteral("after (spread %1)").arg(Number(after)), kAfterColour);
    entry(QStringLiteral("before (spread %1)").arg(Number(before)), kBeforeColour);
}

void EqualizationDialog::PaintMap(QPainter& painter, const QRect& area) {
    painter.fillRect(area, palette().window());
    if (map_.isNull()) return;
    const int text = painter.fontMetrics().height();
    const QRect room = area.adjusted(0, 0, 0, -(text + 4));
    // Square pixels, centred: the image keeps its aspect whatever the room.
    const QSize size = map_.size().scaled(room.size(), Qt::KeepAspectRatio);
    const QRect target(room.left() + (room.width() - size.width()) / 2,
                       room.top() + (room.height() - size.height()) / 2, size.width(),
                       size.height());
    painter.drawImage(target, map_);
    painter.setPen(palette().windowText().color());
    painter.drawText(QRect(area.left(), area.bottom() - text, area.width(), text), Qt::AlignCenter,
                     QStringLiteral("Threshold after: %1 (dark) to %2 (white)")
                         .arg(Number(mapLow_), Number(mapHigh_)));
}

}  // namespace ulvarin
