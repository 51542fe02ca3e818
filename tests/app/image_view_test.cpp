// The image view driven through its controls: frames from the emulator reach the
// statistics and histogram, integration sums frames, the range boxes and buttons, and the
// median on request.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <numeric>

#include "device/pixel_config.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class ImageViewTest : public WindowTest {
protected:
    void SetUp() override {
        Start("timepix:4");
        ASSERT_EQ(form->chipCount, 4u);
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

TEST_F(ImageViewTest, AFrameFromTheInterfaceFillsStatisticsAndHistogram) {
    SetCounts([](int c, int p) { return (c + 1) * 100 + p % 7; });
    Control<QPushButton>("BttnGetData")->click();
    double sum = 0;
    for (int c = 0; c < 4; ++c)
        for (int p = 0; p < kChipPixels; ++p) sum += (c + 1) * 100 + p % 7;
    EXPECT_EQ(Text("LabelRange"), "100-406");
    EXPECT_EQ(Text("LabelSum"), QString::number(sum, 'g', 15));
    EXPECT_EQ(Range(), "100..406");  // Auto takes the data range
    EXPECT_TRUE(form->shown.histogram.hasPeak());
    EXPECT_EQ(Text("LabelMedian"), "<click>");
    EXPECT_EQ(form->ui.ComboResult->currentIndex(), 0);
}

TEST_F(ImageViewTest, IntegrationSumsFramesAndTheirTimes) {
    SetCounts([](int, int) { return 1; });
    Control<QCheckBox>("ChkbSum")->click();
    EXPECT_EQ(Text("LabelSum"), "0");  // an empty sum until the next frame
    double time = 0;
    for (int i = 0; i < 3; ++i) {
        Control<QPushButton>("BttnGetData")->click();
        time += form->frames.frameTime;
    }
    EXPECT_EQ(form->frames.counts()[0], 3);
    EXPECT_EQ(form->frames.counts()[4 * kChipPixels - 1], 3);
    EXPECT_EQ(Text("LabelRange"), "3-3");
    EXPECT_DOUBLE_EQ(form->frames.integratedTime, time);
    Control<QCheckBox>("ChkbSum")->click();
    EXPECT_EQ(Text("LabelRange"), "1-1");  // the last single frame again
}

TEST_F(ImageViewTest, TypedRangeAndRangeButtons) {
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

TEST_F(ImageViewTest, MaskedPixelsLeaveTheStatisticsButNotTheMedian) {
    SetCounts([](int c, int p) { return c == 0 && p < 10 ? 5000 : 10; });
    const uint16_t mask = MaskBit(ChipType::Timepix);
    auto config = form->frames.config();
    for (int p = 0; p < 10; ++p) config[p] = static_cast<uint16_t>(config[p] & ~mask);
    Control<QPushButton>("BttnGetData")->click();
    EXPECT_EQ(Text("LabelRange"), "10-10");
    EXPECT_EQ(Text("LabelStdDev"), "0");
    QTest::mouseClick(Control<QLabel>("LabelMedian"), Qt::LeftButton);
    EXPECT_EQ(Text("LabelMedian"), "10");

    Control<QComboBox>("ComboResult")->setCurrentIndex(4);  // "Mask bit"
    form->ComboResultSelect();
    EXPECT_EQ(Text("LabelRange"), "1-1");
    EXPECT_EQ(Text("LabelMedian"), "<click>");
}

// The emulated sensor's round absorber sits across the middle of the quad: the image shows it
// whole only if every chip lands in its quadrant the right way round.
TEST_F(ImageViewTest, AnExposureShowsTheAbsorberWholeAcrossTheFourChips) {
    form->ui.CombSelectFSRMode->setCurrentIndex(0);  // plain counting
    form->CombSelectFSRModeSelect();
    form->BttnResetMatrixClick();  // the counters start from zero
    form->BttnStartClick();
    QTest::qWait(300);
    form->BttnStopClick();
    const ChipLayout layout = form->frames.layout();
    const auto result = form->frames.result();
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

}  // namespace
}  // namespace ulvarin::test
