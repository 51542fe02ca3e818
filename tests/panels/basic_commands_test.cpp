// The basic commands against emulated interfaces: the shutter buttons and erase, the
// commands that only set the chips, the Timepix counting mode and default matrix, pixel
// configuration mask files in both formats, their error boxes, and the offline cases.
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "tester/tester_window.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

constexpr uint32_t kChipPixels = 65536;

class BasicCommandsTest : public WindowTest {
protected:
    // The first `n` pixel configuration words of the window.
    std::vector<uint16_t> Config(size_t n = kChipPixels) {
        return {form->shared.frames.config().begin(), form->shared.frames.config().begin() + n};
    }
    bool AllConfig(uint16_t word) {
        const auto words = Config(form->shared.frames.pixelsInUse());
        return std::all_of(words.begin(), words.end(), [&](uint16_t w) { return w == word; });
    }
    bool EmulatorConfigIs(size_t index, uint16_t word) {
        const auto words = EmulatorChip(index, 0).pixelConfig;
        return std::all_of(words.begin(), words.end(), [&](uint16_t w) { return w == word; });
    }
    void SetEmulatorCounts(uint16_t count) {
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            std::fill(e.Chip(0).counts.begin(), e.Chip(0).counts.end(), count);
        });
    }
    bool Timed(const char* name) {
        const QString pattern = QStringLiteral(R"(^Message: "%1" executed in [0-9.e+-]+ sec$)");
        return LastLine().contains(QRegularExpression(pattern.arg(QLatin1String(name))));
    }
    bool StartEnabledStopDisabled() {
        return Control<QPushButton>("BttnStart")->isEnabled() &&
               !Control<QPushButton>("BttnStop")->isEnabled();
    }
};

TEST_F(BasicCommandsTest, ShutterButtonsAlternateAndEraseClearsTheCounters) {
    Start("medipix2:1");
    ASSERT_TRUE(StartEnabledStopDisabled());
    Control<QPushButton>("BttnStart")->click();
    EXPECT_TRUE(EmulatorState(0).shutterOpen);
    EXPECT_FALSE(Control<QPushButton>("BttnStart")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>("BttnStop")->isEnabled());
    Control<QPushButton>("BttnStop")->click();
    EXPECT_FALSE(EmulatorState(0).shutterOpen);
    EXPECT_TRUE(StartEnabledStopDisabled());

    Control<QPushButton>("BttnStart")->click();
    SetEmulatorCounts(5);
    Control<QPushButton>("BttnResetMatrix")->click();
    EXPECT_TRUE(Timed("Erase Matrix")) << LastLine().toStdString();
    EXPECT_TRUE(StartEnabledStopDisabled());
    const auto counts = EmulatorChip(0, 0).counts;
    EXPECT_TRUE(std::all_of(counts.begin(), counts.end(), [](uint16_t c) { return c == 0; }));

    // A failed command leaves the buttons as they were.
    form->deviceBar->BttnCloseClick();
    Control<QPushButton>("BttnStart")->click();
    EXPECT_TRUE(LastLine().contains("Invalid device handle.")) << LastLine().toStdString();
    EXPECT_TRUE(StartEnabledStopDisabled());
}

TEST_F(BasicCommandsTest, EraseWhileSummingDoesNotCountTheLastFrameTwice) {
    Start("medipix2:1");
    form->shared.frames.SetIntegrating(true);
    SetEmulatorCounts(5);
    Control<QPushButton>("BttnGetData")->click();
    ASSERT_EQ(form->shared.frames.counts()[123], 5);
    const double summedTime = form->shared.frames.integratedTime;
    Control<QPushButton>("BttnResetMatrix")->click();
    EXPECT_EQ(form->shared.frames.counts()[123], 5);
    EXPECT_EQ(form->shared.frames.integratedTime, summedTime);
    Control<QPushButton>("BttnGetData")->click();
    EXPECT_EQ(form->shared.frames.counts()[123], 5) << "the erased chips read 0";
}

TEST_F(BasicCommandsTest, SettingsReachTheInterface) {
    Start("medipix2:1,timepix:1");
    Control<QPushButton>("BttnPowerOff")->click();
    EXPECT_FALSE(EmulatorState(0).chipPower);
    Control<QPushButton>("BttnPowerOn")->click();
    EXPECT_TRUE(EmulatorState(0).chipPower);
    Choose(Control<DropDownCombo>("CombPolarity"), 1);
    EXPECT_FALSE(EmulatorState(0).positivePolarity);
    Choose(Control<DropDownCombo>("CombPolarity"), 0);
    EXPECT_TRUE(EmulatorState(0).positivePolarity);
    Choose(Control<DropDownCombo>("CombSelectFSRMode"), 1);
    EXPECT_EQ(EmulatorState(0).fsr, 1);
    EXPECT_TRUE(AllConfig(0x1FFF)) << "FSR selection leaves the pixels alone";
    Control<QPushButton>("BttnMPXReset")->click();
    EXPECT_TRUE(Timed("Mpx Reset")) << LastLine().toStdString();

    OpenByName(Description(1));
    Choose(Control<DropDownCombo>("CombTimepixClock"), 2);
    EXPECT_EQ(EmulatorState(1).timepixClock, 2);

    Control<QPushButton>("BttnTester")->click();
    auto* tester = form->findChild<QWidget*>(QStringLiteral("UlvarinTester"));
    ASSERT_NE(tester, nullptr);
    EXPECT_TRUE(tester->isVisible());
    EXPECT_EQ(tester->windowTitle(), kTesterWindowCaption);
}

TEST_F(BasicCommandsTest, TimepixModeAndDefaultMatrix) {
    Start("timepix:1");
    DropDownCombo* mode = Control<DropDownCombo>("CombSelectFSRMode");
    Choose(mode, 1);  // "TOT"
    EXPECT_TRUE(AllConfig(0x1FBF));
    EXPECT_TRUE(EmulatorConfigIs(0, 0x1FBF));

    Control<QComboBox>("ComboResult")->setCurrentIndex(3);  // the "Mask" view shows the words
    Control<QPushButton>("BttnResMask")->click();
    EXPECT_TRUE(Timed("Set default matrix")) << LastLine().toStdString();
    EXPECT_TRUE(AllConfig(0xFFFF));
    EXPECT_TRUE(EmulatorConfigIs(0, 0x3FFF));
    EXPECT_EQ(mode->currentIndex(), 3) << "0xFFFF counts in Timepix mode";
    EXPECT_EQ(form->findChild<QLabel*>("LabelRange")->text(), "65535-65535") << "redrawn";

    Choose(mode, 1);
    EXPECT_TRUE(AllConfig(0x3FBF));
    EXPECT_TRUE(EmulatorConfigIs(0, 0x3FBF));

    // Offline the window's words still change, and the operator is told.
    form->deviceBar->BttnCloseClick();
    Choose(mode, 0);  // "Medipix"
    EXPECT_TRUE(AllConfig(0x3DBF));
    EXPECT_EQ(LastLine(),
              "Message: Mask generated but not sent to Medipix device as it is offline.");
    EXPECT_EQ(form->findChild<QLabel*>("LabelRange")->text(), "15807-15807") << "redrawn";
    EXPECT_TRUE(EmulatorConfigIs(0, 0x3FBF));
    Control<QPushButton>("BttnResMask")->click();
    EXPECT_TRUE(AllConfig(0xFFFF));
    EXPECT_EQ(LastLine(), "Message: Mask reseted but not sent to Medipix device as it is offline.");
}

class MaskFileTest : public BasicCommandsTest {
protected:
    std::string Path(const char* name) {
        return folder.filePath(QString::fromUtf8(name)).toStdString();
    }
    std::string WriteBytes(const char* name, std::vector<uint8_t> bytes) {
        QFile file(QString::fromStdString(Path(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return Path(name);
    }
    std::string WriteText(const char* name, const std::string& text) {
        return WriteBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
    }
    void LoadMask(const std::string& path) {
        dialogs->paths.push_back(path);
        Control<QPushButton>("BttnSetMask")->click();
    }
    void ExpectErrorBox(const char* text) {
        ASSERT_FALSE(dialogs->messages.empty());
        const MessageRequest& box = dialogs->messages.back();
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.icon, DialogIcon::Error);
    }

    QTemporaryDir folder;
};

TEST_F(MaskFileTest, BothFormatsLoadAndReachTheChips) {
    Start("medipix2:1,mxr:1");
    dialogs->paths.push_back(std::nullopt);
    Control<QPushButton>("BttnSetMask")->click();  // cancelled: nothing happens
    ASSERT_EQ(dialogs->fileRequests.size(), 1u);
    EXPECT_EQ(dialogs->fileRequests[0].title, "Select Mask File");
    EXPECT_EQ(dialogs->fileRequests[0].filter,
              "Pixel masks|*.txt;*.bpc|Binary pixel configuration|*.bpc|ASCII matrix|*.txt|"
              "All files|*.*");
    EXPECT_EQ(dialogs->fileRequests[0].defaultExtension, "txt");
    EXPECT_TRUE(AllConfig(0x1FFF));

    LoadMask(WriteBytes("mask.bpc", std::vector<uint8_t>(kChipPixels, 0x80)));
    EXPECT_TRUE(Timed("Set Matrix")) << LastLine().toStdString();
    EXPECT_TRUE(AllConfig(0x0800));
    EXPECT_TRUE(EmulatorConfigIs(0, 0x0800));

    // A name without extension is an ASCII matrix, read like "%i".
    std::string text = "0x1fff 8191\n017";
    for (uint32_t i = 3; i < kChipPixels; ++i) text += i % 16 ? " 1" : "\n1";
    LoadMask(WriteText("matrix", text));
    EXPECT_EQ(Config(4), (std::vector<uint16_t>{0x1FFF, 0x1FFF, 15, 1}));
    EXPECT_TRUE(dialogs->messages.empty());

    // ".TXT" is not ".txt": binary. MXR and Timepix map the byte's bits otherwise.
    OpenByName(Description(1));
    std::vector<uint8_t> bytes(kChipPixels, 0x40);
    bytes[0] = 0x80;
    bytes[1] = 0x00;
    LoadMask(WriteBytes("MASK.TXT", bytes));
    EXPECT_EQ(Config(3), (std::vector<uint16_t>{0x0201, 0x0200, 0x0000}));
    EXPECT_TRUE(dialogs->messages.empty());
    const auto chip = EmulatorChip(1, 0).pixelConfig;
    EXPECT_EQ(std::count(chip.begin(), chip.end(), 0x0000), kChipPixels - 2);

    // Offline the words are loaded all the same.
    form->deviceBar->BttnCloseClick();
    LoadMask(Path("mask.bpc"));
    EXPECT_TRUE(AllConfig(0x0201));
    EXPECT_EQ(LastLine(), "Message: Mask loaded but not sent to Medipix device as it is offline.");
}

TEST_F(MaskFileTest, UnreadableFilesLeaveTheConfigurationAlone) {
    Start("medipix2:1");
    form->messages->BttnClearMsgListClick();
    LoadMask(WriteBytes("short.bpc", std::vector<uint8_t>(kChipPixels - 1, 0x80)));
    ExpectErrorBox("Error - coldn't read mask file\nNot compatible data format!");
    EXPECT_TRUE(AllConfig(0x1FFF)) << "a file one pixel short changes nothing";

    LoadMask(WriteText("short.txt", "1 2 3 zz"));
    EXPECT_EQ(dialogs->messages.size(), 2u);
    EXPECT_TRUE(AllConfig(0x1FFF));

    LoadMask(Path("missing.txt"));
    ExpectErrorBox("Error - coldn't open mask file");
    EXPECT_TRUE(AllConfig(0x1FFF));
    EXPECT_TRUE(EmulatorConfigIs(0, 0x1FFF));
    EXPECT_TRUE(Lines().isEmpty()) << "nothing was sent";
}

}  // namespace
}  // namespace ulvarin::test
