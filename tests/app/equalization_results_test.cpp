// The equalisation results window: maps before and after on scales of their own with the
// pixels it could not equalise marked, "Revert" putting the configuration from before the
// run back on the chips, a result the run did not keep shown with its reason, and saving
// that says where it wrote.
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "files/mask_file.h"
#include "panels/scan/equalization_dialog.h"
#include "session/equalization_run.h"
#include "tests/app/window_fixture.h"
#include "wire/pixel_config.h"

namespace ulvarin::test {
namespace {

constexpr ChipType kType = ChipType::Medipix2;

// The colour the map shows for pixel `pixel`.
QRgb MapColour(const QImage& map, uint32_t pixel, const ChipLayout& layout) {
    const auto width = static_cast<uint32_t>(map.width());
    for (uint32_t i = 0; i < width * static_cast<uint32_t>(map.height()); ++i)
        if (ImageIndexToPixel(i, layout) == pixel)
            return map.pixel(static_cast<int>(i % width), static_cast<int>(i / width)) |
                   0xFF000000u;
    ADD_FAILURE() << "pixel " << pixel << " not shown";
    return 0;
}

int DistinctColours(const QImage& map) {
    QSet<QRgb> colours;
    for (int y = 0; y < map.height(); ++y)
        for (int x = 0; x < map.width(); ++x) colours.insert(map.pixel(x, y));
    return static_cast<int>(colours.size());
}

// One chip whose thresholds spread `before` DAC steps around 100 before and `after` steps
// after; pixel 1 out of reach, pixel 2 without an edge, pixel 3 masked. The adjustment
// moves from p % 8 to (p + 3) % 8.
EqualizationResult MadeResult(double before, double after) {
    EqualizationResult r;
    r.layout = {1, ChipFamily::Medipix2};
    const size_t n = kChipPixels;
    r.before.resize(n);
    r.after.resize(n);
    r.adjust.resize(n);
    r.outcome.assign(n, PixelOutcome::kEqualized);
    r.words.resize(n);
    for (size_t p = 0; p < n; ++p) {
        const double wave = std::sin(static_cast<double>(p) * 0.37) * 1.7;  // about +-1.7
        r.before[p] = static_cast<float>(100 + before * wave);
        r.after[p] = static_cast<float>(100 + after * wave);
        r.adjust[p] = static_cast<uint8_t>((p + 3) % 8);
        r.words[p] = WithThresholdAdjust(0x1FFF, kType, static_cast<int>((p + 3) % 8));
    }
    r.outcome[1] = PixelOutcome::kOutOfRange;
    r.after[1] = 400;  // far off: it must not stretch the scale
    r.outcome[2] = PixelOutcome::kNoEdge;
    r.before[2] = r.after[2] = NAN;
    r.outcome[3] = PixelOutcome::kMasked;
    r.chips = {ChipEqualization{100, before, after, kChipPixels - 3, 2}};
    return r;
}

std::vector<uint16_t> WordsBefore() {
    std::vector<uint16_t> words(kChipPixels);
    for (size_t p = 0; p < words.size(); ++p)
        words[p] = WithThresholdAdjust(0x1FFF, kType, static_cast<int>(p % 8));
    return words;
}

TEST(EqualizationMapsTest, EachMapHasItsOwnScaleAndMarksWhatWasNotEqualized) {
    const EqualizationResult r = MadeResult(6.0, 0.2);
    const MapScale before = ThresholdMapScale(r.before, r.outcome);
    const MapScale after = ThresholdMapScale(r.after, r.outcome);
    // Each scale spans its own values: after a good run a fraction of the one before, and
    // the far value of the pixel out of reach does not widen it.
    EXPECT_NEAR(before.low, 100 - 6 * 1.7, 0.2);
    EXPECT_NEAR(before.high, 100 + 6 * 1.7, 0.2);
    EXPECT_NEAR(after.high - after.low, 1.0, 1e-9) << "0.2 x 3.4 steps, widened to one step";
    EXPECT_NEAR((after.low + after.high) / 2, 100, 0.1);

    // The map after shows its pattern, not one flat colour.
    const QImage map = PixelMapImage(r.after, r.outcome, r.layout, after);
    EXPECT_GT(DistinctColours(map), 50);
    EXPECT_EQ(MapColour(map, 1, r.layout), kOutOfReachColour);
    EXPECT_EQ(MapColour(map, 2, r.layout), kNoEdgeColour);
    EXPECT_EQ(MapColour(map, 3, r.layout), kMaskedColour);
    const ColourTable& viridis = TableOf(ColourMap::Viridis);
    std::vector<float> ends(kChipPixels, 100);
    ends[10] = 90;  // below the scale: its bottom colour
    ends[11] = 110;
    const QImage clipped = PixelMapImage(ends, r.outcome, r.layout, {99, 101});
    EXPECT_EQ(MapColour(clipped, 10, r.layout), viridis.levels.front());
    EXPECT_EQ(MapColour(clipped, 11, r.layout), viridis.levels.back());

    const OutcomeCounts counts = CountOutcomes(r.outcome);
    EXPECT_EQ(counts.outOfReach, 1);
    EXPECT_EQ(counts.noEdge, 1);
    EXPECT_EQ(counts.masked, 1);
    EXPECT_EQ(counts.equalized, kChipPixels - 3);

    // Nothing to scale: a unit range.
    EXPECT_EQ(ThresholdMapScale({}, {}), (MapScale{0, 1}));
}

class EqualizationResultsTest : public WindowTest {
protected:
    // The window and the chip hold `words`, as after a run.
    void Hold(const std::vector<uint16_t>& words) {
        std::copy(words.begin(), words.end(), form->shared.frames.config().begin());
        form->shared.SendPixelConfig(nullptr, false, "offline");
    }
    std::vector<uint16_t> WindowWords() {
        const auto config = form->shared.frames.config().first(form->shared.frames.pixelsInUse());
        return {config.begin(), config.end()};
    }
    bool ChipHolds(const std::vector<uint16_t>& words) {
        const std::vector<uint16_t> held = EmulatorChip(0, 0).pixelConfig;
        for (size_t p = 0; p < words.size(); ++p)
            if (((held[p] ^ words[p]) & 0x1FFF) != 0) return false;
        return true;
    }
    // Shows `r` as a run leaves it: kept, the chips hold its words; not kept (`notKept`
    // says why), the words from before.
    EqualizationDialog* Show(EqualizationResult r, std::string file = {},
                             const std::string& notKept = {}) {
        if (!dialog) dialog = new EqualizationDialog(form->shared, form.get());
        if (r.words.size() == form->shared.frames.pixelsInUse())
            Hold(notKept.empty() ? r.words : WordsBefore());
        dialog->ShowResult(std::move(r), WordsBefore(), nullptr, std::move(file), "disk full",
                           notKept);
        return dialog;
    }
    QPushButton* Button(const char* name) {
        return dialog->findChild<QPushButton*>(QString::fromUtf8(name));
    }

    EqualizationDialog* dialog = nullptr;
};

// A result the run did not keep is shown with the reason, asking nothing: the chips keep
// the configuration from before, and "Apply result" still sends the result. A kept result
// shown after it starts over, unreverted and without the reason.
TEST_F(EqualizationResultsTest, AResultNotKeptShowsWhyAndCanStillBeApplied) {
    Start("medipix2:1");
    const EqualizationResult worse = MadeResult(0.89, 2.46);
    const std::string why = EqualizationNotKept(worse);
    ASSERT_NE(why, "");
    Show(worse, {}, why);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_TRUE(dialog->Reverted());
    EXPECT_EQ(dialog->Status().toStdString(), why);
    EXPECT_TRUE(ChipHolds(WordsBefore()));
    QPushButton* revert = Button("BttnRevertEqualization");
    EXPECT_EQ(revert->text(), "Apply result");
    revert->click();
    EXPECT_FALSE(dialog->Reverted());
    EXPECT_EQ(WindowWords(), worse.words);
    EXPECT_TRUE(ChipHolds(worse.words));
    EXPECT_EQ(revert->text(), "Revert");

    Show(MadeResult(5.9, 0.7));
    EXPECT_FALSE(dialog->Reverted());
    EXPECT_EQ(dialog->Status(), "");
    EXPECT_EQ(revert->text(), "Revert");
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(EqualizationResultsTest, RevertAndApplyAgainSwapTheConfigurationsOnTheChips) {
    Start("medipix2:1");
    const EqualizationResult r = MadeResult(5.9, 0.7);
    Show(r);
    QPushButton* revert = Button("BttnRevertEqualization");
    ASSERT_NE(revert, nullptr);
    EXPECT_EQ(revert->text(), "Revert");
    revert->click();
    EXPECT_TRUE(ChipHolds(WordsBefore()));
    EXPECT_EQ(WindowWords(), WordsBefore());
    EXPECT_EQ(revert->text(), "Apply result");
    revert->click();
    EXPECT_TRUE(ChipHolds(r.words));
    EXPECT_EQ(revert->text(), "Revert");
    EXPECT_TRUE(dialog->Status().startsWith("Applied the equalized"))
        << dialog->Status().toStdString();

    // Offline the window's copy changes, and the line says the chips did not get it.
    form->deviceBar->findChild<QPushButton*>("BttnClose")->click();
    ASSERT_FALSE(form->shared.IsOpen());
    revert->click();
    EXPECT_EQ(WindowWords(), WordsBefore());
    EXPECT_TRUE(dialog->Status().contains("no interface is open"))
        << dialog->Status().toStdString();
    EXPECT_TRUE(dialogs->messages.empty());

    // A result of other chips than those in use is not sent anywhere.
    EqualizationResult two = MadeResult(5.9, 0.7);
    two.layout.chipCount = 2;
    two.words.resize(2 * kChipPixels);
    Show(two);
    const std::vector<uint16_t> held = WindowWords();
    revert->click();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages.back().icon, DialogIcon::Error);
    EXPECT_EQ(WindowWords(), held);
    EXPECT_FALSE(dialog->Reverted());
}

TEST_F(EqualizationResultsTest, SavingSaysWhereItWroteAndTheMapsSwitch) {
    Start("medipix2:1");
    QTemporaryDir folder;
    const std::string results = folder.filePath("during_run.h5").toStdString();
    { std::ofstream(results) << "results of the run"; }
    const EqualizationResult r = MadeResult(5.9, 0.7);
    Show(r, results);

    const std::string mask = folder.filePath("eq.txt").toStdString();
    const std::string copy = folder.filePath("kept.h5").toStdString();
    dialogs->paths = {mask, copy};
    Button("BttnSaveEqualizedMask")->click();
    EXPECT_EQ(dialog->Status().toStdString(), "Saved mask to " + mask);
    EXPECT_EQ(LastLine(), dialog->Status());
    std::vector<uint16_t> loaded(kChipPixels);
    ASSERT_EQ(ReadMaskFile(mask, false, loaded.data(), loaded.size()), MaskReadResult::Ok);
    EXPECT_EQ(loaded, r.words);
    Button("BttnSaveEqualization")->click();
    EXPECT_EQ(dialog->Status().toStdString(), "Saved results to " + copy);
    EXPECT_EQ(std::filesystem::file_size(copy), std::filesystem::file_size(results));
    // The mask dialog starts where "Set Mask" looks next.
    EXPECT_EQ(dialogs->fileRequests[0].kind, FileKind::Masks);
    EXPECT_EQ(dialogs->fileRequests[1].kind, FileKind::Results);
    EXPECT_TRUE(dialogs->messages.empty());

    // The legend counts the marked pixels.
    const QString legend = dialog->findChild<QLabel*>("LabelEqualizationLegend")->text();
    EXPECT_TRUE(legend.contains("out of reach: 1")) << legend.toStdString();
    EXPECT_TRUE(legend.contains("masked: 1")) << legend.toStdString();

    // Adjustment maps: both on the adjustment's range, each pixel's value before and after.
    auto* maps = dialog->findChild<QComboBox*>("CombEqualizationMaps");
    ASSERT_NE(maps, nullptr);
    maps->setCurrentIndex(1);
    emit maps->activated(1);
    EXPECT_EQ(dialog->BeforeScale(), (MapScale{0, 7}));
    EXPECT_EQ(dialog->AfterScale(), (MapScale{0, 7}));
    const ColourTable& viridis = TableOf(ColourMap::Viridis);
    // Pixel 8: adjustment 0 before, 3 after.
    EXPECT_EQ(MapColour(dialog->BeforeMap(), 8, r.layout), viridis.levels.front());
    EXPECT_EQ(MapColour(dialog->AfterMap(), 8, r.layout), viridis.levels[3 * 255 / 7]);
    // Pixel 15: 7 before (the top), 2 after.
    EXPECT_EQ(MapColour(dialog->BeforeMap(), 15, r.layout), viridis.levels.back());
}

// The whole run through the scan group: the results window gets the configuration from
// before the run, so "Revert" puts exactly that back on the chip.
TEST_F(EqualizationResultsTest, RevertAfterARealRunRestoresThePixelConfigurationOfBefore) {
    StartForScan("medipix2:1", 120, 200, 4);
    auto config = form->shared.frames.config();
    for (int p : {3, 700, 40000})
        config[static_cast<size_t>(p)] &= static_cast<uint16_t>(~MaskBit(kType));
    for (size_t p = 0; p < kChipPixels; p += 5)
        config[p] = WithThresholdAdjust(config[p], kType, 6);
    form->shared.SendPixelConfig(nullptr, false, "offline");
    const std::vector<uint16_t> before = WindowWords();

    Control<QPushButton>("BttnEqualize")->click();
    ASSERT_TRUE(form->scan->Equalizing());
    ASSERT_TRUE(WaitFor([&] { return !form->scan->Equalizing(); }, 100000));
    dialog = form->scan->equalizationDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_NE(WindowWords(), before);
    // Thresholds after sit closer together: their scale is the narrower.
    EXPECT_LT(dialog->AfterScale().high - dialog->AfterScale().low,
              dialog->BeforeScale().high - dialog->BeforeScale().low);
    EXPECT_GT(DistinctColours(dialog->AfterMap()), 20);

    Button("BttnRevertEqualization")->click();
    EXPECT_EQ(WindowWords(), before);
    EXPECT_TRUE(ChipHolds(before));
    EXPECT_TRUE(HasLineStartingWith("Reverted to the pixel configuration from before"));
}

}  // namespace
}  // namespace ulvarin::test
