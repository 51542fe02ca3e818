// The image view driven through its controls: frames from the emulator reach the
// statistics and histogram, integration sums frames, the range boxes and buttons, and the
// median on request.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "tests/app/window_fixture.h"
#include "wire/pixel_config.h"

namespace ulvarin::test {
namespace {

class ImagePanelTest : public WindowTest {
protected:
    void SetUp() override {
        Start("timepix:4");
        ASSERT_EQ(form->shared.chipCount, 4u);
    }
    // Puts `counts(chip, pixel)` into every emulated pixel counter.
    template <class F>
    void SetCounts(F counts) {
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            for (int c = 0; c < 4; ++c)
                for (int p = 0; p < kChipPixels; ++p)
                    e.Chip(c).counts[p] = static_cast<uint16_t>(counts(c, p));
        });
    }
    QString Text(const char* label) { return Control<QLabel>(label)->text(); }
    void TypeRange(const char* minText, const char* maxText) {
        Control<QLineEdit>("EditRangeMin")->setText(QString::fromUtf8(minText));
        auto* max = Control<QLineEdit>("EditRangeMax");
        max->setText(QString::fromUtf8(maxText));
        max->setFocus();
        QTest::keyClick(max, Qt::Key_Return);
    }
    QString Range() {
        return Control<QLineEdit>("EditRangeMin")->text() + ".." +
               Control<QLineEdit>("EditRangeMax")->text();
    }
};

TEST_F(ImagePanelTest, AFrameFromTheInterfaceFillsStatisticsAndHistogram) {
    SetCounts([](int c, int p) { return (c + 1) * 100 + p % 7; });
    Control<QPushButton>("BttnGetData")->click();
    double sum = 0;
    for (int c = 0; c < 4; ++c)
        for (int p = 0; p < kChipPixels; ++p) sum += (c + 1) * 100 + p % 7;
    EXPECT_EQ(Text("LabelRange"), "100-406");
    EXPECT_EQ(Text("LabelSum"), QString::number(sum, 'g', 15));
    EXPECT_EQ(Range(), "100..406");  // Auto takes the data range
    EXPECT_TRUE(form->image->shown().histogram.hasPeak());
    EXPECT_EQ(Text("LabelMedian"), "<click>");
    EXPECT_EQ(Control<QComboBox>("ComboResult")->currentIndex(), 0);
}

TEST_F(ImagePanelTest, IntegrationSumsFramesAndTheirTimes) {
    SetCounts([](int, int) { return 1; });
    Control<QCheckBox>("ChkbSum")->click();
    EXPECT_EQ(Text("LabelSum"), "0");  // an empty sum until the next frame
    double time = 0;
    for (int i = 0; i < 3; ++i) {
        Control<QPushButton>("BttnGetData")->click();
        time += form->shared.frames.frameTime;
    }
    EXPECT_EQ(form->shared.frames.counts()[0], 3);
    EXPECT_EQ(form->shared.frames.counts()[4 * kChipPixels - 1], 3);
    EXPECT_EQ(Text("LabelRange"), "3-3");
    EXPECT_DOUBLE_EQ(form->shared.frames.integratedTime, time);
    Control<QCheckBox>("ChkbSum")->click();
    EXPECT_EQ(Text("LabelRange"), "1-1");  // the last single frame again
}

TEST_F(ImagePanelTest, TypedRangeAndRangeButtons) {
    SetCounts([](int, int p) { return p % 300; });
    Control<QPushButton>("BttnGetData")->click();
    TypeRange("200", "100");  // swapped into order, Auto switched off by Enter
    EXPECT_FALSE(Control<QCheckBox>("ChkbRangeAuto")->isChecked());
    EXPECT_EQ(Range(), "100..200");
    Control<QPushButton>("BttnRangeMore")->click();
    EXPECT_EQ(Range(), "75..225");
    Control<QPushButton>("BttnRangeRight")->click();
    EXPECT_EQ(Range(), "112..262");  // the step is a quarter of 150, truncated
    TypeRange("0", "90");
    Control<QPushButton>("BttnRangeLess")->click();
    EXPECT_EQ(Range(), "0..60");
    Control<QPushButton>("BttnRangeLeft")->click();  // nothing moves from 0
    EXPECT_EQ(Range(), "0..60");
    TypeRange("abc", "60");
    EXPECT_EQ(Range(), "0..60");  // the unreadable lower limit is kept and written back

    Control<QCheckBox>("ChkbRangeAuto")->click();
    EXPECT_EQ(Range(), "0..299");
}

TEST_F(ImagePanelTest, MaskedPixelsLeaveTheStatisticsButNotTheMedian) {
    SetCounts([](int c, int p) { return c == 0 && p < 10 ? 5000 : 10; });
    const uint16_t mask = MaskBit(ChipType::Timepix);
    auto config = form->shared.frames.config();
    for (int p = 0; p < 10; ++p) config[p] = static_cast<uint16_t>(config[p] & ~mask);
    Control<QPushButton>("BttnGetData")->click();
    EXPECT_EQ(Text("LabelRange"), "10-10");
    EXPECT_EQ(Text("LabelStdDev"), "0");
    QTest::mouseClick(Control<QLabel>("LabelMedian"), Qt::LeftButton);
    EXPECT_EQ(Text("LabelMedian"), "10");

    Control<QComboBox>("ComboResult")->setCurrentIndex(4);  // "Mask bit"
    form->image->ComboResultSelect();
    EXPECT_EQ(Text("LabelRange"), "1-1");
    EXPECT_EQ(Text("LabelMedian"), "<click>");
}

// The emulated sensor's round absorber sits across the middle of the quad: the image shows it
// whole only if every chip lands in its quadrant the right way round.
TEST_F(ImagePanelTest, AnExposureShowsTheAbsorberWholeAcrossTheFourChips) {
    Control<DropDownCombo>("CombSelectFSRMode")->setCurrentIndex(0);  // plain counting
    form->basics->CombSelectFSRModeSelect();
    form->basics->BttnResetMatrixClick();  // the counters start from zero
    form->basics->BttnStartClick();
    QTest::qWait(300);
    form->basics->BttnStopClick();
    const ChipLayout layout = form->shared.frames.layout();
    const auto result = form->shared.frames.result();
    // Mean of a 9 x 9 patch of the image around (x, y).
    auto patch = [&](int x0, int y0) {
        double sum = 0;
        for (int y = y0 - 4; y <= y0 + 4; ++y)
            for (int x = x0 - 4; x <= x0 + 4; ++x)
                sum += result[ImageIndexToPixel(static_cast<uint32_t>(y * 512 + x), layout)];
        return sum / 81;
    };
    const double lit = (patch(100, 100) + patch(412, 100) + patch(100, 412) + patch(412, 412)) / 4;
    ASSERT_GT(lit, 10.0);
    for (auto [x, y] : {std::pair{226, 226}, {286, 226}, {226, 286}, {286, 286}})
        EXPECT_LT(patch(x, y), 0.6 * lit) << "(" << x << ", " << y << ") lies under the absorber";
    for (auto [x, y] : {std::pair{256, 140}, {256, 372}, {140, 256}, {372, 256}})
        EXPECT_GT(patch(x, y), 0.6 * lit) << "(" << x << ", " << y << ") lies beside it";
}

TEST_F(ImagePanelTest, RangeBoxesStepWithTheKeysAndTheWheel) {
    SetCounts([](int, int p) { return p % 300; });
    Control<QPushButton>("BttnGetData")->click();
    ASSERT_EQ(Range(), "0..299");  // Auto: a width of 299 steps by 10
    QTest::keyClick(Control<QLineEdit>("EditRangeMax"), Qt::Key_Down);
    EXPECT_EQ(Range(), "0..289");
    EXPECT_FALSE(Control<QCheckBox>("ChkbRangeAuto")->isChecked());
    QTest::keyClick(Control<QLineEdit>("EditRangeMin"), Qt::Key_Up);
    EXPECT_EQ(Range(), "10..289");
    TypeRange("100", "105");  // a width of 5 steps by 0.1
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Control<QLineEdit>("EditRangeMax"), &wheel);
    EXPECT_EQ(Range(), "100..104.9");
}

// The line under the image names the chip, column, row and value of the pixel under the
// mouse, through the same layout the image is drawn with.
TEST_F(ImagePanelTest, TheStatusLineDescribesThePixelUnderTheMouse) {
    SetCounts([](int c, int p) { return c * 1000 + p % 256; });  // value tells chip and column
    Control<QPushButton>("BttnGetData")->click();
    form->resize(1920, 1080);  // room for the image at full size: one box pixel per pixel
    form->show();
    QCoreApplication::processEvents();
    auto* box = Control<PaintBox>("PaintBoxBitmap");
    const Placement placed = form->image->ImagePlacement();
    ASSERT_GE(placed.zoom, 1.0);  // every image pixel has box pixels
    // Image pixel (x, y) = (300, 40): the upper right chip of a Timepix quad, chip 2.
    const QPoint at(placed.left + static_cast<int>(std::ceil(300 * placed.width / 512.0)),
                    placed.top + static_cast<int>(std::ceil(40 * placed.height / 512.0)));
    QTest::mouseMove(box, at);
    EXPECT_EQ(Text("LabelPixelInfo"), "chip 2  column 44  row 40  value 1044");
    // Beside the image (letterboxed on the left or above) nothing is described.
    QTest::mouseMove(box, QPoint(placed.left / 2, placed.top / 2));
    if (placed.left > 0 || placed.top > 0) {
        EXPECT_EQ(Text("LabelPixelInfo"), "");
    }
}

// Three chips in one row keep square pixels: the image is letterboxed, not stretched.
TEST_F(WindowTest, ThreeChipsKeepSquarePixelsAtEverySize) {
    Start("medipix2:3");
    form->show();
    for (QSize size : {QSize(1280, 720), QSize(1920, 1080), QSize(1366, 768)}) {
        form->resize(size);
        QCoreApplication::processEvents();
        const Placement placed = form->image->ImagePlacement();
        ASSERT_GT(placed.height, 0);
        EXPECT_NEAR(static_cast<double>(placed.width) / placed.height, 3.0, 0.02) << size.width();
        auto* box = Control<PaintBox>("PaintBoxBitmap");
        EXPECT_LE(placed.width, box->width());
        EXPECT_LE(placed.height, box->height());
    }
}

}  // namespace
}  // namespace ulvarin::test
