// Threshold equalisation and the "Eq. bits" selector through the whole window: the scan
// group drives the equaliser from the end of each process against the emulated chips, the
// chips end with the new configuration (or the old one when stopped), and the results
// window keeps the mask.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "files/mask_file.h"
#include "panels/scan/equalization_dialog.h"
#include "session/equalization_run.h"
#include "tests/app/window_fixture.h"
#include "wire/pixel_config.h"

namespace ulvarin::test {
namespace {

class EqualizationTest : public WindowTest {
protected:
    // Masks a few pixels of chip 0 and sets the test bit of a few others, and sends that.
    void MarkPixels() {
        const ChipType type = form->shared.Type();
        auto config = form->shared.frames.config();
        for (int p : kMasked) config[static_cast<size_t>(p)] &= static_cast<uint16_t>(~MaskBit(type));
        for (int p : kTested) config[static_cast<size_t>(p)] |= TestBit(type);
        form->shared.SendPixelConfig(nullptr, false, "offline");
    }
    int Dac(int chip, int index) {
        return form->shared.dacRecords[static_cast<size_t>(chip)].dac[static_cast<size_t>(index)];
    }
    static constexpr int kMasked[] = {3, 700, 40000};
    static constexpr int kTested[] = {5, 1234};
};

TEST_F(EqualizationTest, EqualizingAChipShrinksItsSpreadKeepsTheNewConfigurationAndSavesIt) {
    StartForScan("medipix2:1", 120, 200, 4);
    MarkPixels();
    const std::vector<uint16_t> before = WindowWords();
    const int dac = Control<QComboBox>("CombScanDAC")->currentIndex();
    const int dacBefore = Dac(0, dac);

    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    EXPECT_EQ(Control<QPushButton>("BttnEqualize")->text(), "Stop");
    EXPECT_EQ(Control<QPushButton>("BttnScanStart")->text(), "Stop");
    EXPECT_FALSE(form->processes->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return Control<QProgressBar>("ProgressScan")->value() >= 2; },
                        20000));
    EXPECT_TRUE(Control<QGroupBox>("GroupScan")->title().startsWith("Equalizing ("));
    EXPECT_TRUE(Control<QProgressBar>("ProgressScan")->text().contains("left"));
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Equalizing(); }, 100000));

    // The spread of the chip's thresholds shrinks, nearly every pixel is equalised.
    EqualizationDialog* results = form->scan->equalizationDialog();
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(results->isVisible());
    const EqualizationResult& result = results->result();
    ASSERT_EQ(result.chips.size(), 1u);
    const ChipEqualization& chip = result.chips[0];
    EXPECT_GT(chip.spreadBefore, 2.0);
    EXPECT_LT(chip.spreadAfter, 0.7 * chip.spreadBefore) << DescribeEqualization(result);
    EXPECT_LT(chip.unequalizable, kChipPixels / 100);
    const ThresholdHistograms bins = BinThresholds(result, 64);
    EXPECT_GT(*std::max_element(bins.after.begin(), bins.after.end()),
              *std::max_element(bins.before.begin(), bins.before.end()));

    // The window holds and the chip took the new configuration; masked pixels stay masked,
    // test bits and every bit but the adjustment unchanged; the DAC is back.
    const std::vector<uint16_t> after = WindowWords();
    EXPECT_EQ(after, result.words);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    const ChipType type = ChipType::Medipix2;
    for (int p : kMasked) EXPECT_EQ(after[static_cast<size_t>(p)], before[static_cast<size_t>(p)]);
    int changed = 0;
    for (size_t p = 0; p < after.size(); ++p) {
        ASSERT_EQ(after[p] & ~ThresholdAdjustMask(type), before[p] & ~ThresholdAdjustMask(type)) << p;
        changed += after[p] != before[p];
    }
    EXPECT_GT(changed, kChipPixels / 2);
    EXPECT_EQ(Dac(0, dac), dacBefore);
    EXPECT_EQ(EmulatorChip(0, 0).dacs.dac[static_cast<size_t>(dac)], dacBefore);
    EXPECT_TRUE(HasLineStartingWith("Equalization started: "));
    EXPECT_TRUE(HasLineStartingWith("Equalization finished in "));
    EXPECT_EQ(Control<QPushButton>("BttnEqualize")->text(), "Equalize");
    EXPECT_EQ(Control<QGroupBox>("GroupScan")->title(), "Scan");
    EXPECT_TRUE(form->processes->isEnabled());

    // The mask saved loads back word for word; the results file is copied where asked; a
    // mask name "Set Mask" would read as binary is refused.
    const QString folder = programFolder->path();
    const std::string mask = (folder + "/equalized.txt").toStdString();
    const std::string h5 = (folder + "/equalized.h5").toStdString();
    dialogs->paths = {mask, h5, (folder + "/equalized.bpc").toStdString()};
    results->findChild<QPushButton*>("BttnSaveEqualizedMask")->click();
    results->findChild<QPushButton*>("BttnSaveEqualization")->click();
    const size_t boxes = dialogs->messages.size();
    results->findChild<QPushButton*>("BttnSaveEqualizedMask")->click();
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    EXPECT_FALSE(std::filesystem::exists((folder + "/equalized.bpc").toStdString()));
    std::vector<uint16_t> loaded(after.size());
    ASSERT_EQ(ReadMaskFile(mask, false, loaded.data(), loaded.size()), MaskReadResult::Ok);
    EXPECT_EQ(loaded, after);
    EXPECT_GT(std::filesystem::file_size(h5), 100000u);
}

TEST_F(EqualizationTest, StoppingPutsBackThePixelConfigurationAndTheDacs) {
    StartForScan("timepix:2", 110, 200, 5);
    MarkPixels();
    const std::vector<uint16_t> before = WindowWords();
    const int dac = Control<QComboBox>("CombScanDAC")->currentIndex();
    const int dacBefore = Dac(1, dac);
    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    // Under way: the chips count at the lowest adjustment, the DAC stepped.
    ASSERT_TRUE(WaitFor([&] { return Control<QProgressBar>("ProgressScan")->value() >= 2; },
                        20000));
    EXPECT_EQ(ThresholdAdjustOfWord(EmulatorChip(0, 0).pixelConfig[100], ChipType::Timepix), 0);
    EXPECT_NE(Dac(1, dac), dacBefore);

    Control<QPushButton>("BttnScanStart")->click();
    EXPECT_FALSE(form->scan->Equalizing());
    EXPECT_FALSE(form->scan->Active());
    EXPECT_EQ(WindowWords(), before);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    EXPECT_EQ(Dac(1, dac), dacBefore);
    EXPECT_EQ(EmulatorChip(0, 1).dacs.dac[static_cast<size_t>(dac)], dacBefore);
    EXPECT_TRUE(HasLineStartingWith("Equalization stopped after "));
    EXPECT_EQ(form->scan->equalizationDialog(), nullptr) << "nothing to show";
    EXPECT_EQ(Control<QPushButton>("BttnEqualize")->text(), "Equalize");

    // A range of fewer than three values is refused before anything changes.
    ASSERT_TRUE(WaitFor([&] { return !form->processes->ProcessRunning(); }, 5000));
    auto* to = Control<QLineEdit>("EditScanTo");
    to->setText(QStringLiteral("115"));
    emit to->editingFinished();
    const size_t boxes = dialogs->messages.size();
    Control<QPushButton>("BttnEqualize")->click();
    EXPECT_FALSE(form->scan->Equalizing());
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    EXPECT_EQ(dialogs->messages.back().caption, "Equalization Failed");
}

TEST_F(EqualizationTest, EqBitsSetTheAdjustmentOfCountingPixelsForAScanOnly) {
    StartForScan("timepix:1", 150, 152, 1);
    // Timepix pixels have four adjustment bits: the list offers 0 to 15, "Scan" not at all.
    auto* bits = Control<QComboBox>("CombScanBits");
    ASSERT_TRUE(bits->isEnabled());
    ASSERT_EQ(bits->count(), 2 + 16);
    EXPECT_EQ(bits->itemText(bits->count() - 1), "15");
    auto* model = qobject_cast<QStandardItemModel*>(bits->model());
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->item(1)->isEnabled());
    EXPECT_EQ(bits->currentIndex(), 0);

    MarkPixels();
    const std::vector<uint16_t> before = WindowWords();
    Choose(bits, 2 + 5);
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(form->scan->Active());
    EXPECT_FALSE(bits->isEnabled());
    const std::vector<uint16_t> during = EmulatorChip(0, 0).pixelConfig;
    for (size_t p = 0; p < before.size(); ++p) {
        const bool masked = !IsGoodPixel(before[p], ChipType::Timepix);
        const uint16_t expected = masked ? before[p] : WithThresholdAdjust(before[p], ChipType::Timepix, 5);
        ASSERT_EQ(during[p] & 0x3FFF, expected & 0x3FFF) << p;
    }
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Active(); }, 30000));
    EXPECT_EQ(WindowWords(), before);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    EXPECT_TRUE(bits->isEnabled());
    EXPECT_EQ(bits->currentIndex(), 2 + 5) << "the choice stays for the next scan";

    // "No change" leaves the configuration alone.
    Choose(bits, 0);
    Control<QPushButton>("BttnScanStart")->click();
    ASSERT_TRUE(form->scan->Active());
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    EXPECT_EQ(WindowWords(), before);
    Control<QPushButton>("BttnScanStart")->click();
}

// The range the README recommends for Timepix (Thl Fine 490 to 590 by 1: three scans of 101
// steps) on the quad, with the interface's ADCs read as the window does by default: the
// run crosses both scan boundaries, where the equaliser and the results file do most of
// their work, and ends with the results shown.
TEST_F(EqualizationTest, TheReadmeRangeOnTheQuadRunsToTheEnd) {
    StartForScan("timepix:4", 490, 590, 1);
    Control<QCheckBox>("ChkbInterfaceADCread")->setChecked(true);
    // A step ends at the poll after its frame, every fifth tick of the window's timer; a
    // faster tick makes the 303 steps take less time, and each poll does the same work.
    form->Timer->setInterval(20);
    Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("0.01"));
    auto* dacs = Control<QComboBox>("CombScanDAC");
    ASSERT_EQ(dacs->currentText(), "Thl Fine");
    const int dac = dacs->currentIndex();
    const int dacBefore = Dac(3, dac);

    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    auto* progress = Control<QProgressBar>("ProgressScan");
    ASSERT_EQ(progress->maximum(), 303);
    // Each scan boundary is passed, and the run goes on after it.
    for (int taken : {102, 203}) {
        ASSERT_TRUE(WaitFor(
            [&] { return !form->scan->Equalizing() || progress->value() >= taken; }, 100000))
            << progress->text().toStdString();
    }
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Equalizing(); }, 100000))
        << progress->text().toStdString();
    EXPECT_TRUE(HasLineStartingWith("Equalization finished in ")) << LastLine().toStdString();
    EXPECT_EQ(progress->text().toStdString(), "Done");
    EqualizationDialog* results = form->scan->equalizationDialog();
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->result().chips.size(), 4u);
    for (const ChipEqualization& chip : results->result().chips)
        EXPECT_LT(chip.spreadAfter, 0.5 * chip.spreadBefore)
            << DescribeEqualization(results->result());
    EXPECT_EQ(Dac(3, dac), dacBefore);
    EXPECT_EQ(EmulatorChip(0, 3).dacs.dac[static_cast<size_t>(dac)], dacBefore);
}

// The window's own Timepix mode (every pixel timing arrivals) finds no noise edge: the
// scans count hits all the same, and the pixels end in their own mode with the new
// adjustment, as the other faces leave them.
TEST_F(EqualizationTest, OnTheDefaultTimepixModeTheScansCountAndThePixelsKeepTheirMode) {
    StartForScan("timepix:1", 490, 590, 2, false);
    form->Timer->setInterval(20);
    Control<QComboBox>("CombInterval")->setEditText(QStringLiteral("0.01"));
    const std::vector<uint16_t> before = WindowWords();
    ASSERT_EQ(TimepixModeOf(before[0]), 3);
    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    // Under way, the chip counts hits.
    ASSERT_TRUE(WaitFor([&] { return Control<QProgressBar>("ProgressScan")->value() >= 2; },
                        20000));
    EXPECT_EQ(TimepixModeOf(EmulatorChip(0, 0).pixelConfig[100]), 0);
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Equalizing(); }, 100000));

    EXPECT_EQ(Control<QProgressBar>("ProgressScan")->text().toStdString(), "Done");
    EXPECT_TRUE(HasLineStartingWith("Equalization finished in ")) << LastLine().toStdString();
    EXPECT_FALSE(LastLine().contains("from before")) << LastLine().toStdString();
    EqualizationDialog* results = form->scan->equalizationDialog();
    ASSERT_NE(results, nullptr);
    EXPECT_FALSE(results->Reverted());
    const ChipEqualization& chip = results->result().chips.at(0);
    EXPECT_LT(chip.spreadAfter, 0.5 * chip.spreadBefore) << DescribeEqualization(results->result());
    const std::vector<uint16_t> after = WindowWords();
    EXPECT_EQ(after, results->result().words);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    const uint16_t adjust = ThresholdAdjustMask(ChipType::Timepix);
    int changed = 0;
    for (size_t p = 0; p < after.size(); ++p) {
        ASSERT_EQ(after[p] & ~adjust, before[p] & ~adjust) << p;
        changed += after[p] != before[p];
    }
    EXPECT_GT(changed, kChipPixels / 2);
}

// A range that misses every pixel's edge leaves most pixels out of reach: the run is not
// kept, the window says why with the figures, and the chips keep what they held.
TEST_F(EqualizationTest, AResultNotWorthKeepingLeavesTheOldConfiguration) {
    StartForScan("timepix:1", 300, 306, 3, false);
    MarkPixels();
    const std::vector<uint16_t> before = WindowWords();
    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Equalizing(); }, 30000));

    EXPECT_EQ(Control<QProgressBar>("ProgressScan")->text().toStdString(), "Done");
    EqualizationDialog* results = form->scan->equalizationDialog();
    ASSERT_NE(results, nullptr);
    EXPECT_GT(results->result().chips.at(0).unequalizable, kChipPixels / 2);
    const std::string why = EqualizationNotKept(results->result());
    ASSERT_NE(why.find("out of reach"), std::string::npos) << why;
    EXPECT_TRUE(LastLine().startsWith("Equalization finished in ")) << LastLine().toStdString();
    EXPECT_TRUE(LastLine().endsWith(QString::fromStdString(why))) << LastLine().toStdString();
    EXPECT_EQ(results->Status().toStdString(), why);
    EXPECT_TRUE(results->Reverted());
    EXPECT_EQ(WindowWords(), before);
    EXPECT_TRUE(EmulatorHoldsWindowWords());
    EXPECT_TRUE(dialogs->messages.empty());
}

}  // namespace
}  // namespace ulvarin::test
