// Corrections through the image's controls: a flat field captured from a frame, pixels
// masked by their value reaching the chips' pixel configuration, and masked pixels filled in
// the "Result" view while "Interpolate bad" is ticked.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "imaging/corrections.h"
#include "tests/app/window_fixture.h"
#include "wire/pixel_config.h"

namespace ulvarin::test {
namespace {

class ImageCorrectionsTest : public WindowTest {
protected:
    // Puts `counts(pixel)` into every pixel counter of chip 0 and takes a frame. The
    // counters are erased first: a matrix just sent still sits in them.
    template <class F>
    void TakeFrame(F counts) {
        Click("BttnResetMatrix");
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            for (int p = 0; p < kChipPixels; ++p)
                e.Chip(0).counts[p] = static_cast<uint16_t>(counts(p));
        });
        Control<QPushButton>("BttnGetData")->click();
    }
    void Click(const char* name) { Control<QPushButton>(name)->click(); }
    double Result(int p) { return form->shared.frames.result()[p]; }
};

TEST_F(ImageCorrectionsTest, AFlatFieldEvensOutAFrameWithAKnownPattern) {
    Start("medipix2:1");
    const auto pattern = [](int p) { return p == 5 ? 50 : p == 6 ? 0 : 100; };
    TakeFrame(pattern);
    Click("BttnUseAsFF");
    const auto factors = form->shared.frames.flatField();
    EXPECT_EQ(factors[0], 1.0);
    EXPECT_EQ(factors[5], 2.0);
    EXPECT_EQ(factors[6], 0.0);
    EXPECT_EQ(Result(5), 50) << "capturing does not switch the correction on";
    Control<QCheckBox>("ChkbFF")->click();
    EXPECT_EQ(Result(5), 100);
    EXPECT_EQ(Result(6), 0);
    TakeFrame([](int) { return 30; });
    EXPECT_EQ(Result(5), 60);
    EXPECT_EQ(Result(7), 30);
}

// Nonzero pixels, then pixels outside the typed range, are masked on the chip; masks add up.
TEST_F(ImageCorrectionsTest, MasksFromTheImageReachTheChip) {
    Start("medipix2:1");
    TakeFrame([](int p) { return p == 1000 ? 3 : 0; });
    Click("BttnImgAsMsk");
    const uint16_t bit = MaskBit(ChipType::Medipix2);
    std::vector<uint16_t> words = EmulatorChip(0, 0).pixelConfig;
    EXPECT_EQ(words[1000] & bit, 0);
    EXPECT_NE(words[1001] & bit, 0);

    TakeFrame([](int p) { return p == 2000 ? 9 : p == 2001 ? 21 : p < 100 ? 10 : 20; });
    form->image->SetTypedRange(10, 20);
    Click("BttnMaskOuter");
    words = EmulatorChip(0, 0).pixelConfig;
    for (int p : {1000, 2000, 2001}) EXPECT_EQ(words[p] & bit, 0) << p;
    for (int p : {0, 99, 100, 2002}) EXPECT_NE(words[p] & bit, 0) << p;
}

TEST_F(ImageCorrectionsTest, MaskingOfflineSaysTheMaskWasNotSent) {
    Start("");
    form->shared.chipCount = 1;
    form->shared.frames.SetLayout({1, ChipFamily::Timepix});
    form->shared.frames.result()[3] = 7;  // as a loaded frame would leave it
    form->shared.frames.counts()[3] = 7;
    Click("BttnImgAsMsk");
    EXPECT_EQ(form->shared.frames.config()[3], 0x1FFF & 0x3F7F);
    const QStringList lines = Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2],
              "Message: Mask generated but not sent to Medipix device as it is offline.");
    EXPECT_EQ(lines.last(),
              "Mask nonzero pix: 1 pixel(s) masked (0.00153 %), 1 (0.00153 %) masked in all");
}

// A masked 3 x 3 block in a uniform frame is filled from its rim; without interpolation the
// masked pixels are 0, and a fully masked chip stays unfilled below the range.
TEST_F(ImageCorrectionsTest, InterpolationFillsAMaskedBlock) {
    Start("medipix2:1");
    const auto inBlock = [](int p) {
        return p / 256 >= 100 && p / 256 < 103 && p % 256 >= 50 && p % 256 < 53;
    };
    TakeFrame([&](int p) { return inBlock(p) ? 1 : 0; });
    Click("BttnImgAsMsk");
    TakeFrame([](int) { return 10; });
    int masked = 0;
    for (int p = 0; p < kChipPixels; ++p) {
        if (IsGoodPixel(form->shared.frames.config()[p], ChipFamily::Medipix2)) continue;
        ++masked;
        EXPECT_DOUBLE_EQ(Result(p), 10.0) << p;
    }
    EXPECT_EQ(masked, 9);
    EXPECT_EQ(form->image->shown().statistics.minimum, 10);
    Control<QCheckBox>("ChkbInterpolate")->click();
    masked = 0;
    for (int p = 0; p < kChipPixels; ++p) masked += Result(p) == 0.0;
    EXPECT_EQ(masked, 9);

    Control<QCheckBox>("ChkbInterpolate")->click();
    TakeFrame([](int) { return 1; });
    Click("BttnImgAsMsk");  // every pixel
    TakeFrame([](int) { return 10; });
    EXPECT_EQ(Result(0), kBadPixelMarker);
    EXPECT_EQ(Control<QLineEdit>("EditRangeMin")->text(), "0");
}

}  // namespace
}  // namespace ulvarin::test
