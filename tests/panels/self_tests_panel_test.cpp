// The "Tests" group against the emulated interface: the version and chip ID boxes, the
// watchdog test, and the test pattern written into the pixel configuration and read back
// into the image.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class TestsPanelTest : public WindowTest {
protected:
    void Press(const char* button) { Control<QPushButton>(button)->click(); }
    const MessageRequest& LastBox() { return dialogs->messages.back(); }
    // Whether pixel (row, column) of a chip carries the pattern.
    static bool OnPattern(int r, int c) {
        return r == 127 || r == 128 || c == 127 || c == 128 || r == c || r == 255 - c ||
               (r >= 64 && r <= 191 && c >= 64 && c <= 191);
    }
};

TEST_F(TestsPanelTest, VersionChipIdAndWatchdogShowTheirBoxes) {
    Start("timepix:1");
    Press("BtnGetFirmwareVersion");
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(LastBox().caption, "HW info");
    EXPECT_EQ(LastBox().icon, DialogIcon::Information);
    EXPECT_TRUE(LastBox().text.starts_with("Hardware info:\r\r")) << LastBox().text;
    EXPECT_GT(LastBox().text.size(), 16u);
    Press("BttnMXRID");
    EXPECT_EQ(LastBox().caption, "MXR chip ID");
    EXPECT_TRUE(LastBox().text.starts_with("MXR chip ID:\r\r")) << LastBox().text;
    Press("BttnWatchDogTst");
    EXPECT_EQ(LastBox().caption, "Watchdog test result");
    EXPECT_EQ(LastBox().text, "Watchdog test passed OK");

    // With the interface closed every test fails with its own box.
    form->deviceBar->BttnCloseClick();
    Press("BtnGetFirmwareVersion");
    EXPECT_EQ(LastBox().icon, DialogIcon::Error);
    EXPECT_TRUE(LastBox().text.starts_with("Command failed:\r\r")) << LastBox().text;
    Press("BttnMXRID");
    EXPECT_EQ(LastBox().text, "Can't get chip ID.");
    Press("BttnWatchDogTst");
    EXPECT_EQ(LastBox().text, "Watchdog test failed");
    EXPECT_EQ(LastBox().icon, DialogIcon::Error);
}

TEST_F(TestsPanelTest, ThePatternIsWrittenToEveryChipAndReadBackIntoTheImage) {
    Start("mxr:4");
    Press("BttnTestMask");
    const auto config = form->shared.frames.config();
    const auto raw = form->shared.frames.raw();
    int mismatches = 0;
    for (int chip = 0; chip < 4; ++chip)
        for (int r = 0; r < 256; ++r)
            for (int c = 0; c < 256; ++c) {
                const size_t i = static_cast<size_t>(chip * 65536 + r * 256 + c);
                const uint16_t expected = OnPattern(r, c) ? 1 : 0;
                mismatches += config[i] != expected;
                mismatches += raw[i] != expected;
            }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(EmulatorChip(0, 3).pixelConfig[128 * 256 + 127], 1);  // the chips hold it too
    EXPECT_FALSE(Control<QCheckBox>("ChkbRangeAuto")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("ChkbInterpolate")->isChecked());
    EXPECT_EQ(Control<QLineEdit>("EditRangeMin")->text(), "0");
    EXPECT_EQ(Control<QLineEdit>("EditRangeMax")->text(), "2");
    EXPECT_EQ(form->image->shown().statistics.maximum, 1.0);
}

TEST_F(TestsPanelTest, Medipix2ChipsTakeTheirOwnMaskBit) {
    Start("medipix2:1");
    Press("BttnTestMask");
    const auto config = form->shared.frames.config();
    EXPECT_EQ(config[127 * 256 + 127], 0x0800);
    EXPECT_EQ(config[0 * 256 + 255], 0x0800);  // on the anti-diagonal
    EXPECT_EQ(config[0 * 256 + 1], 0);
    EXPECT_EQ(Control<QLineEdit>("EditRangeMax")->text(), "4096");
}

// The pattern is written with the chip type's own mask bit, so on Timepix chips too it
// shows as good pixels in the image.
TEST_F(TestsPanelTest, TimepixChipsShowThePatternWithTheirMaskBit) {
    Start("timepix:1");
    Press("BttnTestMask");
    EXPECT_EQ(form->shared.frames.config()[127 * 256 + 127], 0x0080);
    EXPECT_EQ(form->shared.frames.raw()[127 * 256 + 127], 0x0080);
    EXPECT_EQ(Control<QLineEdit>("EditRangeMax")->text(), "256");
    EXPECT_EQ(form->image->shown().statistics.maximum, 128.0);
}

}  // namespace
}  // namespace ulvarin::test
