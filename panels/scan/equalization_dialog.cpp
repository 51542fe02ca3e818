#include "panels/scan/equalization_dialog.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "device/chip_commands.h"
#include "files/mask_file.h"
#include "imaging/colour_map.h"
#include "panels/shared/window_shared.h"
#include "widgets/dialogs.h"
#include "widgets/paint_box.h"
#include "wire/pixel_config.h"

namespace ulvarin {
namespace {

constexpr int kBins = 64;
const QColor kBeforeColour(230, 130, 0);
const QColor kAfterColour(0, 170, 0);
constexpr const char* kSendFailedCaption = "Equalization";

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

MapScale ThresholdMapScale(const std::vector<float>& values,
                           const std::vector<PixelOutcome>& outcome) {
    std::vector<float> counted;
    counted.reserve(values.size());
    for (size_t p = 0; p < values.size(); ++p)
        if (p < outcome.size() && outcome[p] == PixelOutcome::kEqualized &&
            std::isfinite(values[p]))
            counted.push_back(values[p]);
    if (counted.empty()) return {};
    std::sort(counted.begin(), counted.end());
    MapScale scale{Quantile(counted, 0.005), Quantile(counted, 0.995)};
    if (scale.high - scale.low < 1) {
        const double middle = (scale.low + scale.high) / 2;
        scale = {middle - 0.5, middle + 0.5};
    }
    return scale;
}

QImage PixelMapImage(const std::vector<float>& values, const std::vector<PixelOutcome>& outcome,
                     const ChipLayout& layout, MapScale scale) {
    const ImageGeometry geometry = GeometryFor(layout.chipCount);
    QImage image(static_cast<int>(geometry.width()), static_cast<int>(geometry.height()),
                 QImage::Format_RGB32);
    const Colourer colour({scale.low, scale.high}, {ColourMap::Viridis, false});
    for (uint32_t i = 0; i < geometry.pixels(); ++i) {
        const uint32_t pixel = ImageIndexToPixel(i, layout);
        const PixelOutcome what =
            pixel < outcome.size() ? outcome[pixel] : PixelOutcome::kEqualized;
        const float value = pixel < values.size() ? values[pixel] : NAN;
        uint32_t rgb = 0;
        if (what == PixelOutcome::kMasked)
            rgb = kMaskedColour;
        else if (what == PixelOutcome::kOutOfRange)
            rgb = kOutOfReachColour;
        else if (what == PixelOutcome::kNoEdge || !std::isfinite(value))
            rgb = kNoEdgeColour;
        else
            rgb = colour(value);
        image.setPixel(static_cast<int>(i % geometry.width()),
                       static_cast<int>(i / geometry.width()), rgb);
    }
    return image;
}

OutcomeCounts CountOutcomes(const std::vector<PixelOutcome>& outcome) {
    OutcomeCounts counts;
    for (const PixelOutcome what : outcome) {
        switch (what) {
            case PixelOutcome::kEqualized:
                ++counts.equalized;
                break;
            case PixelOutcome::kMasked:
                ++counts.masked;
                break;
            case PixelOutcome::kNoEdge:
                ++counts.noEdge;
                break;
            case PixelOutcome::kOutOfRange:
                ++counts.outOfReach;
                break;
        }
    }
    return counts;
}

EqualizationDialog::EqualizationDialog(WindowShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
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
                                      "Pixels by threshold before and after equalization", 240);
    PaintBoxHistograms->setMinimumWidth(320);
    PaintBoxMapBefore = MakePaintBox(this, "PaintBoxMapBefore",
                                     "Before equalization, on a colour scale of its own", 240);
    PaintBoxMapAfter = MakePaintBox(this, "PaintBoxMapAfter",
                                    "After equalization, on a colour scale of its own", 240);
    for (PaintBox* map : {PaintBoxMapBefore, PaintBoxMapAfter}) map->setMinimumWidth(220);
    views->addWidget(PaintBoxHistograms, 4);
    views->addWidget(PaintBoxMapBefore, 3);
    views->addWidget(PaintBoxMapAfter, 3);
    layout->addLayout(views, 1);

    auto* mapRow = new QHBoxLayout;
    auto* mapsLabel = new QLabel(QStringLiteral("Maps:"), this);
    CombMaps = new QComboBox(this);
    CombMaps->setObjectName(QStringLiteral("CombEqualizationMaps"));
    CombMaps->addItems({QStringLiteral("Thresholds"), QStringLiteral("Adjustment bits")});
    CombMaps->setToolTip(
        QStringLiteral("What the maps show: each pixel's threshold (DAC steps) "
                       "or its threshold adjustment value"));
    mapsLabel->setBuddy(CombMaps);
    LabelLegend = new QLabel(this);
    LabelLegend->setObjectName(QStringLiteral("LabelEqualizationLegend"));
    LabelLegend->setTextFormat(Qt::RichText);
    mapRow->addWidget(mapsLabel);
    mapRow->addWidget(CombMaps);
    mapRow->addSpacing(12);
    mapRow->addWidget(LabelLegend, 1);
    layout->addLayout(mapRow);

    LabelStatus = new QLabel(this);
    LabelStatus->setObjectName(QStringLiteral("LabelEqualizationStatus"));
    LabelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelStatus->setWordWrap(true);
    layout->addWidget(LabelStatus);

    auto* buttons = new QHBoxLayout;
    BttnSaveResults = new QPushButton(QStringLiteral("Save results..."), this);
    BttnSaveResults->setObjectName(QStringLiteral("BttnSaveEqualization"));
    BttnSaveResults->setToolTip(
        QStringLiteral("Save the threshold maps, adjustment bits and the three scans (HDF5)"));
    BttnSaveMask = new QPushButton(QStringLiteral("Save mask..."), this);
    BttnSaveMask->setObjectName(QStringLiteral("BttnSaveEqualizedMask"));
    BttnSaveMask->setToolTip(
        QStringLiteral("Save the new pixel configuration as a mask file \"Set Mask\" loads"));
    BttnRevert = new QPushButton(QStringLiteral("Revert"), this);
    BttnRevert->setObjectName(QStringLiteral("BttnRevertEqualization"));
    BttnRevert->setToolTip(QStringLiteral(
        "Put back the pixel configuration from before the equalization and send it to the chips"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BttnCloseEqualization"));
    buttons->addWidget(BttnSaveResults);
    buttons->addWidget(BttnSaveMask);
    buttons->addWidget(BttnRevert);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(BttnSaveResults, &QPushButton::clicked, this,
            &EqualizationDialog::BttnSaveResultsClick);
    connect(BttnSaveMask, &QPushButton::clicked, this, &EqualizationDialog::BttnSaveMaskClick);
    connect(BttnRevert, &QPushButton::clicked, this, &EqualizationDialog::BttnRevertClick);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(CombMaps, &QComboBox::activated, this,
            [this](int item) { ShowMaps(static_cast<MapKind>(item)); });
    PaintBoxHistograms->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintHistograms(painter, area); });
    PaintBoxMapBefore->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintMap(painter, area, false); });
    PaintBoxMapAfter->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintMap(painter, area, true); });

    // Roomy, but never beyond the screen: at 1280 x 720 the buttons stay in reach.
    QSize size(980, 460);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
}

EqualizationDialog::~EqualizationDialog() = default;

void EqualizationDialog::ShowResult(EqualizationResult result, std::vector<uint16_t> wordsBefore,
                                    std::unique_ptr<QTemporaryDir> resultsFolder,
                                    std::string resultsFile, std::string fileError,
                                    const std::string& notKept) {
    result_ = std::move(result);
    wordsBefore_ = std::move(wordsBefore);
    type_ = shared_.Type();
    // Not kept: the chips hold the configuration from before, as after "Revert".
    reverted_ = !notKept.empty();
    resultsFolder_ = std::move(resultsFolder);
    resultsFile_ = std::move(resultsFile);
    fileError_ = std::move(fileError);
    histograms_ = BinThresholds(result_, kBins);
    ShowMaps(mapKind_);

    const OutcomeCounts counts = CountOutcomes(result_.outcome);
    LabelLegend->setText(
        QStringLiteral("<span style=\"color:%1\">&#9632;</span> out of reach: %2 &nbsp; "
                       "<span style=\"color:%3; background:#606060\">&#9632;</span> no edge: %4 "
                       "&nbsp; <span style=\"color:%5\">&#9632;</span> masked: %6")
            .arg(QColor(kOutOfReachColour).name())
            .arg(counts.outOfReach)
            .arg(QColor(kNoEdgeColour).name())
            .arg(counts.noEdge)
            .arg(QColor(kMaskedColour).name())
            .arg(counts.masked));
    LabelSummary->setText(QString::fromStdString(DescribeEqualization(result_)));
    LabelStatus->setText(QString::fromStdString(notKept));
    BttnSaveResults->setEnabled(true);
    ShowRevertState();
    BttnRevert->setEnabled(!wordsBefore_.empty());
    PaintBoxHistograms->update();
    show();
    raise();
}

void EqualizationDialog::ShowRevertState() {
    BttnRevert->setText(reverted_ ? QStringLiteral("Apply result") : QStringLiteral("Revert"));
    BttnRevert->setToolTip(
        reverted_ ? QStringLiteral("Send the equalized pixel configuration to the chips")
                  : QStringLiteral("Put back the pixel configuration from before the "
                                   "equalization and send it to the chips"));
}

void EqualizationDialog::ShowMaps(MapKind kind) {
    mapKind_ = kind;
    CombMaps->setCurrentIndex(static_cast<int>(kind));
    if (kind == MapKind::Thresholds) {
        beforeScale_ = ThresholdMapScale(result_.before, result_.outcome);
        afterScale_ = ThresholdMapScale(result_.after, result_.outcome);
        beforeMap_ = PixelMapImage(result_.before, result_.outcome, result_.layout, beforeScale_);
        afterMap_ = PixelMapImage(result_.after, result_.outcome, result_.layout, afterScale_);
    } else {
        // Both on the adjustment's whole range, which is each map's own scale too.
        std::vector<float> before(wordsBefore_.size()), after(result_.adjust.size());
        for (size_t p = 0; p < before.size(); ++p)
            before[p] = static_cast<float>(ThresholdAdjustOfWord(wordsBefore_[p], type_));
        std::copy(result_.adjust.begin(), result_.adjust.end(), after.begin());
        beforeScale_ = afterScale_ = {0, static_cast<double>(MaxThresholdAdjust(type_))};
        beforeMap_ = PixelMapImage(before, result_.outcome, result_.layout, beforeScale_);
        afterMap_ = PixelMapImage(after, result_.outcome, result_.layout, afterScale_);
    }
    PaintBoxMapBefore->update();
    PaintBoxMapAfter->update();
}

QString EqualizationDialog::Status() const {
    return LabelStatus->text();
}

void EqualizationDialog::Tell(const QString& text) {
    LabelStatus->setText(text);
    shared_.AddLogLine(text);
}

EqualizationDialog::Sent EqualizationDialog::SendWords(const std::vector<uint16_t>& words) {
    FrameStore& frames = shared_.frames;
    const ChipLayout now = frames.layout();
    if (words.size() != frames.pixelsInUse() || now.chipCount != result_.layout.chipCount ||
        now.family != result_.layout.family || shared_.Type() != type_) {
        shared_.dialogs().Error(
            "Other chips are in use now than in the equalization: their "
            "pixel configuration was left as it is.",
            kSendFailedCaption);
        return Sent::kRefused;
    }
    std::copy(words.begin(), words.end(), frames.config().begin());
    Sent sent = Sent::kOffline;
    if (shared_.IsOpen()) {
        shared_.BeginOperation();
        shared_.device.Clear();
        sent = SetMatrix(shared_.device, frames.config().data(), frames.pixelsInUse())
                   ? Sent::kSent
                   : Sent::kFailed;
    }
    shared_.ImageChanged();  // the mask views show the words
    if (sent == Sent::kFailed)
        shared_.dialogs().Error(
            "The pixel configuration could not be sent to the chips; the "
            "window holds it and the next \"Set Matrix\" sends it.",
            kSendFailedCaption);
    return sent;
}

void EqualizationDialog::BttnRevertClick() {
    const bool revert = !reverted_;
    const std::vector<uint16_t>& words = revert ? wordsBefore_ : result_.words;
    if (words.empty()) return;
    const Sent sent = SendWords(words);
    if (sent == Sent::kRefused) return;
    reverted_ = revert;
    ShowRevertState();
    QString what = revert ? QStringLiteral(
                                "Reverted to the pixel configuration from before the "
                                "equalization")
                          : QStringLiteral("Applied the equalized pixel configuration");
    if (sent == Sent::kOffline)
        what += QStringLiteral(" (in the window only: no interface is open)");
    else if (sent == Sent::kFailed)
        what += QStringLiteral(" (in the window only: the chips did not take it)");
    Tell(what);
}

void EqualizationDialog::BttnSaveResultsClick() {
    Dialogs& dialogs = shared_.dialogs();
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
                          .overwritePrompt = true,
                          .kind = FileKind::Results});
    if (!path) return;
    std::error_code error;
    std::filesystem::copy_file(resultsFile_, *path,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        dialogs.Error("Can't save the results to " + *path + ": " + error.message(), "Save Failed");
        return;
    }
    Tell(QStringLiteral("Saved results to ") + QString::fromStdString(*path));
}

void EqualizationDialog::BttnSaveMaskClick() {
    Dialogs& dialogs = shared_.dialogs();
    const std::optional<std::string> path =
        dialogs.SaveFile({.title = "Save Mask File",
                          .filter = "ASCII matrix|*.txt|All files|*.*",
                          .initialName = "equalized_mask.txt",
                          .defaultExtension = "txt",
                          .overwritePrompt = true,
                          .kind = FileKind::Masks});
    if (!path) return;
    // "Set Mask" reads any other extension as a binary file: an ASCII matrix under such a
    // name would load as garbage.
    if (MaskFormatFor(*path) != MaskFormat::Ascii) {
        dialogs.Error("Masks are saved as ASCII matrices; choose a name ending in .txt: " + *path,
                      "Save Failed");
        return;
    }
    std::string error;
    if (!WriteMaskFile(*path, result_.words, error)) {
        dialogs.Error("Can't save the mask to " + *path + ": " + error, "Save Failed");
        return;
    }
    Tell(QStringLiteral("Saved mask to ") + QString::fromStdString(*path));
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
        const int at =
            std::clamp(static_cast<int>(x(value)) - w / 2, area.left(), area.right() - w);
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

void EqualizationDialog::PaintMap(QPainter& painter, const QRect& area, bool after) {
    painter.fillRect(area, palette().window());
    const QImage& map = after ? afterMap_ : beforeMap_;
    const MapScale scale = after ? afterScale_ : beforeScale_;
    const QFontMetrics metrics = painter.fontMetrics();
    const int text = metrics.height();
    const bool thresholds = mapKind_ == MapKind::Thresholds;
    painter.setPen(palette().windowText().color());
    painter.drawText(
        QRect(area.left(), area.top(), area.width(), text), Qt::AlignCenter,
        QStringLiteral("%1 %2").arg(
            after ? QStringLiteral("After:") : QStringLiteral("Before:"),
            thresholds ? QStringLiteral("thresholds") : QStringLiteral("adjustment bits")));
    if (map.isNull()) return;
    // The colour bar at the right with its numbers: both ends and the middle.
    const auto label = [&](double value) {
        return thresholds ? Number(value) : QString::number(std::lround(value));
    };
    const double middle = (scale.low + scale.high) / 2;
    int labels = 0;
    for (const double value : {scale.low, middle, scale.high})
        labels = std::max(labels, metrics.horizontalAdvance(label(value)));
    const int barWidth = 12;
    const QRect room = area.adjusted(2, text + 4, -(barWidth + labels + 10), -2);
    if (room.width() < 8 || room.height() < 8) return;
    // Square pixels, centred: the image keeps its aspect whatever the room.
    const QSize size = map.size().scaled(room.size(), Qt::KeepAspectRatio);
    const QRect target(room.left() + (room.width() - size.width()) / 2,
                       room.top() + (room.height() - size.height()) / 2, size.width(),
                       size.height());
    painter.drawImage(target, map);

    const QRect bar(room.right() + 6, target.top(), barWidth, target.height());
    const ColourTable& table = TableOf(ColourMap::Viridis);
    for (int y = 0; y < bar.height(); ++y) {
        const double fraction = bar.height() > 1 ? 1.0 - double(y) / (bar.height() - 1) : 1.0;
        const auto level = static_cast<size_t>(std::lround(fraction * 255));
        painter.setPen(QColor::fromRgb(table.levels[level]));
        painter.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
    }
    painter.setPen(palette().windowText().color());
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const int x = bar.right() + 4;
    painter.drawText(QRect(x, bar.top() - text / 2, labels + 4, text), Qt::AlignLeft,
                     label(scale.high));
    painter.drawText(QRect(x, bar.center().y() - text / 2, labels + 4, text), Qt::AlignLeft,
                     label(middle));
    painter.drawText(QRect(x, bar.bottom() - text / 2, labels + 4, text), Qt::AlignLeft,
                     label(scale.low));
}

}  // namespace ulvarin
