#include "panels/image/image_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "imaging/corrections.h"
#include "imaging/image_statistics.h"
#include "imaging/median.h"
#include "imaging/readable_number.h"
#include "panels/image/image_tables.h"
#include "panels/shared/window_shared.h"
#include "widgets/colour_bar.h"
#include "widgets/control_table.h"
#include "widgets/paint_box.h"
#include "widgets/up_down.h"

namespace ulvarin {
namespace {

constexpr RangeButton kRangeButtonKinds[4] = {RangeButton::Wider, RangeButton::Narrower,
                                              RangeButton::Down, RangeButton::Up};
constexpr const char* kRangeButtonNames[4] = {"BttnRangeMore", "BttnRangeLess", "BttnRangeLeft",
                                              "BttnRangeRight"};
constexpr const char* kNumberLabels[4] = {"Label_Number1", "Label_Number2", "Label_Number3",
                                          "Label_Number4"};
constexpr const char* kNumberShapes[4] = {"Shape_Number1", "Shape_Number2", "Shape_Number3",
                                          "Shape_Number4"};

// The number each image quadrant shows: the chip the image layout puts there, from 1.
constexpr const char* kMedipix2Positions[4] = {"1", "2", "3", "4"};
constexpr const char* kMxrPositions[4] = {"2", "1", "4", "3"};

const QString kMedianStyle = QStringLiteral("QLabel { color: blue; }");
// Room a range box keeps for its frame and margins beside the text.
constexpr int kRangeBoxMargins = 14;
// The colour bar keeps room for numbers this wide; a wider one widens it.
constexpr char kColourBarRoom[] = "88888.88";

}  // namespace

ImagePanel::ImagePanel(WindowShared& shared, QWidget* parent) : QWidget(parent), shared_(shared) {
    setObjectName(QStringLiteral("PanelImage"));
    BuildControls();
    ConnectControls();
    renderer_ = std::make_unique<ImageRenderer>([this](const RenderedImage& rendered) {
        QMetaObject::invokeMethod(
            this, [this, rendered] { TakeRender(rendered); }, Qt::QueuedConnection);
    });
}

ImagePanel::~ImagePanel() = default;

void ImagePanel::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    PaintBoxBitmap = MakePaintBox(this, "PaintBoxBitmap", "Current image", 256);
    PaintBoxBitmap->setMinimumWidth(256);
    PaintBoxBitmap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    PaintBoxBitmap->setMouseTracking(true);
    for (int i = 0; i < 4; ++i) {
        auto* shape = new QFrame(PaintBoxBitmap);
        shape->setObjectName(QString::fromUtf8(kNumberShapes[i]));
        shape->setStyleSheet(QStringLiteral("QFrame { border: 2px solid yellow; }"));
        shape->setAttribute(Qt::WA_TransparentForMouseEvents);
        shape->hide();
        numberShapes_[i] = shape;
        auto* label = new QLabel(QString::number(i + 1), PaintBoxBitmap);
        label->setObjectName(QString::fromUtf8(kNumberLabels[i]));
        label->setAlignment(Qt::AlignCenter);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setStyleSheet(
            QStringLiteral("QLabel { color: yellow; font-size: 40px; font-weight: bold; }"));
        label->hide();
        numberLabels_[i] = label;
    }
    ColourBarImage = new ColourBar(this);
    ColourBarImage->setObjectName(QStringLiteral("ColourBarImage"));
    ColourBarImage->setToolTip(
        QStringLiteral("Colours of the image from the lower range limit (bottom) to the upper "
                       "one (top); the caps show values below and above the range"));
    ColourBarImage->KeepRoomFor(QString::fromLatin1(kColourBarRoom));
    auto* imageRow = new QHBoxLayout;
    imageRow->setContentsMargins(0, 0, 0, 0);
    imageRow->setSpacing(4);
    imageRow->addWidget(PaintBoxBitmap, 1);
    imageRow->addWidget(ColourBarImage);
    layout->addLayout(imageRow, 1);
    LabelPixelInfo = new QLabel(this);
    LabelPixelInfo->setObjectName(QStringLiteral("LabelPixelInfo"));
    LabelPixelInfo->setToolTip(QStringLiteral("The pixel under the mouse"));
    layout->addWidget(LabelPixelInfo);
    PaintBoxHistogram = MakePaintBox(this, "PaintBoxHistogram", "Histogram of current image", 64);
    PaintBoxHistogram->setFixedHeight(64);
    layout->addWidget(PaintBoxHistogram);
    layout->addWidget(MakeGridPanel(this, "PanelImageView", ImageViewGrid()));
    layout->addWidget(MakeGroup(StatisticsGroup(), this));

    ComboResult = FindControl<QComboBox>(this, "ComboResult");
    ChkbSum = FindControl<QCheckBox>(this, "ChkbSum");
    EditRangeMin = FindControl<QLineEdit>(this, "EditRangeMin");
    EditRangeMax = FindControl<QLineEdit>(this, "EditRangeMax");
    ChkbRangeAuto = FindControl<QCheckBox>(this, "ChkbRangeAuto");
    ChkbRangeRobust = FindControl<QCheckBox>(this, "ChkbRangeRobust");
    for (QLineEdit* edit : {EditRangeMin, EditRangeMax}) {
        // One width whatever the limit: room for the widest limit usually shown, so that
        // neither a narrow window cuts it nor a longer limit moves the controls around.
        const int room = edit->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestNumber));
        edit->setFixedWidth(room + kRangeBoxMargins);
    }
    for (int i = 0; i < 4; ++i)
        rangeButtons_[i] = FindControl<QPushButton>(this, kRangeButtonNames[i]);
    LabelRange = FindControl<QLabel>(this, "LabelRange");
    LabelSum = FindControl<QLabel>(this, "LabelSum");
    LabelAverage = FindControl<QLabel>(this, "LabelAverage");
    LabelStdDev = FindControl<QLabel>(this, "LabelStdDev");
    LabelMedian = FindControl<QLabel>(this, "LabelMedian");
    LabelTime = FindControl<QLabel>(this, "LabelTime");
    LabelMedian->setStyleSheet(kMedianStyle);
    ChkbSum->setChecked(shared_.frames.integrating());
    ChkbFF = FindControl<QCheckBox>(this, "ChkbFF");
    ChkbInterpolate = FindControl<QCheckBox>(this, "ChkbInterpolate");
    ComboColourMap = FindControl<QComboBox>(this, "ComboColourMap");
    ChkbLogScale = FindControl<QCheckBox>(this, "ChkbLogScale");
    LabelRegion = FindControl<QLabel>(this, "LabelRegion");
    LabelRegionSum = FindControl<QLabel>(this, "LabelRegionSum");
    LabelRegionCount = FindControl<QLabel>(this, "LabelRegionCount");
    LabelRegionAverage = FindControl<QLabel>(this, "LabelRegionAverage");
    LabelRegionStdDev = FindControl<QLabel>(this, "LabelRegionStdDev");
    // Number labels keep the width of the widest number usually shown (a range two of
    // them), so the group does not change its width from frame to frame.
    const int number =
        LabelSum->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestNumber));
    for (QLabel* label : {LabelSum, LabelAverage, LabelStdDev, LabelMedian, LabelTime,
                          LabelRegionSum, LabelRegionAverage, LabelRegionStdDev})
        label->setMinimumWidth(number);
    LabelRange->setMinimumWidth(2 * number);
}

void ImagePanel::ConnectControls() {
    connect(ComboResult, &QComboBox::activated, this, &ImagePanel::ComboResultSelect);
    connect(ChkbSum, &QCheckBox::clicked, this, &ImagePanel::ChkbSumClick);
    connect(ChkbRangeAuto, &QCheckBox::clicked, this, &ImagePanel::ChkbRangeAutoClick);
    connect(ChkbRangeRobust, &QCheckBox::clicked, this, &ImagePanel::ChkbRangeRobustClick);
    connect(ChkbFF, &QCheckBox::clicked, this, &ImagePanel::ChkbFFClick);
    connect(ChkbInterpolate, &QCheckBox::clicked, this, &ImagePanel::ChkbInterpolateClick);
    connect(ComboColourMap, &QComboBox::activated, this, &ImagePanel::ComboColourMapSelect);
    connect(ChkbLogScale, &QCheckBox::clicked, this, &ImagePanel::ChkbLogScaleClick);
    const auto button = [this](const char* name, void (ImagePanel::*handler)()) {
        connect(FindControl<QPushButton>(this, name), &QPushButton::clicked, this, handler);
    };
    button("BttnUseAsFF", &ImagePanel::BttnUseAsFFClick);
    button("BttnImgAsMsk", &ImagePanel::BttnImgAsMskClick);
    button("BttnMaskOuter", &ImagePanel::BttnMaskOuterClick);
    button("BttnResetZoom", &ImagePanel::BttnResetZoomClick);
    button("BttnClearRegion", &ImagePanel::BttnClearRegionClick);
    for (QLineEdit* edit : {EditRangeMin, EditRangeMax}) {
        connect(edit, &QLineEdit::returnPressed, this, &ImagePanel::EditRangeEnter);
        connect(edit, &QLineEdit::editingFinished, this, &ImagePanel::RequestImageRedraw);
        StepWithKeysAndWheel(edit, [this, edit](int direction) { StepLimit(edit, direction); });
    }
    for (int i = 0; i < 4; ++i)
        connect(rangeButtons_[i], &QPushButton::clicked, this,
                [this, i] { RangeButtonClick(static_cast<int>(kRangeButtonKinds[i])); });
    LabelMedian->installEventFilter(this);
    PaintBoxBitmap->installEventFilter(this);
    PaintBoxBitmap->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintImage(painter, area); });
    PaintBoxHistogram->SetPainter(
        [this](QPainter& painter, const QRect& area) { PaintHistogram(painter, area); });
    connect(&shared_, &WindowShared::frameArrived, this, &ImagePanel::NewFrame);
    connect(&shared_, &WindowShared::backgroundFrameArrived, this, &ImagePanel::NewFrameDeferred);
    connect(&shared_, &WindowShared::imageChanged, this, &ImagePanel::RequestImageRedraw);
    connect(&shared_, &WindowShared::interfaceReset, this, &ImagePanel::ResetForInterface);
    connect(&shared_, &WindowShared::viewNeeded, this, &ImagePanel::RecomputeImageIfFlagged);
}

bool ImagePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LabelMedian && event->type() == QEvent::MouseButtonRelease) {
        LabelMedianClick();
        return true;
    }
    if (watched == PaintBoxBitmap) {
        if (ImageMouseEvent(event)) return true;
        if (event->type() == QEvent::Leave) {
            LabelPixelInfo->clear();
        } else if (event->type() == QEvent::Resize) {
            PlaceChipMarks();
            PlaceColourBar();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ImagePanel::NewFrame() {
    TakeInFrame();
    emit frameTakenIn();
    RecomputeImageIfFlagged();
}

void ImagePanel::NewFrameDeferred() {
    TakeInFrame();
    if (renderElsewhere)
        ScheduleRender();
    else
        PaintBoxBitmap->update();
    emit frameTakenIn();
}

void ImagePanel::TakeInFrame() {
    ulvarin::NewFrame(shared_.frames, view_);
    ComboResult->setCurrentIndex(static_cast<int>(view_.view));
    FlagRecompute();
}

void ImagePanel::RequestImageRedraw() {
    FlagRecompute();
    RecomputeImageIfFlagged();
    PaintBoxBitmap->update();
}

void ImagePanel::FlagRecompute() {
    recompute_ = true;
    ++inputVersion_;
}

// Reads the controls as a recomputation here would, and hands the store's inputs over.
void ImagePanel::ScheduleRender() {
    if (renderInFlight_) {
        renderWanted_ = true;
        return;
    }
    const FrameStore& frames = shared_.frames;
    if (frames.pixelsInUse() == 0) return;
    ReadViewControls();
    ReadRangeBoxes();
    renderer_->Render(frames, view_, range_, inputVersion_);
    renderInFlight_ = true;
}

// A result is shown only when nothing changed since it was asked for; one made stale by a
// later frame is followed by the recomputation of that frame.
void ImagePanel::TakeRender(const RenderedImage& rendered) {
    renderInFlight_ = false;
    if (recompute_ && rendered.version == inputVersion_) {
        renderer_->TakeArrays(shared_.frames, imagePixels_);
        shown_ = rendered.image;
        range_ = rendered.range;
        recompute_ = false;
        ShowNewImage(rendered.time);
    }
    if (recompute_ && renderWanted_) ScheduleRender();
    renderWanted_ = false;
}

void ImagePanel::ResetForInterface() {
    imagePixels_.clear();
    zoom_ = {};
    region_.reset();
    ShowRegionStatistics();
    const char* const* numbers = shared_.isMxr ? kMxrPositions : kMedipix2Positions;
    for (int i = 0; i < 4; ++i) numberLabels_[i]->setText(QString::fromUtf8(numbers[i]));
    PlaceChipMarks();
    NewFrame();
}

void ImagePanel::ReadViewControls() {
    view_.view = static_cast<ResultView>(std::max(0, ComboResult->currentIndex()));
    view_.flatField = ChkbFF->isChecked();
    view_.interpolate = ChkbInterpolate->isChecked();
    view_.colouring.map = static_cast<ColourMap>(std::max(0, ComboColourMap->currentIndex()));
    view_.colouring.log = ChkbLogScale->isChecked();
}

void ImagePanel::RecomputeImageIfFlagged() {
    FrameStore& frames = shared_.frames;
    if (frames.pixelsInUse() == 0) return;
    const ImageGeometry g = frames.geometry();
    if (imagePixels_.size() != g.pixels()) {
        imagePixels_.assign(g.pixels(), 0xFF000000u);
        FlagRecompute();
    }
    if (!recompute_) return;
    ReadViewControls();
    ReadRangeBoxes();
    shown_ = RecomputeImage(frames, view_, range_, imagePixels_);
    recompute_ = false;
    ShowNewImage(frames.integratedTime);
}

// Every recomputation, here or on the renderer's thread, ends here: whatever brought the
// new image (a frame, a sum, a file, a mask, the range or the colours), the screen is told.
void ImagePanel::ShowNewImage(double time) {
    if (shown_.rangeTextsChanged) ShowRangeTexts();
    ShowStatistics(time);
    ShowColourBar();
    PaintBoxHistogram->update();
    // Inside the image's own paint the new picture is drawn right after; asking again would
    // only paint it twice.
    if (!paintingImage_) PaintBoxBitmap->update();
}

GoodPixels ImagePanel::GoodPixelsNow() const {
    const FrameStore& frames = shared_.frames;
    return {frames.config().first(frames.pixelsInUse()), frames.layout().family};
}

void ImagePanel::ShowStatistics(double time) {
    const StatisticsLabels labels = FormatStatisticsLabels(shown_.statistics, time);
    LabelRange->setText(QString::fromStdString(labels.range));
    LabelSum->setText(QString::fromStdString(labels.sum));
    LabelAverage->setText(QString::fromStdString(labels.average));
    LabelStdDev->setText(QString::fromStdString(labels.standardDeviation));
    LabelTime->setText(QString::fromStdString(labels.time));
    LabelMedian->setText(QString::fromStdString(labels.median));
    LabelMedian->setStyleSheet(kMedianStyle);
    ShowRegionStatistics();
}

double ImagePanel::LabelMedianClick() {
    const double median = MedianOf(shared_.frames.result().first(shared_.frames.pixelsInUse()));
    LabelMedian->setText(QString::fromStdString(FormatMedianLabel(median)));
    LabelMedian->setStyleSheet(QString());
    return median;
}

const ImageStatistics& ImagePanel::CurrentStatistics() {
    RecomputeImageIfFlagged();
    return shown_.statistics;
}

bool ImagePanel::FlatFieldShown() const {
    return ChkbFF->isChecked();
}

double ImagePanel::MedianNow() {
    RecomputeImageIfFlagged();
    return LabelMedianClick();
}

void ImagePanel::SetIntegrating(bool on) {
    if (ChkbSum->isChecked() == on) return;
    ChkbSum->setChecked(on);
    ChkbSumClick();
}

bool ImagePanel::Integrating() const {
    return ChkbSum->isChecked();
}

void ImagePanel::StartFreshSum() {
    ChkbSum->setChecked(true);
    shared_.frames.SetIntegrating(true);
}

void ImagePanel::ComboResultSelect() {
    RequestImageRedraw();
}

void ImagePanel::BttnUseAsFFClick() {
    RecomputeImageIfFlagged();
    CaptureFlatField(shared_.frames);
    RequestImageRedraw();
}

void ImagePanel::BttnImgAsMskClick() {
    MaskFromImage(MaskRule::Nonzero);
}

void ImagePanel::BttnMaskOuterClick() {
    MaskFromImage(MaskRule::OutsideRange);
}

// The view as shown decides, with the range as last computed; masks only accumulate. The
// image is redrawn online too, so the masked pixels show at once.
void ImagePanel::MaskFromImage(MaskRule rule) {
    RecomputeImageIfFlagged();
    FrameStore& frames = shared_.frames;
    const uint32_t maskedBefore = MaskedPixelCount(frames);
    MaskPixels(frames, rule, range_.range.min, range_.range.max);
    const uint32_t maskedNow = MaskedPixelCount(frames);
    shared_.SendPixelConfig(nullptr, false,
                            "Mask generated but not sent to Medipix device as it is offline.");
    const char* action = rule == MaskRule::Nonzero ? "Mask nonzero pix" : "Mask outer pixels";
    shared_.AddLogLine(QString::fromStdString(
        MaskedPixelsLine(action, maskedNow - maskedBefore, maskedNow, frames.pixelsInUse())));
}

void ImagePanel::ChkbSumClick() {
    shared_.frames.SetIntegrating(ChkbSum->isChecked());
    RequestImageRedraw();
}

}  // namespace ulvarin
